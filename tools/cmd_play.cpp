// `tune play IMAGE|FILE.mid|SOURCE [--from-ms MS | --from-bar N] [--loop A-B]
// [--watch] [--seconds S]`: plays a tune through the audio stream, showing
// position and length, until it has ended and rung out, the time limit is
// reached, or Ctrl-C. A tune source is built first; with --watch every save
// is built again and carries on from the same bar while the music plays.
#include <sys/stat.h>
#include <unistd.h>

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
#include "tools/cli/cli.h"
#include "tools/commands.h"
#include "tools/tune_input.h"
#include "tools/tunesrc/live_source.h"

namespace {

constexpr const char* kProgram = "tune play";
constexpr auto kRefresh = std::chrono::milliseconds(100);
// After the last event: the ring still holds unheard audio, then voices ring out.
constexpr auto kRingOut = std::chrono::milliseconds(1500);
// How often a watched source is looked at: a save is heard well within a second.
constexpr auto kWatchPoll = std::chrono::milliseconds(250);
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
               "usage: tune play IMAGE|FILE.mid|SOURCE [--from-ms MS | --from-bar N]\n"
               "                 [--loop A-B] [--watch] [--seconds S]\n"
               "\n"
               "Plays a tune image through the audio device at 44,100 Hz, showing the\n"
               "position and the tune's length, until the tune has ended and rung out.\n"
               "A Standard MIDI File is imported on the fly with the default patch bank;\n"
               "a tune source (a folder holding main.tune, or a source file) is built.\n"
               "Ctrl-C stops it. The audio device is SDL's default; SDL_AUDIODRIVER\n"
               "picks another driver (e.g. 'disk' with SDL_DISKAUDIOFILE=FILE).\n"
               "\n"
               "  --from-ms MS   start MS milliseconds into the tune (default 0)\n"
               "  --from-bar N   start at bar N (counted from 1)\n"
               "  --loop A-B     repeat bars A to B (both included) until stopped;\n"
               "                 starts at bar A unless --from-bar says otherwise\n"
               "  --watch        SOURCE only: build it again on every save and carry on\n"
               "                 from the same bar and tick; a save with an error shows\n"
               "                 its FILE:LINE line and the last good version plays on.\n"
               "                 Without --loop the whole tune repeats.\n"
               "  --seconds S    stop after S seconds of playing\n"
               "  --help         this text\n"
               "  --version      the program's version\n"
               "\n"
               "Exit status: 0 success (also when stopped by Ctrl-C), 1 failure (no audio\n"
               "device, an unreadable tune or source, bars the tune does not have), 2\n"
               "usage error.\n");
}

struct Options {
  const char* image = nullptr;
  int32_t fromMs = 0;
  bool fromMsGiven = false;
  int64_t fromBar = 0;    // 0: not given
  int64_t loopFirst = 0;  // 0: no loop
  int64_t loopLast = 0;
  bool watch = false;
  double seconds = 0.0;  // 0: no limit
};

constexpr const char* kSecondsValue = "a number of seconds above 0";
constexpr const char* kBarValue = "a bar number, 1 to 2147483647";
constexpr const char* kLoopValue = "bars FIRST-LAST, counted from 1, FIRST at most LAST";
constexpr int64_t kMaxBar = INT32_MAX;

// "A-B": two bar numbers from 1, A at most B.
bool parseBarRange(const char* text, int64_t& first, int64_t& last) {
  const char* dash = std::strchr(text, '-');
  if (!dash || dash == text) return false;
  const std::string a(text, dash);
  int64_t x = 0, y = 0;
  if (!cli::parseInteger(a.c_str(), x) || !cli::parseInteger(dash + 1, y)) return false;
  if (x < 1 || y < x || y > kMaxBar) return false;
  first = x;
  last = y;
  return true;
}

// False when the command should not run: then `status` is the exit status
// (help or version shown, or a usage error reported).
bool parseOptions(int argc, char** argv, Options& o, int& status) {
  cli::Args args(kProgram, argc, argv, printHelp);
  while (args.next()) {
    int64_t v = 0;
    if (args.is("--from-ms")) {
      if (args.integer(v, 0, INT32_MAX, "a whole number of milliseconds, 0 to 2147483647")) {
        o.fromMs = static_cast<int32_t>(v);
        o.fromMsGiven = true;
      }
    } else if (args.is("--from-bar")) {
      args.integer(o.fromBar, 1, kMaxBar, kBarValue);
    } else if (args.is("--loop")) {
      const char* range = args.value(kLoopValue);
      if (range && !parseBarRange(range, o.loopFirst, o.loopLast)) args.invalid(kLoopValue);
    } else if (args.is("--watch")) {
      o.watch = true;
    } else if (args.is("--seconds")) {
      if (args.number(o.seconds, 0.0, kMaxSeconds, kSecondsValue) && o.seconds == 0.0) {
        args.invalid(kSecondsValue);
      }
    } else {
      args.operand();
    }
  }
  if (args.ok() && o.fromMsGiven && (o.fromBar > 0 || o.loopFirst > 0))
    args.usage("--from-ms starts by time: it does not go with --from-bar or --loop");
  if (!args.ok() || !args.operands(1, 1, "one IMAGE, FILE.mid or SOURCE")) {
    status = args.status();
    return false;
  }
  o.image = args.list()[0];
  return true;
}

// A tune source is a folder or a text file. The first four bytes of an image
// (ticks per quarter, below 2^24) always hold a zero byte, and a MIDI file
// starts with "MThd", so a file that begins with four non-zero bytes other
// than that is taken for source text.
bool isTuneSource(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) return false;
  if (S_ISDIR(info.st_mode)) return true;
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  unsigned char head[4] = {};
  const size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (got < sizeof head || std::memcmp(head, "MThd", 4) == 0) return false;
  return head[0] && head[1] && head[2] && head[3];
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
  int64_t bars = 0;
  const BarTick bar = playingBar(pb, &bars);
  std::fprintf(stderr, "\r  %s / %s  bar %lld of %lld ", position, length,
               static_cast<long long>(bar.bar), static_cast<long long>(bars));
  std::fflush(stderr);
}

// A line of its own, also when the position is being shown on the terminal.
void clearPositionLine(bool onTerminal) {
  if (onTerminal) std::fputs("\r\33[K", stderr);
}

// Checks a watched source for saves: a good build carries on where the music
// is (and, without a loop of the user's, the whole tune goes on repeating); a
// bad one is shown as its FILE:LINE line.
void watchSource(tunesrc::LiveSource& live, Playback& pb, const Options& o, bool onTerminal) {
  tunesrc::BuildError error;
  switch (tunesrc::refreshLiveSource(live, pb, error)) {
    case tunesrc::Refresh::Unchanged:
      return;
    case tunesrc::Refresh::Failed:
      clearPositionLine(onTerminal);
      cli::report(kProgram, "%s", error.text().c_str());
      return;
    case tunesrc::Refresh::Rebuilt:
      break;
  }
  int64_t bars = 0;
  const BarTick at = playingBar(pb, &bars);
  if (o.loopFirst == 0) setLoop(pb, 1, bars);
  char length[32];
  formatTime(pb.player.lengthMs, length, sizeof length);
  clearPositionLine(onTerminal);
  std::printf("rebuilt %s: length %s, %lld bars; carrying on in bar %lld\n", live.path.c_str(),
              length, static_cast<long long>(bars), static_cast<long long>(at.bar));
  std::fflush(stdout);
}

enum class Finish { Ended, Interrupted, TimeUp };

// Waits while the tune plays, refreshing the position on a terminal and
// watching the source when asked, until it has ended and rung out, the time
// limit or an interrupt.
Finish waitForEnd(Playback& pb, const Options& o, tunesrc::LiveSource* live) {
  using Clock = std::chrono::steady_clock;
  const bool onTerminal = ::isatty(STDERR_FILENO) != 0;
  const auto started = Clock::now();
  const auto limit =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  bool ended = false;
  auto endedAt = started;
  auto nextLook = started + kWatchPoll;
  while (!gInterrupted) {
    const auto now = Clock::now();
    if (o.seconds > 0.0 && now - started >= limit) return Finish::TimeUp;
    if (live && now >= nextLook) {
      watchSource(*live, pb, o, onTerminal);
      nextLook = now + kWatchPoll;
    }
    if (live && !isPlaying(pb)) {
      // An edit took the loop's bars away and the tune ran out: a watched
      // source plays on from its start.
      playFromBar(pb, 1);
    } else if (!ended && !isPlaying(pb)) {
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

  const bool source = isTuneSource(o.image);
  if (o.watch && !source) {
    cli::report(kProgram, "--watch needs a tune source (a folder or a source file), not '%s'",
                o.image);
    return cli::kExitUsage;
  }
  // The tune's bytes (an image, or the builds of a source) outlive the
  // playback that reads them.
  std::vector<uint8_t> image;
  tunesrc::LiveSource live;
  live.path = o.image;
  if (!source && !loadTuneFile(kProgram, o.image, image)) return cli::kExitFailure;
  installInterruptHandler();

  // Live playback: sample-and-hold LFOs seed from the clock.
  auto sink = std::make_unique<SynthSink>(SeedSource{SeedMode::Clock, 0});
  auto device = std::make_unique<SdlRingDevice>();
  auto pb = std::make_unique<Playback>();
  pb->player.sink = sink.get();
  pb->device = device.get();

  if (source) {
    tunesrc::BuildError error;
    if (!tunesrc::startLiveSource(live, *pb, error)) {
      cli::report(kProgram, "%s", error.text().c_str());
      return cli::kExitFailure;
    }
  } else {
    ParseResult why;
    if (!playTune(*pb, image.data(), image.size(), &why)) {
      cli::report(kProgram, "'%s' is not a usable tune image: %s", o.image, why.reason);
      return cli::kExitFailure;
    }
  }
  int64_t bars = 0;
  playingBar(*pb, &bars);
  const int64_t wanted = o.loopLast > o.fromBar ? o.loopLast : o.fromBar;
  if (wanted > bars) {
    cli::report(kProgram, "'%s' has %lld bars: there is no bar %lld", o.image,
                static_cast<long long>(bars), static_cast<long long>(wanted));
    stopTune(*pb);
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
  std::printf("playing %s, length %s, %lld bars", o.image, length, static_cast<long long>(bars));
  if (o.loopFirst > 0)
    std::printf(", bars %lld-%lld looped", static_cast<long long>(o.loopFirst),
                static_cast<long long>(o.loopLast));
  if (o.watch) std::printf(", watching for changes");
  std::printf("\n");
  std::fflush(stdout);

  // A watched source repeats as a whole unless a loop was asked for.
  if (o.loopFirst > 0) {
    setLoop(*pb, o.loopFirst, o.loopLast);
  } else if (o.watch) {
    setLoop(*pb, 1, bars);
  }
  const int64_t startBar = o.fromBar > 0 ? o.fromBar : o.loopFirst;
  if (startBar > 0) {
    playFromBar(*pb, startBar);
  } else {
    playFromPosition(*pb, o.fromMs);
  }
  const Finish finish = waitForEnd(*pb, o, o.watch ? &live : nullptr);

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
