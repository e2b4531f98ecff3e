// `tune play IMAGE|FILE.mid [--from-ms MS] [--seconds S]`: plays a tune
// through the audio stream, showing position and length, until it has ended
// and rung out, the time limit is reached, or Ctrl-C.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "audio/sdl_device.h"
#include "player/playback.h"
#include "player/synth_sink.h"
#include "tools/cli/cli.h"
#include "tools/commands.h"
#include "tools/tune_input.h"

namespace {

constexpr const char* kProgram = "tune play";
constexpr auto kRefresh = std::chrono::milliseconds(100);
// After the last event: the ring still holds unheard audio, then voices ring out.
constexpr auto kRingOut = std::chrono::milliseconds(1500);
constexpr double kMaxSeconds = 1e6;

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
               "Plays a tune image through the audio device at 44,100 Hz, showing the\n"
               "position and the tune's length, until the tune has ended and rung out.\n"
               "A Standard MIDI File is imported on the fly with the default patch bank.\n"
               "Ctrl-C stops it. The audio device is SDL's default; SDL_AUDIODRIVER\n"
               "picks another driver (e.g. 'disk' with SDL_DISKAUDIOFILE=FILE).\n"
               "\n"
               "  --from-ms MS   start MS milliseconds into the tune (default 0)\n"
               "  --seconds S    stop after S seconds of playing\n"
               "  --help         this text\n"
               "  --version      the program's version\n"
               "\n"
               "Exit status: 0 success (also when stopped by Ctrl-C), 1 failure (no audio\n"
               "device, an unreadable tune), 2 usage error.\n");
}

struct Options {
  const char* image = nullptr;
  int32_t fromMs = 0;
  double seconds = 0.0;  // 0: no limit
};

constexpr const char* kSecondsValue = "a number of seconds above 0";

// False when the command should not run: then `status` is the exit status
// (help or version shown, or a usage error reported).
bool parseOptions(int argc, char** argv, Options& o, int& status) {
  cli::Args args(kProgram, argc, argv, printHelp);
  while (args.next()) {
    int64_t v = 0;
    if (args.is("--from-ms")) {
      if (args.integer(v, 0, INT32_MAX, "a whole number of milliseconds, 0 to 2147483647")) {
        o.fromMs = static_cast<int32_t>(v);
      }
    } else if (args.is("--seconds")) {
      if (args.number(o.seconds, 0.0, kMaxSeconds, kSecondsValue) && o.seconds == 0.0) {
        args.invalid(kSecondsValue);
      }
    } else {
      args.operand();
    }
  }
  if (!args.ok() || !args.operands(1, 1, "one IMAGE or FILE.mid")) {
    status = args.status();
    return false;
  }
  o.image = args.list()[0];
  return true;
}

// m:ss.s
void formatTime(int64_t ms, char* out, size_t size) {
  if (ms < 0) ms = 0;
  const int64_t tenths = ms / 100;
  std::snprintf(out, size, "%lld:%02lld.%lld", static_cast<long long>(tenths / 600),
                static_cast<long long>(tenths / 10 % 60), static_cast<long long>(tenths % 10));
}

int64_t heardMs(Playback& pb) {
  return heardPositionFrames(pb) * 1000 / kStreamSampleRate;
}

void showPosition(Playback& pb) {
  char position[32], length[32];
  formatTime(heardMs(pb), position, sizeof position);
  formatTime(pb.player.lengthMs, length, sizeof length);
  std::fprintf(stderr, "\r  %s / %s ", position, length);
  std::fflush(stderr);
}

enum class Finish { Ended, Interrupted, TimeUp };

// Waits while the tune plays, refreshing the position on a terminal, until
// it has ended and rung out, the time limit or an interrupt.
Finish waitForEnd(Playback& pb, const Options& o) {
  using Clock = std::chrono::steady_clock;
  const bool onTerminal = ::isatty(STDERR_FILENO) != 0;
  const auto started = Clock::now();
  const auto limit =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  bool ended = false;
  auto endedAt = started;
  while (!gInterrupted) {
    const auto now = Clock::now();
    if (o.seconds > 0.0 && now - started >= limit) return Finish::TimeUp;
    if (!ended && !isPlaying(pb)) {
      ended = true;
      endedAt = now;
    }
    if (ended && now - endedAt >= kRingOut) return Finish::Ended;
    if (onTerminal) showPosition(pb);
    std::this_thread::sleep_for(kRefresh);
  }
  return Finish::Interrupted;
}

}  // namespace

int runPlay(int argc, char** argv) {
  Options o;
  int status = cli::kExitOk;
  if (!parseOptions(argc, argv, o, status)) return status;

  std::vector<uint8_t> image;
  if (!loadTuneFile(kProgram, o.image, image)) return cli::kExitFailure;
  installInterruptHandler();

  // Live playback: sample-and-hold LFOs seed from the clock.
  auto sink = std::make_unique<SynthSink>(SeedSource{SeedMode::Clock, 0});
  auto device = std::make_unique<SdlRingDevice>();
  auto pb = std::make_unique<Playback>();
  pb->player.sink = sink.get();
  pb->device = device.get();

  ParseResult why;
  if (!playTune(*pb, image.data(), image.size(), &why)) {
    cli::report(kProgram, "'%s' is not a usable tune image: %s", o.image, why.reason);
    return cli::kExitFailure;
  }
  if (!streamRunning(*pb)) {
    cli::report(kProgram, "no audio device available (%s)",
                device->errorText()[0] ? device->errorText() : "unknown reason");
    stopTune(*pb);
    return cli::kExitFailure;
  }

  char length[32];
  formatTime(pb->player.lengthMs, length, sizeof length);
  std::printf("playing %s, length %s\n", o.image, length);
  std::fflush(stdout);

  playFromPosition(*pb, o.fromMs);
  const Finish finish = waitForEnd(*pb, o);

  char position[32];
  formatTime(heardMs(*pb), position, sizeof position);
  stopTune(*pb);
  if (::isatty(STDERR_FILENO)) std::fputc('\n', stderr);
  const char* how = finish == Finish::Interrupted ? "stopped"
                    : finish == Finish::Ended     ? "ended"
                                                  : "played";
  std::printf("%s at %s of %s\n", how, position, length);
  return cli::kExitOk;
}
