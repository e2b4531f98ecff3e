// `tune render IMAGE|FILE.mid OUT [--seconds S] [--from-ms MS] [--float]
// [--seed N] [--rate HZ] [--exact]`: renders a tune offline through the
// sequencer and the synthesizer into a stereo sound file whose format follows
// OUT's extension. By default the render goes on after the tune's end until
// the sound has died away.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "player/playback.h"
#include "player/synth_sink.h"
#include "tools/cli/cli.h"
#include "tools/commands.h"
#include "tools/sound_file.h"
#include "tools/tune_input.h"

namespace {

constexpr const char* kProgram = "tune render";
constexpr int kBlockFrames = 4096;
constexpr double kMaxSeconds = 24.0 * 3600.0;  // a day of audio is plenty for one file
constexpr int kMinRate = 22050;
constexpr int kMaxRate = 96000;  // the synthesizer's work buffers hold a tick of 280 frames
constexpr double kProgressEverySeconds = 1.5;

// Ring-out: after the tune's end the render goes on until the output has
// stayed below -90 dBFS for 100 ms, for at most 30 s.
const float kQuietLevel = std::pow(10.0f, -90.0f / 20.0f);
constexpr double kQuietSeconds = 0.1;
constexpr double kMaxRingOutSeconds = 30.0;

struct Options {
  const char* image = nullptr;
  const char* out = nullptr;
  const SoundFormat* format = nullptr;
  double seconds = 0.0;  // 0: to the tune's end (and its ring-out)
  int32_t fromMs = 0;
  bool asFloat = false;
  bool exact = false;
  int32_t rate = kDefaultSampleRate;
  SeedSource seeds = kDefaultSeeds;
};

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune render IMAGE|FILE.mid OUT [--seconds S] [--from-ms MS] [--rate HZ]\n"
               "                   [--exact] [--float] [--seed N]\n"
               "\n"
               "Renders a tune image offline to a stereo sound file (a Standard MIDI File\n"
               "is imported on the fly with the default patch bank). OUT's extension picks\n"
               "the format: .wav (RF64 when the data outgrows 4 GiB), .flac or .ogg (Ogg\n"
               "Vorbis). Without --seconds the file runs from the start position to the\n"
               "tune's end and then on until the sound has died away (below -90 dBFS for\n"
               "100 ms, at most 30 s more). On an error or an interrupt no file is left and\n"
               "an existing OUT is untouched.\n"
               "\n"
               "  --seconds S   length of the file in seconds (above 0, at most 86400)\n"
               "  --from-ms MS  start MS milliseconds into the tune (events before it apply)\n"
               "  --rate HZ     sample rate, 22050 to 96000 (default 44100); pitch and\n"
               "                timing are the same at every rate\n"
               "  --exact       stop at the tune's end, without the ring-out (as the demo\n"
               "                loops it)\n"
               "  --float       32-bit float samples exactly as synthesized (.wav only;\n"
               "                default: 16-bit, converted as the audio stream converts them)\n"
               "  --seed N      seed of the sample-and-hold LFOs (default %u); the same seed\n"
               "                gives the same file\n"
               "  --help        this text\n"
               "  --version     the program's version\n"
               "\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n",
               kDefaultSeeds.seed);
}

constexpr const char* kSecondsValue = "a number of seconds above 0, at most 86400";

// Choices that depend on one another, checked once all are known.
void checkCombination(cli::Args& args, Options& o) {
  o.format = soundFormatFor(o.out);
  if (!o.format) {
    args.usage("cannot write '%s': the extension picks the format, %s", o.out, soundFormatList());
  } else if (o.asFloat && !o.format->holdsFloat) {
    args.usage("--float needs a .wav output; .%s holds 16-bit samples", o.format->extension);
  } else if (o.seconds > 0.0 && std::llround(o.seconds * o.rate) < 1) {
    args.usage("--seconds %g is less than one frame at %d Hz", o.seconds, o.rate);
  }
}

// False when the command should not run: then `status` is the exit status
// (help or version shown, or a usage error reported).
bool parseOptions(int argc, char** argv, Options& o, int& status) {
  cli::Args args(kProgram, argc, argv, printHelp);
  while (args.next()) {
    int64_t v = 0;
    if (args.is("--float")) {
      o.asFloat = true;
    } else if (args.is("--exact")) {
      o.exact = true;
    } else if (args.is("--seconds")) {
      if (args.number(o.seconds, 0.0, kMaxSeconds, kSecondsValue) && o.seconds == 0.0) {
        args.invalid(kSecondsValue);
      }
    } else if (args.is("--from-ms")) {
      if (args.integer(v, 0, INT32_MAX, "a whole number of milliseconds, 0 to 2147483647")) {
        o.fromMs = static_cast<int32_t>(v);
      }
    } else if (args.is("--rate")) {
      if (args.integer(v, kMinRate, kMaxRate, "a sample rate in Hz, 22050 to 96000")) {
        o.rate = static_cast<int32_t>(v);
      }
    } else if (args.is("--seed")) {
      if (args.integer(v, 0, UINT32_MAX, "a whole number, 0 to 4294967295")) {
        o.seeds = SeedSource{SeedMode::Fixed, static_cast<uint32_t>(v)};
      }
    } else {
      args.operand();
    }
  }
  if (args.ok() && args.operands(2, 2, "IMAGE (or FILE.mid) and OUT")) {
    o.image = args.list()[0];
    o.out = args.list()[1];
    checkCombination(args, o);
  }
  status = args.status();
  return args.ok();
}

// What to render: the frames of the tune (or of --seconds) and whether the
// ring-out follows.
struct Span {
  int64_t frames = 0;
  bool ringOut = false;
  int64_t maxFrames() const {
    return frames + (ringOut ? std::llround(kMaxRingOutSeconds * kMaxRate) : 0);
  }
};

// False after a report when there is nothing to render.
bool planSpan(const Options& o, const Playback& pb, Span& span) {
  if (o.seconds > 0.0) {
    span.frames = std::llround(o.seconds * o.rate);
    return true;
  }
  if (!pb.measured.ok) {
    cli::report(kProgram,
                "the length of '%s' cannot be measured (a gap of 2^32 frames or more); give "
                "--seconds",
                o.image);
    return false;
  }
  const int64_t from = std::llround(double(o.fromMs) * o.rate / kMsPerSecond);
  if (from >= pb.measured.frames) {
    cli::report(kProgram, "--from-ms %d is at or past the end of '%s' (%d ms): nothing to render",
                o.fromMs, o.image, pb.player.lengthMs);
    return false;
  }
  span.frames = pb.measured.frames - from;
  span.ringOut = !o.exact;
  return true;
}

// Frames of a block until the output has been quiet for `window` frames in a
// row (counted across blocks in `quietRun`), or the whole block.
int framesUntilQuiet(const float* block, int count, int64_t window, int64_t& quietRun) {
  for (int i = 0; i < count; ++i) {
    const bool quiet =
        std::fabs(block[2 * i]) < kQuietLevel && std::fabs(block[2 * i + 1]) < kQuietLevel;
    quietRun = quiet ? quietRun + 1 : 0;
    if (quietRun >= window) return i + 1;
  }
  return count;
}

class Progress {
 public:
  Progress(int rate, int64_t total) : rate_(rate), total_(total), on_(::isatty(STDERR_FILENO)) {}
  ~Progress() {
    if (on_ && shown_) std::fputc('\n', stderr);
  }
  void update(int64_t done, bool ringingOut) {
    if (!on_ || done < next_) return;
    next_ = done + std::llround(kProgressEverySeconds * rate_);
    shown_ = true;
    if (ringingOut) {
      std::fprintf(stderr, "\rrendering %.1f s, ringing out   ", double(done) / rate_);
    } else {
      std::fprintf(stderr, "\rrendering %.1f / %.1f s", double(done) / rate_,
                   double(total_) / rate_);
    }
    std::fflush(stderr);
  }

 private:
  int rate_;
  int64_t total_;
  bool on_;
  bool shown_ = false;
  int64_t next_ = 0;
};

// Renders the span into the file; false after a report.
bool renderSpan(PlayerState& player, const Span& span, const Options& o, SoundFileWriter& file) {
  const int64_t quietWindow = std::llround(kQuietSeconds * o.rate);
  const int64_t ringOutLimit = std::llround(kMaxRingOutSeconds * o.rate);
  std::vector<float> block(2 * kBlockFrames);
  Progress progress(o.rate, span.frames);
  int64_t done = 0, quietRun = 0;
  bool finished = false;
  while (!finished) {
    const bool ringingOut = done >= span.frames;
    const int64_t left = ringingOut ? span.frames + ringOutLimit - done : span.frames - done;
    if (left <= 0 || (ringingOut && !span.ringOut)) break;
    int n = static_cast<int>(std::min<int64_t>(kBlockFrames, left));
    renderFrames(player, block.data(), n);
    if (ringingOut) {
      const int kept = framesUntilQuiet(block.data(), n, quietWindow, quietRun);
      finished = kept < n || quietRun >= quietWindow;
      n = kept;
    }
    if (!file.write(block.data(), n)) {
      cli::report(kProgram, "cannot write '%s': %s", o.out, file.error().c_str());
      return false;
    }
    done += n;
    progress.update(done, ringingOut);
  }
  return true;
}

}  // namespace

int runRender(int argc, char** argv) {
  Options o;
  int status = cli::kExitOk;
  if (!parseOptions(argc, argv, o, status)) return status;
  if (!cli::checkNotInput(kProgram, o.out, {o.image})) return cli::kExitUsage;

  std::vector<uint8_t> image;
  if (!loadTuneFile(kProgram, o.image, image)) return cli::kExitFailure;

  // The player without an audio device: the measuring pass and the
  // fast-forward are exactly those of live playback.
  auto sink = std::make_unique<SynthSink>(o.seeds);
  auto pb = std::make_unique<Playback>();
  pb->player.sink = sink.get();
  pb->sampleRate = o.rate;
  ParseResult why;
  if (!playTune(*pb, image.data(), image.size(), &why)) {
    cli::report(kProgram, "'%s' is not a usable tune image: %s", o.image, why.reason);
    return cli::kExitFailure;
  }
  Span span;
  if (!planSpan(o, *pb, span)) return cli::kExitFailure;
  playFromPosition(*pb, o.fromMs);

  cli::OutputFile out(kProgram, o.out);
  if (!out.create()) return cli::kExitFailure;
  SoundFileWriter file;
  if (!file.open(out.path(), *o.format, o.rate, o.asFloat, span.maxFrames())) {
    cli::report(kProgram, "cannot write '%s': %s", o.out, file.error().c_str());
    return cli::kExitFailure;
  }
  if (!renderSpan(pb->player, span, o, file)) return cli::kExitFailure;
  if (!file.close()) {
    cli::report(kProgram, "cannot write '%s': %s", o.out, file.error().c_str());
    return cli::kExitFailure;
  }
  return out.commit() ? cli::kExitOk : cli::kExitFailure;
}
