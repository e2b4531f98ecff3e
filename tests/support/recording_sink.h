#pragma once
// A sequencer sink that records what the synthesizer would receive: every
// event list with the number of frames rendered before it, and every render
// call. Rendered frames carry a running frame counter in the left channel and
// 1.0 in the right, so tests can see which frames were written, and in what
// order; silence written by the player is 0 in both.
#include <cstdint>
#include <string>
#include <vector>

#include "player/sequencer.h"

struct RecordedList {
  int64_t frame;               // frames rendered before this list took effect
  std::vector<uint8_t> bytes;  // including the 0xFD terminator
};

class RecordingSink final : public SequencerSink {
 public:
  void start(const TuneImage& tune, int sampleRate) override;
  void processEvents(const uint8_t* list) override;
  void render(float* out, int frames) override;

  // The lists in `--events` notation ("90 3C 64 FD"), one string each.
  std::vector<std::string> hexLists() const;
  // The frames of every message `status a b` received, several in one list
  // once each; b below 0 stands for any non-zero value (a note's start).
  std::vector<int64_t> messageFrames(int status, int a, int b = -1) const;

  std::vector<RecordedList> lists;
  std::vector<int> renderCalls;  // frames per render call
  int64_t renderedFrames = 0;
  int starts = 0;
};
