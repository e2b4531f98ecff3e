#pragma once
// Patterns: short stretches of score written as lanes that run side by side.
//
//   pattern NAME [bars=N | beats=N]       # length where it is placed (default 1 bar)
//     notes /8 @96 c3 eb3 g3 r c3+g3/4 -  # a note lane: lengths, velocities, notes,
//     & bb2/2                             #   chords, rests, ties; '&' continues a lane
//     grid c1 /16 x...x...X...x.o.        # a step lane for one pitch
//     cc 1 /1 0>127 127                   # controller 1..7: steps and ramps
//     bend /2 0 -4096>0                   # pitch bend, -8192..8191
//   end
//
// Every lane starts at the pattern's start; a lane's position advances by the
// length of each note, rest, tie, step or value it holds.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/tunesrc/patch_parser.h"
#include "tools/tunesrc/source.h"

namespace tunesrc {

struct PatternNote {
  int32_t start = 0;   // ticks from the pattern's start
  int32_t length = 0;  // sounding ticks, at least 1
  uint8_t note = 0;
  uint8_t velocity = 0;  // 1..127
};

// A value taking effect at a tick: program, controller value or bend.
struct PatternValue {
  int32_t tick = 0;
  int32_t value = 0;
};

constexpr int kControllerLanes = 7;  // controllers 1..7
constexpr int32_t kBendMin = -8192;
constexpr int32_t kBendMax = 8191;

enum class PatternUnit { Bars, Beats };

struct Pattern {
  std::string name;
  SourcePos pos;
  PatternUnit unit = PatternUnit::Bars;
  int32_t count = 1;
  std::vector<PatternNote> notes;
  std::vector<PatternValue> programs;
  std::array<std::vector<PatternValue>, kControllerLanes> controllers;  // 1..7
  std::vector<PatternValue> bends;                                      // signed, centre 0
  int32_t contentTicks = 0;  // where the longest lane ends
};

// Parses the block whose header is lines[at]; on success `at` is the index of
// its `end` line. `patches` resolves prog=NAME.
bool parsePatternBlock(const std::vector<SourceLine>& lines, size_t& at, int32_t ticksPerQuarter,
                       const std::vector<PatchDefinition>& patches, Pattern& out,
                       BuildError& error);

// Reads a note name in the synthesizer's tuning (note 60 sounds at 130.81 Hz,
// a C): c3 = 60, c#3 = db3 = 61, b2 = 59, bb2 = 58, a1 = 45 (55 Hz), c-2 = 0.
bool parseNoteName(const std::string& text, uint8_t& note);

// Reads a length "/N" with N = 1, 2, 4, ... 64, optionally dotted "/4." or
// triplet "/8t", optionally multiplied "/1*3", into ticks. False when it is
// malformed or not a whole number of ticks.
bool parseLength(const std::string& text, int32_t ticksPerQuarter, int32_t& ticks);

}  // namespace tunesrc
