#pragma once
// Reading what `inspect`, `render` and `play` accept: a tune image, or a
// Standard MIDI File imported on the fly with the default patch bank.
#include <cstddef>
#include <cstdint>
#include <vector>

// Larger than any tune image or MIDI file worth playing.
constexpr size_t kMaxTuneFileBytes = size_t(256) << 20;

// Reads `path` into `image`; a MIDI file is imported and its one-line
// summary printed on stderr. False after a one-line report: the file cannot
// be read, or the MIDI reader's reason.
bool loadTuneFile(const char* program, const char* path, std::vector<uint8_t>& image);
