#pragma once
// Compiles a tune source (a main file and the files it includes) into the
// readable tune description that the tune writer turns into an image.
//
// Top-level statements of a source:
//   include FILE                        another source or patch file, in place
//   ticks N                             ticks per quarter (default 96), before any pattern
//   text NAME "PHONEMES"                a speech text; texts are numbered in order from 0
//   global ... end                      the global parameters by name
//   patch NAME program=N ... end        a patch (patch_parser.h)
//   channel NAME N [program=PATCH]      names channel N and selects its first program
//   pattern NAME [bars=N] ... end       a pattern (score.h)
//   song ... end                        the arrangement
//
// The arrangement is a list of tempo and metre changes and sections:
//   tempo 122.5                         quarter notes per minute, from here on
//   metre 3/4                           from here on
//   section NAME bars=N                 then one line per channel (or layer):
//     CHANNEL PATTERN[+T|-T][*R] ...    patterns in turn, transposed by T
//                                       semitones, R times; 'rest' is a silent bar.
//                                       The list repeats until the section is full.
// Notes still sounding at a section's end are ended there, and the tune ends
// with the last section.
#include <cstdint>
#include <string>
#include <vector>

#include "player/tune_writer.h"
#include "tools/tunesrc/source.h"

namespace tunesrc {

constexpr int32_t kDefaultTicksPerQuarter = 96;
constexpr const char* kMainFileName = "main.tune";

// The file a source path names: PATH itself, or PATH/main.tune for a folder.
std::string mainFileOf(const std::string& path);

// Compiles the source at `path` (a file or a folder holding main.tune).
bool compileTuneSource(const std::string& path, TuneDescription& tune, BuildError& error);

// Compiles and writes the image bytes.
bool buildTuneImage(const std::string& path, std::vector<uint8_t>& image, BuildError& error);

}  // namespace tunesrc
