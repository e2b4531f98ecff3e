// `tune play IMAGE [--from-ms MS] [--seconds S]`: plays a tune through the
// audio stream, showing position and length, until it has ended and rung out,
// the time limit is reached, or Ctrl-C.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "audio/sdl_device.h"
#include "player/playback.h"
#include "player/synth_sink.h"
#include "tools/commands.h"
#include "tools/midi/bank.h"

namespace {

constexpr long kMaxImageBytes = 256L << 20;
constexpr auto kRefresh = std::chrono::milliseconds(100);
// After the last event: the ring still holds unheard audio, then voices ring out.
constexpr auto kRingOut = std::chrono::milliseconds(1500);

// Set by SIGINT/SIGTERM; a signal handler can reach nothing but a static flag.
volatile std::sig_atomic_t gInterrupted = 0;

void onInterrupt(int) {
  gInterrupted = 1;
}

void installInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune play IMAGE|FILE.mid [--from-ms MS] [--seconds S]\n"
               "\n"
               "A Standard MIDI File is imported on the fly with the default patch bank.\n"
               "Plays a tune image through the audio device at 44,100 Hz, showing the\n"
               "position and the tune's length, until the tune has ended and rung out.\n"
               "Ctrl-C stops it. The audio device is SDL's default; SDL_AUDIODRIVER\n"
               "picks another driver (e.g. 'disk' with SDL_DISKAUDIOFILE=FILE).\n"
               "\n"
               "  --from-ms MS   start MS milliseconds into the tune (default 0)\n"
               "  --seconds S    stop after S seconds of playing\n"
               "  --help         this text\n");
}

struct Options {
  const char* image = nullptr;
  int32_t fromMs = 0;
  double seconds = 0.0;  // 0: no limit
};

bool parseInt(const char* text, long low, long high, long& out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
  out = v;
  return true;
}

bool parseSeconds(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(v > 0.0) || v > 1e6) return false;
  out = v;
  return true;
}

// 0: run, 1: error (already reported), 2: help printed.
int parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
      printHelp(stdout);
      return 2;
    }
    const bool takesValue = !std::strcmp(arg, "--from-ms") || !std::strcmp(arg, "--seconds");
    if (takesValue && i + 1 >= argc) {
      std::fprintf(stderr, "tune play: %s needs a value\n", arg);
      return 1;
    }
    if (!std::strcmp(arg, "--from-ms")) {
      long ms = 0;
      if (!parseInt(argv[++i], 0, INT32_MAX, ms)) {
        std::fprintf(stderr, "tune play: --from-ms wants milliseconds from 0 to %d, not '%s'\n",
                     INT32_MAX, argv[i]);
        return 1;
      }
      options.fromMs = static_cast<int32_t>(ms);
    } else if (!std::strcmp(arg, "--seconds")) {
      if (!parseSeconds(argv[++i], options.seconds)) {
        std::fprintf(stderr, "tune play: --seconds wants a positive number, not '%s'\n", argv[i]);
        return 1;
      }
    } else if (arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "tune play: unknown option '%s' (try 'tune play --help')\n", arg);
      return 1;
    } else if (options.image) {
      std::fprintf(stderr, "tune play: one image at a time ('%s' and '%s')\n", options.image, arg);
      return 1;
    } else {
      options.image = arg;
    }
  }
  if (!options.image) {
    std::fprintf(stderr, "tune play: no tune image given (try 'tune play --help')\n");
    return 1;
  }
  return 0;
}

bool readImage(const char* path, std::vector<uint8_t>& bytes) {
  struct stat info;
  if (::stat(path, &info) != 0) {
    std::fprintf(stderr, "tune play: cannot open '%s': %s\n", path, std::strerror(errno));
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    std::fprintf(stderr, "tune play: cannot read '%s': not a regular file\n", path);
    return false;
  }
  if (info.st_size > kMaxImageBytes) {
    std::fprintf(stderr, "tune play: '%s' is too large for a tune image\n", path);
    return false;
  }
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "tune play: cannot open '%s': %s\n", path, std::strerror(errno));
    return false;
  }
  bytes.resize(static_cast<size_t>(info.st_size));
  const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), f);
  const bool failed = got != bytes.size() || std::ferror(f);
  std::fclose(f);
  if (failed) {
    std::fprintf(stderr, "tune play: cannot read '%s': short read\n", path);
    return false;
  }
  return true;
}

// m:ss.s
void formatTime(int64_t ms, char* out, size_t size) {
  if (ms < 0) ms = 0;
  const int64_t tenths = ms / 100;
  std::snprintf(out, size, "%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                static_cast<long long>(tenths / 10 % 60), static_cast<long long>(tenths % 10));
}

void showPosition(Playback& pb, bool onTerminal) {
  if (!onTerminal) return;
  char position[32], length[32];
  formatTime(heardPositionFrames(pb) * 1000 / kStreamSampleRate, position, sizeof position);
  formatTime(pb.player.lengthMs, length, sizeof length);
  std::fprintf(stderr, "\r  %s / %s ", position, length);
  std::fflush(stderr);
}

}  // namespace

int runPlay(int argc, char** argv) {
  Options options;
  if (int status = parseOptions(argc, argv, options)) return status == 2 ? 0 : status;

  std::vector<uint8_t> image;
  if (!readImage(options.image, image)) return 1;
  if (midi::looksLikeMidi(image.data(), image.size())) {  // MIDI files are imported on the fly
    std::vector<uint8_t> file;
    file.swap(image);
    std::string summary, error;
    if (!midi::imageFromMidi(file, image, summary, error)) {
      std::fprintf(stderr, "tune play: '%s': %s\n", options.image, error.c_str());
      return 1;
    }
    std::fprintf(stderr, "%s\n", summary.c_str());
  }
  installInterruptHandler();

  // Live playback: sample-and-hold LFOs seed from the clock.
  auto sink = std::make_unique<SynthSink>(SeedSource{SeedMode::Clock, 0});
  auto device = std::make_unique<SdlRingDevice>();
  auto pb = std::make_unique<Playback>();
  pb->player.sink = sink.get();
  pb->device = device.get();

  ParseResult why;
  if (!playTune(*pb, image.data(), image.size(), &why)) {
    std::fprintf(stderr, "tune play: '%s' is not a playable tune image: %s\n", options.image,
                 why.reason);
    return 1;
  }
  if (!streamRunning(*pb)) {
    std::fprintf(stderr, "tune play: no audio device available (%s)\n",
                 device->errorText()[0] ? device->errorText() : "unknown reason");
    stopTune(*pb);
    return 1;
  }

  char length[32];
  formatTime(pb->player.lengthMs, length, sizeof length);
  std::printf("playing %s, length %s\n", options.image, length);
  std::fflush(stdout);

  const bool onTerminal = ::isatty(STDERR_FILENO) != 0;
  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  const auto limit =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.seconds));
  playFromPosition(*pb, options.fromMs);

  bool ended = false;
  auto endedAt = started;
  while (!gInterrupted) {
    const auto now = Clock::now();
    if (options.seconds > 0.0 && now - started >= limit) break;
    if (!ended && !isPlaying(*pb)) {
      ended = true;
      endedAt = now;
    }
    if (ended && now - endedAt >= kRingOut) break;
    showPosition(*pb, onTerminal);
    std::this_thread::sleep_for(kRefresh);
  }

  char position[32];
  formatTime(heardPositionFrames(*pb) * 1000 / kStreamSampleRate, position, sizeof position);
  stopTune(*pb);
  if (onTerminal) std::fputc('\n', stderr);
  std::printf("%s at %s of %s\n",
              gInterrupted ? "stopped"
              : ended      ? "ended"
                           : "played",
              position, length);
  return 0;
}
