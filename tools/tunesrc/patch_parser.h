#pragma once
// Patch definitions in tune source: a named block of parameter lines that
// compiles to the synthesizer's patch bytes. Patch files hold nothing but
// such blocks, so a bank of patches can be shared by several tunes.
//
//   patch NAME program=N [base=OTHER]
//     osc1 mode=trisaw colour=127 level=90      # a group line: key=value pairs
//     filter1.cutoff 40                          # or one parameter by its full name
//     polyphony 4
//     route lfo1 filter1.cutoff +12              # source, destination, signed amount
//   end
//
// A patch starts from the defaults of params.h, or from the bytes and routes
// of its base patch, and changes only what it names.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/tunesrc/source.h"

namespace tunesrc {

struct PatchDefinition {
  std::string name;
  int program = 0;             // 0..127
  SourcePos pos;               // the header line
  std::vector<uint8_t> bytes;  // 90 bytes, then 3 per route
  std::vector<bool> named;     // per parameter byte: given by this patch or its base
};

constexpr int kMaxPolyphony = 64;

// Parses the block whose header is lines[at]; on success `at` is the index of
// its `end` line. `known` holds the patches defined before it (for base=).
bool parsePatchBlock(const std::vector<SourceLine>& lines, size_t& at,
                     const std::vector<PatchDefinition>& known, PatchDefinition& out,
                     BuildError& error);

// Checks that no name and no program number is defined twice.
bool checkPatchSet(const std::vector<PatchDefinition>& patches, BuildError& error);

// Reads a file (with its includes) that holds only patch blocks.
bool loadPatchFile(const std::string& path, std::vector<PatchDefinition>& patches,
                   BuildError& error);

}  // namespace tunesrc
