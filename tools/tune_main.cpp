// `tune`: inspect, render, play and build tunes.
#include <cstdio>
#include <cstring>

#include "tools/cli/cli.h"
#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"inspect", runInspect, "show a tune image's summary or its per-tick events"},
    {"render", runRender, "render a tune offline to a WAV, FLAC or Ogg Vorbis file"},
    {"play", runPlay, "play a tune through the audio device"},
    {"build", runBuild, "compile a tune source folder into a tune image"},
    {"import-midi", runImportMidi, "convert a Standard MIDI File into a tune image"},
};

constexpr const char* kCommandNames = "inspect, render, play, build or import-midi";

void printUsage(FILE* out) {
  std::fprintf(out,
               "usage: tune COMMAND [ARGUMENTS]\n"
               "\n"
               "Inspects, renders, plays and builds the tunes of orb 2k16's synthesizer.\n"
               "'tune COMMAND --help' describes each command.\n"
               "\n"
               "Commands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\n"
               "Options:\n"
               "  --help       this text\n"
               "  --version    the program's version and source revision\n"
               "\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    cli::report("tune", "needs a command: %s (try 'tune --help')", kCommandNames);
    return cli::kExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    printUsage(stdout);
    return cli::kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    cli::printVersion("tune");
    return cli::kExitOk;
  }
  for (const Command& c : kCommands) {
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  }
  cli::report("tune", "unknown command '%s' (try 'tune --help')", argv[1]);
  return cli::kExitUsage;
}
