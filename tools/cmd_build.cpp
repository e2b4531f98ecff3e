// `tune build SOURCE OUT`: compiles a readable tune source (a folder holding
// main.tune, or a source file) into a tune image.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "player/tune_image.h"
#include "tools/cli/cli.h"
#include "tools/commands.h"
#include "tools/tunesrc/compile.h"
#include "tools/tunesrc/source.h"

namespace {

constexpr const char* kProgram = "tune build";

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune build SOURCE OUT [--quiet]\n"
               "\n"
               "Compiles a tune source into a tune image. SOURCE is a folder holding\n"
               "main.tune (which may include patch files and other sources) or a source\n"
               "file. Errors name the file and line; on an error no image is written and\n"
               "an existing OUT is left as it was. OUT may not be one of the sources.\n"
               "\n"
               "  --quiet     print nothing on success (default: a one-line summary)\n"
               "  --help      this text\n"
               "  --version   the program's version\n"
               "\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n");
}

// The files a build reads: the main file and everything it includes.
std::vector<std::string> sourceFiles(const char* source) {
  std::vector<std::string> files{source, tunesrc::mainFileOf(source)};
  std::vector<tunesrc::SourceLine> lines;
  tunesrc::BuildError ignored;  // the build itself reports what is wrong
  tunesrc::readSource(files.back(), lines, ignored);
  for (const tunesrc::SourceLine& line : lines) {
    if (line.pos.file != files.back()) files.push_back(line.pos.file);
  }
  return files;
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
  bool quiet = false;
  cli::Args args(kProgram, argc, argv, printHelp);
  while (args.next()) {
    if (args.is("--quiet")) {
      quiet = true;
    } else {
      args.operand();
    }
  }
  if (!args.ok() || !args.operands(2, 2, "SOURCE and OUT")) return args.status();
  const char* source = args.list()[0];
  const char* out = args.list()[1];
  if (!cli::checkNotInput(kProgram, out, sourceFiles(source))) return cli::kExitUsage;

  std::vector<uint8_t> image;
  tunesrc::BuildError error;
  if (!tunesrc::buildTuneImage(source, image, error)) {
    cli::report(kProgram, "%s", error.text().c_str());
    return cli::kExitFailure;
  }
  cli::OutputFile file(kProgram, out);
  if (!file.create() || !file.write(image.data(), image.size()) || !file.commit()) {
    return cli::kExitFailure;
  }
  if (!quiet) printSummary(out, image);
  return cli::kExitOk;
}
