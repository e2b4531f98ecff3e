// `tune inspect IMAGE [--events]`: a tune image's summary, or one line per
// sequencer tick of a playback from 0 ms.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "player/sequencer.h"
#include "tools/cli/cli.h"
#include "tools/commands.h"
#include "tools/tune_input.h"

namespace {

constexpr const char* kProgram = "tune inspect";

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune inspect IMAGE|FILE.mid [--events]\n"
               "\n"
               "Checks a tune image and prints a summary: ticks per quarter, length,\n"
               "tempo changes, per-channel event counts (channels 1-16), patch and text\n"
               "sizes. A Standard MIDI File is imported first with the default patch bank\n"
               "(its import summary goes to stderr). A rejected image or a broken MIDI\n"
               "file prints the reason and exits with status 1.\n"
               "\n"
               "  --events    one line per sequencer tick of a playback from 0 ms:\n"
               "              '<frame> <tick> <event bytes in hex, ending FD>', then\n"
               "              'end <frames> <length ms>'\n"
               "  --help      this text\n"
               "  --version   the program's version\n"
               "\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n");
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
    std::printf("  %2d %7d %8d %5d", ch + 1, c.notes.count, c.programs.count, c.bends.count);
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
  bool events = false;
  cli::Args args(kProgram, argc, argv, printHelp);
  while (args.next()) {
    if (args.is("--events")) {
      events = true;
    } else {
      args.operand();
    }
  }
  if (!args.ok() || !args.operands(1, 1, "one IMAGE or FILE.mid")) return args.status();
  const char* path = args.list()[0];

  std::vector<uint8_t> bytes;
  if (!loadTuneFile(kProgram, path, bytes)) return cli::kExitFailure;
  auto player = std::make_unique<PlayerState>();
  PlayerState& p = *player;
  const ParseResult parsed = parseTuneImage(bytes.data(), bytes.size(), p.tune);
  if (!parsed) {
    cli::report(kProgram, "'%s' is not a usable tune image: %s", path, parsed.reason);
    return cli::kExitFailure;
  }

  EventPrinter printer(p);
  p.sink = events ? &printer : nullptr;
  p.sampleRate = kDefaultSampleRate;
  resetSequencer(p);
  const TuneLength len = measureTune(p);
  if (!len.ok) {
    std::fflush(stdout);
    cli::report(kProgram,
                "'%s' is not a usable tune image: the frame distance after tick %" PRId64
                " is 2^32 frames or more",
                path, len.overflowTick);
    return cli::kExitFailure;
  }
  if (events) {
    std::printf("end %" PRId64 " %d\n", len.frames, len.lengthMs);
  } else {
    printSummary(path, bytes.size(), p.tune, len);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    cli::report(kProgram, "cannot write the output: %s", std::strerror(errno));
    return cli::kExitFailure;
  }
  return cli::kExitOk;
}
