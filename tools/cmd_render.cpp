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
#include "tools/commands.h"
#include "tools/midi/bank.h"

namespace {

constexpr long kMaxImageBytes = 256L << 20;
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
               "  --help        this text\n",
               kDefaultSeeds.seed);
}

bool fail(const char* fmt, const char* a, const char* b = "") {
  std::fprintf(stderr, "tune render: ");
  std::fprintf(stderr, fmt, a, b);
  std::fputc('\n', stderr);
  return false;
}

bool parseNumber(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && std::isfinite(out);
}

bool parseUnsigned(const char* text, uint64_t limit, uint64_t& out) {
  if (!*text || *text == '-' || *text == '+') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > limit) return false;
  out = v;
  return true;
}

// 0: options parsed; 1: --help shown; 2: usage error (reported).
int parseOptions(int argc, char** argv, Options& o) {
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      printHelp(stdout);
      return 1;
    } else if (!std::strcmp(a, "--float")) {
      o.asFloat = true;
    } else if (!std::strcmp(a, "--seconds")) {
      if (!hasValue || !parseNumber(argv[++i], o.seconds) || o.seconds <= 0.0 ||
          o.seconds > kMaxSeconds) {
        fail("--seconds needs a number of seconds above 0 and at most 86400%s", "");
        return 2;
      }
    } else if (!std::strcmp(a, "--from-ms")) {
      uint64_t v = 0;
      if (!hasValue || !parseUnsigned(argv[++i], INT32_MAX, v)) {
        fail("--from-ms needs a whole number of milliseconds, 0 to 2147483647%s", "");
        return 2;
      }
      o.fromMs = static_cast<int32_t>(v);
    } else if (!std::strcmp(a, "--seed")) {
      uint64_t v = 0;
      if (!hasValue || !parseUnsigned(argv[++i], UINT32_MAX, v)) {
        fail("--seed needs a whole number, 0 to 4294967295%s", "");
        return 2;
      }
      o.seeds = SeedSource{SeedMode::Fixed, static_cast<uint32_t>(v)};
    } else if (a[0] == '-' && a[1] != '\0') {
      fail("unknown option '%s' (try 'tune render --help')", a);
      return 2;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) {
    fail("needs IMAGE and OUT.wav (try 'tune render --help')%s", "");
    return 2;
  }
  o.image = positional[0];
  o.out = positional[1];
  return 0;
}

bool readFile(const char* path, std::vector<uint8_t>& bytes) {
  struct stat info;
  if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    return fail("cannot read '%s': not a regular file", path);
  }
  FILE* f = std::fopen(path, "rb");
  if (!f) return fail("cannot open '%s': %s", path, std::strerror(errno));
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(f) : -1;
  ok = ok && size >= 0 && size <= kMaxImageBytes && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    bytes.resize(static_cast<size_t>(size));
    ok = (size == 0 || std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size()) &&
         !std::ferror(f);
  }
  std::fclose(f);
  if (!ok) return fail("cannot read '%s' as a tune image file%s", path);
  return true;
}

class WavWriter {
 public:
  ~WavWriter() {
    if (file_) sf_close(file_);
  }
  bool open(const char* path, bool asFloat) {
    SF_INFO info{};
    info.samplerate = kDefaultSampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (asFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    file_ = sf_open(path, SFM_WRITE, &info);
    if (!file_) return fail("cannot write '%s': %s", path, sf_strerror(nullptr));
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
  const int parsed = parseOptions(argc, argv, o);
  if (parsed == 1) return 0;
  if (parsed != 0) return 2;

  std::vector<uint8_t> image;
  if (!readFile(o.image, image)) return 1;
  if (midi::looksLikeMidi(image.data(), image.size())) {  // MIDI files are imported on the fly
    std::vector<uint8_t> file;
    file.swap(image);
    std::string summary, error;
    if (!midi::imageFromMidi(file, image, summary, error)) {
      fail("'%s': %s", o.image, error.c_str());
      return 1;
    }
    std::fprintf(stderr, "%s\n", summary.c_str());
  }

  // The player without an audio device: the measuring pass and the
  // fast-forward are exactly those of live playback.
  auto sink = std::make_unique<SynthSink>(o.seeds);
  auto pb = std::make_unique<Playback>();
  pb->player.sink = sink.get();
  ParseResult why;
  if (!playTune(*pb, image.data(), image.size(), &why)) {
    fail("'%s' is not a usable tune image: %s", o.image, why.reason);
    return 1;
  }

  const int64_t from = std::llround(double(o.fromMs) * kDefaultSampleRate / kMsPerSecond);
  int64_t total = 0;
  if (o.seconds > 0.0) {
    total = std::llround(o.seconds * kDefaultSampleRate);
  } else if (!pb->measured.ok) {
    fail("the length of '%s' cannot be measured (a gap of 2^32 frames or more); give --seconds",
         o.image);
    return 1;
  } else {
    total = pb->measured.frames > from ? pb->measured.frames - from : 0;
  }
  playFromPosition(*pb, o.fromMs);

  WavWriter wav;
  if (!wav.open(o.out, o.asFloat)) return 1;
  const bool progress = ::isatty(STDERR_FILENO);
  std::vector<float> block(2 * kBlockFrames);
  int blocks = 0;
  for (int64_t done = 0; done < total;) {
    const int n = static_cast<int>(std::min<int64_t>(kBlockFrames, total - done));
    renderFrames(pb->player, block.data(), n);
    if (!wav.write(block.data(), n)) {
      if (progress) std::fputc('\n', stderr);
      fail("writing '%s' failed: %s", o.out, wav.error());
      wav.close();
      std::remove(o.out);
      return 1;
    }
    done += n;
    if (progress && (++blocks % kProgressEveryBlocks == 0 || done == total)) {
      showProgress(done, total);
    }
  }
  if (progress && total > 0) std::fputc('\n', stderr);
  if (!wav.close()) {
    fail("finishing '%s' failed%s", o.out);
    std::remove(o.out);
    return 1;
  }
  return 0;
}
