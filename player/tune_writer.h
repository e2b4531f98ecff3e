#pragma once
// Writes a complete tune image from readable event lists: absolute ticks and
// absolute values in, 24-bit deltas, modulo-256 value increments and the
// column layout out. Used by the tune builder, the MIDI importer and tests.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "player/tune_image.h"

struct TempoEvent {
  int32_t tick = 0;
  int32_t microsPerQuarter = kDefaultMicrosPerQuarter;
  uint8_t metreNumerator = 4;
  uint8_t metreDenominator = 4;  // plain note value: 4 = quarter, 8 = eighth
  uint8_t metreAux = 8;
};

// velocity 0 ends the note
struct NoteEvent {
  int32_t tick = 0;
  uint8_t note = 0;
  uint8_t velocity = 0;
};

struct ProgramEvent {
  int32_t tick = 0;
  uint8_t program = 0;
};

struct BendEvent {
  int32_t tick = 0;
  uint8_t first = 0;
  uint8_t second = 0;
};

struct ControllerEvent {
  int32_t tick = 0;
  uint8_t value = 0;
};

// Every list must be in non-decreasing tick order; records at one tick keep
// their order. A channel without notes cannot carry any other list.
struct ChannelEvents {
  std::vector<NoteEvent> notes;
  std::vector<ProgramEvent> programs;
  std::vector<BendEvent> bends;
  std::array<std::vector<ControllerEvent>, kControllerListCount> controllers;  // 1..7
};

// A patch of the patch map: 90 bytes plus 3 per modulation route, as the
// synthesizer reads it.
struct PatchEntry {
  int program = 0;  // 0..127
  std::vector<uint8_t> bytes;
};

constexpr int32_t kLengthFromEvents = -1;

struct TuneDescription {
  int32_t ticksPerQuarter = 128;
  int32_t lengthTicks = kLengthFromEvents;  // kLengthFromEvents: the last record's tick
  std::vector<TempoEvent> tempo;
  std::array<ChannelEvents, kChannelCount> channels;
  std::vector<uint8_t> global;      // the global parameter block, normally 22 bytes
  std::vector<PatchEntry> patches;  // the patch map is built from these
  std::vector<std::string> texts;   // speech texts, each stored with a terminating zero
};

// Appends the image to `out` (cleared first). Returns false with a one-line
// reason in `error` when the description cannot be written: ticks out of
// order or negative, a gap beyond 24 bits, lists on a channel without notes,
// bad or duplicate program numbers, a malformed patch, too many texts or
// sections beyond the format's limits.
bool writeTuneImage(const TuneDescription& tune, std::vector<uint8_t>& out, std::string& error);

// Builds a patch map: a table of 32-bit offsets for programs 0..highest, then
// the patches. Programs without a patch get an offset past the map's end, so
// selecting them is caught by validatePrograms.
bool writePatchMap(const std::vector<PatchEntry>& patches, std::vector<uint8_t>& out,
                   std::string& error);
