// Standard MIDI Files into tune images: the reader's container and event
// rules, what the importer carries over, merges, adds and drops, the tick-0
// rules of the sequencer, the drum channel, and timing against the file's
// tempo map measured in the rendered sound.
#include "tools/midi/midi_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "player/synth_sink.h"
#include "support/patch_builder.h"
#include "support/recording_sink.h"
#include "support/tune_fixtures.h"
#include "tools/midi/bank.h"

using namespace testpatch;

namespace {

using Bytes = std::vector<uint8_t>;

// --- Writing small MIDI files -------------------------------------------

void putVlq(Bytes& out, uint32_t v) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = uint8_t(v & 0x7F);
    v >>= 7;
  } while (v != 0);
  while (n > 1) out.push_back(uint8_t(groups[--n] | 0x80));
  out.push_back(groups[0]);
}

void putBig(Bytes& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

// One track: events with delta times, raw bytes as the file holds them.
struct Track {
  Bytes body;
  Track& at(uint32_t delta, std::initializer_list<uint8_t> event) {
    putVlq(body, delta);
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

Bytes header(int format, int tracks, int division) {
  Bytes body;
  putBig(body, uint32_t(format), 2);
  putBig(body, uint32_t(tracks), 2);
  putBig(body, uint32_t(division), 2);
  return chunk("MThd", body);
}

Bytes smf(int format, int division, const std::vector<Track>& tracks) {
  Bytes out = header(format, int(tracks.size()), division);
  for (const Track& t : tracks) {
    const Bytes c = chunk("MTrk", t.body);
    out.insert(out.end(), c.begin(), c.end());
  }
  return out;
}

// --- A bank of test sounds -----------------------------------------------

// Pulses at full level that open within one tick and end one tick after
// note-off: onsets and silences are sharp. Program p is tuned p semitones up
// so that patches can be told apart.
Patch pulsePatch(int transpose = 0) {
  Patch p = plainPatch();
  p.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Pulse);
  p.voice[kTranspose] = uint8_t(64 + transpose);
  return p;
}

midi::Bank testBank(std::initializer_list<int> programs = {0, 1, 2, 3, 4, 5, 6, 7}) {
  midi::Bank bank;
  for (int p : programs) bank.programs.push_back({p, patchBytes(pulsePatch(p % 12))});
  Patch kit = plainPatch();
  kit.voice[kOsc[0] + kOscMode] = static_cast<uint8_t>(OscMode::Noise);
  bank.drumKit = patchBytes(kit);
  const auto g = neutralGlobals();
  bank.global.assign(g.begin(), g.end());
  return bank;
}

struct Imported {
  TuneDescription tune;
  midi::ImportSummary summary;
};

// Reads and imports a file that the importer must accept.
Imported import(const Bytes& file, const midi::Bank& bank = testBank()) {
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

std::vector<std::pair<int32_t, int>> notesOf(const ChannelEvents& ch) {
  std::vector<std::pair<int32_t, int>> out;  // (tick, note * 1000 + velocity)
  for (const NoteEvent& n : ch.notes) out.push_back({n.tick, n.note * 1000 + n.velocity});
  return out;
}

// Every event list the sequencer hands over, with the frame it takes effect.
std::unique_ptr<RecordingSink> playRecorded(const TuneDescription& tune) {
  auto sink = std::make_unique<RecordingSink>();
  std::unique_ptr<LoadedTune> loaded = loadTune(tune, sink.get());
  measureTune(*loaded->player);
  return sink;
}

}  // namespace

// --- Reading events ------------------------------------------------------

TEST(MidiImport, NotesWithRunningStatusChordsAndBothKindsOfNoteEnd) {
  Track t;
  t.at(0, {0x90, 60, 100})
      .at(0, {62, 80})         // running status: a chord
      .at(96, {0x80, 60, 64})  // note off
      .at(0, {0x90, 62, 0})    // note on with velocity 0
      .at(48, {0x92, 70, 90})
      .at(0x3000, {70, 0})  // a two-byte delta, running status after the status change
      .end(10);
  const Imported r = import(smf(0, 96, {t}));
  EXPECT_EQ(r.tune.ticksPerQuarter, 96);
  using N = std::pair<int32_t, int>;
  EXPECT_EQ(notesOf(r.tune.channels[0]),
            (std::vector<N>{{0, 60079}, {0, 62050}, {96, 60000}, {96, 62000}}));
  EXPECT_EQ(notesOf(r.tune.channels[2]), (std::vector<N>{{144, 70064}, {144 + 0x3000, 70000}}));
  EXPECT_EQ(r.tune.lengthTicks, 144 + 0x3000 + 10);  // the end-of-track event is the last
  EXPECT_EQ(r.summary.notes, 3);
  EXPECT_EQ(r.summary.channels, 2);

  // The chord at tick 0 reaches the synthesizer as one list with one status,
  // its velocities squared (100 -> 79, 80 -> 50).
  const auto sink = playRecorded(r.tune);
  ASSERT_FALSE(sink->lists.empty());
  EXPECT_EQ(sink->hexLists()[0], "B0 07 4F 90 3C 4F 3E 32 B2 07 4F FD");
}

TEST(MidiImport, Format1TracksMergeByTickOntoTheirOwnChannels) {
  Track conductor;
  conductor.tempo(0, 400000).end(300);
  Track lead;
  lead.at(0, {0xC3, 5}).at(10, {0x93, 72, 100}).at(100, {0x83, 72, 0}).end();
  Track bass;
  bass.at(5, {0x91, 36, 110}).at(50, {0x81, 36, 0}).end();
  Track drums;
  drums.at(0, {0xC9, 16}).at(0, {0x99, 36, 127}).at(20, {0x89, 36, 0}).end();
  const Imported r = import(smf(1, 120, {conductor, lead, bass, drums}));

  EXPECT_EQ(r.tune.channels[3].notes.size(), 2u);
  EXPECT_EQ(r.tune.channels[1].notes.size(), 2u);
  ASSERT_EQ(r.tune.channels[3].programs.size(), 1u);
  EXPECT_EQ(r.tune.channels[3].programs[0].program, 5);
  EXPECT_EQ(r.tune.lengthTicks, 300);

  // Channel 9 plays the kit from tick 0 whatever program the file selects,
  // from a program number no melodic channel uses.
  ASSERT_EQ(r.tune.channels[9].programs.size(), 1u);
  const int kitSlot = r.tune.channels[9].programs[0].program;
  EXPECT_EQ(r.tune.channels[9].programs[0].tick, 0);
  EXPECT_NE(kitSlot, 0);
  EXPECT_NE(kitSlot, 5);
  const midi::Bank bank = testBank();
  bool kitStored = false;
  for (const PatchEntry& p : r.tune.patches) {
    if (p.program == kitSlot) kitStored = p.bytes == bank.drumKit;
  }
  EXPECT_TRUE(kitStored);
  EXPECT_EQ(r.summary.drumPrograms, 1);

  // In time order across the tracks.
  const auto sink = playRecorded(r.tune);
  std::vector<std::string> lists = sink->hexLists();
  ASSERT_GE(lists.size(), 3u);
  EXPECT_EQ(lists[1], "91 24 5F FD");  // tick 5: the bass, after tick 0's drums and program
  EXPECT_EQ(lists[2], "93 48 4F FD");  // tick 10: the lead
}

TEST(MidiImport, TempoChangesAndTimeSignaturesFillTheTempoList) {
  Track t;
  t.tempo(0, 600000)
      .tempo(0, 500000)                     // replaces the first at the same tick
      .at(0, {0xFF, 0x58, 4, 3, 3, 24, 8})  // 3/8
      .at(0, {0x90, 60, 100})
      .tempo(192, 250000)
      .at(0, {0xFF, 0x58, 4, 7, 4, 12, 8})   // 7/16 with the tempo at one tick
      .at(96, {0xFF, 0x58, 4, 1, 3, 24, 8})  // 1/8: bars shorter than a beat
      .at(0, {0x80, 60, 0})
      .end();
  const Imported r = import(smf(0, 96, {t}));
  // (tick, tempo, metre): the later tempo at tick 0 replaces the first; the
  // denominator is a plain number, not the file's power of two; at tick 288
  // the tempo in force is kept and 1/8 becomes 2/8, the shortest bar the
  // player can count.
  std::vector<std::array<int64_t, 5>> got;
  for (const TempoEvent& e : r.tune.tempo)
    got.push_back({e.tick, e.microsPerQuarter, e.metreNumerator, e.metreDenominator, e.metreAux});
  EXPECT_EQ(got, (std::vector<std::array<int64_t, 5>>{
                     {0, 500000, 3, 8, 8}, {192, 250000, 7, 16, 8}, {288, 250000, 2, 8, 8}}));
  EXPECT_EQ(r.summary.metresAdjusted, 1);

  // The player accepts the list and measures the tune by it:
  // 192 ticks at 0.5 s per quarter, then 96 ticks at 0.25 s = 1.25 s.
  auto loaded = loadTune(r.tune, nullptr);
  const TuneLength length = measureTune(*loaded->player);
  EXPECT_EQ(length.lengthMs, 1250);
}

namespace {

// The value of controller `c` (1..7) in force at `tick` on a channel.
int controllerAt(const ChannelEvents& ch, int c, int32_t tick) {
  int value = c == 7 ? 127 : 0;
  for (const ControllerEvent& e : ch.controllers[size_t(c - 1)]) {
    if (e.tick <= tick) value = e.value;
  }
  return value;
}

}  // namespace

TEST(MidiImport, FileControllersBecomeTheBanksControllersAndNoteLengths) {
  Track t;
  t.at(0, {0x90, 60, 100})
      .at(10, {0xB0, 1, 20})   // modulation: as it is
      .at(0, {0xB0, 7, 90})    // volume x expression, squared: 64
      .at(0, {0xB0, 10, 0})    // pan full left
      .at(0, {0xB0, 64, 127})  // pedal down
      .at(5, {0xC0, 3})        // program change: the synthesizer clears 1..6
      .at(5, {0xE0, 0, 0x60})  // bend +1 semitone at the default range
      .at(0, {0xB0, 11, 64})   // expression half: 16
      .at(0, {0xA0, 60, 30})   // key pressure
      .at(0, {0xD0, 40})       // channel pressure
      .at(0, {0xF0, 3, 0x7E, 0x01, 0xF7})
      .at(0, {0xFF, 0x03, 4, 'l', 'e', 'a', 'd'})  // track name
      .at(0, {0xB0, 0, 1})                         // bank select
      .at(10, {0x80, 60, 0})                       // held by the pedal
      .at(10, {0xB0, 10, 127})                     // pan full right
      .at(0, {0xB0, 101, 0})                       // registered parameter 0: bend range
      .at(0, {0xB0, 100, 0})
      .at(0, {0xB0, 6, 12})  // 12 semitones: the bend now reaches +6
      .at(0, {0xB0, 99, 1})  // a non-registered parameter: its data entry is dropped
      .at(0, {0xB0, 6, 2})
      .at(10, {0xB0, 64, 0})  // pedal up: tick 50 ends the note
      .at(10, {0x90, 62, 90})
      .at(0, {0xB0, 64, 100})
      .at(5, {0x80, 62, 0})
      .at(5, {0x90, 62, 90})   // struck again while held: the held one ends
      .at(10, {0xB0, 121, 0})  // reset: pedal up, no bend, full expression
      .at(10, {0xB0, 123, 0})  // all notes off
      .end(10);
  const Imported r = import(smf(0, 96, {t}));
  const ChannelEvents& ch = r.tune.channels[0];
  using N = std::pair<int32_t, int>;
  EXPECT_EQ(notesOf(ch),
            (std::vector<N>{
                {0, 60079}, {50, 60000}, {60, 62064}, {70, 62000}, {70, 62064}, {90, 62000}}));
  EXPECT_EQ(r.summary.notesSustained, 2);
  EXPECT_EQ(r.summary.notesClosedAtEnd, 0);

  // Controller values in force: (tick, cc1 .. cc7).
  auto at = [&](int32_t tick) {
    std::array<int, 7> v{};
    for (int c = 1; c <= 7; ++c) v[size_t(c - 1)] = controllerAt(ch, c, tick);
    return v;
  };
  EXPECT_EQ(at(0), (std::array<int, 7>{0, 0, 0, 0, 0, 0, 79}));      // general MIDI start
  EXPECT_EQ(at(10), (std::array<int, 7>{20, 0, 64, 0, 0, 0, 64}));   // full left
  EXPECT_EQ(at(20), (std::array<int, 7>{20, 0, 64, 0, 0, 2, 16}));   // +1 semitone
  EXPECT_EQ(at(40), (std::array<int, 7>{20, 64, 0, 0, 0, 12, 16}));  // full right, +6
  EXPECT_EQ(at(70), (std::array<int, 7>{20, 64, 0, 0, 0, 12, 16}));
  EXPECT_EQ(at(80), (std::array<int, 7>{0, 64, 0, 0, 0, 0, 64}));  // after the reset
  EXPECT_EQ(r.summary.bends, 1);
  EXPECT_EQ(r.summary.otherControllers, 3);  // bank select, the NRPN and its data
  EXPECT_EQ(r.summary.pressure, 2);
  EXPECT_EQ(r.summary.sysEx, 1);
  EXPECT_EQ(r.summary.otherMeta, 1);
  EXPECT_TRUE(ch.bends.empty());  // the synthesizer would not act on them
  const std::string line = r.summary.line();
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_NE(line.find("3 other controllers"), std::string::npos) << line;
  EXPECT_NE(line.find("2 note ends held by the pedal"), std::string::npos) << line;
  EXPECT_NE(line.find("1 SysEx"), std::string::npos) << line;

  // The program change at tick 15 reaches the synthesizer with the
  // controllers given again (it clears 1..6 on a program change).
  const auto sink = playRecorded(r.tune);
  bool found = false;
  for (const std::string& list : sink->hexLists()) {
    found = found || list == "C0 03 B0 01 14 03 40 FD";
  }
  EXPECT_TRUE(found);
}

TEST(MidiImport, BendPanAndLevelValues) {
  // (bend, range in cents) -> (down, fine, up): the transpose they make is
  // (up - down) / 2 + fine / 64 semitones.
  struct Case {
    int bend, cents, down, fine, up;
  };
  for (const Case& c :
       {Case{8192, 200, 0, 0, 0}, Case{16383, 200, 0, 0, 4}, Case{0, 200, 4, 0, 0},
        Case{8192 + 1024, 200, 0, 16, 0}, Case{8192 - 1024, 200, 1, 16, 0},
        Case{16383, 1200, 0, 0, 24}, Case{0, 12700, 127, 0, 0}, Case{16383, 9900, 0, 127, 127}}) {
    const midi::BendValues v = midi::bendValues(c.bend, c.cents);
    EXPECT_EQ((std::array<int, 3>{v.down, v.fine, v.up}),
              (std::array<int, 3>{c.down, c.fine, c.up}))
        << c.bend << " at " << c.cents << " cents";
  }
  EXPECT_EQ(midi::panValues(0).left, 64);
  EXPECT_EQ(midi::panValues(64).left + midi::panValues(64).right, 0);
  EXPECT_EQ(midi::panValues(127).right, 64);
  EXPECT_EQ(midi::panValues(96).right, 33);
  EXPECT_EQ(midi::levelValue(127, 127), 127);
  EXPECT_EQ(midi::levelValue(0, 127), 0);
  EXPECT_EQ(midi::levelValue(127, 64), 32);
  EXPECT_EQ(midi::noteVelocity(127), 127);
  EXPECT_EQ(midi::noteVelocity(64), 32);
  EXPECT_EQ(midi::noteVelocity(1), 1);
}

TEST(MidiImport, AtTickZeroEachListDeliversItsLastValueAndChordsStayWhole) {
  Track t;
  t.at(0, {0xC0, 2})
      .at(0, {0xB0, 7, 100})
      .at(0, {0xE0, 0, 0x30})
      .at(0, {0xC0, 4})
      .at(0, {0xB0, 7, 64})
      .at(0, {0xE0, 0, 0x40})
      .at(0, {0x90, 60, 90})
      .at(0, {0x90, 64, 90})
      .at(0, {0x90, 67, 90})
      .at(96, {0xC0, 6})
      .at(0, {0xC0, 1})  // later at the same tick: the program that sounds
      .at(0, {0x80, 60, 0})
      .end();
  const Imported r = import(smf(0, 96, {t}));
  const auto sink = playRecorded(r.tune);
  const std::vector<std::string> lists = sink->hexLists();
  ASSERT_GE(lists.size(), 2u);
  EXPECT_EQ(lists[0], "C0 04 B0 04 00 07 20 90 3C 40 40 40 43 40 FD");
  // The notes still held at the file's end (tick 96) end there too.
  EXPECT_EQ(lists[1], "C0 01 90 3C 00 40 00 43 00 FD");
  EXPECT_EQ(r.summary.merged, 4);
}

TEST(MidiImport, ProgramChangesKeepTheChannelsControllers) {
  // The synthesizer clears controllers 1..6 on a program change; MIDI does
  // not. The importer gives them again so the patch's routes still see them.
  Track t;
  t.at(0, {0xB0, 1, 50})
      .at(0, {0xB0, 2, 0})
      .at(0, {0x90, 60, 90})
      .at(96, {0xC0, 1})
      .at(48, {0xC0, 2})
      .at(0, {0xB0, 1, 70})  // given anew at the program's tick: no copy needed
      .at(48, {0x80, 60, 0})
      .end();
  const Imported r = import(smf(0, 96, {t}));
  EXPECT_EQ(r.summary.restoredControllers, 1);

  SynthSink sink;
  auto loaded = loadTune(r.tune, &sink);
  std::vector<float> out(2 * 44100);
  renderFrames(*loaded->player, out.data(), 22050 + 10);  // past tick 96 (0.5 s)
  EXPECT_EQ(sink.synth().channelControls[0][0], 1);
  EXPECT_EQ(sink.synth().channelControls[0][1], 50);
  renderFrames(*loaded->player, out.data(), 11025);  // past tick 144
  EXPECT_EQ(sink.synth().channelControls[0][0], 2);
  EXPECT_EQ(sink.synth().channelControls[0][1], 70);
}

TEST(MidiImport, HeldNotesEndAtTheFileEndAndSilentChannelsCarryNothing) {
  Track t;
  t.at(0, {0x90, 60, 90})
      .at(0, {0x90, 60, 90})  // the same key twice: two voices to end
      .at(0, {0xB4, 7, 100})  // channel 4 never plays a note
      .at(0, {0xC4, 9})
      .end(200);
  const Imported r = import(smf(0, 96, {t}));
  using N = std::pair<int32_t, int>;
  EXPECT_EQ(notesOf(r.tune.channels[0]),
            (std::vector<N>{{0, 60064}, {0, 60064}, {200, 60000}, {200, 60000}}));
  EXPECT_EQ(r.summary.notesClosedAtEnd, 2);
  EXPECT_TRUE(r.tune.channels[4].programs.empty());
  EXPECT_EQ(r.summary.eventsOnSilentChannels, 2);

  // Nothing sounds after the end.
  SynthSink sink;
  auto loaded = loadTune(r.tune, &sink);
  std::vector<float> out(2 * 88200);
  renderFrames(*loaded->player, out.data(), 88200);
  const std::vector<float> left = leftOf(out);
  EXPECT_GT(rms(left, 0, 40000), 0.05f);
  EXPECT_LT(rms(left, 60000), 1e-4f);
}

TEST(MidiImport, ProgramsTheBankLacksPlayARelative) {
  Track t;
  t.at(0, {0xC0, 13}).at(0, {0x90, 60, 90}).at(0, {0xC1, 40}).at(0, {0x91, 60, 90}).end(10);
  // The bank has 8 and 9 of family 8..15, and 2 as its lowest program.
  const Imported r = import(smf(0, 96, {t}), testBank({2, 9, 8}));
  const midi::Bank bank = testBank({2, 9, 8});
  for (const PatchEntry& p : r.tune.patches) {
    if (p.program == 13) {
      EXPECT_EQ(p.bytes, bank.programs[2].bytes);  // program 8
    } else if (p.program == 40 || p.program == 0) {
      EXPECT_EQ(p.bytes, bank.programs[0].bytes);  // program 2
    }
  }
  EXPECT_EQ(r.summary.programsSubstituted, 3);  // 0, 13 and 40
}

TEST(MidiImport, MidiChannel15MovesOffTheSpeechChannel) {
  // The speech renderer filters whatever channel 15 plays; MIDI channel 15
  // must sound exactly like the same part on channel 14.
  auto render = [](uint8_t channel) {
    Track t;
    t.at(0, {uint8_t(0x90 | channel), 64, 100}).at(96, {uint8_t(0x80 | channel), 64, 0}).end();
    Track cc;
    cc.at(0, {uint8_t(0xB0 | channel), 4, 10}).at(0, {uint8_t(0xB0 | channel), 5, 90}).end();
    const Imported r = import(smf(1, 96, {t, cc}));
    EXPECT_TRUE(r.tune.channels[15].notes.empty());
    SynthSink sink;
    auto loaded = loadTune(r.tune, &sink);
    std::vector<float> out(2 * 30000);
    renderFrames(*loaded->player, out.data(), 30000);
    return out;
  };
  const std::vector<float> ch14 = render(14);
  const std::vector<float> ch15 = render(15);
  ASSERT_GT(rms(leftOf(ch14)), 0.05f);
  EXPECT_EQ(0, std::memcmp(ch14.data(), ch15.data(), ch14.size() * sizeof(float)));

  // With room, the highest free channel takes it.
  Track some;
  some.at(0, {0x9F, 60, 90}).at(0, {0x9E, 60, 90}).at(0, {0x9D, 60, 90}).end(10);
  const Imported moved = import(smf(0, 96, {some}));
  EXPECT_EQ(moved.summary.channel15PlaysOn, 12);
  EXPECT_EQ(moved.tune.channels[12].notes.size(), 2u);
  EXPECT_NE(moved.summary.line().find("MIDI channel 16 plays on channel 13"), std::string::npos)
      << moved.summary.line();
}

// --- Malformed files -----------------------------------------------------

TEST(MidiImport, MalformedFilesNameTheProblemAndItsOffset) {
  Track good;
  good.at(0, {0x90, 60, 100}).at(10, {0x80, 60, 0}).end();
  const Bytes valid = smf(0, 96, {good});
  const size_t track = 14;   // the MTrk chunk header
  const size_t events = 22;  // its first event

  auto truncated = [&](size_t keep) { return Bytes(valid.begin(), valid.begin() + long(keep)); };
  auto withTrack = [](std::initializer_list<uint8_t> body) {
    Track t;
    t.body = body;
    return smf(0, 96, {t});
  };
  Bytes longChunk = valid;
  longChunk[track + 7] += 1;  // one byte more than the file holds
  Bytes smpte = valid;
  smpte[12] = 0xE7;  // -25 frames per second
  smpte[13] = 40;
  Bytes unknownChunk = header(1, 1, 96);
  const Bytes junk = chunk("XJNK", Bytes(3, 0));
  unknownChunk.insert(unknownChunk.end(), junk.begin(), junk.end());  // skipped, then
  Bytes shortTrack = chunk("MTrk", {0x00, 0x90, 60});                 // a cut message
  unknownChunk.insert(unknownChunk.end(), shortTrack.begin(), shortTrack.end());

  struct Case {
    const char* name;
    Bytes file;
    size_t offset;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"empty file", {}, 0, "MThd"},
      {"wrong magic", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}, 0, "MThd"},
      {"header cut short", truncated(10), 4, "runs past the end"},
      {"header too small",
       [] {
         Bytes b = chunk("MThd", {0, 0, 0, 1});
         return b;
       }(),
       4, "needs at least 6"},
      {"format 2", smf(2, 96, {good}), 8, "format 2"},
      {"unknown format", smf(7, 96, {good}), 8, "format 7"},
      {"format 0 with two tracks", smf(0, 96, {good, good}), 10, "2 tracks"},
      {"no tracks", header(1, 0, 96), 10, "no tracks"},
      {"SMPTE division", smpte, 12, "SMPTE"},
      {"zero division", smf(0, 0, {good}), 12, "0 ticks"},
      {"missing track", header(1, 1, 96), 14, "ends after 0 of the 1 tracks"},
      {"track chunk past the end", longChunk, track, "runs past the end"},
      {"cut message", unknownChunk, 14 + 11 + 8 + 1, "truncated message 0x90"},
      {"data byte without status", withTrack({0x00, 0x3C, 0x40}), events + 1, "no status"},
      {"status where data belongs", withTrack({0x00, 0x90, 0x3C, 0x80, 0x40}), events + 3,
       "status byte 0x80"},
      {"cut delta time", withTrack({0x81, 0x82}), events, "truncated delta time"},
      {"delta time of five bytes", withTrack({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 1}), events,
       "longer than 4 bytes"},
      {"meta past the track", withTrack({0x00, 0xFF, 0x01, 0x09, 'a'}), events + 3,
       "runs past the track's end"},
      {"SysEx past the track", withTrack({0x00, 0xF0, 0x05, 0x7E}), events + 2,
       "runs past the track's end"},
      {"system message", withTrack({0x00, 0xF2, 0x00, 0x00}), events + 1, "0xF2"},
      {"delta with no event", withTrack({0x00, 0x90, 60, 1, 0x10}), events + 4, "no event"},
      {"tempo of zero", withTrack({0x00, 0xFF, 0x51, 0x03, 0, 0, 0}), events, "tempo of 0"},
      {"short tempo", withTrack({0x00, 0xFF, 0x51, 0x02, 1, 0}), events, "needs 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
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

TEST(MidiImport, TolerableOddities) {
  // Unknown chunks are skipped, header fields past the sixth byte too,
  // events after the end-of-track event are ignored, a missing end-of-track
  // event is not needed, and bytes after the last track do not matter.
  Bytes file = chunk("MThd", {0, 1, 0, 2, 0, 96, 0xAA, 0xBB});
  const Bytes junk = chunk("XJNK", {1, 2, 3});
  file.insert(file.end(), junk.begin(), junk.end());
  Track a;
  a.at(0, {0x90, 60, 100}).at(10, {0x80, 60, 0}).end(5).at(0, {0x90, 61, 100});
  Track b;
  b.at(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}).at(0, {0x91, 50, 1}).at(20, {0x81, 50, 0});
  for (const Track* t : {&a, &b}) {
    const Bytes c = chunk("MTrk", t->body);
    file.insert(file.end(), c.begin(), c.end());
  }
  file.push_back(0);
  const Imported r = import(file);
  EXPECT_EQ(r.tune.channels[0].notes.size(), 2u);
  EXPECT_EQ(r.tune.channels[1].notes.size(), 2u);
  EXPECT_EQ(r.tune.lengthTicks, 20);
  ASSERT_EQ(r.tune.tempo.size(), 1u);
  EXPECT_EQ(r.tune.tempo[0].microsPerQuarter, 500000);
}

// --- Timing --------------------------------------------------------------

TEST(MidiImport, EveryOnsetLiesWithinOneControlTickAfterItsTimeInTheTempoMap) {
  // Short notes every quarter at 384 ticks per quarter, under four tempos,
  // one of them changing between two notes.
  constexpr int kDivision = 384;
  struct Change {
    int64_t tick;
    uint32_t micros;
  };
  const std::vector<Change> tempoMap = {{0, 500000},
                                        {4 * kDivision, 300000},
                                        {7 * kDivision + 100, 731000},
                                        {10 * kDivision, 412345}};
  Track conductor;
  int64_t at = 0;
  for (const Change& c : tempoMap) {
    conductor.tempo(uint32_t(c.tick - at), c.micros);
    at = c.tick;
  }
  conductor.end();
  Track notes;
  std::vector<int64_t> onsetTicks;
  for (int i = 0; i < 14; ++i) {
    onsetTicks.push_back(int64_t(i) * kDivision + (i % 3) * 7);  // off the beat now and then
  }
  at = 0;
  for (int64_t tick : onsetTicks) {
    notes.at(uint32_t(tick - at), {0x90, 72, 110}).at(kDivision / 8, {0x80, 72, 0});
    at = tick + kDivision / 8;
  }
  notes.end();
  const Imported r = import(smf(1, kDivision, {conductor, notes}));

  // The time of a tick from the file's tempo map, in frames.
  auto exactFrame = [&](int64_t tick) {
    double seconds = 0.0;
    for (size_t i = 0; i < tempoMap.size(); ++i) {
      const int64_t from = tempoMap[i].tick;
      const int64_t to = i + 1 < tempoMap.size() ? std::min(tick, tempoMap[i + 1].tick) : tick;
      if (to > from) seconds += double(to - from) * tempoMap[i].micros / 1e6 / kDivision;
    }
    return seconds * 44100.0;
  };

  SynthSink sink;
  auto loaded = loadTune(r.tune, &sink);
  const int total = int(exactFrame(onsetTicks.back()) + 20000);
  std::vector<float> out(2 * size_t(total));
  renderFrames(*loaded->player, out.data(), total);
  const std::vector<float> left = leftOf(out);

  constexpr float kThreshold = 1e-3f;
  for (int64_t tick : onsetTicks) {
    const double exact = exactFrame(tick);
    const int begin = int(exact) - 400;
    int onset = -1;
    for (int i = std::max(begin, 0); i < total; ++i) {
      if (std::fabs(left[size_t(i)]) > kThreshold) {
        onset = i;
        break;
      }
    }
    SCOPED_TRACE("note at tick " + std::to_string(tick));
    EXPECT_GE(onset, exact - 1.0);
    EXPECT_LE(onset, exact + 128.0);
  }
}

// --- The default bank ------------------------------------------------------

namespace {

midi::Bank defaultBank() {
  midi::Bank bank;
  std::string error;
  EXPECT_TRUE(midi::loadBank(std::string(ORB_SOURCE_DIR) + "/assets/bank", bank, error)) << error;
  return bank;
}

// One note of `seconds` on a channel with a program, rendered through the
// bank's patches.
std::vector<float> playNote(const midi::Bank& bank, uint8_t channel, uint8_t program, uint8_t note,
                            double seconds, double renderSeconds = 0.0) {
  const uint32_t ticks = uint32_t(seconds * 192);  // 96 per quarter at 120 per minute
  Track t;
  t.at(0, {uint8_t(0xC0 | channel), program})
      .at(0, {uint8_t(0x90 | channel), note, 100})
      .at(ticks, {uint8_t(0x80 | channel), note, 0})
      .end(uint32_t(std::max(0.0, renderSeconds - seconds) * 192));  // the tune lasts the render
  const Imported r = import(smf(0, 96, {t}), bank);
  SynthSink sink;
  auto loaded = loadTune(r.tune, &sink);
  const int frames = int(std::max(seconds, renderSeconds) * 44100);
  std::vector<float> out(2 * size_t(frames));
  renderFrames(*loaded->player, out.data(), frames);
  return leftOf(out);
}

double decibels(double ratio) {
  return 20.0 * std::log10(ratio);
}

double crossingsPerSecond(const std::vector<float>& x, size_t frames) {
  int count = 0;
  for (size_t i = 1; i < frames && i < x.size(); ++i) count += (x[i - 1] < 0) != (x[i] < 0);
  return count * 44100.0 / double(frames);
}

}  // namespace

TEST(MidiBank, CoversEveryProgramAndEachOneSounds) {
  const midi::Bank bank = defaultBank();
  ASSERT_EQ(bank.programs.size(), 128u);
  bool seen[128] = {};
  for (const PatchEntry& p : bank.programs) seen[p.program] = true;
  for (int p = 0; p < 128; ++p) EXPECT_TRUE(seen[p]) << "program " << p;
  EXPECT_FALSE(bank.drumKit.empty());
  EXPECT_EQ(bank.global.size(), 22u);

  // Every program sounds, none clips on one note, and the levels stay within
  // 20 dB of the bank's median so that no part drowns or vanishes in a mix.
  std::vector<float> levels;
  for (const PatchEntry& p : bank.programs) {
    const std::vector<float> x = playNote(bank, 0, uint8_t(p.program), 69, 0.7);
    float peak = 0.0f;
    for (float v : x) peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 1.0f) << "program " << p.program;
    levels.push_back(rms(x));
  }
  std::vector<float> sorted = levels;
  std::sort(sorted.begin(), sorted.end());
  const float median = sorted[sorted.size() / 2];
  EXPECT_GT(median, 0.015f);
  for (size_t i = 0; i < levels.size(); ++i) {
    EXPECT_GT(levels[i], median / 10) << "program " << bank.programs[i].program;
    EXPECT_LT(levels[i], median * 10) << "program " << bank.programs[i].program;
  }
}

TEST(MidiBank, NotesSoundAtTheirMidiPitch) {
  const midi::Bank bank = defaultBank();
  // The flute is nearly a sine: MIDI note 69 is 440 Hz, 57 is 220 Hz.
  const std::vector<float> a4 = playNote(bank, 0, 73, 69, 1.0);
  const std::vector<float> a3 = playNote(bank, 0, 73, 57, 1.0);
  const std::vector<float> steady4(a4.begin() + 11025, a4.begin() + 33075);
  const std::vector<float> steady3(a3.begin() + 11025, a3.begin() + 33075);
  EXPECT_NEAR(frequencyOf(steady4, 44100.0), 440.0, 440.0 * 0.01);
  EXPECT_NEAR(frequencyOf(steady3, 44100.0), 220.0, 220.0 * 0.01);
}

namespace {

// The share of the energy of `x` above `hz`, by a discrete Fourier
// transform of the whole stretch.
double shareAbove(const std::vector<float>& x, double hz) {
  const size_t n = x.size();
  double above = 0.0, total = 0.0;
  for (size_t k = 1; k < n / 2; ++k) {
    double re = 0.0, im = 0.0;
    const double w = 2.0 * M_PI * double(k) / double(n);
    for (size_t i = 0; i < n; ++i) {
      re += x[i] * std::cos(w * double(i));
      im -= x[i] * std::sin(w * double(i));
    }
    const double e = re * re + im * im;
    total += e;
    if (double(k) * 44100.0 / double(n) > hz) above += e;
  }
  return total > 0.0 ? above / total : 0.0;
}

}  // namespace

TEST(MidiBank, DrumKitSoundsChangeWithTheKey) {
  const midi::Bank bank = defaultBank();
  // Brightness by zero crossings over the first 50 ms of each hit: the kick
  // is a low thump, the snare brighter; hats and cymbals have most of their
  // energy above 5 kHz and are quieter than the kick.
  auto hit = [&](uint8_t key) {
    const std::vector<float> x = playNote(bank, 9, 0, key, 0.3);
    EXPECT_GT(rms(x, 0, 4410), 0.005f) << "key " << int(key);
    return x;
  };
  const std::vector<float> kick = hit(36);
  EXPECT_LT(crossingsPerSecond(kick, 2205), 400.0);
  EXPECT_GT(crossingsPerSecond(hit(38), 2205), 1.5 * crossingsPerSecond(kick, 2205));
  for (uint8_t key : {42, 46, 49, 51}) {
    const std::vector<float> metal = hit(key);
    EXPECT_GT(shareAbove(std::vector<float>(metal.begin(), metal.begin() + 2205), 5000.0), 0.6)
        << "key " << int(key);
    EXPECT_LT(rms(metal, 0, 4410), 0.7 * rms(kick, 0, 4410)) << "key " << int(key);
  }
  // They play on the highest free channel, which follows the drum channel's
  // level; with no channel free they stay on the drum channel.
  Track t;
  t.at(0, {0xB9, 7, 64}).at(0, {0x99, 42, 100}).at(0, {0x99, 36, 100}).end(96);
  const Imported split = import(smf(0, 96, {t}), bank);
  EXPECT_EQ(split.summary.cymbalsPlayOn, 14);
  EXPECT_EQ(notesOf(split.tune.channels[14]),
            (std::vector<std::pair<int32_t, int>>{{0, 42079}, {96, 42000}}));
  EXPECT_EQ(split.tune.channels[14].controllers[6].size(), 1u);
  EXPECT_NE(split.summary.line().find("hats and cymbals play on channel 15"), std::string::npos);
  Track full;
  for (uint8_t ch = 0; ch < 16; ++ch) full.at(0, {uint8_t(0x90 | ch), 42, 100});
  EXPECT_EQ(import(smf(0, 96, {full.end(96)}), bank).summary.cymbalsPlayOn, -1);

  // Toms rise in pitch with the key.
  const std::vector<float> low = playNote(bank, 9, 0, 41, 0.3);
  const std::vector<float> high = playNote(bank, 9, 0, 45, 0.3);
  EXPECT_GT(crossingsPerSecond(high, 2205), crossingsPerSecond(low, 2205));
}

TEST(MidiBank, TheRoomFallsSixtyDecibelsInAboutTwoSecondsAndStruckSoundsStartAtOnce) {
  const midi::Bank bank = defaultBank();
  // A 0.1 s piano note: once the note has gone (0.5 s on), the room's echo
  // alone falls at 60 dB per 2 s (1.6 to 2.6 s).
  const std::vector<float> piano = playNote(bank, 0, 0, 60, 0.1, 3.0);
  const double early = rms(piano, 22050, 26460), late = rms(piano, 66150, 70560);
  const double fallPerSecond = decibels(early / late) / 1.0;
  EXPECT_GT(60.0 / fallPerSecond, 1.6);
  EXPECT_LT(60.0 / fallPerSecond, 2.6);

  // Timpani, xylophone and glockenspiel: within 40 ms the sound is as loud
  // as it gets (within 2 dB, 10 ms steps), and two seconds on it has
  // fallen by 20 dB (no drone).
  for (uint8_t program : {47, 13, 9}) {
    const std::vector<float> x = playNote(bank, 0, program, 57, 2.5);
    double first = 0.0, top = 0.0;
    for (size_t at = 0; at + 441 < x.size(); at += 441) {
      const double level = rms(x, at, at + 441);
      top = std::max(top, level);
      if (at < 1764) first = std::max(first, level);
    }
    EXPECT_GT(decibels(first / top), -2.0) << "program " << int(program);
    EXPECT_LT(rms(x, 88200, 92610), top / 10) << "program " << int(program);
  }
}

namespace {

// A whole file through the default bank: interleaved stereo.
std::vector<float> renderWithBank(const Bytes& file, double seconds,
                                  const midi::Bank& bank = defaultBank()) {
  const Imported r = import(file, bank);
  SynthSink sink;
  auto loaded = loadTune(r.tune, &sink);
  const int frames = int(seconds * 44100);
  std::vector<float> out(2 * size_t(frames));
  renderFrames(*loaded->player, out.data(), frames);
  return out;
}

std::vector<float> sideOf(const std::vector<float>& stereo, int side, double from, double to) {
  std::vector<float> out;
  for (size_t i = size_t(from * 44100); i < size_t(to * 44100) && 2 * i + 1 < stereo.size(); ++i) {
    out.push_back(stereo[2 * i + size_t(side)]);
  }
  return out;
}

double dbOf(double ratio) {
  return 20.0 * std::log10(ratio);
}

}  // namespace

TEST(MidiBank, PedalPanVolumeAndBendAsAListenerHearsThem) {
  // Pedal: an organ note of 0.1 s (96 ticks = 0.5 s) with the pedal held to
  // 1.0 s keeps sounding until the pedal lifts; without it only the room's
  // echo is left.
  auto organ = [](bool pedal) {
    Track t;
    t.at(0, {0xC0, 16}).at(0, {0xB0, 64, uint8_t(pedal ? 127 : 0)}).at(0, {0x90, 60, 100});
    t.at(19, {0x80, 60, 0}).at(173, {0xB0, 64, 0}).end(200);
    return renderWithBank(smf(0, 96, {t}), 2.2);
  };
  const std::vector<float> held = organ(true), plain = organ(false);
  const double attack = rms(sideOf(held, 0, 0.02, 0.1));
  EXPECT_GT(rms(sideOf(held, 0, 0.5, 0.95)), 0.5 * attack);
  EXPECT_LT(rms(sideOf(plain, 0, 0.5, 0.95)), 0.1 * attack);
  EXPECT_LT(rms(sideOf(held, 0, 1.8, 2.2)), 0.1 * attack);  // lifted at 1.0 s

  // Pan and level: a piano note panned hard left is at least 12 dB louder on
  // the left (the room's echo reaches both sides); hard right the opposite;
  // expression 64 takes 12 dB off (the square of each, as general MIDI has it).
  auto piano = [](int pan, int expression) {
    Track t;
    t.at(0, {0xB0, 10, uint8_t(pan)}).at(0, {0xB0, 11, uint8_t(expression)});
    t.at(0, {0x90, 60, 100}).at(96, {0x80, 60, 0}).end();
    return renderWithBank(smf(0, 96, {t}), 0.4);
  };
  const std::vector<float> left = piano(0, 127), right = piano(127, 127), centre = piano(64, 127);
  const std::vector<float> soft = piano(64, 64);
  EXPECT_GT(dbOf(rms(sideOf(left, 0, 0, 0.25)) / rms(sideOf(left, 1, 0, 0.25))), 12.0);
  EXPECT_GT(dbOf(rms(sideOf(right, 1, 0, 0.25)) / rms(sideOf(right, 0, 0, 0.25))), 12.0);
  EXPECT_NEAR(dbOf(rms(sideOf(centre, 0, 0, 0.4)) / rms(sideOf(centre, 1, 0, 0.4))), 0.0, 1.0);
  EXPECT_NEAR(dbOf(rms(sideOf(soft, 0, 0, 0.4)) / rms(sideOf(centre, 0, 0, 0.4))), -12.0, 1.5);

  // Bend: the flute's A (440 Hz) bent fully up sounds 2 semitones higher at
  // the default range, 12 after the registered range is set to 12, and
  // falls back when the bend returns to the centre.
  auto flute = [](int rangeSemitones) {
    Track t;
    t.at(0, {0xC0, 73});
    if (rangeSemitones != 2) {
      t.at(0, {0xB0, 101, 0}).at(0, {0xB0, 100, 0}).at(0, {0xB0, 6, uint8_t(rangeSemitones)});
    }
    t.at(0, {0x90, 69, 100}).at(96, {0xE0, 0x7F, 0x7F}).at(96, {0xE0, 0, 0x40});
    t.at(96, {0x80, 69, 0}).end();
    return renderWithBank(smf(0, 96, {t}), 1.5);
  };
  const std::vector<float> two = flute(2), twelve = flute(12);
  EXPECT_NEAR(frequencyOf(sideOf(two, 0, 0.2, 0.45), 44100.0), 440.0, 440.0 * 0.005);
  EXPECT_NEAR(frequencyOf(sideOf(two, 0, 0.7, 0.95), 44100.0), 493.88, 493.88 * 0.005);
  EXPECT_NEAR(frequencyOf(sideOf(twelve, 0, 0.7, 0.95), 44100.0), 880.0, 880.0 * 0.005);
  EXPECT_NEAR(frequencyOf(sideOf(twelve, 0, 1.2, 1.45), 44100.0), 440.0, 440.0 * 0.005);
}

TEST(MidiImport, EveryChannelSoundsWhenAFileUsesAllSixteen) {
  // Each MIDI channel plays one note in a slot of its own (0.25 s); the
  // programs are given by `program(channel)`. With a pair of channels on
  // the same program, that pair shares a channel; with all programs
  // different, two channels that play one after the other do, the program
  // changing between them; with every part playing at once, two share one
  // and the second plays the first's program. Every slot sounds.
  auto file = [](auto program, bool together) {
    Track t;
    for (uint8_t ch = 0; ch < 16; ++ch) {
      if (ch != 9) t.at(0, {uint8_t(0xC0 | ch), uint8_t(program(ch))});
    }
    std::vector<std::pair<uint32_t, std::array<uint8_t, 3>>> events;
    for (uint8_t ch = 0; ch < 16; ++ch) {
      const uint8_t key = ch == 9 ? 38 : 60 + ch;
      const uint32_t start = together ? 0 : ch * 48u;
      events.push_back({start, {uint8_t(0x90 | ch), key, 100}});
      events.push_back({together ? 16 * 48u : start + 40, {uint8_t(0x80 | ch), key, 0}});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    uint32_t at = 0;
    for (const auto& [tick, bytes] : events) {
      t.at(tick - at, {bytes[0], bytes[1], bytes[2]});
      at = tick;
    }
    return smf(0, 96, {t.end(96)});
  };
  // Slots whose level is within 1 dB of the note played alone (which no
  // filter of the speech channel colours), with the test sounds that end
  // sharply.
  const midi::Bank bank = testBank();
  auto slotsSounding = [&](auto program, const Bytes& f) {
    const std::vector<float> out = renderWithBank(f, 4.5, bank);
    int sounding = 0;
    for (uint8_t ch = 0; ch < 16; ++ch) {
      const uint8_t key = ch == 9 ? 38 : 60 + ch;
      Track alone;
      if (ch != 9) alone.at(0, {uint8_t(0xC0 | ch), uint8_t(program(ch))});
      alone.at(0, {uint8_t(0x90 | ch), key, 100}).at(40, {uint8_t(0x80 | ch), key, 0}).end(96);
      const double from = ch * 0.25 + 0.03;
      const double level = rms(sideOf(out, 0, from, from + 0.15));
      const double own = rms(sideOf(renderWithBank(smf(0, 96, {alone}), 0.3, bank), 0, 0.03, 0.18));
      sounding += std::fabs(dbOf(level / own)) < 1.0;
    }
    return sounding;
  };

  const auto sharing = [](int ch) { return ch == 12 ? 3 : ch; };
  const Bytes shared = file(sharing, false);
  const Imported a = import(shared);
  EXPECT_EQ(a.summary.sharedChannels, (std::array<int, 2>{3, 12}));
  EXPECT_EQ(a.summary.sharingCost, 0);
  EXPECT_EQ(a.summary.channel15PlaysOn, 12);
  EXPECT_TRUE(a.tune.channels[15].notes.empty());
  EXPECT_EQ(a.tune.channels[3].notes.size(), 4u);
  EXPECT_NE(a.summary.line().find("MIDI channels 4 and 13 share channel 4 (the same programs)"),
            std::string::npos)
      << a.summary.line();
  EXPECT_EQ(slotsSounding(sharing, shared), 16);

  const auto distinct = [](int ch) { return 20 + ch; };
  const Bytes interleaved = file(distinct, false);
  const Imported b = import(interleaved);
  EXPECT_EQ(b.summary.sharingCost, 1);
  const int first = b.summary.sharedChannels[0], second = b.summary.sharedChannels[1];
  ASSERT_GE(first, 0);
  std::vector<std::pair<int32_t, int>> programs;
  for (const ProgramEvent& e : b.tune.channels[size_t(first)].programs) {
    programs.push_back({e.tick, e.program});
  }
  EXPECT_EQ(programs, (std::vector<std::pair<int32_t, int>>{{first * 48, 20 + first},
                                                            {second * 48, 20 + second}}));
  EXPECT_EQ(slotsSounding(distinct, interleaved), 16);

  const Imported c = import(file(distinct, true));
  EXPECT_EQ(c.summary.sharingCost, 2);
  EXPECT_EQ(c.summary.notes, 16);
  EXPECT_TRUE(c.tune.channels[15].notes.empty());
}

TEST(MidiBank, BadBanksAreReportedWithFileAndLine) {
  std::string error;
  midi::Bank bank;
  EXPECT_FALSE(midi::loadBank(std::string(ORB_BINARY_DIR) + "/no-such-bank", bank, error));
  EXPECT_NE(error.find("not a folder"), std::string::npos) << error;

  const std::string folder = std::string(ORB_BINARY_DIR) + "/midi_bad_bank";
  std::filesystem::create_directories(folder);
  auto write = [&](const char* name, const char* text) {
    std::ofstream(folder + "/" + name) << text;
  };
  write("bank.patch", "patch a program=0\nend\npatch b program=1\n  osc1 mode=wobble\nend\n");
  EXPECT_FALSE(midi::loadBank(folder, bank, error));
  EXPECT_NE(error.find("bank.patch:4"), std::string::npos) << error;
  write("bank.patch", "patch a program=0\nend\n");
  write("global.tune", "global\n  reverb level=40\n  master lowcut=1 wobble=3\nend\n");
  EXPECT_FALSE(midi::loadBank(folder, bank, error));
  EXPECT_NE(error.find("global.tune:3"), std::string::npos) << error;
  std::filesystem::remove_all(folder);
}
