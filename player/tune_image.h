#pragma once
// The tune image: one contiguous, read-only block of bytes holding the tempo
// map, 16 channels' event lists, the synthesizer's global parameter block, its
// patch map and the speech texts. Parsing records counts and pointers into the
// image and copies nothing (apart from a zero-padded copy of the 22 global
// parameter bytes), so the image must outlive every user of the parsed record.
//
// Event lists are stored column by column: in a list of n records of w bytes,
// byte k of record i lies at list start + k * n + i. Every record starts with
// a 24-bit tick delta (low, middle, high byte columns); value columns are
// increments added modulo 256 to a running byte kept per list.
#include <cstddef>
#include <cstdint>

#include "synth/patch_layout.h"
#include "synth/speech/speech.h"

constexpr int kChannelCount = 16;
constexpr int kControllerListCount = 7;  // controllers 1..7
constexpr int kTextTableSize = 256;
constexpr int kGlobalParamsUsed = 22;  // bytes of the global block the synthesizer reads

constexpr int kTempoRecordSize = 10;
constexpr int kNoteRecordSize = 5;
constexpr int kProgramRecordSize = 4;
constexpr int kBendRecordSize = 5;
constexpr int kControllerRecordSize = 4;

constexpr int32_t kMaxGlobalSize = 16384;
constexpr int32_t kMaxPatchSize = 1048576;
constexpr int32_t kMaxTextBlockSize = 8191;  // larger text blocks are ignored
constexpr int32_t kMaxTicksPerQuarter =
    214748;  // tickDivisor = ticksPerQuarter * 10,000 fits int32
constexpr int32_t kTickDivisorScale = 10000;
constexpr int32_t kMaxDelta = 0xFFFFFF;               // deltas are unsigned 24-bit
constexpr int32_t kDefaultMicrosPerQuarter = 500000;  // tempo until the first tempo record

// Patch layout, as far as the parser checks it: the fixed bytes, the route
// count, then the modulation routes (synth/patch_layout.h).
constexpr int kPatchFixedSize = kPatchHeaderSize;
constexpr int kPatchPolyphonyOffset = kPatchPolyphony;
constexpr int kPatchRouteCountOffset = kPatchRouteCount;
constexpr int kPatchRouteSize = kRouteSize;
constexpr int kProgramCount = 128;

// One column-layout event list: `count` records starting at `data`.
struct EventList {
  const uint8_t* data = nullptr;
  int32_t count = 0;
};

// A channel whose note list is empty has no other lists either (all counts 0).
struct ChannelLists {
  EventList notes;
  EventList programs;
  EventList bends;
  EventList controllers[kControllerListCount];
};

struct TuneImage {
  int32_t ticksPerQuarter = 0;  // >= 1
  int32_t tickDivisor = 0;      // ticksPerQuarter * 10,000
  int32_t lengthTicks = 0;      // tick of the tune's end
  EventList tempo;              // 10-byte records
  ChannelLists channels[kChannelCount];

  const uint8_t* globalBlock = nullptr;  // globalSize bytes inside the image
  int32_t globalSize = 0;
  uint8_t globalParams[kGlobalParamsUsed] = {};  // first 22 bytes, zero past the block's end

  const uint8_t* patchMap = nullptr;  // patchSize bytes inside the image
  int32_t patchSize = 0;

  const uint8_t* textBlock = nullptr;  // null when the block is unused
  int32_t textSize = 0;
  int32_t textCount = 0;
  // Entry i < textCount is text i, bounded by the text block: it ends at its
  // first zero byte or at the block's end. Other entries are {nullptr, 0}.
  SpeechText textTable[kTextTableSize] = {};
};

// Why an image was rejected; `reason` is empty when it was accepted.
struct ParseResult {
  bool ok = false;
  char reason[160] = {};
  explicit operator bool() const { return ok; }
};

enum class PatchCheck {
  Required,  // every program the tune can select must have a whole patch in the map
  Skip,      // format checks only (for tools and tests that never reach the synthesizer)
};

// Parses `size` bytes at `image` into `out`. Every section is checked against
// the real size; counts, sizes, the tick division, the metre of every tempo
// record and the text table are validated. On failure `out` is left in an
// unspecified state and must not be used. Bytes after the text block are ignored.
ParseResult parseTuneImage(const uint8_t* image, size_t size, TuneImage& out,
                           PatchCheck check = PatchCheck::Required);

// Checks that program 0 (selected after initialisation) and every program a
// program list can select (running value with its top bit cleared) has an
// offset-table entry and a whole patch (90 + 3 * routes bytes) inside the map.
ParseResult validatePrograms(const TuneImage& tune);

// The first 64 entries of the text table, as the synthesizer takes them.
void fillSpeechTexts(const TuneImage& tune, SpeechText (&out)[kSpeechTextCount]);

// Column access shared by the sequencer and the tools.
inline int32_t readDelta(const uint8_t* column0, int32_t count) {
  return column0[0] | (column0[count] << 8) | (column0[2 * count] << 16);
}

// Tempo record i of a parsed tempo list.
struct TempoRecord {
  int32_t delta;
  int32_t microsPerQuarter;
  uint8_t metreNumerator;
  uint8_t metreDenominator;  // plain note value: 4 = quarter, 8 = eighth
  uint8_t metreAux;
};
TempoRecord readTempoRecord(const EventList& tempo, int32_t index);
