#include "tools/tunesrc/patch_parser.h"

#include "synth/synth.h"
#include "tools/tunesrc/params.h"

namespace tunesrc {

namespace {

constexpr long kRouteCentre = 64;
constexpr size_t kMaxRoutes = 255;  // the route count is one byte

// Splits "key=value"; false when there is no '=' or either side is empty.
bool splitPair(const std::string& token, std::string& key, std::string& value) {
  const size_t eq = token.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == token.size()) return false;
  key = token.substr(0, eq);
  value = token.substr(eq + 1);
  return true;
}

// Which parameter bytes a block names, for defaults that depend on others.
using Named = std::vector<bool>;

bool setParam(const std::string& name, const std::string& value, const SourcePos& pos,
              std::vector<uint8_t>& bytes, Named& named, BuildError& error) {
  const ParamInfo* param = findParam(patchParams(), name);
  if (!param) {
    error = {pos, "unknown patch parameter '" + name + "'"};
    return false;
  }
  std::string reason;
  if (!parseParamValue(*param, value, bytes[size_t(param->index)], reason)) {
    error = {pos, reason};
    return false;
  }
  named[size_t(param->index)] = true;
  return true;
}

// A crushing shaper reads its fourth byte as a bit-flip mask, where the
// centred default of the bias would flip the sign bit: unless the patch names
// it, a crusher flips nothing.
void settleShaper(int base, std::vector<uint8_t>& bytes, const Named& named) {
  const int shape = base + kShaperShape;
  if ((bytes[size_t(base)] & kDistModeMask) == int(DistMode::Crush) && !named[size_t(shape)])
    bytes[size_t(shape)] = 0;
}

bool addRoute(const SourceLine& line, std::vector<uint8_t>& bytes, BuildError& error) {
  const auto& t = line.tokens;
  if (t.size() != 4) {
    error = {line.pos, "route takes a source, a destination and a signed amount"};
    return false;
  }
  uint8_t source = 0;
  if (!parseRouteSource(t[1], source)) {
    error = {line.pos, "unknown route source '" + t[1] +
                           "' (velocity, cc1..cc7, env1, env2, lfo1, lfo2, key)"};
    return false;
  }
  const ParamInfo* dest = findParam(patchParams(), t[2]);
  if (!dest) {
    error = {line.pos, "unknown route destination '" + t[2] + "'"};
    return false;
  }
  long amount = 0;
  if (!parseInteger(t[3], amount) || amount < -kRouteCentre || amount > 255 - kRouteCentre) {
    error = {line.pos, "route amount takes a signed number -64..+64, not '" + t[3] + "'"};
    return false;
  }
  if (bytes[kPatchRouteCount] >= kMaxRoutes) {
    error = {line.pos, "more than 255 routes"};
    return false;
  }
  bytes.push_back(source);
  bytes.push_back(uint8_t(amount + kRouteCentre));
  bytes.push_back(uint8_t(dest->index));
  bytes[kPatchRouteCount] = uint8_t(bytes[kPatchRouteCount] + 1);
  return true;
}

bool applyLine(const SourceLine& line, std::vector<uint8_t>& bytes, Named& named,
               BuildError& error) {
  const auto& t = line.tokens;
  const std::string& head = t[0];
  if (head == "route") return addRoute(line, bytes, error);
  if (head == "polyphony") {
    long v = 0;
    if (t.size() != 2 || !parseInteger(t[1], v) || v < 1 || v > kMaxPolyphony) {
      error = {line.pos, "polyphony takes a number 1..64"};
      return false;
    }
    bytes[kPatchPolyphony] = uint8_t(v);
    return true;
  }
  if (isParamGroup(patchParams(), head)) {
    if (t.size() < 2) {
      error = {line.pos, "'" + head + "' needs key=value pairs"};
      return false;
    }
    for (size_t i = 1; i < t.size(); ++i) {
      std::string key, value;
      if (!splitPair(t[i], key, value)) {
        error = {line.pos, "expected key=value after '" + head + "', not '" + t[i] + "'"};
        return false;
      }
      if (!setParam(head + "." + key, value, line.pos, bytes, named, error)) return false;
    }
    return true;
  }
  if (t.size() != 2) {
    if (!findParam(patchParams(), head)) {
      error = {line.pos, "unknown patch parameter '" + head + "'"};
    } else {
      error = {line.pos, "'" + head + "' takes one value"};
    }
    return false;
  }
  return setParam(head, t[1], line.pos, bytes, named, error);
}

}  // namespace

bool parsePatchBlock(const std::vector<SourceLine>& lines, size_t& at,
                     const std::vector<PatchDefinition>& known, PatchDefinition& out,
                     BuildError& error) {
  const SourceLine& header = lines[at];
  const auto& t = header.tokens;
  if (t.size() < 3) {
    error = {header.pos, "patch needs a name and program=N"};
    return false;
  }
  out = PatchDefinition{};
  out.name = t[1];
  out.pos = header.pos;
  out.bytes = defaultPatchBytes();
  out.named.assign(kPatchHeaderSize, false);
  bool haveProgram = false;
  for (size_t i = 2; i < t.size(); ++i) {
    std::string key, value;
    if (!splitPair(t[i], key, value)) {
      error = {header.pos, "expected program=N or base=PATCH, not '" + t[i] + "'"};
      return false;
    }
    if (key == "program") {
      long p = 0;
      if (!parseInteger(value, p) || p < 0 || p >= kSynthPrograms) {
        error = {header.pos, "program takes a number 0..127, not '" + value + "'"};
        return false;
      }
      out.program = int(p);
      haveProgram = true;
    } else if (key == "base") {
      const PatchDefinition* base = nullptr;
      for (const PatchDefinition& k : known)
        if (k.name == value) base = &k;
      if (!base) {
        error = {header.pos, "base patch '" + value + "' is not defined before this one"};
        return false;
      }
      out.bytes = base->bytes;
      out.named = base->named;
    } else {
      error = {header.pos, "unknown patch option '" + key + "' (program, base)"};
      return false;
    }
  }
  if (!haveProgram) {
    error = {header.pos, "patch '" + out.name + "' needs program=N"};
    return false;
  }
  Named& named = out.named;
  for (++at; at < lines.size(); ++at) {
    const SourceLine& line = lines[at];
    if (line.pos.file != header.pos.file) break;
    if (line.tokens[0] == "end") {
      if (line.tokens.size() != 1) {
        error = {line.pos, "'end' takes nothing after it"};
        return false;
      }
      settleShaper(kVoiceShaper, out.bytes, named);
      settleShaper(kChannelShaper, out.bytes, named);
      return true;
    }
    if (!applyLine(line, out.bytes, named, error)) return false;
  }
  error = {header.pos, "patch '" + out.name + "' has no 'end' in its file"};
  return false;
}

bool checkPatchSet(const std::vector<PatchDefinition>& patches, BuildError& error) {
  for (size_t i = 0; i < patches.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (patches[j].name == patches[i].name) {
        error = {patches[i].pos, "patch '" + patches[i].name + "' is already defined at " +
                                     patches[j].pos.file + ":" +
                                     std::to_string(patches[j].pos.line)};
        return false;
      }
      if (patches[j].program == patches[i].program) {
        error = {patches[i].pos, "program " + std::to_string(patches[i].program) +
                                     " is already taken by patch '" + patches[j].name + "'"};
        return false;
      }
    }
  }
  return true;
}

bool loadPatchFile(const std::string& path, std::vector<PatchDefinition>& patches,
                   BuildError& error) {
  std::vector<SourceLine> lines;
  if (!readSource(path, lines, error)) return false;
  for (size_t at = 0; at < lines.size(); ++at) {
    if (lines[at].tokens[0] != "patch") {
      error = {lines[at].pos,
               "a patch file holds only patch blocks, not '" + lines[at].tokens[0] + "'"};
      return false;
    }
    PatchDefinition def;
    if (!parsePatchBlock(lines, at, patches, def, error)) return false;
    patches.push_back(std::move(def));
  }
  return checkPatchSet(patches, error);
}

}  // namespace tunesrc
