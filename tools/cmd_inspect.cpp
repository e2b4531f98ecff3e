// `tune inspect IMAGE [--events]`: a tune image's summary, or one line per
// sequencer tick of a playback from 0 ms.
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "player/sequencer.h"
#include "tools/commands.h"

namespace {

constexpr long kMaxImageBytes = 256L
                                << 20;  // far beyond what the format's limits allow in practice

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune inspect IMAGE [--events]\n"
               "\n"
               "Checks a tune image and prints a summary: ticks per quarter, length,\n"
               "tempo changes, per-channel event counts, patch and text sizes. A rejected\n"
               "image prints the reason and exits with status 1.\n"
               "\n"
               "  --events   one line per sequencer tick of a playback from 0 ms:\n"
               "             '<frame> <tick> <event bytes in hex, ending FD>', then\n"
               "             'end <frames> <length ms>'\n"
               "  --help     this text\n");
}

// Reads a whole file; false with a one-line message on stderr.
bool readFile(const char* path, std::vector<uint8_t>& bytes) {
  struct stat info;
  if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
    std::fprintf(stderr, "tune inspect: cannot read '%s': not a regular file\n", path);
    return false;
  }
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "tune inspect: cannot open '%s': %s\n", path, std::strerror(errno));
    return false;
  }
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  const long size = ok ? std::ftell(f) : -1;
  ok = ok && size >= 0 && std::fseek(f, 0, SEEK_SET) == 0;
  if (!ok) {
    std::fprintf(stderr, "tune inspect: cannot read '%s': not a regular file\n", path);
    std::fclose(f);
    return false;
  }
  if (size > kMaxImageBytes) {
    std::fprintf(stderr, "tune inspect: '%s' is %ld bytes, too large for a tune image\n", path,
                 size);
    std::fclose(f);
    return false;
  }
  bytes.resize(size_t(size));
  const size_t got = size ? std::fread(bytes.data(), 1, bytes.size(), f) : 0;
  const bool failed = got != bytes.size() || std::ferror(f);
  std::fclose(f);
  if (failed) {
    std::fprintf(stderr, "tune inspect: cannot read '%s': %s\n", path,
                 errno ? std::strerror(errno) : "short read");
    return false;
  }
  return true;
}

// Prints each event list as it reaches the synthesizer during a measuring
// pass: the frame is the number of frames before the list takes effect.
class EventPrinter final : public SequencerSink {
 public:
  explicit EventPrinter(const PlayerState& p) : p_(p) {}
  void start(const TuneImage&, int) override {}
  void processEvents(const uint8_t* list) override {
    std::printf("%" PRId64 " %" PRId64, p_.positionFrames, p_.nowTick);
    for (size_t i = 0;; ++i) {
      std::printf(" %02X", list[i]);
      if (list[i] == kEventListEnd) break;
    }
    std::putchar('\n');
  }
  void render(float*, int) override {}

 private:
  const PlayerState& p_;
};

void printTempo(const TuneImage& tune) {
  std::printf("tempo changes:     %d\n", tune.tempo.count);
  int64_t tick = 0;
  for (int32_t i = 0; i < tune.tempo.count; ++i) {
    const TempoRecord t = readTempoRecord(tune.tempo, i);
    tick += t.delta;
    std::printf("  tick %-10" PRId64 " %d us per quarter (%.2f per minute), metre %d/%d (aux %d)\n",
                tick, t.microsPerQuarter, 60e6 / t.microsPerQuarter, t.metreNumerator,
                t.metreDenominator, t.metreAux);
  }
}

void printChannels(const TuneImage& tune) {
  std::printf("channels:\n  ch   notes programs bends    c1    c2    c3    c4    c5    c6    c7\n");
  bool any = false;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const ChannelLists& c = tune.channels[ch];
    if (c.notes.count == 0) continue;
    any = true;
    std::printf("  %2d %7d %8d %5d", ch, c.notes.count, c.programs.count, c.bends.count);
    for (const EventList& ctl : c.controllers) std::printf(" %5d", ctl.count);
    std::putchar('\n');
  }
  if (!any) std::printf("  (none: every channel is empty)\n");
}

void printTexts(const TuneImage& tune) {
  if (!tune.textBlock) {
    std::printf("texts:             none (text block of %d bytes unused)\n", tune.textSize);
    return;
  }
  std::printf("texts:             %d in a %d-byte block\n", tune.textCount, tune.textSize);
  for (int32_t i = 0; i < tune.textCount; ++i)
    std::printf("  %3d: %d bytes\n", i, tune.textTable[i].length);
}

void printSummary(const char* path, size_t size, const TuneImage& tune, const TuneLength& len) {
  const int64_t ms = len.lengthMs;
  std::printf("image:             %s (%zu bytes)\n", path, size);
  std::printf("ticks per quarter: %d\n", tune.ticksPerQuarter);
  std::printf("length:            %d ticks; last tick %" PRId64 ", %" PRId64 " sequencer ticks\n",
              tune.lengthTicks, len.lastTick, len.ticks);
  std::printf("duration:          %" PRId64 " frames at %d Hz, %" PRId64 " ms (%" PRId64
              ":%02" PRId64 ".%03" PRId64 ")\n",
              len.frames, kDefaultSampleRate, ms, ms / 60000, ms / 1000 % 60, ms % 1000);
  printTempo(tune);
  printChannels(tune);
  std::printf("global block:      %d bytes\n", tune.globalSize);
  std::printf("patch map:         %d bytes\n", tune.patchSize);
  printTexts(tune);
}

}  // namespace

int runInspect(int argc, char** argv) {
  const char* path = nullptr;
  bool events = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      printHelp(stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--events")) {
      events = true;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "tune inspect: unknown option '%s' (try 'tune inspect --help')\n",
                   argv[i]);
      return 2;
    } else if (path) {
      std::fprintf(stderr, "tune inspect: more than one image given ('%s', '%s')\n", path, argv[i]);
      return 2;
    } else {
      path = argv[i];
    }
  }
  if (!path) {
    std::fprintf(stderr, "tune inspect: no image given (usage: tune inspect IMAGE [--events])\n");
    return 2;
  }

  std::vector<uint8_t> bytes;
  if (!readFile(path, bytes)) return 1;
  auto player = std::make_unique<PlayerState>();
  PlayerState& p = *player;
  const ParseResult parsed = parseTuneImage(bytes.data(), bytes.size(), p.tune);
  if (!parsed) {
    std::fprintf(stderr, "tune inspect: %s: rejected: %s\n", path, parsed.reason);
    return 1;
  }

  EventPrinter printer(p);
  p.sink = events ? &printer : nullptr;
  p.sampleRate = kDefaultSampleRate;
  resetSequencer(p);
  const TuneLength len = measureTune(p);
  if (!len.ok) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "tune inspect: %s: rejected: the frame distance after tick %" PRId64
                 " is 2^32 frames or more\n",
                 path, len.overflowTick);
    return 1;
  }
  if (events) {
    std::printf("end %" PRId64 " %d\n", len.frames, len.lengthMs);
  } else {
    printSummary(path, bytes.size(), p.tune, len);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "tune inspect: cannot write the output: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}
