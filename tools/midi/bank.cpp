#include "tools/midi/bank.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "tools/tunesrc/params.h"
#include "tools/tunesrc/patch_parser.h"
#include "tools/tunesrc/source.h"

namespace midi {

namespace {

namespace fs = std::filesystem;

constexpr const char* kInstalledBank = "../share/orb2k16/bank";

bool fail(const tunesrc::SourcePos& pos, const std::string& message, std::string& error) {
  error = tunesrc::BuildError{pos, message}.text();
  return false;
}

// Applies one line of a global block: "group key=value ..." or "name value".
bool globalLine(const tunesrc::SourceLine& line, std::vector<uint8_t>& global, std::string& error) {
  const auto& table = tunesrc::globalParams();
  const auto& t = line.tokens;
  std::vector<std::pair<std::string, std::string>> pairs;
  if (tunesrc::isParamGroup(table, t[0])) {
    for (size_t i = 1; i < t.size(); ++i) {
      const size_t eq = t[i].find('=');
      if (eq == std::string::npos || eq == 0) {
        return fail(line.pos, "expected key=value after '" + t[0] + "', not '" + t[i] + "'", error);
      }
      pairs.push_back({t[0] + "." + t[i].substr(0, eq), t[i].substr(eq + 1)});
    }
    if (pairs.empty()) return fail(line.pos, "'" + t[0] + "' needs key=value pairs", error);
  } else if (t.size() == 2) {
    pairs.push_back({t[0], t[1]});
  } else {
    return fail(line.pos, "unknown global parameter '" + t[0] + "'", error);
  }
  for (const auto& [name, value] : pairs) {
    const tunesrc::ParamInfo* param = tunesrc::findParam(table, name);
    if (!param) return fail(line.pos, "unknown global parameter '" + name + "'", error);
    std::string reason;
    if (!tunesrc::parseParamValue(*param, value, global[size_t(param->index)], reason)) {
      return fail(line.pos, reason, error);
    }
  }
  return true;
}

bool loadGlobal(const std::string& path, std::vector<uint8_t>& global, std::string& error) {
  std::vector<tunesrc::SourceLine> lines;
  tunesrc::BuildError buildError;
  if (!tunesrc::readSource(path, lines, buildError)) {
    error = buildError.text();
    return false;
  }
  bool inside = false;
  for (const tunesrc::SourceLine& line : lines) {
    const std::string& head = line.tokens[0];
    if (!inside) {
      if (head != "global" || line.tokens.size() != 1) {
        return fail(line.pos, "a bank's global file holds one 'global' block, not '" + head + "'",
                    error);
      }
      inside = true;
    } else if (head == "end") {
      inside = false;
    } else if (!globalLine(line, global, error)) {
      return false;
    }
  }
  if (inside) return fail(lines.back().pos, "'global' has no 'end'", error);
  return true;
}

// Reads a whole number in [low, high] from `token`.
bool parseNumber(const std::string& token, int low, int high, int& out) {
  if (token.empty() || token.size() > 4) return false;
  size_t used = 0;
  try {
    out = std::stoi(token, &used);
  } catch (const std::exception&) {
    return false;
  }
  return used == token.size() && out >= low && out <= high;
}

// Lines "key KEY plays KITKEY DB": the drum channel's KEY plays the kit's
// KITKEY, DB decibels louder (-60..+12).
bool loadDrumMap(const std::string& path, DrumMap& map, std::string& error) {
  std::vector<tunesrc::SourceLine> lines;
  tunesrc::BuildError buildError;
  if (!tunesrc::readSource(path, lines, buildError)) {
    error = buildError.text();
    return false;
  }
  for (const tunesrc::SourceLine& line : lines) {
    const auto& t = line.tokens;
    int key = 0, kitKey = 0, gain = 0;
    if (t.size() != 5 || t[0] != "key" || t[2] != "plays") {
      return fail(line.pos, "expected 'key KEY plays KITKEY DB'", error);
    }
    if (!parseNumber(t[1], 0, 127, key) || !parseNumber(t[3], 0, 127, kitKey)) {
      return fail(line.pos, "keys are 0..127", error);
    }
    if (!parseNumber(t[4], -60, 12, gain)) {
      return fail(line.pos, "the level change is -60..+12 dB, not '" + t[4] + "'", error);
    }
    map[size_t(key)] = {uint8_t(kitKey), int8_t(gain)};
  }
  return true;
}

bool loadPatches(const std::string& path, std::vector<tunesrc::PatchDefinition>& patches,
                 std::string& error) {
  tunesrc::BuildError buildError;
  if (!tunesrc::loadPatchFile(path, patches, buildError)) {
    error = buildError.text();
    return false;
  }
  return true;
}

bool isPresent(const fs::path& p) {
  std::error_code ec;
  return fs::exists(p, ec);
}

}  // namespace

bool loadBank(const std::string& folder, Bank& out, std::string& error) {
  out = Bank{};
  const fs::path dir(folder);
  if (!fs::is_directory(dir)) {
    error = "patch bank '" + folder + "' is not a folder";
    return false;
  }
  const fs::path programsPath = dir / kBankProgramsFile;
  if (!isPresent(programsPath)) {
    error = "patch bank '" + folder + "' has no " + kBankProgramsFile;
    return false;
  }
  std::vector<tunesrc::PatchDefinition> programs;
  if (!loadPatches(programsPath.string(), programs, error)) return false;
  if (programs.empty()) {
    error = programsPath.string() + ": defines no patch";
    return false;
  }
  for (tunesrc::PatchDefinition& p : programs) {
    out.programs.push_back({p.program, std::move(p.bytes)});
  }

  const fs::path drumsPath = dir / kBankDrumsFile;
  if (isPresent(drumsPath)) {
    std::vector<tunesrc::PatchDefinition> kit;
    if (!loadPatches(drumsPath.string(), kit, error)) return false;
    if (!kit.empty()) out.drumKit = std::move(kit.front().bytes);
    if (kit.size() > 1) out.cymbals = std::move(kit[1].bytes);
  }

  const fs::path mapPath = dir / kBankDrumMapFile;
  if (isPresent(mapPath) && !loadDrumMap(mapPath.string(), out.drumMap, error)) return false;

  out.global = tunesrc::defaultGlobalBytes();
  const fs::path globalPath = dir / kBankGlobalFile;
  if (isPresent(globalPath) && !loadGlobal(globalPath.string(), out.global, error)) return false;
  return true;
}

std::string defaultBankFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path installed = exe.parent_path() / kInstalledBank;
    if (isPresent(installed / kBankProgramsFile)) return installed.lexically_normal().string();
  }
  return ORB_BANK_SOURCE_DIR;
}

bool looksLikeMidi(const uint8_t* bytes, size_t size) {
  return bytes && size >= 4 && std::memcmp(bytes, "MThd", 4) == 0;
}

bool imageFromMidi(const std::vector<uint8_t>& file, std::vector<uint8_t>& image,
                   std::string& summary, std::string& error) {
  Bank bank;
  if (!loadBank(defaultBankFolder(), bank, error)) {
    error = "default patch bank: " + error;
    return false;
  }
  ImportSummary counts;
  if (!importMidi(file.data(), file.size(), bank, image, counts, error)) return false;
  summary = counts.line();
  return true;
}

}  // namespace midi
