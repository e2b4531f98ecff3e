#pragma once
// Building and loading tune images in tests, from readable event lists.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/sequencer.h"
#include "player/tune_writer.h"

// The image bytes of a description; a description the writer refuses fails
// the calling test and gives an empty image.
std::vector<uint8_t> buildImage(const TuneDescription& tune);

// A patch the parser accepts: 90 bytes of `fill`, polyphony 1, no routes.
// (Synthesizer tests that need a particular sound write their own bytes.)
std::vector<uint8_t> placeholderPatch(uint8_t fill = 64);

// A tune with program 0's patch (the given bytes, or the placeholder), a
// 22-byte global block, 128 ticks per quarter and no events yet.
TuneDescription onePatchTune(std::vector<uint8_t> patch = placeholderPatch(),
                             std::vector<uint8_t> global = std::vector<uint8_t>(22, 0));

// An image kept alive together with the player reading it, reset and
// Sequencing, with a recording sink (or the caller's sink).
struct LoadedTune {
  std::vector<uint8_t> image;
  std::unique_ptr<PlayerState> player = std::make_unique<PlayerState>();
  ParseResult parse;
};

// Writes, parses (failing the test on rejection) and resets the player at
// `sampleRate`; the state is Sequencing and active, framesToNext 0.
std::unique_ptr<LoadedTune> loadTune(const TuneDescription& tune, SequencerSink* sink,
                                     int sampleRate = kDefaultSampleRate);
