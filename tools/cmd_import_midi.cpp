// Placeholder until this subcommand is built.
#include <cstdio>

#include "tools/commands.h"

int runImportMidi(int, char** argv) {
  std::fprintf(stderr, "tune %s: not available in this build\n", argv[0]);
  return 1;
}
