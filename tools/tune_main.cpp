// `tune`: inspect, render, play and build tunes.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"inspect", runInspect, "show a tune image's summary or its per-tick events"},
    {"render", runRender, "render a tune offline to a WAV file"},
    {"play", runPlay, "play a tune through the audio device"},
    {"build", runBuild, "compile a tune source folder into a tune image"},
    {"import-midi", runImportMidi, "convert a Standard MIDI File into a tune image"},
};

void printUsage(FILE* out) {
  std::fprintf(out, "usage: tune <command> [arguments]   (tune <command> --help for details)\n\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    printUsage(stderr);
    return 2;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") ||
      !std::strcmp(argv[1], "help")) {
    printUsage(stdout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "tune: unknown command '%s' (try 'tune --help')\n", argv[1]);
  return 2;
}
