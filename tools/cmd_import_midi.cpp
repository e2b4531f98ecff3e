// `tune import-midi FILE.mid OUT.tune [--patches FOLDER]`: converts a
// Standard MIDI File into a tune image played by the bank's patches. The
// one-line summary of what was kept and dropped goes to stderr. On any error
// nothing is written.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/midi/bank.h"
#include "tools/midi/midi_import.h"

namespace {

constexpr long kMaxMidiBytes = 64L << 20;

void printHelp(FILE* out) {
  std::fprintf(out,
               "usage: tune import-midi FILE.mid OUT.tune [--patches FOLDER]\n"
               "\n"
               "Converts a Standard MIDI File (format 0 or 1) into a tune image. Notes,\n"
               "program changes, controllers 1-7, pitch bend, tempo changes and time\n"
               "signatures are kept; everything else is dropped and counted in a summary\n"
               "on stderr. MIDI channel 9 plays the bank's drum kit; MIDI channel 15\n"
               "moves to a free channel, away from the speech channel.\n"
               "\n"
               "  --patches FOLDER  the patch bank: FOLDER/bank.patch (programs 0-127),\n"
               "                    FOLDER/drums.patch (the drum kit) and FOLDER/global.tune\n"
               "                    (global parameters), in tune source format\n"
               "                    (default: %s)\n"
               "  --help            this text\n",
               midi::defaultBankFolder().c_str());
}

bool fail(const std::string& message) {
  std::fprintf(stderr, "tune import-midi: %s\n", message.c_str());
  return false;
}

bool readMidi(const char* path, std::vector<uint8_t>& bytes) {
  struct stat info;
  if (::stat(path, &info) != 0) {
    return fail(std::string("cannot open '") + path + "': " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) return fail(std::string("'") + path + "' is not a regular file");
  if (info.st_size > kMaxMidiBytes) return fail(std::string("'") + path + "' is too large");
  FILE* f = std::fopen(path, "rb");
  if (!f) return fail(std::string("cannot open '") + path + "': " + std::strerror(errno));
  bytes.resize(size_t(info.st_size));
  const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), f);
  const bool failed = got != bytes.size() || std::ferror(f);
  std::fclose(f);
  if (failed) return fail(std::string("cannot read '") + path + "'");
  return true;
}

// Writes beside the target and renames, so a failed write leaves no file.
bool writeImage(const char* path, const std::vector<uint8_t>& image) {
  const std::string temp = std::string(path) + ".part";
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return fail("cannot write '" + temp + "': " + std::strerror(errno));
  bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), path) != 0) {
    std::remove(temp.c_str());
    return fail(std::string("cannot write '") + path + "'");
  }
  return true;
}

}  // namespace

int runImportMidi(int argc, char** argv) {
  std::vector<const char*> positional;
  const char* patches = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
      printHelp(stdout);
      return 0;
    }
    if (!std::strcmp(a, "--patches")) {
      if (i + 1 >= argc) {
        fail("--patches needs a folder");
        return 2;
      }
      patches = argv[++i];
    } else if (a[0] == '-' && a[1] != '\0') {
      fail(std::string("unknown option '") + a + "' (try 'tune import-midi --help')");
      return 2;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) {
    fail("needs FILE.mid and OUT.tune (try 'tune import-midi --help')");
    return 2;
  }
  const char* input = positional[0];
  const char* output = positional[1];

  std::vector<uint8_t> file;
  if (!readMidi(input, file)) return 1;
  midi::Bank bank;
  std::string error;
  const std::string folder = patches ? patches : midi::defaultBankFolder();
  if (!midi::loadBank(folder, bank, error)) {
    fail(error);
    return 1;
  }
  std::vector<uint8_t> image;
  midi::ImportSummary summary;
  if (!midi::importMidi(file.data(), file.size(), bank, image, summary, error)) {
    fail(std::string("'") + input + "': " + error);
    return 1;
  }
  if (!writeImage(output, image)) return 1;
  std::fprintf(stderr, "%s\n", summary.line().c_str());
  return 0;
}
