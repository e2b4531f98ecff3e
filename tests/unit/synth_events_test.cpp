// Event lists: running status, message lengths, controllers, the reset
// message and lists that end early.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "support/patch_builder.h"

using namespace testpatch;

TEST(SynthEvents, RunningStatusCarriesWithinAndAcrossLists) {
  TestSynth t({plainPatch()});
  t.events({0x90, 0x3C, 0x64, 0x3E, 0x64});
  EXPECT_EQ(t.voicesOn(0), 2);
  t.events({0x40, 0x64});  // continues the note-on of the previous list
  EXPECT_EQ(t.voicesOn(0), 3);
  EXPECT_EQ(t.state().voices[2].note, 0x40);
}

TEST(SynthEvents, IgnoredMessagesAreSkippedWithTheirDataBytes) {
  TestSynth t({plainPatch()});
  // Pitch bend (2), poly pressure (2), channel pressure (1), then notes.
  t.events(
      {0xE0, 0x00, 0x40, 0x90, 60, 100, 0xA0, 60, 10, 0x91, 61, 100, 0xD1, 0x7F, 0x92, 62, 100});
  EXPECT_EQ(t.voicesOn(0), 1);
  EXPECT_EQ(t.voicesOn(1), 1);
  EXPECT_EQ(t.voicesOn(2), 1);
  // Controller 0 does not touch the program byte; 1..7 are stored.
  t.events({0xB3, 0, 5, 3, 77, 7, 0});
  int programs[kSynthChannels];
  getChannelPrograms(t.state(), programs);
  EXPECT_EQ(programs[3], 0);
  EXPECT_EQ(t.state().channelControls[3][3], 77);
  EXPECT_EQ(t.state().channelControls[3][7], 0);
}

TEST(SynthEvents, IncompleteMessagesAreDroppedWithoutReadingPastTheList) {
  TestSynth t({plainPatch()});
  // The end marker where a velocity belongs ends the list.
  t.events({0x90, 60});
  EXPECT_EQ(t.voicesTotal(), 0);
  // A bounded list that stops inside a message; the buffer is exactly that long.
  auto list = std::make_unique<uint8_t[]>(4);
  const uint8_t bytes[] = {0x90, 61, 100, 62};
  std::memcpy(list.get(), bytes, 4);
  processEvents(t.state(), list.get(), 4);
  EXPECT_EQ(t.voicesTotal(), 1);
  EXPECT_EQ(t.state().voices[0].note, 61);
}

TEST(SynthEvents, ResetMessageInitialisesTheWholeSynthesizer) {
  TestSynth t({plainPatch(), plainPatch()});
  t.events({0xC4, 1, 0xB4, 7, 20, 0x94, 60, 100, 0x90, 64, 100});
  t.render(1000);
  ASSERT_EQ(t.voicesTotal(), 2);
  // The data bytes after the reset find no running status and end the list.
  t.events({0xFF, 65, 100, 0x90, 67, 100});
  EXPECT_EQ(t.voicesTotal(), 0);
  EXPECT_EQ(t.state().runningStatus, 0);
  int programs[kSynthChannels];
  getChannelPrograms(t.state(), programs);
  EXPECT_EQ(programs[4], 0);
  EXPECT_EQ(t.state().channelControls[4][7], 127);

  // Global parameters are gone with the reset: silent until they return.
  t.events({0x90, 67, 100});
  EXPECT_EQ(rmsOf(t.render(1000)), 0.0f);
  const auto g = neutralGlobals();
  setGlobalParams(t.state(), g.data());
  EXPECT_GT(rmsOf(t.render(1000)), 0.05f);
}
