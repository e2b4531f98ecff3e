// `tune build SOURCE OUT`: compiles a readable tune source (a folder holding
// main.tune, or a source file) into a tune image.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "player/tune_image.h"
#include "tools/commands.h"
#include "tools/tunesrc/compile.h"

namespace {

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune build SOURCE OUT [--quiet]\n"
               "\n"
               "Compiles a tune source into a tune image. SOURCE is a folder holding\n"
               "main.tune (which may include patch files and other sources) or a source\n"
               "file. Errors name the file and line; on an error no image is written.\n"
               "\n"
               "  --quiet   print nothing on success (default: a one-line summary)\n"
               "  --help    this text\n");
}

// Writes next to OUT first and renames, so that OUT is either the whole new
// image or left as it was.
bool writeImage(const std::string& path, const std::vector<uint8_t>& image) {
  const std::string temporary = path + ".part";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void printSummary(const char* out, const std::vector<uint8_t>& image) {
  TuneImage tune;
  if (!parseTuneImage(image.data(), image.size(), tune, PatchCheck::Skip)) return;
  long notes = 0;
  int channels = 0;
  for (const ChannelLists& ch : tune.channels) {
    notes += ch.notes.count;
    channels += ch.notes.count > 0;
  }
  std::printf(
      "%s: %zu bytes, %d ticks per quarter, %d ticks, %d tempo records, %ld note records on %d "
      "channels, %d texts\n",
      out, image.size(), tune.ticksPerQuarter, tune.lengthTicks, tune.tempo.count, notes, channels,
      tune.textCount);
}

}  // namespace

int runBuild(int argc, char** argv) {
  std::vector<const char*> positional;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      printHelp(stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--quiet")) {
      quiet = true;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "tune build: unknown option '%s' (try 'tune build --help')\n", argv[i]);
      return 2;
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() != 2) {
    printHelp(stderr);
    return 2;
  }
  std::vector<uint8_t> image;
  tunesrc::BuildError error;
  if (!tunesrc::buildTuneImage(positional[0], image, error)) {
    std::fprintf(stderr, "tune build: %s\n", error.text().c_str());
    return 1;
  }
  if (!writeImage(positional[1], image)) {
    std::fprintf(stderr, "tune build: cannot write '%s'\n", positional[1]);
    return 1;
  }
  if (!quiet) printSummary(positional[1], image);
  return 0;
}
