// orb-longrun: plays the embedded tune (or an image file) the way the demo
// does, through the real audio stream and playback control on a manually
// clocked ring device whose play cursor moves one worker visit at a time,
// restarting the tune from 0 ms whenever it has stopped playing, for hours of
// audio, and checks what a listener of a long session depends on:
//   - every sample is finite and the level never runs away;
//   - each pass ends exactly at the frame the measuring pass predicted (the
//     sequencer and the rendered frames never drift apart);
//   - the stream's play position moves by exactly what the device played at
//     every visit, past the 2^31 bytes of 3 h 23 min and on;
//   - memory stays flat (resident size after the first pass against the end).
// Usage: orb-longrun [--hours H] [--block FRAMES] [IMAGE]
// FRAMES: how far the device plays between two visits, a multiple of 8.
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

#include "audio/manual_device.h"
#include "player/playback.h"
#include "player/synth_sink.h"

extern const unsigned char kTuneImage[];
extern const unsigned long kTuneImage_size;

namespace {

constexpr int kSampleRate = 44100;
constexpr double kSecondsPerHour = 3600.0;
constexpr int kDefaultBlock = 928;  // about what the stream's worker fills per visit
constexpr int kBlockGranule = kFillGranule / kBytesPerFrame;  // the stream fills 8 frames at a time
constexpr int kMaxBlock = kRingFrames - kBlockGranule;        // less than one ring per visit
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
      if (o.block < kBlockGranule || o.block > kMaxBlock || o.block % kBlockGranule) return false;
    } else if (argv[i][0] == '-' || o.image) {
      return false;
    } else {
      o.image = argv[i];
    }
  }
  return true;
}

// The synthesizer behind the player, watched: where each pass delivered its
// last event list, and every rendered sample.
class WatchingSink final : public SequencerSink {
 public:
  explicit WatchingSink(const PlayerState& player) : player_(player) {}
  void start(const TuneImage& tune, int sampleRate) override { inner_.start(tune, sampleRate); }
  void processEvents(const uint8_t* list) override {
    lastListFrame = player_.positionFrames;
    inner_.processEvents(list);
  }
  void render(float* out, int frames) override {
    inner_.render(out, frames);
    for (int i = 0; i < 2 * frames; ++i) {
      const float v = out[i];
      if (!std::isfinite(v)) {
        ++nonFinite;
      } else if (std::fabs(v) > peak) {
        peak = std::fabs(v);
      }
    }
  }

  int64_t lastListFrame = -1;
  int64_t nonFinite = 0;  // samples
  float peak = 0.0f;

 private:
  const PlayerState& player_;
  SynthSink inner_;
};

struct Figures {
  int64_t frames = 0;
  int64_t positionFaults = 0;  // visits after which the stream position was off
  int64_t passes = 0;          // passes that ended
  int64_t driftPasses = 0;     // passes that ended away from their measured length
  int64_t maxDrift = 0;        // frames between a measured end and the observed one
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

  auto pb = std::make_unique<Playback>();
  auto sink = std::make_unique<WatchingSink>(pb->player);
  auto device = std::make_unique<ManualRingDevice>();
  pb->player.sink = sink.get();
  pb->device = device.get();
  ParseResult why;
  if (!playTune(*pb, image, size, &why)) {
    std::fprintf(stderr, "orb-longrun: the tune is rejected: %s\n", why.reason);
    return 1;
  }
  if (!streamRunning(*pb)) {
    std::fprintf(stderr, "orb-longrun: the audio stream did not open\n");
    return 1;
  }
  const TuneLength measured = pb->measured;
  if (!measured.ok) {
    std::fprintf(stderr, "orb-longrun: the tune's length cannot be measured\n");
    return 1;
  }
  std::printf("tune: %" PRId64 " frames (%.3f s), %" PRId64 " ticks; %d frames per visit\n",
              measured.frames, double(measured.frames) / kSampleRate, measured.ticks, o.block);
  playFromPosition(*pb, 0);

  PlayerState& p = pb->player;
  const auto total = int64_t(o.hours * kSecondsPerHour * kSampleRate);
  const auto hourFrames = int64_t(kSecondsPerHour * kSampleRate);
  Figures f;
  Memory afterFirstPass;
  const auto started = std::chrono::steady_clock::now();
  int64_t nextReport = hourFrames;
  int64_t position = streamPosition(pb->stream);

  // The stream's worker is kept out: every visit happens here, in order.
  streamLock(pb->stream);
  while (f.frames < total) {
    // The demo's main loop: a tune that stopped playing restarts at 0 ms.
    if (!isPlaying(*pb)) {
      // The pass delivered its last event list exactly at its measured end.
      const int64_t drift = std::llabs(sink->lastListFrame - measured.frames);
      if (drift != 0) ++f.driftPasses;
      if (drift > f.maxDrift) f.maxDrift = drift;
      ++f.passes;
      if (f.passes == 1) afterFirstPass = readMemory();
      playFromPosition(*pb, 0);
    }
    device->advance(o.block * kBytesPerFrame);
    streamFill(pb->stream);
    f.frames += o.block;
    const int64_t now = streamPosition(pb->stream);
    if (now != position + int64_t(o.block) * kBytesPerFrame) ++f.positionFaults;
    position = now;

    if (f.frames >= nextReport) {
      const Memory m = readMemory();
      const double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      std::printf("%6.2f h of audio  %8.1f s wall  %" PRId64 " passes  RSS %ld KiB  peak %.4f\n",
                  double(f.frames) / hourFrames, wall, f.passes, m.rssKiB, double(sink->peak));
      std::fflush(stdout);
      nextReport += hourFrames;
    }
  }
  streamUnlock(pb->stream);
  const int64_t rendered = pb->stream.bytesWritten + kRingBytes;
  stopTune(*pb);

  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const Memory end = readMemory();
  const double audioSeconds = double(f.frames) / kSampleRate;
  std::printf("audio through the stream: %" PRId64 " frames = %.2f h\n", f.frames,
              audioSeconds / kSecondsPerHour);
  std::printf("wall time:           %.1f s (%.0fx real time)\n", wall, audioSeconds / wall);
  std::printf("stream position:     %" PRId64 " bytes (2^31 = 2147483648), %" PRId64
              " visits off\n",
              position, f.positionFaults);
  std::printf("passes:              %" PRId64 " ended, each at %" PRId64 " frames as measured\n",
              f.passes, measured.frames);
  std::printf("drift:               %" PRId64 " passes away from the measured end, max %" PRId64
              " frames\n",
              f.driftPasses, f.maxDrift);
  std::printf("samples:             %" PRId64 " not finite, peak %.4f\n", sink->nonFinite,
              double(sink->peak));
  std::printf(
      "memory (RSS):        %ld KiB after the first pass, %ld KiB at the end, peak %ld KiB\n",
      afterFirstPass.rssKiB, end.rssKiB, end.peakKiB);

  bool ok = true;
  if (sink->nonFinite > 0) ok = false, std::printf("FAIL: samples that are not finite\n");
  if (sink->peak > kRunawayLevel) ok = false, std::printf("FAIL: the level ran away\n");
  if (f.driftPasses > 0) ok = false, std::printf("FAIL: passes drifted from their length\n");
  if (f.positionFaults > 0 || position != rendered - kRingBytes) {
    ok = false, std::printf("FAIL: the stream position left the frames played\n");
  }
  if (afterFirstPass.rssKiB > 0 && end.rssKiB > afterFirstPass.rssKiB + 1024) {
    ok = false, std::printf("FAIL: memory grew by more than 1 MiB\n");
  }
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
