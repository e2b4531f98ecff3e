#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "orb_version.h"

int answerCommandLine(const char* program, const char* usage, int argc, const char* const* argv) {
  if (argc <= 1) return -1;
  const char* arg = argv[1];
  if (argc == 2 && std::strcmp(arg, "--help") == 0) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(arg, "--version") == 0) {
    std::printf("%s %s (%s)\n", program, kOrbVersion, kOrbRevision);
    return 0;
  }
  if (argc > 2) {
    std::fprintf(stderr, "%s: too many arguments (it takes only --help or --version)\n", program);
  } else {
    std::fprintf(stderr, "%s: unknown argument '%s' (it takes only --help or --version)\n", program,
                 arg);
  }
  return 2;
}
