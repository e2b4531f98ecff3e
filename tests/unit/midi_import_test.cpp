// Standard MIDI Files into tune images, checked where a listener or a user
// notices: broken files name the problem and its offset, notes land on time
// under the file's tempo map, pedal, pan, expression and bend sound as MIDI
// means them, every one of 16 channels sounds, and the default bank's
// programs, kit and room sound as a general MIDI renderer's do.
#include "tools/midi/midi_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "player/synth_sink.h"
#include "support/patch_builder.h"
#include "support/tune_fixtures.h"
#include "tools/midi/bank.h"

using namespace testpatch;

namespace {

using Bytes = std::vector<uint8_t>;

void putBig(Bytes& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// One track: events with delta times, raw bytes as the file holds them.
struct Track {
  Bytes body;
  Track& at(uint32_t delta, std::initializer_list<uint8_t> event) {
    uint8_t groups[5];
    int n = 0;
    do {
      groups[n++] = uint8_t(delta & 0x7F);
      delta >>= 7;
    } while (delta != 0);
    while (n > 1) body.push_back(uint8_t(groups[--n] | 0x80));
    body.push_back(groups[0]);
    body.insert(body.end(), event);
    return *this;
  }
  Track& tempo(uint32_t delta, uint32_t micros) {
    return at(delta,
              {0xFF, 0x51, 0x03, uint8_t(micros >> 16), uint8_t(micros >> 8), uint8_t(micros)});
  }
  Track& end(uint32_t delta = 0) { return at(delta, {0xFF, 0x2F, 0x00}); }
};

Bytes chunk(const char* id, const Bytes& body) {
  Bytes out(id, id + 4);
  putBig(out, uint32_t(body.size()), 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes smf(int format, int division, const std::vector<Track>& tracks, int count = -1) {
  Bytes head;
  putBig(head, uint32_t(format), 2);
  putBig(head, uint32_t(count < 0 ? int(tracks.size()) : count), 2);
  putBig(head, uint32_t(division), 2);
  Bytes out = chunk("MThd", head);
  for (const Track& t : tracks) {
    const Bytes c = chunk("MTrk", t.body);
    out.insert(out.end(), c.begin(), c.end());
  }
  return out;
}

// Test sounds: pulses at full level that start and stop within a tick.
midi::Bank testBank() {
  midi::Bank bank;
  for (int program = 0; program < 8; ++program) {
    Patch p = plainPatch();
    p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Pulse);
    p.voice[kTranspose] = uint8_t(64 + program);
    bank.programs.push_back({program, patchBytes(p)});
  }
  Patch kit = plainPatch();
  kit.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Noise);
  bank.drumKit = patchBytes(kit);
  const auto g = neutralGlobals();
  bank.global.assign(g.begin(), g.end());
  return bank;
}

midi::Bank defaultBank() {
  midi::Bank bank;
  std::string error;
  EXPECT_TRUE(midi::loadBank(std::string(ORB_SOURCE_DIR) + "/assets/bank", bank, error)) << error;
  return bank;
}

struct Imported {
  TuneDescription tune;
  midi::ImportSummary summary;
};

// Reads and imports a file that the importer must accept.
Imported import(const Bytes& file, const midi::Bank& bank) {
  Imported r;
  midi::SmfFile parsed;
  midi::SmfError smfError;
  std::string error;
  if (!midi::readSmf(file.data(), file.size(), parsed, smfError)) {
    ADD_FAILURE() << smfError.text();
  } else {
    EXPECT_TRUE(midi::importSmf(parsed, file.data(), bank, r.tune, r.summary, error)) << error;
  }
  return r;
}

// A whole file through a bank: interleaved stereo.
std::vector<float> render(const Bytes& file, double seconds, const midi::Bank& bank) {
  const Imported r = import(file, bank);
  SynthSink sink;
  auto loaded = loadTune(r.tune, &sink);
  const int frames = int(seconds * 44100);
  std::vector<float> out(2 * size_t(frames));
  renderFrames(*loaded->player, out.data(), frames);
  return out;
}

// One side (0 left, 1 right) of a stereo render between two times.
std::vector<float> sideOf(const std::vector<float>& stereo, int side, double from, double to) {
  std::vector<float> out;
  for (size_t i = size_t(from * 44100); i < size_t(to * 44100) && 2 * i + 1 < stereo.size(); ++i) {
    out.push_back(stereo[2 * i + size_t(side)]);
  }
  return out;
}

double db(double ratio) {
  return 20.0 * std::log10(ratio);
}

// One note of `seconds` at full channel volume through the default bank:
// the left side of `renderSeconds` (at least the note).
std::vector<float> playNote(const midi::Bank& bank, uint8_t channel, uint8_t program, uint8_t note,
                            double seconds, double renderSeconds = 0.0) {
  const uint32_t ticks = uint32_t(seconds * 192);  // 96 per quarter at 120 per minute
  const double total = std::max(seconds, renderSeconds);
  Track t;
  t.at(0, {uint8_t(0xC0 | channel), program}).at(0, {uint8_t(0xB0 | channel), 7, 127});
  t.at(0, {uint8_t(0x90 | channel), note, 100}).at(ticks, {uint8_t(0x80 | channel), note, 0});
  return sideOf(render(smf(0, 96, {t.end(uint32_t((total - seconds) * 192))}), total, bank), 0, 0.0,
                total);
}

double crossingsPerSecond(const std::vector<float>& x, size_t frames) {
  int count = 0;
  for (size_t i = 1; i < frames && i < x.size(); ++i) count += (x[i - 1] < 0) != (x[i] < 0);
  return count * 44100.0 / double(frames);
}

}  // namespace

TEST(MidiImport, BrokenFilesNameTheProblemAndItsOffsetAndWriteNothing) {
  Track good;
  good.at(0, {0x90, 60, 100}).at(10, {0x80, 60, 0}).end();
  const Bytes valid = smf(0, 96, {good});
  const size_t events = 22;  // the first event of the first track
  auto withTrack = [](std::initializer_list<uint8_t> body) {
    Track t;
    t.body = body;
    return smf(0, 96, {t});
  };
  Bytes longChunk = valid;
  longChunk[14 + 7] += 1;  // the track chunk claims one byte more than the file holds
  Bytes smpte = valid;
  smpte[12] = 0xE7;  // -25 frames per second
  struct Case {
    Bytes file;
    size_t offset;
    const char* says;
  };
  const std::vector<Case> cases = {
      {{}, 0, "MThd"},
      {Bytes(valid.begin(), valid.begin() + 10), 4, "runs past the end"},
      {smf(2, 96, {good}), 8, "format 2"},
      {smf(0, 96, {good, good}), 10, "2 tracks"},
      {smpte, 12, "SMPTE"},
      {smf(0, 0, {good}), 12, "0 ticks"},
      {smf(1, 96, {}, 1), 14, "ends after 0 of the 1 tracks"},
      {longChunk, 14, "runs past the end"},
      {withTrack({0x00, 0x90, 60}), events + 1, "truncated message 0x90"},
      {withTrack({0x00, 0x3C, 0x40}), events + 1, "no status"},
      {withTrack({0x00, 0x90, 0x3C, 0x80, 0x40}), events + 3, "status byte 0x80"},
      {withTrack({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 1}), events, "longer than 4 bytes"},
      {withTrack({0x00, 0xFF, 0x01, 0x09, 'a'}), events + 3, "runs past the track's end"},
      {withTrack({0x00, 0xF2, 0x00, 0x00}), events + 1, "0xF2"},
      {withTrack({0x00, 0xFF, 0x51, 0x03, 0, 0, 0}), events, "tempo of 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    Bytes image = {1, 2, 3};
    midi::ImportSummary summary;
    std::string error;
    EXPECT_FALSE(midi::importMidi(c.file.data(), c.file.size(), testBank(), image, summary, error));
    EXPECT_TRUE(image.empty());
    EXPECT_NE(error.find("byte offset " + std::to_string(c.offset) + ":"), std::string::npos)
        << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(MidiImport, EveryOnsetLiesWithinOneControlTickAfterItsTimeInTheTempoMap) {
  // Short notes every quarter at 384 ticks per quarter on two tracks (running
  // status, note-on with velocity 0 as the end), under four tempos, one of
  // them changing between two notes.
  constexpr int kDivision = 384;
  const std::vector<std::pair<int64_t, uint32_t>> tempoMap = {{0, 500000},
                                                              {4 * kDivision, 300000},
                                                              {7 * kDivision + 100, 731000},
                                                              {10 * kDivision, 412345}};
  Track conductor;
  int64_t at = 0;
  for (const auto& [tick, micros] : tempoMap) {
    conductor.tempo(uint32_t(tick - at), micros);
    at = tick;
  }
  Track notes;
  std::vector<int64_t> onsets;
  at = 0;
  for (int i = 0; i < 14; ++i) {
    onsets.push_back(int64_t(i) * kDivision + (i % 3) * 7);  // off the beat now and then
    notes.at(uint32_t(onsets.back() - at), {0x90, 72, 110}).at(kDivision / 8, {72, 0});
    at = onsets.back() + kDivision / 8;
  }
  const Bytes file = smf(1, kDivision, {conductor.end(), notes.end()});
  const Imported r = import(file, testBank());
  EXPECT_EQ(r.summary.notes, 14);
  EXPECT_EQ(r.summary.tempoRecords, 4);

  auto exactFrame = [&](int64_t tick) {
    double seconds = 0.0;
    for (size_t i = 0; i < tempoMap.size(); ++i) {
      const int64_t from = tempoMap[i].first;
      const int64_t to = i + 1 < tempoMap.size() ? std::min(tick, tempoMap[i + 1].first) : tick;
      if (to > from) seconds += double(to - from) * tempoMap[i].second / 1e6 / kDivision;
    }
    return seconds * 44100.0;
  };
  const double seconds = exactFrame(onsets.back()) / 44100.0 + 0.4;
  const std::vector<float> left = sideOf(render(file, seconds, testBank()), 0, 0.0, seconds);
  for (int64_t tick : onsets) {
    const double exact = exactFrame(tick);
    size_t onset = size_t(std::max(0.0, exact - 400));
    while (onset < left.size() && std::fabs(left[onset]) <= 1e-3f) ++onset;
    SCOPED_TRACE("note at tick " + std::to_string(tick));
    EXPECT_GE(double(onset), exact - 1.0);
    EXPECT_LE(double(onset), exact + 128.0);
  }
}

TEST(MidiBank, PedalPanExpressionAndBendAsAListenerHearsThem) {
  const midi::Bank bank = defaultBank();
  // Pedal: an organ note of 0.1 s with the pedal held to 1.0 s keeps sounding
  // until the pedal lifts; without it only the room's echo is left.
  auto organ = [&](bool pedal) {
    Track t;
    t.at(0, {0xC0, 16}).at(0, {0xB0, 64, uint8_t(pedal ? 127 : 0)}).at(0, {0x90, 60, 100});
    t.at(19, {0x80, 60, 0}).at(173, {0xB0, 64, 0}).end(200);
    return render(smf(0, 96, {t}), 2.2, bank);
  };
  const std::vector<float> held = organ(true), plain = organ(false);
  const double attack = rmsOf(sideOf(held, 0, 0.02, 0.1));
  EXPECT_GT(rmsOf(sideOf(held, 0, 0.5, 0.95)), 0.5 * attack);
  EXPECT_LT(rmsOf(sideOf(plain, 0, 0.5, 0.95)), 0.1 * attack);
  EXPECT_LT(rmsOf(sideOf(held, 0, 1.8, 2.2)), 0.1 * attack);  // lifted at 1.0 s

  // Pan (CC 10) and expression (CC 11), set before a program change that
  // clears the synthesizer's controllers: a piano note panned hard left is
  // at least 12 dB louder on the left (the room's echo reaches both sides);
  // hard right the opposite; expression 64 takes 12 dB off (the square of
  // each, as general MIDI has it).
  auto piano = [&](int pan, int expression) {
    Track t;
    t.at(0, {0xB0, 10, uint8_t(pan)}).at(0, {0xB0, 11, uint8_t(expression)}).at(0, {0xC0, 1});
    t.at(0, {0x90, 60, 100}).at(96, {0x80, 60, 0}).end();
    return render(smf(0, 96, {t}), 0.4, bank);
  };
  const std::vector<float> left = piano(0, 127), right = piano(127, 127), centre = piano(64, 127);
  EXPECT_GT(db(rmsOf(sideOf(left, 0, 0, 0.25)) / rmsOf(sideOf(left, 1, 0, 0.25))), 12.0);
  EXPECT_GT(db(rmsOf(sideOf(right, 1, 0, 0.25)) / rmsOf(sideOf(right, 0, 0, 0.25))), 12.0);
  EXPECT_NEAR(db(rmsOf(sideOf(centre, 0, 0, 0.4)) / rmsOf(sideOf(centre, 1, 0, 0.4))), 0.0, 1.0);
  EXPECT_NEAR(db(rmsOf(sideOf(piano(64, 64), 0, 0, 0.4)) / rmsOf(sideOf(centre, 0, 0, 0.4))), -12.0,
              1.5);

  // Bend: the flute's A (MIDI note 69, 440 Hz) bent fully up sounds 2
  // semitones higher at the default range, 12 after the registered range is
  // set to 12, and falls back when the bend returns to the centre.
  auto flute = [&](int range) {
    Track t;
    t.at(0, {0xC0, 73});
    if (range != 2) t.at(0, {0xB0, 101, 0}).at(0, {0xB0, 100, 0}).at(0, {0xB0, 6, uint8_t(range)});
    t.at(0, {0x90, 69, 100}).at(96, {0xE0, 0x7F, 0x7F}).at(96, {0xE0, 0, 0x40});
    return render(smf(0, 96, {t.at(96, {0x80, 69, 0}).end()}), 1.5, bank);
  };
  const std::vector<float> two = flute(2), twelve = flute(12);
  EXPECT_NEAR(frequencyOf(sideOf(two, 0, 0.2, 0.45), 44100.0), 440.0, 440.0 * 0.005);
  EXPECT_NEAR(frequencyOf(sideOf(two, 0, 0.7, 0.95), 44100.0), 493.88, 493.88 * 0.005);
  EXPECT_NEAR(frequencyOf(sideOf(twelve, 0, 0.7, 0.95), 44100.0), 880.0, 880.0 * 0.005);
  EXPECT_NEAR(frequencyOf(sideOf(twelve, 0, 1.2, 1.45), 44100.0), 440.0, 440.0 * 0.005);
}

TEST(MidiImport, EveryChannelSoundsWhenAFileUsesAllSixteen) {
  // Each MIDI channel plays one note in a slot of its own (0.25 s), its
  // program given by `program(channel)`: a pair of channels on the same
  // program shares a channel; with all programs different, two channels that
  // play one after the other do, the program changing between them. Every
  // slot sounds within 1 dB of the note played alone (no filter of the
  // speech channel colours MIDI channel 16).
  const midi::Bank bank = testBank();
  auto file = [](auto program) {
    Track t;
    for (uint8_t ch = 0; ch < 16; ++ch) t.at(0, {uint8_t(0xC0 | ch), uint8_t(program(ch))});
    for (uint8_t ch = 0; ch < 16; ++ch) {
      const uint8_t key = ch == 9 ? 38 : 60 + ch;
      t.at(ch == 0 ? 0 : 8, {uint8_t(0x90 | ch), key, 100}).at(40, {uint8_t(0x80 | ch), key, 0});
    }
    return smf(0, 96, {t.end(96)});
  };
  auto slotsSounding = [&](auto program) {
    const std::vector<float> out = render(file(program), 4.5, bank);
    int sounding = 0;
    for (uint8_t ch = 0; ch < 16; ++ch) {
      const uint8_t key = ch == 9 ? 38 : 60 + ch;
      Track alone;
      alone.at(0, {uint8_t(0xC0 | ch), uint8_t(program(ch))}).at(0, {uint8_t(0x90 | ch), key, 100});
      const Bytes one = smf(0, 96, {alone.at(40, {uint8_t(0x80 | ch), key, 0}).end(96)});
      const double from = ch * 0.25 + 0.03;
      const double own = rmsOf(sideOf(render(one, 0.3, bank), 0, 0.03, 0.18));
      sounding += std::fabs(db(rmsOf(sideOf(out, 0, from, from + 0.15)) / own)) < 1.0;
    }
    return sounding;
  };
  const auto sharing = [](int ch) { return ch == 12 ? 3 : ch; };
  const Imported a = import(file(sharing), bank);
  EXPECT_EQ(a.summary.sharedChannels, (std::array<int, 2>{3, 12}));
  EXPECT_EQ(a.summary.sharingCost, 0);
  EXPECT_TRUE(a.tune.channels[15].notes.empty());
  EXPECT_NE(a.summary.line().find("MIDI channels 4 and 13 share channel 4 (the same programs)"),
            std::string::npos)
      << a.summary.line();
  EXPECT_EQ(slotsSounding(sharing), 16);

  const auto distinct = [](int ch) { return 20 + ch; };
  const Imported b = import(file(distinct), bank);
  EXPECT_EQ(b.summary.sharingCost, 1);
  EXPECT_EQ(slotsSounding(distinct), 16);
}

// Every program is heard at full channel volume and none clips or drowns the
// others (two guitars' level routes once clipped to silence).
TEST(MidiBank, EveryProgramSoundsAtFullVolumeWithinTwentyDecibelsOfTheMedian) {
  const midi::Bank bank = defaultBank();
  ASSERT_EQ(bank.programs.size(), 128u);
  std::vector<double> levels;
  for (const PatchEntry& p : bank.programs) {
    const std::vector<float> x = playNote(bank, 0, uint8_t(p.program), 69, 0.7);
    float peak = 0.0f;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 1.0f) << "program " << p.program;
    levels.push_back(rmsOf(x));
  }
  std::vector<double> sorted = levels;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted[sorted.size() / 2];
  EXPECT_GT(median, 0.01);
  for (size_t i = 0; i < levels.size(); ++i) {
    EXPECT_GT(levels[i], median / 10) << "program " << bank.programs[i].program;
    EXPECT_LT(levels[i], median * 10) << "program " << bank.programs[i].program;
  }
}

TEST(MidiBank, KitRoomAndStruckSoundsAsAGeneralMidiRendererHasThem) {
  const midi::Bank bank = defaultBank();
  // Brightness by zero crossings over the first 50 ms of each hit: the kick
  // a low thump, the snare brighter, hats and cymbals brighter still (most
  // of their energy above 5 kHz: more than 5,000 crossings a second) and
  // quieter than the kick; toms rise with the key; congas are skins, not
  // hiss.
  auto hit = [&](uint8_t key) { return playNote(bank, 9, 0, key, 0.3); };
  const std::vector<float> kick = hit(36);
  EXPECT_GT(rmsOf(kick, 0, 4410), 0.005f);
  EXPECT_LT(crossingsPerSecond(kick, 2205), 400.0);
  EXPECT_GT(crossingsPerSecond(hit(38), 2205), 1.5 * crossingsPerSecond(kick, 2205));
  for (uint8_t key : {42, 46, 49, 51}) {
    const std::vector<float> metal = hit(key);
    EXPECT_GT(crossingsPerSecond(metal, 2205), 5000.0) << "key " << int(key);
    EXPECT_LT(rmsOf(metal, 0, 4410), 0.7 * rmsOf(kick, 0, 4410)) << "key " << int(key);
  }
  EXPECT_GT(crossingsPerSecond(hit(45), 2205), crossingsPerSecond(hit(41), 2205));
  for (uint8_t key : {62, 63, 64}) EXPECT_LT(crossingsPerSecond(hit(key), 2205), 6000.0);

  // A 0.1 s piano note: once the note has gone (0.5 s on), the room's echo
  // alone falls at 60 dB per 2 s (1.6 to 2.6 s).
  const std::vector<float> piano = playNote(bank, 0, 0, 60, 0.1, 3.0);
  const double secondsTo60 = 60.0 / db(rmsOf(piano, 22050, 26460) / rmsOf(piano, 66150, 70560));
  EXPECT_GT(secondsTo60, 1.6);
  EXPECT_LT(secondsTo60, 2.6);

  // Timpani, xylophone and glockenspiel: within 40 ms the sound is as loud
  // as it gets (within 2 dB, 10 ms steps), and two seconds on it has fallen
  // by 20 dB (no drone).
  for (uint8_t program : {47, 13, 9}) {
    const std::vector<float> x = playNote(bank, 0, program, 57, 2.5);
    double first = 0.0, top = 0.0;
    for (size_t at = 0; at + 441 < x.size(); at += 441) {
      top = std::max(top, double(rmsOf(x, at, at + 441)));
      if (at < 1764) first = top;
    }
    EXPECT_GT(db(first / top), -2.0) << "program " << int(program);
    EXPECT_LT(rmsOf(x, 88200, 92610), top / 10) << "program " << int(program);
  }
}

TEST(MidiBank, BadBanksAreReportedWithFileAndLine) {
  std::string error;
  midi::Bank bank;
  const std::string folder = std::string(ORB_BINARY_DIR) + "/midi_bad_bank";
  std::filesystem::create_directories(folder);
  auto fails = [&](const char* name, const char* text, const std::string& where) {
    std::ofstream(folder + "/" + name) << text;
    EXPECT_FALSE(midi::loadBank(folder, bank, error));
    EXPECT_NE(error.find(where), std::string::npos) << error;
  };
  fails("bank.patch", "patch a program=0\nend\npatch b program=1\n  osc1 mode=wobble\nend\n",
        "bank.patch:4");
  std::ofstream(folder + "/bank.patch") << "patch a program=0\nend\n";
  fails("drums.map", "key 35 plays 36 +1\nkey 36 plays 128 0\n", "drums.map:2: keys are 0..127");
  fails("drums.map", "key 35 plays 36 +20\n", "drums.map:1: the level change");
  std::filesystem::remove(folder + "/drums.map");
  fails("global.tune", "global\n  reverb level=40\n  master lowcut=1 wobble=3\nend\n",
        "global.tune:3");
  std::filesystem::remove_all(folder);
}
