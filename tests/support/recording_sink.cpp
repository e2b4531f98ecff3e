#include "recording_sink.h"

#include <cstdio>

namespace {

// "90 3C 64 FD": two-digit upper-case hex, single spaces.
std::string hexBytes(const uint8_t* bytes, size_t count) {
  std::string s;
  char byte[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
    s += byte;
  }
  return s;
}

}  // namespace

void RecordingSink::start(const TuneImage&, int) {
  ++starts;
}

void RecordingSink::processEvents(const uint8_t* list) {
  size_t n = 0;
  while (list[n] != kEventListEnd) ++n;
  lists.push_back(RecordedList{renderedFrames, std::vector<uint8_t>(list, list + n + 1)});
}

void RecordingSink::render(float* out, int frames) {
  renderCalls.push_back(frames);
  for (int i = 0; i < frames; ++i) {
    out[2 * i] = float(renderedFrames + i);
    out[2 * i + 1] = 1.0f;
  }
  renderedFrames += frames;
}

std::vector<std::string> RecordingSink::hexLists() const {
  std::vector<std::string> out;
  for (const RecordedList& l : lists) out.push_back(hexBytes(l.bytes.data(), l.bytes.size()));
  return out;
}

namespace {

// Calls visit(status, first data byte, second data byte) for every message of
// the list, following running status.
template <typename Visit>
void forEachMessage(const std::vector<uint8_t>& bytes, Visit visit) {
  uint8_t status = 0;
  size_t i = 0;
  while (i < bytes.size() && bytes[i] != kEventListEnd) {
    if (bytes[i] & 0x80) status = bytes[i++];
    const int kind = status >> 4;
    const size_t size = (kind == 0xC || kind == 0xD) ? 1 : 2;
    if (i + size > bytes.size()) return;
    visit(status, bytes[i], size == 2 ? bytes[i + 1] : uint8_t(0));
    i += size;
  }
}

}  // namespace

std::vector<int64_t> RecordingSink::messageFrames(int status, int a, int b) const {
  std::vector<int64_t> frames;
  for (const RecordedList& l : lists) {
    forEachMessage(l.bytes, [&](uint8_t st, uint8_t x, uint8_t y) {
      if (st == status && x == a && (b < 0 ? y != 0 : y == b)) frames.push_back(l.frame);
    });
  }
  return frames;
}
