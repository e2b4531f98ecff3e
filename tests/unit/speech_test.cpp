// Speech renderer: how texts are read and timed,
// the controllers, and what the rendered voice sounds like.
#include "synth/speech/speech.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/patch_builder.h"
#include "support/signals.h"
#include "synth/synth.h"

namespace {

using testsig::allFinite;

constexpr int kRate = 44100;
constexpr int kTick = 128;
constexpr double kTwoPi = 6.283185307179586;

// A renderer at 44,100 Hz with its own texts.
class Speaker {
 public:
  explicit Speaker(std::vector<std::string> texts = {})
      : texts_(std::move(texts)), s_(std::make_unique<SpeechRenderer>()) {
    speechInit(*s_, kRate);
    speechReset(*s_);
    if (!texts_.empty()) setTexts();
  }

  SpeechRenderer& operator*() { return *s_; }
  SpeechRenderer* operator->() { return s_.get(); }

  // Texts as the tune gives them: an index past the list is missing (null).
  void setTexts() {
    SpeechText table[kSpeechTextCount] = {};
    for (size_t i = 0; i < texts_.size() && i < kSpeechTextCount; ++i) {
      table[i] = {texts_[i].c_str(), static_cast<int32_t>(texts_[i].size())};
    }
    speechSetTexts(*s_, table);
  }

 private:
  std::vector<std::string> texts_;
  std::unique_ptr<SpeechRenderer> s_;
};

// (frame, ticks) runs of the current frame over `ticks` control steps.
using Runs = std::vector<std::pair<int, int>>;
Runs frameRuns(SpeechRenderer& s, int ticks) {
  Runs runs;
  for (int i = 0; i < ticks; ++i) {
    speechControlStep(s);
    if (!runs.empty() && runs.back().first == s.currentFrame) {
      ++runs.back().second;
    } else {
      runs.push_back({s.currentFrame, 1});
    }
  }
  return runs;
}

// Magnitude of x at frequency f (Hz), Hann-windowed.
double magnitudeAt(const std::vector<float>& x, double f) {
  double re = 0.0;
  double im = 0.0;
  const size_t n = x.size();
  for (size_t i = 0; i < n; ++i) {
    const double w = 0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(i) / static_cast<double>(n));
    const double a = kTwoPi * f * static_cast<double>(i) / kRate;
    re += w * x[i] * std::cos(a);
    im -= w * x[i] * std::sin(a);
  }
  return std::sqrt(re * re + im * im) / static_cast<double>(n);
}

// The frequency of the strongest harmonic of f0 within [low, high].
double strongestHarmonic(const std::vector<float>& x, double f0, double low, double high) {
  double best = 0.0;
  double bestFrequency = 0.0;
  for (double f = std::ceil(low / f0) * f0; f <= high; f += f0) {
    const double m = magnitudeAt(x, f);
    if (m > best) {
      best = m;
      bestFrequency = f;
    }
  }
  return bestFrequency;
}

// --- reading texts ----------------------------------------------------------

TEST(SpeechText, PhonemesHoldTheirFramesForTheirUnits) {
  // At speed 3 a unit is 3 ticks. "aa" is frame 4 of 15 units, the pause
  // (frame 18) 5 units; "sh" (55, 12 units) is one phoneme in either case,
  // where "s" alone is frame 54; "ch" is frames 9 and 10.
  const struct {
    const char* text;
    int ticks;
    Runs runs;
  } cases[] = {
      {"3aa m", 136, {{4, 135}, {18, 1}}},  // the multiplier holds the frame
      {"shaa", 81, {{55, 36}, {4, 45}}},
      {"sHAA", 81, {{55, 36}, {4, 45}}},
      {"saa", 36, {{54, 36}}},
      // Unmatched characters play the pause.
      {"#aa", 60, {{18, 15}, {4, 45}}},
      {"\200aa", 60, {{18, 15}, {4, 45}}},
      {"2!aa", 75, {{18, 30}, {4, 45}}},  // digits before a marker: the pause, no wait
      // At the end the text starts again without a gap; digits with no name
      // after them are dropped, and digits alone are the pause with no hang.
      {"chaa", 83, {{9, 12}, {10, 24}, {4, 45}, {9, 2}}},
      {"aa12", 400, {{4, 400}}},
      {"123", 400, {{18, 400}}},
  };
  for (const auto& c : cases) {
    Speaker s({c.text});
    EXPECT_EQ(frameRuns(*s, c.ticks), c.runs) << c.text;
    EXPECT_EQ(s->waitNoteOn, 0) << c.text;
  }
}

TEST(SpeechText, TextsEndAtTheirLengthOrFirstZeroByte) {
  // The bytes after the end would read as "iy" (frame 17). The last text
  // fills its allocation exactly, with no zero byte (address-checked builds
  // catch a read past it); it ends in a digit that is dropped.
  const char bytes[] = {'a', 'a', 'i', 'y'};
  const char zeroed[] = {'a', 'a', '\0', 'i', 'y'};
  const std::unique_ptr<char[]> exact(new char[3]{'a', 'a', '7'});
  for (SpeechText text :
       {SpeechText{bytes, 2}, SpeechText{zeroed, 5}, SpeechText{exact.get(), 3}}) {
    Speaker s;
    SpeechText table[kSpeechTextCount] = {text};
    speechSetTexts(*s, table);
    const Runs runs = frameRuns(*s, 500);
    EXPECT_EQ(runs, (Runs{{4, 500}}));
  }
}

// --- controllers ------------------------------------------------------------

TEST(SpeechController, TextSelectHoldsThePauseThenReadsTheNewText) {
  Speaker s({"aa!", "iy!", "", "uw!"});
  frameRuns(*s, 10);  // 10 of the 45 ticks of "aa"
  speechController(*s, 4, 3);
  EXPECT_EQ(s->currentFrame, 18);
  EXPECT_LT(s->current[kSpeechVoicingGain], 0.001f);  // silent at once
  EXPECT_EQ(frameRuns(*s, 45), (Runs{{18, 35}, {61, 10}}));

  // A missing text reads as the empty text: the pause, repeated.
  speechController(*s, 4, 40);
  EXPECT_EQ(frameRuns(*s, 300), (Runs{{18, 300}}));
}

// "aa" is 15 units: speed 1 (value 64) plays them in 15 ticks, 10 (value 73)
// in 150, and speed 0 (value 63) still one tick per unit.
TEST(SpeechController, SpeedSetsTicksPerUnit) {
  for (auto [value, ticks] : {std::pair{64, 15}, std::pair{73, 150}, std::pair{63, 15}}) {
    Speaker s({"aa m"});
    speechController(*s, 4, value);
    EXPECT_EQ(frameRuns(*s, ticks + 1), (Runs{{4, ticks}, {18, 1}})) << value;
  }
}

// --- through the synthesizer ------------------------------------------------

testpatch::Patch sawPatch(uint8_t polyphony = 8) {
  testpatch::Patch p = testpatch::plainPatch();
  p.polyphony = polyphony;
  p.voice[testpatch::kOsc[0] + testpatch::kOscMode] = static_cast<uint8_t>(OscMode::TriSaw);
  p.voice[testpatch::kOsc[0] + testpatch::kOscColour] = 0;  // falling saw
  return p;
}

// A synthesizer whose every program is one saw oscillator (by default),
// speaking `text` as text 0.
class SpeakingSynth {
 public:
  explicit SpeakingSynth(std::string text,
                         std::vector<uint8_t> patchMap = testpatch::buildPatchMap({sawPatch()}))
      : text_(std::move(text)), synth_(std::move(patchMap)) {
    SpeechText table[kSpeechTextCount] = {{text_.c_str(), static_cast<int32_t>(text_.size())}};
    setSpeechTexts(synth_.state(), table);
  }

  void events(std::initializer_list<uint8_t> bytes) { synth_.events(bytes); }
  std::vector<float> ticks(int count) { return testpatch::leftOf(synth_.render(kTick * count)); }
  const SpeechRenderer& speech() { return synth_.state().speech; }

 private:
  std::string text_;
  testpatch::TestSynth synth_;
};

TEST(SpeechChannel, WaitsAreReleasedOnlyByNotesOnTheSpeechChannel) {
  SpeakingSynth synth("aa!iy_m_ae");
  synth.ticks(50);
  EXPECT_EQ(synth.speech().currentFrame, 4);
  ASSERT_EQ(synth.speech().waitNoteOn, 1);

  synth.events({0x9E, 60, 100, 0xBE, 4, 10, 0x8F, 60, 0});  // other channel; wrong event
  synth.ticks(20);
  EXPECT_EQ(synth.speech().currentFrame, 4);
  synth.events({0x9F, 57, 100});
  synth.ticks(5);
  EXPECT_EQ(synth.speech().currentFrame, 17);  // "iy"

  synth.ticks(30);
  ASSERT_EQ(synth.speech().waitNoteOff, 1);
  synth.events({0x8E, 60, 0, 0x9E, 60, 0, 0xBE, 123, 0, 0x9F, 59, 100});
  synth.ticks(20);
  EXPECT_EQ(synth.speech().currentFrame, 17);
  synth.events({0x9F, 59, 0});  // velocity 0 is a note-off
  synth.ticks(5);
  EXPECT_EQ(synth.speech().currentFrame, 36);  // "m"

  synth.ticks(30);
  ASSERT_EQ(synth.speech().waitNoteOff, 1);
  synth.events({0xBF, 123, 0});  // all notes off on the speech channel
  synth.ticks(5);
  EXPECT_EQ(synth.speech().currentFrame, 1);  // "ae"
}

TEST(SpeechChannel, ASungVowelShowsItsFormants) {
  // "ae": F1 790 Hz, F2 1,780 Hz, sung on A2 (110 Hz). The saw alone would
  // peak at the lowest harmonic of each region. Controller 5 at 0 moves both
  // formants down by half an octave.
  constexpr double f0 = 110.0;
  for (auto [value, scale] : {std::pair{64, 1.0}, std::pair{0, std::sqrt(0.5)}}) {
    SpeakingSynth synth("ae!");
    synth.events({0xBF, 5, uint8_t(value), 0x9F, 45, 127});
    const std::vector<float> out = synth.ticks(400);
    const std::vector<float> tail(out.end() - 16384, out.end());
    EXPECT_TRUE(allFinite(out));
    EXPECT_GT(testpatch::rmsOf(tail), 0.01f);
    EXPECT_NEAR(strongestHarmonic(tail, f0, 300.0 * scale, 1200.0 * scale), 790.0 * scale, f0)
        << value;
    EXPECT_NEAR(strongestHarmonic(tail, f0, 1300.0 * scale, 3000.0 * scale), 1780.0 * scale, f0)
        << value;
  }
}

}  // namespace
