// Voice management: stealing order, note ends, all-sound-off against
// all-notes-off, program changes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/patch_builder.h"

using namespace testpatch;

namespace {

// Index of the voice playing `note` on `channel`, or -1.
int voiceOf(SynthState& s, int channel, int note) {
  for (int v = 0; v < kSynthVoices; ++v) {
    if (s.voiceChannel[v] == channel && s.voices[v].note == note) return v;
  }
  return -1;
}

Patch withPolyphony(int polyphony) {
  Patch p = plainPatch();
  p.polyphony = static_cast<uint8_t>(polyphony);
  return p;
}

// Envelope 1 with a long release, so released voices keep sounding.
Patch slowRelease() {
  Patch p = plainPatch();
  p.voice[kEnv[0] + kEnvRelease] = 120;
  return p;
}

}  // namespace

TEST(SynthVoices, FullSynthStealsOldestReleasedThenOldestOfAll) {
  // Channel 0 (program 0) may hold all 64 voices; channel 1 (program 1) 8.
  TestSynth t({withPolyphony(64), withPolyphony(8)});
  t.events({0xC1, 1});
  for (int n = 0; n < kSynthVoices; ++n) t.events({0x90, static_cast<uint8_t>(n), 100});
  ASSERT_EQ(t.voicesTotal(), kSynthVoices);
  // Release the voices of notes 30 and 10 (no tick runs, so they stay owned).
  t.events({0x80, 30, 0, 10, 0});

  // Channel 1 is below its polyphony: the oldest released voice of any
  // channel goes first (note 10 started before note 30), then note 30's.
  t.events({0x91, 70, 100});
  EXPECT_EQ(voiceOf(t.state(), 1, 70), 10);
  t.events({0x91, 71, 100});
  EXPECT_EQ(voiceOf(t.state(), 1, 71), 30);
  // No voice is released any more: the oldest of all, voice 0.
  t.events({0x91, 72, 100});
  EXPECT_EQ(voiceOf(t.state(), 1, 72), 0);
  EXPECT_EQ(t.voicesOn(0), 61);
  EXPECT_EQ(t.voicesOn(1), 3);
}

TEST(SynthVoices, NoteOffReleasesOneMatchingVoiceAtATime) {
  TestSynth t({slowRelease()});
  t.events({0x90, 60, 100, 60, 100});
  t.events({0x80, 60, 0});
  SynthState& s = t.state();
  EXPECT_EQ(s.voices[0].gate + s.voices[1].gate, 1);
  t.events({0x90, 60, 0});  // velocity 0 releases like a note-off
  EXPECT_EQ(s.voices[0].gate + s.voices[1].gate, 0);
  EXPECT_EQ(t.voicesTotal(), 2);  // releasing, still owned
}

TEST(SynthVoices, NoteOnAndOffInOneTickEndsTheVoiceAtOnce) {
  TestSynth t({plainPatch()});  // release 0: ends one tick after the gate closes
  t.events({0x90, 60, 100, 0x80, 60, 0});
  EXPECT_EQ(t.voicesTotal(), 1);
  t.render(128);
  EXPECT_EQ(t.voicesTotal(), 0);
}

TEST(SynthVoices, AllSoundOffSilencesAtOnceAllNotesOffLetsItRingOut) {
  TestSynth a({slowRelease()});
  TestSynth b({slowRelease()});
  for (TestSynth* t : {&a, &b}) {
    t->events({0x90, 60, 100, 64, 100, 0x93, 67, 100});
    t->render(4410);
  }
  a.events({0xB0, 123, 0});  // all notes off
  b.events({0xB0, 120, 0});  // all sound off
  EXPECT_EQ(a.voicesOn(0), 2);
  EXPECT_EQ(b.voicesOn(0), 0);
  EXPECT_EQ(b.voicesOn(3), 1);  // other channels keep sounding

  // Channel 3 alone, for comparison with what remains of b.
  TestSynth c({slowRelease()});
  c.events({0x93, 67, 100});
  c.render(4410);
  const std::vector<float> ringing = leftOf(a.render(4410));
  const std::vector<float> cut = leftOf(b.render(4410));
  const std::vector<float> channel3 = leftOf(c.render(4410));
  EXPECT_GT(rmsOf(ringing), 1.5f * rmsOf(channel3));  // the release tail of channel 0
  EXPECT_NEAR(rmsOf(cut, 256), rmsOf(channel3, 256), 0.02f * rmsOf(channel3));
}

TEST(SynthVoices, ProgramChangeFreesTheChannelOnlyWhenTheProgramDiffers) {
  Patch routed = plainPatch();
  TestSynth t({routed, routed});
  SynthState& s = t.state();
  t.events({0x90, 60, 100, 0xB0, 1, 50, 2, 60, 7, 90});
  t.events({0xC0, 0});  // same program
  EXPECT_EQ(t.voicesOn(0), 1);
  EXPECT_EQ(s.channelControls[0][1], 0);
  EXPECT_EQ(s.channelControls[0][2], 0);
  EXPECT_EQ(s.channelControls[0][7], 90);
  t.events({0xC0, 0x81});  // program 1; the top bit is ignored
  EXPECT_EQ(t.voicesOn(0), 0);
  int programs[kSynthChannels];
  getChannelPrograms(s, programs);
  EXPECT_EQ(programs[0], 1);
  EXPECT_EQ(programs[1], 0);
}
