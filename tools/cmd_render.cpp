// `tune render IMAGE OUT.wav [--seconds S] [--from-ms MS] [--float] [--seed N]`:
// renders a tune offline through the sequencer and the synthesizer into a
// 44,100 Hz stereo WAV file.
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_stream.h"
#include "player/playback.h"
#include "player/synth_sink.h"
#include "tools/cli/cli.h"
#include "tools/commands.h"
#include "tools/tune_input.h"

namespace {

constexpr const char* kProgram = "tune render";
constexpr int kBlockFrames = 4096;
constexpr double kMaxSeconds = 24.0 * 3600.0;  // a day of audio is plenty for one file
constexpr int kProgressEveryBlocks = 16;       // about 1.5 s of audio

struct Options {
  const char* image = nullptr;
  const char* out = nullptr;
  double seconds = -1.0;  // negative: to the tune's end
  int32_t fromMs = 0;
  bool asFloat = false;
  SeedSource seeds = kDefaultSeeds;
};

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune render IMAGE|FILE.mid OUT.wav [--seconds S] [--from-ms MS] [--float]\n"
               "                   [--seed N]\n"
               "\n"
               "Renders a tune image offline, 44,100 Hz stereo (a Standard MIDI File is\n"
               "imported on the fly with the default patch bank). Without --seconds the file\n"
               "runs from the start position to the tune's end.\n"
               "\n"
               "  --seconds S   length of the file in seconds (S > 0)\n"
               "  --from-ms MS  start MS milliseconds into the tune (events before it apply)\n"
               "  --float       32-bit float samples exactly as synthesized (default: 16-bit,\n"
               "                converted as the audio stream converts them)\n"
               "  --seed N      seed of the sample-and-hold LFOs (default %u); the same seed\n"
               "                gives the same file\n"
               "  --help        this text\n"
               "  --version     the program's version\n"
               "\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n",
               kDefaultSeeds.seed);
}

constexpr const char* kSecondsValue = "a number of seconds above 0, at most 86400";

// False when the command should not run: then `status` is the exit status
// (help or version shown, or a usage error reported).
bool parseOptions(int argc, char** argv, Options& o, int& status) {
  cli::Args args(kProgram, argc, argv, printHelp);
  while (args.next()) {
    int64_t v = 0;
    if (args.is("--float")) {
      o.asFloat = true;
    } else if (args.is("--seconds")) {
      if (args.number(o.seconds, 0.0, kMaxSeconds, kSecondsValue) && o.seconds == 0.0) {
        args.invalid(kSecondsValue);
      }
    } else if (args.is("--from-ms")) {
      if (args.integer(v, 0, INT32_MAX, "a whole number of milliseconds, 0 to 2147483647")) {
        o.fromMs = static_cast<int32_t>(v);
      }
    } else if (args.is("--seed")) {
      if (args.integer(v, 0, UINT32_MAX, "a whole number, 0 to 4294967295")) {
        o.seeds = SeedSource{SeedMode::Fixed, static_cast<uint32_t>(v)};
      }
    } else {
      args.operand();
    }
  }
  if (!args.ok() || !args.operands(2, 2, "IMAGE (or FILE.mid) and OUT.wav")) {
    status = args.status();
    return false;
  }
  o.image = args.list()[0];
  o.out = args.list()[1];
  return true;
}

class WavWriter {
 public:
  ~WavWriter() {
    if (file_) sf_close(file_);
  }
  bool open(const std::string& path, bool asFloat) {
    SF_INFO info{};
    info.samplerate = kDefaultSampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (asFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file_) return false;
    asFloat_ = asFloat;
    return true;
  }
  // Writes interleaved frames; 16-bit output converts as the audio stream does.
  bool write(const float* frames, int count) {
    sf_count_t written = 0;
    if (asFloat_) {
      written = sf_writef_float(file_, frames, count);
    } else {
      pcm_.resize(2 * static_cast<size_t>(count));
      convertToPcm16(frames, pcm_.data(), 2 * count, kFullScale);
      written = sf_writef_short(file_, pcm_.data(), count);
    }
    return written == count;
  }
  bool close() {
    const int rc = sf_close(file_);
    file_ = nullptr;
    return rc == 0;
  }
  const char* error() const { return sf_strerror(file_); }

 private:
  SNDFILE* file_ = nullptr;
  bool asFloat_ = false;
  std::vector<int16_t> pcm_;
};

void showProgress(int64_t done, int64_t total) {
  std::fprintf(stderr, "\rrendering %.1f / %.1f s", double(done) / kDefaultSampleRate,
               double(total) / kDefaultSampleRate);
  std::fflush(stderr);
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
  ParseResult why;
  if (!playTune(*pb, image.data(), image.size(), &why)) {
    cli::report(kProgram, "'%s' is not a usable tune image: %s", o.image, why.reason);
    return cli::kExitFailure;
  }

  const int64_t from = std::llround(double(o.fromMs) * kDefaultSampleRate / kMsPerSecond);
  int64_t total = 0;
  if (o.seconds > 0.0) {
    total = std::llround(o.seconds * kDefaultSampleRate);
  } else if (!pb->measured.ok) {
    cli::report(kProgram,
                "the length of '%s' cannot be measured (a gap of 2^32 frames or more); give "
                "--seconds",
                o.image);
    return cli::kExitFailure;
  } else {
    total = pb->measured.frames > from ? pb->measured.frames - from : 0;
  }
  playFromPosition(*pb, o.fromMs);

  cli::OutputFile out(kProgram, o.out);
  if (!out.create()) return cli::kExitFailure;
  WavWriter wav;
  if (!wav.open(out.path(), o.asFloat)) {
    cli::report(kProgram, "cannot write '%s': %s", o.out, wav.error());
    return cli::kExitFailure;
  }
  const bool progress = ::isatty(STDERR_FILENO);
  std::vector<float> block(2 * kBlockFrames);
  int blocks = 0;
  for (int64_t done = 0; done < total;) {
    const int n = static_cast<int>(std::min<int64_t>(kBlockFrames, total - done));
    renderFrames(pb->player, block.data(), n);
    if (!wav.write(block.data(), n)) {
      if (progress) std::fputc('\n', stderr);
      cli::report(kProgram, "cannot write '%s': %s", o.out, wav.error());
      return cli::kExitFailure;
    }
    done += n;
    if (progress && (++blocks % kProgressEveryBlocks == 0 || done == total)) {
      showProgress(done, total);
    }
  }
  if (progress && total > 0) std::fputc('\n', stderr);
  if (!wav.close()) {
    cli::report(kProgram, "cannot write '%s': %s", o.out, std::strerror(errno));
    return cli::kExitFailure;
  }
  return out.commit() ? cli::kExitOk : cli::kExitFailure;
}
