// A tune that sings: a text on channel 15 whose syllables each start with a
// note and hold their vowel until it ends, played through the sequencer and
// the synthesizer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "player/synth_sink.h"
#include "support/patch_builder.h"
#include "support/tune_fixtures.h"

namespace {

constexpr int kTicksPerQuarter = 128;
constexpr int32_t kMicrosPerQuarter = 500000;  // 120 beats per minute
constexpr int kSpeechChannel15 = 15;

// One syllable per note: a note-on releases "!", its note-off releases "_".
struct Syllable {
  int32_t onTick;
  int32_t offTick;
  uint8_t note;
  int vowelFrame;  // the frame the vowel holds while the note sounds
};

constexpr char kText[] = "!DHAX_ !kwIH_k !br4AH_UHn !fAA_ks !";
// The text is read from the first tick on, so the first note comes after the
// reader has reached the opening "!".
constexpr Syllable kSyllables[] = {
    {64, 160, 45, 0},    // "dh ax"
    {256, 352, 47, 25},  // "k w ih", then "k"
    {448, 640, 48, 60},  // "b r 4ah", then "uh n"
    {768, 864, 45, 4},   // "f aa", then "k s"
};
constexpr int32_t kLengthTicks = 960;

TuneDescription singingTune() {
  testpatch::Patch voice = testpatch::plainPatch();
  voice.voice[testpatch::kOsc[0] + testpatch::kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  voice.voice[testpatch::kOsc[0] + testpatch::kOscColour] = 0;  // a saw: rich vocal cords
  voice.voice[testpatch::kOsc[0] + testpatch::kOscLevel] = 96;
  const auto globals = testpatch::neutralGlobals();
  TuneDescription tune = onePatchTune(testpatch::patchBytes(voice),
                                      std::vector<uint8_t>(globals.begin(), globals.end()));
  tune.ticksPerQuarter = kTicksPerQuarter;
  tune.lengthTicks = kLengthTicks;
  tune.tempo.push_back(TempoEvent{0, kMicrosPerQuarter});
  for (const Syllable& s : kSyllables) {
    tune.channels[kSpeechChannel15].notes.push_back(NoteEvent{s.onTick, s.note, 100});
    tune.channels[kSpeechChannel15].notes.push_back(NoteEvent{s.offTick, s.note, 0});
  }
  tune.texts.push_back(kText);
  return tune;
}

int64_t tickToFrame(int32_t tick) {
  return static_cast<int64_t>(tick) * kMicrosPerQuarter / kTicksPerQuarter * 44100 / 1000000;
}

TEST(SpeechTune, TheTextIsSungInStepWithTheNotes) {
  SynthSink sink;
  const auto loaded = loadTune(singingTune(), &sink);
  ASSERT_TRUE(loaded->parse.ok);

  // Render a tick at a time, noting where each vowel is first heard.
  constexpr int kChunk = 128;
  const int64_t total = tickToFrame(kLengthTicks) + 44100 / 4;
  std::vector<float> left;
  std::vector<int64_t> firstHeard(std::size(kSyllables), -1);
  std::vector<float> buffer(2 * kChunk);
  for (int64_t done = 0; done < total; done += kChunk) {
    renderFrames(*loaded->player, buffer.data(), kChunk);
    for (int i = 0; i < kChunk; ++i) left.push_back(buffer[2 * i]);
    const SpeechRenderer& speech = sink.synth().speech;
    for (size_t k = 0; k < std::size(kSyllables); ++k) {
      if (firstHeard[k] < 0 && speech.currentFrame == kSyllables[k].vowelFrame) {
        firstHeard[k] = done;
      }
    }
  }

  for (float v : left) ASSERT_TRUE(std::isfinite(v));
  // Each vowel arrives while its own note sounds, not before the note.
  for (size_t k = 0; k < std::size(kSyllables); ++k) {
    EXPECT_GE(firstHeard[k], tickToFrame(kSyllables[k].onTick)) << "syllable " << k;
    EXPECT_LT(firstHeard[k], tickToFrame(kSyllables[k].offTick)) << "syllable " << k;
    // And the voice is heard then.
    const auto begin = static_cast<size_t>(tickToFrame(kSyllables[k].onTick));
    const auto end = static_cast<size_t>(tickToFrame(kSyllables[k].offTick));
    EXPECT_GT(testpatch::rms(left, begin, end), 0.01f) << "syllable " << k;
  }
  // After the last syllable the text waits at its final marker for a note.
  EXPECT_EQ(sink.synth().speech.waitNoteOn, 1);
  // Between the syllables channel 15 is silent.
  const auto gap = static_cast<size_t>(tickToFrame(kSyllables[2].offTick) + 4410);
  EXPECT_LT(testpatch::rms(left, gap, gap + 4410), 0.001f);
}

}  // namespace
