#include "tools/midi/midi_import.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <tuple>

namespace midi {

namespace {

constexpr int kNoteCount = 128;
constexpr int kSpeechChannelIndex = 15;  // the synthesizer's speech channel
constexpr int kFamilySize = 8;
// A program change clears controllers 1..6 in the synthesizer; 7 is kept.
constexpr int kClearedControllers = 6;
constexpr int kTempoBytes = 3;
constexpr int kTimeSignatureMinBytes = 2;
constexpr int kTimeSignatureAuxByte = 3;
constexpr uint8_t kDefaultMetreAux = 8;  // 32nd notes per quarter
constexpr int kMaxDenominatorPower = 7;  // 2^7 = 128 still fits a byte

// The file's controllers that mean something to the import.
enum : uint8_t {
  kCcModulation = 1,
  kCcDataEntry = 6,
  kCcVolume = 7,
  kCcPan = 10,
  kCcExpression = 11,
  kCcDataEntryLsb = 38,
  kCcSustain = 64,
  kCcNrpnLsb = 98,
  kCcNrpnMsb = 99,
  kCcRpnLsb = 100,
  kCcRpnMsb = 101,
  kCcAllSoundOff = 120,
  kCcResetControllers = 121,
  kCcAllNotesOff = 123,  // and the mode messages 124..127, which also end notes
};

constexpr int kDefaultVolume = 100;  // a general MIDI channel's volume before any is given
constexpr int kFullExpression = 127;
constexpr int kCentrePan = 64;
constexpr int kBendCentre = 8192;
constexpr int kDefaultBendRangeCents = 200;
constexpr int kNullParameter = 0x3FFF;
constexpr int kBendRangeParameter = 0;
constexpr int kPedalDown = 64;
constexpr int kMaxControllerValue = 127;
constexpr int kFineSteps = 64;        // fine bend steps per semitone
constexpr int kCoarseFineSteps = 32;  // fine steps per coarse (half semitone) step

enum : uint8_t {
  kNoteOff = 0x80,
  kNoteOn = 0x90,
  kKeyPressure = 0xA0,
  kControl = 0xB0,
  kProgram = 0xC0,
  kChannelPressure = 0xD0,
  kPitchBend = 0xE0,
};

struct Timed {
  const SmfEvent* event;
  int track;
};

// Every track's events in one list, by tick; events at one tick keep track
// order and, within a track, file order.
std::vector<Timed> mergeTracks(const SmfFile& smf) {
  std::vector<Timed> all;
  for (size_t t = 0; t < smf.tracks.size(); ++t) {
    for (const SmfEvent& e : smf.tracks[t].events) all.push_back({&e, int(t)});
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const Timed& a, const Timed& b) { return a.event->tick < b.event->tick; });
  return all;
}

// Appends a value, or replaces the value already given at the same tick.
template <typename Event>
void putLatest(std::vector<Event>& list, const Event& e, int64_t& merged) {
  if (!list.empty() && list.back().tick == e.tick) {
    list.back() = e;
    ++merged;
  } else {
    list.push_back(e);
  }
}

std::string offsetError(uint32_t offset, const std::string& message) {
  return "byte offset " + std::to_string(offset) + ": " + message;
}

class Importer {
 public:
  Importer(const uint8_t* bytes, ImportSummary& summary, std::string& error)
      : bytes_(bytes), summary_(summary), error_(error) {}

  bool walk(const SmfFile& smf, TuneDescription& out) {
    for (const Timed& t : mergeTracks(smf)) {
      const SmfEvent& e = *t.event;
      if (e.tick > INT32_MAX) {
        error_ = offsetError(e.offset, "event at tick " + std::to_string(e.tick) +
                                           " lies beyond the tune format's last tick");
        return false;
      }
      lastTick_ = std::max(lastTick_, e.tick);
      bool ok = true;
      switch (e.kind) {
        case SmfEventKind::Channel:
          channelMessage(e, out);
          break;
        case SmfEventKind::Meta:
          ok = meta(e, out);
          break;
        case SmfEventKind::SysEx:
          ++summary_.sysEx;
          break;
      }
      if (!ok) return false;
    }
    return true;
  }

  // Notes still held at the file's end, by a key or by the pedal, are ended
  // there.
  void closeHeldNotes(TuneDescription& out) {
    for (int ch = 0; ch < kChannelCount; ++ch) {
      Part& state = channels_[ch];
      for (int key = 0; key < kNoteCount; ++key) {
        const int count = state.keyDown[key] + state.sustained[key];
        for (int n = 0; n < count; ++n) {
          out.channels[size_t(ch)].notes.push_back({int32_t(lastTick_), uint8_t(key), 0});
        }
        summary_.notesClosedAtEnd += count;
        state.keyDown[key] = state.sustained[key] = 0;
      }
    }
  }

  int64_t lastTick() const { return lastTick_; }

 private:
  // What the file's channel holds besides its notes: the pedal, the keys
  // still down and the notes the pedal holds, the values the synthesizer's
  // controllers are computed from, and the last value sent for each.
  struct Part {
    bool pedal = false;
    int keyDown[kNoteCount] = {};    // note starts not yet ended by the file
    int sustained[kNoteCount] = {};  // ended by the file, held by the pedal
    uint8_t volume = kDefaultVolume;
    uint8_t expression = kFullExpression;
    uint8_t pan = kCentrePan;
    int bend = kBendCentre;
    int rangeCents = kDefaultBendRangeCents;
    int rpn = kNullParameter;  // the registered parameter data entry changes
    int sent[kControllerListCount + 1] = {0, 0, 0, 0, 0, 0, 0, -1};
  };

  void channelMessage(const SmfEvent& e, TuneDescription& out) {
    const int ch = e.status & 0x0F;
    ChannelEvents& events = out.channels[size_t(ch)];
    Part& state = channels_[ch];
    const int32_t tick = int32_t(e.tick);
    const uint8_t a = e.data[0], b = e.data[1];
    switch (e.status & 0xF0) {
      case kNoteOn:
        if (b != 0) {
          // A key struck again while the pedal holds it ends the held note
          // first, as a damper lifted and dropped would.
          endSustained(events, state, a, tick);
          events.notes.push_back({tick, a, uint8_t(noteVelocity(b))});
          ++state.keyDown[a];
          ++summary_.notes;
          break;
        }
        [[fallthrough]];  // velocity 0 ends the note
      case kNoteOff:
        keyUp(events, state, a, tick);
        break;
      case kControl:
        control(events, state, a, b, tick);
        break;
      case kProgram:
        if (ch == kDrumChannel) {
          ++summary_.drumPrograms;
        } else {
          putLatest(events.programs, ProgramEvent{tick, a}, summary_.merged);
        }
        break;
      case kPitchBend:
        state.bend = a | (b << 7);
        sendBend(events, state, tick);
        ++summary_.bends;
        break;
      case kKeyPressure:
      case kChannelPressure:
        ++summary_.pressure;
        break;
    }
  }

  void keyUp(ChannelEvents& events, Part& state, uint8_t key, int32_t tick) {
    if (state.keyDown[key] > 0) {
      --state.keyDown[key];
      if (state.pedal) {
        ++state.sustained[key];
        ++summary_.notesSustained;
        return;
      }
    } else if (state.pedal) {
      return;  // no such note; nothing to hold
    }
    events.notes.push_back({tick, key, 0});
  }

  void endSustained(ChannelEvents& events, Part& state, uint8_t key, int32_t tick) {
    for (; state.sustained[key] > 0; --state.sustained[key]) {
      events.notes.push_back({tick, key, 0});
    }
  }

  void setPedal(ChannelEvents& events, Part& state, bool down, int32_t tick) {
    state.pedal = down;
    if (down) return;
    for (int key = 0; key < kNoteCount; ++key) endSustained(events, state, uint8_t(key), tick);
  }

  // Every note of the channel ends now; with `evenHeld` also those the pedal
  // holds.
  void allNotesOff(ChannelEvents& events, Part& state, int32_t tick, bool evenHeld) {
    for (int key = 0; key < kNoteCount; ++key) {
      while (state.keyDown[key] > 0) keyUp(events, state, uint8_t(key), tick);
    }
    if (evenHeld) setPedal(events, state, false, tick);
  }

  void send(ChannelEvents& events, Part& state, int controller, int value, int32_t tick) {
    if (state.sent[controller] == value) return;
    state.sent[controller] = value;
    putLatest(events.controllers[size_t(controller - 1)], ControllerEvent{tick, uint8_t(value)},
              summary_.merged);
  }

  void sendLevel(ChannelEvents& events, Part& state, int32_t tick) {
    send(events, state, kLevelController, levelValue(state.volume, state.expression), tick);
  }

  void sendPan(ChannelEvents& events, Part& state, int32_t tick) {
    const PanValues v = panValues(state.pan);
    send(events, state, kPanRightController, v.right, tick);
    send(events, state, kPanLeftController, v.left, tick);
  }

  void sendBend(ChannelEvents& events, Part& state, int32_t tick) {
    const BendValues v = bendValues(state.bend, state.rangeCents);
    send(events, state, kBendDownController, v.down, tick);
    send(events, state, kBendFineController, v.fine, tick);
    send(events, state, kBendUpController, v.up, tick);
  }

  void control(ChannelEvents& events, Part& state, uint8_t controller, uint8_t value,
               int32_t tick) {
    switch (controller) {
      case kCcModulation:
        send(events, state, kModulationController, value, tick);
        break;
      case kCcVolume:
        state.volume = value;
        sendLevel(events, state, tick);
        break;
      case kCcExpression:
        state.expression = value;
        sendLevel(events, state, tick);
        break;
      case kCcPan:
        state.pan = value;
        sendPan(events, state, tick);
        break;
      case kCcSustain:
        setPedal(events, state, value >= kPedalDown, tick);
        break;
      case kCcRpnLsb:
        state.rpn = (state.rpn & ~0x7F) | value;
        break;
      case kCcRpnMsb:
        state.rpn = (state.rpn & 0x7F) | (value << 7);
        break;
      case kCcNrpnLsb:
      case kCcNrpnMsb:
        state.rpn = kNullParameter;  // data entry now goes to a parameter not kept
        ++summary_.otherControllers;
        return;
      case kCcDataEntry:
      case kCcDataEntryLsb:
        if (state.rpn != kBendRangeParameter) {
          ++summary_.otherControllers;
          return;
        }
        if (controller == kCcDataEntry) {
          state.rangeCents = value * 100 + state.rangeCents % 100;
        } else {
          state.rangeCents = state.rangeCents / 100 * 100 + std::min<int>(value, 99);
        }
        sendBend(events, state, tick);
        break;
      case kCcAllSoundOff:
        allNotesOff(events, state, tick, true);
        break;
      case kCcResetControllers:
        state.expression = kFullExpression;
        state.bend = kBendCentre;
        state.rpn = kNullParameter;
        setPedal(events, state, false, tick);
        send(events, state, kModulationController, 0, tick);
        sendLevel(events, state, tick);
        sendBend(events, state, tick);
        break;
      default:
        if (controller >= kCcAllNotesOff) {
          allNotesOff(events, state, tick, false);
          break;
        }
        ++summary_.otherControllers;
        return;
    }
    ++summary_.controllerMessages;
  }

  bool meta(const SmfEvent& e, TuneDescription& out) {
    const uint8_t* p = bytes_ + e.payloadOffset;
    if (e.metaType == kMetaTempo) {
      if (e.payloadLength < kTempoBytes) {
        error_ = offsetError(
            e.offset, "tempo event of " + std::to_string(e.payloadLength) + " bytes (needs 3)");
        return false;
      }
      const int32_t micros = (p[0] << 16) | (p[1] << 8) | p[2];
      if (micros == 0) {
        error_ = offsetError(e.offset, "tempo of 0 microseconds per quarter note");
        return false;
      }
      metre_.microsPerQuarter = micros;
    } else if (e.metaType == kMetaTimeSignature) {
      if (e.payloadLength < kTimeSignatureMinBytes) {
        error_ = offsetError(e.offset, "time signature of " + std::to_string(e.payloadLength) +
                                           " bytes (needs at least 2)");
        return false;
      }
      setMetre(
          p[0], p[1],
          e.payloadLength > kTimeSignatureAuxByte ? p[kTimeSignatureAuxByte] : kDefaultMetreAux);
    } else {
      if (e.metaType != kMetaEndOfTrack) ++summary_.otherMeta;
      return true;
    }
    TempoEvent record = metre_;
    record.tick = int32_t(e.tick);
    putLatest(out.tempo, record, mergedTempo_);
    return true;
  }

  // The player counts bars of (numerator * 4 / denominator) quarter beats
  // and rejects a metre that makes that 0; the denominator must fit a byte.
  // Such metres keep their denominator and get the smallest numerator that
  // makes a whole beat.
  void setMetre(uint8_t numerator, uint8_t power, uint8_t aux) {
    bool adjusted = false;
    if (power > kMaxDenominatorPower) {
      power = kMaxDenominatorPower;
      adjusted = true;
    }
    const int denominator = 1 << power;
    int n = numerator;
    if (n * 4 / denominator == 0) {
      n = (denominator + 3) / 4;
      adjusted = true;
    }
    if (adjusted) ++summary_.metresAdjusted;
    metre_.metreNumerator = uint8_t(n);
    metre_.metreDenominator = uint8_t(denominator);
    metre_.metreAux = aux;
  }

  const uint8_t* bytes_;
  ImportSummary& summary_;
  std::string& error_;
  int64_t lastTick_ = 0;
  int64_t mergedTempo_ = 0;  // tempo and metre at one tick share a record: not counted
  TempoEvent metre_;
  Part channels_[kChannelCount];
};

// A tune channel without notes can carry nothing else.
void dropListsOfSilentChannels(TuneDescription& tune, ImportSummary& summary) {
  for (ChannelEvents& ch : tune.channels) {
    if (!ch.notes.empty()) continue;
    summary.eventsOnSilentChannels += int64_t(ch.programs.size() + ch.bends.size());
    ch.programs.clear();
    ch.bends.clear();
    for (auto& list : ch.controllers) {
      summary.eventsOnSilentChannels += int64_t(list.size());
      list.clear();
    }
  }
}

// After each program change, controllers 1..6 that hold a value other than 0
// and get no new value at that tick are given their value again.
void restoreControllers(ChannelEvents& ch, ImportSummary& summary) {
  for (int c = 0; c < kClearedControllers; ++c) {
    std::vector<ControllerEvent>& list = ch.controllers[size_t(c)];
    if (list.empty()) continue;
    std::vector<ControllerEvent> merged;
    size_t next = 0;
    uint8_t value = 0;
    for (const ProgramEvent& p : ch.programs) {
      while (next < list.size() && list[next].tick < p.tick) {
        value = list[next].value;
        merged.push_back(list[next++]);
      }
      const bool givenNow = next < list.size() && list[next].tick == p.tick;
      if (!givenNow && value != 0) {
        merged.push_back({p.tick, value});
        ++summary.restoredControllers;
      }
    }
    merged.insert(merged.end(), list.begin() + long(next), list.end());
    list = std::move(merged);
  }
}

const PatchEntry* findProgram(const Bank& bank, int program) {
  for (const PatchEntry& p : bank.programs) {
    if (p.program == program) return &p;
  }
  return nullptr;
}

// The bank's patch for a program: its own, another of its family of eight,
// or the lowest program the bank defines.
const PatchEntry* resolveProgram(const Bank& bank, int program, int excluded) {
  if (program != excluded) {
    if (const PatchEntry* p = findProgram(bank, program)) return p;
  }
  const int family = program / kFamilySize * kFamilySize;
  for (int i = 0; i < kFamilySize; ++i) {
    if (family + i == excluded) continue;
    if (const PatchEntry* p = findProgram(bank, family + i)) return p;
  }
  const PatchEntry* lowest = nullptr;
  for (const PatchEntry& p : bank.programs) {
    if (!lowest || p.program < lowest->program) lowest = &p;
  }
  return lowest;
}

// Chooses the tune program that holds the drum kit: the highest program
// number no melodic channel selects (never 0, the program every channel
// starts with). When all are taken, program 127 gives way to the kit and
// plays another patch of its family.
int chooseDrumSlot(const bool (&used)[kProgramCount]) {
  for (int p = kProgramCount - 1; p > 0; --p) {
    if (!used[p]) return p;
  }
  return kProgramCount - 1;
}

bool buildPatches(const Bank& bank, TuneDescription& tune, ImportSummary& summary,
                  std::string& error) {
  bool used[kProgramCount] = {};
  used[0] = true;  // selected after initialisation
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (ch == kDrumChannel || ch == summary.cymbalsPlayOn) continue;
    for (const ProgramEvent& p : tune.channels[size_t(ch)].programs) used[p.program] = true;
  }
  ChannelEvents& drums = tune.channels[kDrumChannel];
  const bool hasDrums = !drums.notes.empty();
  int drumSlot = -1;
  if (hasDrums) {
    if (bank.drumKit.empty()) {
      error = "the patch bank has no drum kit, but the drum channel (9) plays notes";
      return false;
    }
    drumSlot = chooseDrumSlot(used);
    drums.programs.insert(drums.programs.begin(), ProgramEvent{0, uint8_t(drumSlot)});
    tune.patches.push_back({drumSlot, bank.drumKit});
  }
  if (summary.cymbalsPlayOn >= 0) {
    // splitCymbals made sure that a program is left for them.
    bool taken[kProgramCount];
    std::copy(std::begin(used), std::end(used), std::begin(taken));
    if (drumSlot >= 0) taken[drumSlot] = true;
    const int slot = chooseDrumSlot(taken);
    ChannelEvents& cymbals = tune.channels[size_t(summary.cymbalsPlayOn)];
    cymbals.programs.insert(cymbals.programs.begin(), ProgramEvent{0, uint8_t(slot)});
    tune.patches.push_back({slot, bank.cymbals});
  }
  for (int p = 0; p < kProgramCount; ++p) {
    if (!used[p] || p == drumSlot) continue;
    const PatchEntry* patch = resolveProgram(bank, p, -1);
    if (!patch) {
      error = "the patch bank defines no programs";
      return false;
    }
    if (patch->program != p) ++summary.programsSubstituted;
    tune.patches.push_back({p, patch->bytes});
  }
  // Program 127 lost its slot to the drum kit: its channels play a relative.
  if (hasDrums && used[drumSlot]) {
    const PatchEntry* patch = resolveProgram(bank, drumSlot, drumSlot);
    if (!patch || patch->program == drumSlot) {
      error = "the patch bank cannot serve program " + std::to_string(drumSlot) +
              " beside the drum kit";
      return false;
    }
    for (int ch = 0; ch < kChannelCount; ++ch) {
      if (ch == kDrumChannel || ch == summary.cymbalsPlayOn) continue;
      for (ProgramEvent& e : tune.channels[size_t(ch)].programs) {
        if (e.program == drumSlot) e.program = uint8_t(patch->program);
      }
    }
    ++summary.programsSubstituted;
    bool present = false;
    for (const PatchEntry& e : tune.patches) present = present || e.program == patch->program;
    if (!present) tune.patches.push_back({patch->program, patch->bytes});
  }
  return true;
}

// The program in force at `tick` on a channel (0 before any), a change at
// that tick included.
int programAt(const std::vector<ProgramEvent>& programs, int32_t tick) {
  int program = 0;
  for (const ProgramEvent& p : programs) {
    if (p.tick > tick) break;
    program = p.program;
  }
  return program;
}

// The programs a channel's notes start with.
std::vector<int> programsPlayed(const ChannelEvents& ch) {
  std::vector<int> out;
  for (const NoteEvent& n : ch.notes) {
    if (n.velocity == 0) continue;
    const int p = programAt(ch.programs, n.tick);
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(p);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The first note start and the last note end of a channel.
std::pair<int32_t, int32_t> noteSpan(const ChannelEvents& ch) {
  return {ch.notes.front().tick, ch.notes.back().tick};
}

size_t controllerRecords(const ChannelEvents& ch) {
  size_t n = 0;
  for (const auto& list : ch.controllers) n += list.size();
  return n;
}

// How well two channels can share one: 0 when they play the same programs,
// 1 when one has ended before the other starts (program changes between
// them cost nothing), 2 otherwise (the second plays the first's programs).
int sharingCost(const ChannelEvents& a, const ChannelEvents& b) {
  if (programsPlayed(a) == programsPlayed(b)) return 0;
  const auto sa = noteSpan(a), sb = noteSpan(b);
  if (sa.second <= sb.first || sb.second <= sa.first) return 1;
  return 2;
}

// Merges list `from` into `into` by tick; at one tick `into`'s records come
// first and, for value lists, the later record replaces the earlier.
template <typename Event>
void mergeByTick(std::vector<Event>& into, const std::vector<Event>& from, bool oneValuePerTick,
                 int64_t& merged) {
  std::vector<Event> out;
  out.reserve(into.size() + from.size());
  size_t i = 0, j = 0;
  while (i < into.size() || j < from.size()) {
    const bool takeInto = j == from.size() || (i < into.size() && into[i].tick <= from[j].tick);
    const Event& e = takeInto ? into[i++] : from[j++];
    if (oneValuePerTick) {
      putLatest(out, e, merged);
    } else {
      out.push_back(e);
    }
  }
  into = std::move(out);
}

// Channel `b` plays on channel `a` from now on. Each note start is preceded
// by the program its own channel has then (for cost 2, the program of `a`'s
// channel), given only where it changes.
void mergeChannel(ChannelEvents& a, ChannelEvents& b, int cost, ImportSummary& summary) {
  struct Start {
    int32_t tick;
    int program;
  };
  std::vector<Start> starts;
  for (const ChannelEvents* ch : {&a, &b}) {
    const ChannelEvents& source = cost == 2 ? a : *ch;
    for (const NoteEvent& n : ch->notes) {
      if (n.velocity != 0) starts.push_back({n.tick, programAt(source.programs, n.tick)});
    }
  }
  std::stable_sort(starts.begin(), starts.end(),
                   [](const Start& x, const Start& y) { return x.tick < y.tick; });
  std::vector<ProgramEvent> programs;
  int current = -1;
  int64_t ignored = 0;
  for (const Start& st : starts) {
    if (st.program == current) continue;
    current = st.program;
    putLatest(programs, ProgramEvent{st.tick, uint8_t(st.program)}, ignored);
  }
  if (!programs.empty() && programs.front().program == 0 && a.programs.empty() &&
      b.programs.empty()) {
    programs.clear();  // program 0 throughout: nothing to select
  }
  mergeByTick(a.notes, b.notes, false, ignored);
  for (size_t c = 0; c < a.controllers.size(); ++c) {
    mergeByTick(a.controllers[c], b.controllers[c], true, summary.merged);
  }
  a.programs = std::move(programs);
  b = ChannelEvents{};
}

// The synthesizer has fifteen channels for melodic parts besides the drum
// channel: the sixteenth is the speech channel, whose formant filter colours
// everything played there. MIDI channel 15 moves to the highest channel the
// file leaves free (never the drum channel). When the file plays on every
// channel, the two that can best share one are merged first: the same
// programs, else one after the other, else the fewest notes between them.
void placeChannels(TuneDescription& tune, ImportSummary& summary) {
  ChannelEvents& speech = tune.channels[size_t(kSpeechChannelIndex)];
  if (speech.notes.empty()) return;
  auto freeChannel = [&]() {
    for (int ch = kSpeechChannelIndex - 1; ch >= 0; --ch) {
      if (ch != kDrumChannel && tune.channels[size_t(ch)].notes.empty()) return ch;
    }
    return -1;
  };
  if (freeChannel() < 0) {
    int bestA = -1, bestB = -1;
    std::tuple<int, size_t, size_t> best{3, 0, 0};
    for (int a = 0; a < kChannelCount; ++a) {
      for (int b = a + 1; b < kChannelCount; ++b) {
        if (a == kDrumChannel || b == kDrumChannel) continue;
        const ChannelEvents& ca = tune.channels[size_t(a)];
        const ChannelEvents& cb = tune.channels[size_t(b)];
        const std::tuple<int, size_t, size_t> score{sharingCost(ca, cb),
                                                    controllerRecords(ca) + controllerRecords(cb),
                                                    ca.notes.size() + cb.notes.size()};
        if (score < best) {
          best = score;
          bestA = a;
          bestB = b;
        }
      }
    }
    // The busier of the two keeps its channel and, at cost 2, its programs.
    if (tune.channels[size_t(bestB)].notes.size() > tune.channels[size_t(bestA)].notes.size() &&
        bestB != kSpeechChannelIndex) {
      std::swap(bestA, bestB);
    }
    if (bestA == kSpeechChannelIndex) std::swap(bestA, bestB);
    mergeChannel(tune.channels[size_t(bestA)], tune.channels[size_t(bestB)], std::get<0>(best),
                 summary);
    summary.sharedChannels = {bestA, bestB};
    summary.sharingCost = std::get<0>(best);
  }
  const int to = freeChannel();
  if (speech.notes.empty()) {
    summary.channel15PlaysOn = summary.sharedChannels[0];
    return;
  }
  tune.channels[size_t(to)] = std::move(speech);
  speech = ChannelEvents{};
  summary.channel15PlaysOn = to;
}

bool isCymbalKey(int key) {
  switch (key) {
    case 42:  // closed hi-hat
    case 44:  // pedal hi-hat
    case 46:  // open hi-hat
    case 49:  // crash
    case 51:  // ride
    case 52:  // china
    case 53:  // ride bell
    case 55:  // splash
    case 57:  // crash 2
    case 59:  // ride 2
      return true;
    default:
      return false;
  }
}

// The drum channel's keys become the keys of the bank's kit that sound like
// them, at their levels; note ends follow their starts, since the map gives
// a key one kit key.
void mapDrums(const Bank& bank, TuneDescription& tune) {
  for (NoteEvent& n : tune.channels[kDrumChannel].notes) {
    const DrumSound& sound = bank.drumMap[n.note];
    n.note = sound.key;
    if (n.velocity == 0 || sound.gainDb == 0) continue;
    const double scaled = std::round(n.velocity * std::pow(10.0, sound.gainDb / 20.0));
    n.velocity = uint8_t(std::clamp(scaled, 1.0, 127.0));
  }
}

// Hats and cymbals play the bank's cymbal patch on a channel of their own
// when one is free: a kit of one patch whose sound follows the key cannot
// make a tom and the hat a key above it both sound right. The cymbals
// follow the drum channel's level and pan.
void splitCymbals(const Bank& bank, TuneDescription& tune, ImportSummary& summary) {
  ChannelEvents& drums = tune.channels[kDrumChannel];
  if (bank.cymbals.empty() || bank.drumKit.empty()) return;
  int to = -1;
  for (int ch = kSpeechChannelIndex - 1; ch >= 0 && to < 0; --ch) {
    if (ch != kDrumChannel && tune.channels[size_t(ch)].notes.empty()) to = ch;
  }
  // Two programs must be left: one for the kit and one for the cymbals.
  bool used[kProgramCount] = {};
  int free = kProgramCount - 1;  // program 0 is always in use
  for (const ChannelEvents& ch : tune.channels) {
    for (const ProgramEvent& p : ch.programs) {
      if (p.program != 0 && !used[p.program]) --free;
      used[p.program] = true;
    }
  }
  if (to < 0 || free < 2) return;
  ChannelEvents& cymbals = tune.channels[size_t(to)];
  std::vector<NoteEvent> rest;
  for (const NoteEvent& n : drums.notes) (isCymbalKey(n.note) ? cymbals.notes : rest).push_back(n);
  if (cymbals.notes.empty()) return;
  drums.notes = std::move(rest);
  cymbals.controllers = drums.controllers;
  summary.cymbalsPlayOn = to;
  if (drums.notes.empty()) {  // a channel without notes carries nothing else
    for (auto& list : drums.controllers) list.clear();
  }
}

void countKept(const TuneDescription& tune, ImportSummary& summary) {
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const ChannelEvents& c = tune.channels[size_t(ch)];
    if (c.notes.empty()) continue;
    ++summary.channels;
    summary.programChanges += int64_t(c.programs.size());
    for (const auto& list : c.controllers) summary.controllerChanges += int64_t(list.size());
  }
  summary.tempoRecords = int(tune.tempo.size());
}

void appendCount(std::string& text, int64_t count, const char* what) {
  if (count == 0) return;
  text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + what;
}

// Every channel that plays starts at the level of a general MIDI channel
// that has not been given a volume (the synthesizer's own start is full).
void giveDefaultLevels(TuneDescription& tune) {
  for (ChannelEvents& ch : tune.channels) {
    if (ch.notes.empty()) continue;
    auto& level = ch.controllers[size_t(kLevelController - 1)];
    if (level.empty() || level.front().tick > 0) {
      level.insert(level.begin(), {0, uint8_t(levelValue(kDefaultVolume, kFullExpression))});
    }
  }
}

}  // namespace

DrumMap identityDrumMap() {
  DrumMap map;
  for (size_t key = 0; key < map.size(); ++key) map[key].key = uint8_t(key);
  return map;
}

int noteVelocity(int velocity) {
  const double v = velocity / 127.0;
  return std::max(1, int(std::lrint(kMaxControllerValue * v * v)));
}

int levelValue(int volume, int expression) {
  const double v = volume / 127.0, e = expression / 127.0;
  return int(std::lrint(kMaxControllerValue * v * v * e * e));
}

PanValues panValues(int pan) {
  PanValues v;
  if (pan > kCentrePan) {
    v.right = int(std::lrint((pan - kCentrePan) * 64.0 / (kMaxControllerValue - kCentrePan)));
  } else {
    v.left = kCentrePan - pan;
  }
  return v;
}

BendValues bendValues(int bend, int rangeCents) {
  const double semitones = double(bend - kBendCentre) / kBendCentre * rangeCents / 100.0;
  const long steps = std::lrint(semitones * kFineSteps);
  BendValues v;
  if (steps >= 0) {
    v.up = int(std::min<long>(steps / kCoarseFineSteps, kMaxControllerValue));
    v.fine = int(std::min<long>(steps - long(v.up) * kCoarseFineSteps, kMaxControllerValue));
  } else {
    v.down = int(
        std::min<long>((-steps + kCoarseFineSteps - 1) / kCoarseFineSteps, kMaxControllerValue));
    v.fine = int(std::max<long>(steps + long(v.down) * kCoarseFineSteps, 0));
  }
  return v;
}

std::string ImportSummary::line() const {
  char head[300];
  std::snprintf(head, sizeof head,
                "%lld notes on %d channels, %d tempo records, %lld program changes, %lld "
                "controller changes (from %lld controller messages and %lld bends), %lld ticks",
                (long long)notes, channels, tempoRecords, (long long)programChanges,
                (long long)controllerChanges, (long long)controllerMessages, (long long)bends,
                (long long)lengthTicks);
  std::string adjusted;
  appendCount(adjusted, merged, "same-tick values merged");
  appendCount(adjusted, restoredControllers, "controllers restored after program changes");
  appendCount(adjusted, notesSustained, "note ends held by the pedal");
  appendCount(adjusted, notesClosedAtEnd, "notes ended at the end");
  appendCount(adjusted, metresAdjusted, "time signatures adjusted");
  appendCount(adjusted, programsSubstituted, "programs played by a relative");
  std::string dropped;
  appendCount(dropped, otherControllers, "other controllers");
  appendCount(dropped, pressure, "pressure messages");
  appendCount(dropped, drumPrograms, "drum-channel program changes");
  appendCount(dropped, sysEx, "SysEx messages");
  appendCount(dropped, otherMeta, "other meta events");
  appendCount(dropped, eventsOnSilentChannels, "events on channels without notes");
  std::string text = std::string("imported ") + head;
  if (sharedChannels[0] >= 0) {
    static const char* const kHow[] = {"the same programs", "one after the other",
                                       "the first's programs"};
    text += "; MIDI channels " + std::to_string(sharedChannels[0] + 1) + " and " +
            std::to_string(sharedChannels[1] + 1) + " share channel " +
            std::to_string(sharedChannels[0] + 1) + " (" + kHow[sharingCost] + ")";
  }
  if (cymbalsPlayOn >= 0) {
    text += "; hats and cymbals play on channel " + std::to_string(cymbalsPlayOn + 1);
  }
  if (channel15PlaysOn >= 0 && channel15PlaysOn != kSpeechChannelIndex) {
    text += "; MIDI channel 16 plays on channel " + std::to_string(channel15PlaysOn + 1);
  }
  if (!adjusted.empty()) text += "; " + adjusted;
  text += "; dropped " + (dropped.empty() ? std::string("nothing") : dropped);
  return text;
}

bool importSmf(const SmfFile& smf, const uint8_t* bytes, const Bank& bank, TuneDescription& out,
               ImportSummary& summary, std::string& error) {
  out = TuneDescription{};
  summary = ImportSummary{};
  error.clear();
  out.ticksPerQuarter = smf.ticksPerQuarter;
  out.global = bank.global;

  Importer importer(bytes, summary, error);
  if (!importer.walk(smf, out)) return false;
  importer.closeHeldNotes(out);
  dropListsOfSilentChannels(out, summary);
  giveDefaultLevels(out);
  placeChannels(out, summary);
  mapDrums(bank, out);
  splitCymbals(bank, out, summary);
  for (ChannelEvents& ch : out.channels) restoreControllers(ch, summary);
  if (!buildPatches(bank, out, summary, error)) return false;

  out.lengthTicks = int32_t(importer.lastTick());
  summary.lengthTicks = out.lengthTicks;
  countKept(out, summary);
  return true;
}

bool importMidi(const uint8_t* bytes, size_t size, const Bank& bank, std::vector<uint8_t>& image,
                ImportSummary& summary, std::string& error) {
  image.clear();
  SmfFile smf;
  SmfError smfError;
  if (!readSmf(bytes, size, smf, smfError)) {
    error = smfError.text();
    return false;
  }
  TuneDescription tune;
  if (!importSmf(smf, bytes, bank, tune, summary, error)) return false;
  if (!writeTuneImage(tune, image, error)) {
    image.clear();
    error = "the file does not fit a tune image: " + error;
    return false;
  }
  return true;
}

}  // namespace midi
