// `tune import-midi FILE.mid OUT.tune [--patches FOLDER]`: converts a
// Standard MIDI File into a tune image played by the bank's patches. The
// one-line summary of what was kept and dropped goes to stderr. On any error
// nothing is written.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/commands.h"
#include "tools/midi/bank.h"
#include "tools/midi/midi_import.h"

namespace {

constexpr const char* kProgram = "tune import-midi";
constexpr size_t kMaxMidiBytes = size_t(64) << 20;

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune import-midi FILE.mid OUT.tune [--patches FOLDER]\n"
               "\n"
               "Converts a Standard MIDI File (format 0 or 1) into a tune image. Notes,\n"
               "program changes, tempo changes and time signatures are kept; the sustain\n"
               "pedal becomes note lengths; volume, expression, pan, modulation and pitch\n"
               "bend (with its registered range) become the controllers the bank's\n"
               "patches route to level, pan and pitch; everything else is dropped and\n"
               "counted in a summary on stderr. MIDI channel 10 plays the bank's drum kit\n"
               "(hats and cymbals on a free channel of their own); MIDI channel 16 moves\n"
               "to a free channel, away from the speech channel, and when a file uses all\n"
               "16, two channels that can share one do. On an error nothing is written\n"
               "and an existing OUT is left as it was.\n"
               "\n"
               "  --patches FOLDER  the patch bank: FOLDER/bank.patch (programs 0-127),\n"
               "                    FOLDER/drums.patch (the drum kit), FOLDER/drums.map\n"
               "                    (the kit's key and level for each drum) and\n"
               "                    FOLDER/global.tune (global parameters), in tune source\n"
               "                    format\n"
               "                    (default: %s)\n"
               "  --help            this text\n"
               "  --version         the program's version\n"
               "\n"
               "Exit status: 0 success, 1 failure, 2 usage error.\n",
               midi::defaultBankFolder().c_str());
}

// The files an import reads: the MIDI file and the bank's sources.
std::vector<std::string> inputFiles(const char* midiFile, const std::string& bank) {
  std::vector<std::string> files{midiFile};
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(bank, ignored)) {
    files.push_back(entry.path().string());
  }
  return files;
}

}  // namespace

int runImportMidi(int argc, char** argv) {
  const char* patches = nullptr;
  cli::Args args(kProgram, argc, argv, printHelp);
  while (args.next()) {
    if (args.is("--patches")) {
      patches = args.value("a folder");
    } else {
      args.operand();
    }
  }
  if (!args.ok() || !args.operands(2, 2, "FILE.mid and OUT.tune")) return args.status();
  const char* input = args.list()[0];
  const char* output = args.list()[1];
  const std::string folder = patches ? patches : midi::defaultBankFolder();
  if (!cli::checkNotInput(kProgram, output, inputFiles(input, folder))) return cli::kExitUsage;

  std::vector<uint8_t> file;
  if (!cli::readFile(kProgram, input, kMaxMidiBytes, file)) return cli::kExitFailure;
  midi::Bank bank;
  std::string error;
  if (!midi::loadBank(folder, bank, error)) {
    cli::report(kProgram, "%s", error.c_str());
    return cli::kExitFailure;
  }
  std::vector<uint8_t> image;
  midi::ImportSummary summary;
  if (!midi::importMidi(file.data(), file.size(), bank, image, summary, error)) {
    cli::report(kProgram, "'%s': %s", input, error.c_str());
    return cli::kExitFailure;
  }
  cli::OutputFile out(kProgram, output);
  if (!out.create() || !out.write(image.data(), image.size()) || !out.commit()) {
    return cli::kExitFailure;
  }
  std::fprintf(stderr, "%s\n", summary.line().c_str());
  return cli::kExitOk;
}
