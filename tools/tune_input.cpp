#include "tools/tune_input.h"

#include <cstdio>
#include <string>

#include "tools/cli/cli.h"
#include "tools/midi/bank.h"

bool loadTuneFile(const char* program, const char* path, std::vector<uint8_t>& image) {
  if (!cli::readFile(program, path, kMaxTuneFileBytes, image)) return false;
  if (!midi::looksLikeMidi(image.data(), image.size())) return true;
  std::vector<uint8_t> file;
  file.swap(image);
  std::string summary, error;
  if (!midi::imageFromMidi(file, image, summary, error)) {
    cli::report(program, "'%s': %s", path, error.c_str());
    return false;
  }
  std::fprintf(stderr, "%s\n", summary.c_str());
  return true;
}
