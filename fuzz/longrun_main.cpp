// orb-longrun: plays the embedded tune (or an image file) offline the way the
// demo does, restarting it from 0 ms whenever it has ended, for hours of
// audio, and checks what a listener of a long session depends on:
//   - every sample is finite and the level never runs away;
//   - each pass ends exactly at the frame the measuring pass predicted (the
//     sequencer and the rendered frames never drift apart);
//   - memory stays flat (resident size after the first pass against the end).
// Usage: orb-longrun [--hours H] [--block FRAMES] [IMAGE]
// Prints a report line per hour of audio and the figures at the end; exits 1
// when a check failed.
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "player/playback.h"
#include "player/synth_sink.h"

extern const unsigned char kTuneImage[];
extern const unsigned long kTuneImage_size;

namespace {

constexpr int kSampleRate = 44100;
constexpr double kSecondsPerHour = 3600.0;
constexpr int kDefaultBlock = 926;  // what the audio stream's worker asks for per visit
constexpr int kMaxBlock = 1 << 16;
constexpr float kRunawayLevel = 64.0f;  // far beyond anything the mix should reach

struct Options {
  double hours = 6.0;
  int block = kDefaultBlock;
  const char* image = nullptr;
};

// Resident and peak resident set size in KiB, from the kernel's view of us.
struct Memory {
  long rssKiB = -1;
  long peakKiB = -1;
};

Memory readMemory() {
  Memory m;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) m.rssKiB = std::atol(line.c_str() + 6);
    if (line.rfind("VmHWM:", 0) == 0) m.peakKiB = std::atol(line.c_str() + 6);
  }
  return m;
}

bool parseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (!std::strcmp(argv[i], "--hours") && hasValue) {
      o.hours = std::atof(argv[++i]);
      if (!(o.hours > 0.0) || o.hours > 1000.0) return false;
    } else if (!std::strcmp(argv[i], "--block") && hasValue) {
      o.block = std::atoi(argv[++i]);
      if (o.block < 1 || o.block > kMaxBlock) return false;
    } else if (argv[i][0] == '-' || o.image) {
      return false;
    } else {
      o.image = argv[i];
    }
  }
  return true;
}

struct Figures {
  int64_t frames = 0;
  int64_t passes = 0;       // passes that ended
  int64_t driftPasses = 0;  // passes that ended away from their measured length
  int64_t maxDrift = 0;     // frames between a measured end and the observed one
  int64_t nonFinite = 0;    // samples
  float peak = 0.0f;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    std::fprintf(stderr, "usage: orb-longrun [--hours H] [--block FRAMES] [IMAGE]\n");
    return 2;
  }
  std::vector<uint8_t> file;
  const uint8_t* image = kTuneImage;
  size_t size = kTuneImage_size;
  if (o.image) {
    std::ifstream in(o.image, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "orb-longrun: cannot read '%s'\n", o.image);
      return 1;
    }
    file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    image = file.data();
    size = file.size();
  }

  auto sink = std::make_unique<SynthSink>();
  auto pb = std::make_unique<Playback>();
  pb->player.sink = sink.get();
  ParseResult why;
  if (!playTune(*pb, image, size, &why)) {
    std::fprintf(stderr, "orb-longrun: the tune is rejected: %s\n", why.reason);
    return 1;
  }
  const TuneLength measured = pb->measured;
  if (!measured.ok) {
    std::fprintf(stderr, "orb-longrun: the tune's length cannot be measured\n");
    return 1;
  }
  std::printf("tune: %" PRId64 " frames (%.3f s), %" PRId64 " ticks; block %d frames\n",
              measured.frames, double(measured.frames) / kSampleRate, measured.ticks, o.block);
  playFromPosition(*pb, 0);

  PlayerState& p = pb->player;
  const auto total = int64_t(o.hours * kSecondsPerHour * kSampleRate);
  const auto hourFrames = int64_t(kSecondsPerHour * kSampleRate);
  std::vector<float> buffer(2 * size_t(o.block));
  Figures f;
  Memory afterFirstPass;
  const auto started = std::chrono::steady_clock::now();
  int64_t nextReport = hourFrames;
  int64_t passStart = 0;

  while (f.frames < total) {
    // While the tune plays, no block reaches past its measured end, so a
    // pass that keeps time ends exactly at a block boundary.
    int n = o.block;
    const int64_t toEnd = measured.frames - p.positionFrames;
    if (isPlaying(*pb) && toEnd > 0 && toEnd < n) n = int(toEnd);
    if (int64_t(n) > total - f.frames) n = int(total - f.frames);
    renderFrames(p, buffer.data(), n);
    for (int i = 0; i < 2 * n; ++i) {
      const float v = buffer[size_t(i)];
      if (!std::isfinite(v)) {
        ++f.nonFinite;
      } else if (std::fabs(v) > f.peak) {
        f.peak = std::fabs(v);
      }
    }
    f.frames += n;

    if (!isPlaying(*pb)) {
      // The pass ended inside this block; it should have ended at its end.
      const int64_t observed = f.frames - passStart;
      const int64_t drift = std::llabs(observed - measured.frames);
      if (drift != 0) ++f.driftPasses;
      if (drift > f.maxDrift) f.maxDrift = drift;
      ++f.passes;
      if (f.passes == 1) afterFirstPass = readMemory();
      playFromPosition(*pb, 0);
      passStart = f.frames;
    }
    if (f.frames >= nextReport) {
      const Memory m = readMemory();
      const double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::printf("%6.2f h of audio  %8.1f s wall  %" PRId64 " passes  RSS %ld KiB  peak %.4f\n",
                  double(f.frames) / hourFrames, wall, f.passes, m.rssKiB, double(f.peak));
      std::fflush(stdout);
      nextReport += hourFrames;
    }
  }

  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const Memory end = readMemory();
  const double audioSeconds = double(f.frames) / kSampleRate;
  std::printf("audio rendered:      %" PRId64 " frames = %.2f h\n", f.frames,
              audioSeconds / kSecondsPerHour);
  std::printf("wall time:           %.1f s (%.0fx real time)\n", wall, audioSeconds / wall);
  std::printf("passes:              %" PRId64 ", each %" PRId64 " frames long as measured\n",
              f.passes, measured.frames);
  std::printf("drift:               %" PRId64 " passes away from the measured end, max %" PRId64
              " frames\n",
              f.driftPasses, f.maxDrift);
  std::printf("sequencer position:  %" PRId64 " frames into the pass, %" PRId64
              " rendered since its start\n",
              p.positionFrames, f.frames - passStart);
  std::printf("samples:             %" PRId64 " not finite, peak %.4f\n", f.nonFinite,
              double(f.peak));
  std::printf(
      "memory (RSS):        %ld KiB after the first pass, %ld KiB at the end, peak %ld KiB\n",
      afterFirstPass.rssKiB, end.rssKiB, end.peakKiB);

  bool ok = true;
  if (f.nonFinite > 0) ok = false, std::printf("FAIL: samples that are not finite\n");
  if (f.peak > kRunawayLevel) ok = false, std::printf("FAIL: the level ran away\n");
  if (f.driftPasses > 0) ok = false, std::printf("FAIL: passes drifted from their length\n");
  if (p.positionFrames != f.frames - passStart) {
    ok = false, std::printf("FAIL: the sequencer position differs from the frames rendered\n");
  }
  if (afterFirstPass.rssKiB > 0 && end.rssKiB > afterFirstPass.rssKiB + 1024) {
    ok = false, std::printf("FAIL: memory grew by more than 1 MiB\n");
  }
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
