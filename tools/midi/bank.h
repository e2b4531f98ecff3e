#pragma once
// Loading a patch bank for MIDI import from a folder of tune source files:
//   bank.patch   the melodic programs (patch blocks, includes allowed)
//   drums.patch  the drum kit: its first patch, and the hats and cymbals
//                that play on a channel of their own when one is free: its
//                second (optional)
//   drums.map    for keys of the drum channel, the kit's key that plays
//                them and a level change: "key KEY plays KITKEY DB" lines
//                (optional; every other key plays itself)
//   global.tune  a `global ... end` block (optional; defaults otherwise)
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/midi/midi_import.h"

namespace midi {

constexpr const char* kBankProgramsFile = "bank.patch";
constexpr const char* kBankDrumsFile = "drums.patch";
constexpr const char* kBankDrumMapFile = "drums.map";
constexpr const char* kBankGlobalFile = "global.tune";

// Fails with "FILE:LINE: reason" on bad source, or when the folder has no
// bank.patch or it defines no patch.
bool loadBank(const std::string& folder, Bank& out, std::string& error);

// The default bank's folder: share/orb2k16/bank beside an installed tool
// (<prefix>/bin/tune), else assets/bank of the source tree it was built from.
std::string defaultBankFolder();

}  // namespace midi

namespace midi {

// True when the bytes start like a Standard MIDI File (a tune image never
// does: "MThd" read as its tick division is far out of range).
bool looksLikeMidi(const uint8_t* bytes, size_t size);

// Imports a MIDI file with the default bank into a tune image for playing
// or rendering; the one-line import summary goes to `summary`.
bool imageFromMidi(const std::vector<uint8_t>& file, std::vector<uint8_t>& image,
                   std::string& summary, std::string& error);

}  // namespace midi
