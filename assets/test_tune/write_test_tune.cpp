// Writes the small tune the demo carries until its real tune is composed: a
// four-second phrase of plain sine notes on channel 0, repeated by the demo.
// Usage: write_test_tune OUT
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "player/tune_writer.h"
#include "synth/synth.h"
#include "synth/units/oscillator.h"

namespace {

constexpr int kTicksPerQuarter = 128;  // a quarter lasts 0.5 s at the default tempo

// Voice bytes 0..58, channel bytes 59..87, polyphony, route count.
std::vector<uint8_t> sinePatch() {
  std::vector<uint8_t> p(kPatchHeaderSize, 0);
  p[0] = 64;  // pan centre
  p[1] = 64;  // no transpose
  for (int osc : {2, 8, 14}) {
    p[osc + 2] = 64;  // transpose
    p[osc + 3] = 64;  // fine
    p[osc + 4] = 64;  // colour
  }
  p[2] = static_cast<uint8_t>(OscMode::Sine);
  p[2 + 5] = 128;  // oscillator 1 at full level
  p[27] = 64;      // filter balance
  for (int env : {32, 38}) {
    p[env + 2] = 128;  // sustain full
    p[env + 3] = 64;   // flat slope
    p[env + 5] = 128;  // gain
  }
  p[kVoiceParamCount + 0] = 100;                 // channel volume
  p[kVoiceParamCount + 13] = 64;                 // channel delay: no wet signal
  p[kVoiceParamCount + 14] = 64;                 // no feedback
  p[kVoiceParamCount + kChannelParamCount] = 8;  // polyphony
  return p;
}

std::vector<uint8_t> neutralGlobals() {
  std::vector<uint8_t> g(kGlobalParamCount, 0);
  g[0] = 64;    // reverb decay
  g[1] = 64;    // damping
  g[4] = 64;    // delay without wet signal
  g[5] = 64;    // no feedback
  g[12] = 127;  // high cut bypassed
  return g;
}

TuneDescription phrase() {
  TuneDescription tune;
  tune.ticksPerQuarter = kTicksPerQuarter;
  tune.global = neutralGlobals();
  tune.patches.push_back(PatchEntry{0, sinePatch()});
  ChannelEvents& channel = tune.channels[0];
  channel.programs.push_back(ProgramEvent{0, 0});
  const uint8_t melody[] = {57, 60, 64, 69, 64, 60, 57, 52};  // A minor, up and down
  int32_t tick = 0;
  for (uint8_t note : melody) {
    channel.notes.push_back(NoteEvent{tick, note, 96});
    channel.notes.push_back(NoteEvent{tick + kTicksPerQuarter - 16, note, 0});
    tick += kTicksPerQuarter;
  }
  tune.lengthTicks = tick;
  return tune;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_test_tune OUT\n");
    return 2;
  }
  std::vector<uint8_t> image;
  std::string error;
  if (!writeTuneImage(phrase(), image, error)) {
    std::fprintf(stderr, "write_test_tune: %s\n", error.c_str());
    return 1;
  }
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  if (!out) {
    std::fprintf(stderr, "write_test_tune: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
