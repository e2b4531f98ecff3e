#include "player/tune_writer.h"

#include <cstdio>
#include <set>

namespace {

constexpr uint32_t kMissingPatchOffset = 0xFFFFFFFFu;
constexpr int kTextHeaderSize = 4;
constexpr int kTextOffsetSize = 4;

void putInt32(std::vector<uint8_t>& out, int32_t value) {
  const uint32_t v = uint32_t(value);
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void setInt32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

std::string describe(const char* format, const char* what, int channel, size_t index,
                     long long value) {
  char list[64];
  if (channel < 0) {
    std::snprintf(list, sizeof list, "%s", what);
  } else {
    std::snprintf(list, sizeof list, "channel %d %s", channel, what);
  }
  char text[200];
  std::snprintf(text, sizeof text, format, list, index, value);
  return text;
}

// One list in readable form: absolute ticks and absolute value bytes.
struct Rows {
  std::vector<int32_t> ticks;
  std::vector<std::vector<uint8_t>> values;  // values[k][i]: value column k of record i
};

// Turns absolute ticks into 24-bit deltas and absolute values into modulo-256
// increments, then writes the list column by column.
bool writeColumns(const Rows& rows, std::vector<uint8_t>& out, const char* what, int channel,
                  std::string& error) {
  const size_t n = rows.ticks.size();
  std::vector<int32_t> deltas(n);
  int32_t previous = 0;
  for (size_t i = 0; i < n; ++i) {
    const int64_t delta = int64_t(rows.ticks[i]) - previous;
    if (rows.ticks[i] < 0) {
      error = describe("%s record %zu: negative tick %lld", what, channel, i, rows.ticks[i]);
      return false;
    }
    if (delta < 0) {
      error = describe("%s record %zu: tick %lld is before the previous record", what, channel, i,
                       rows.ticks[i]);
      return false;
    }
    if (delta > kMaxDelta) {
      error = describe("%s record %zu: gap of %lld ticks exceeds 24 bits", what, channel, i, delta);
      return false;
    }
    deltas[i] = int32_t(delta);
    previous = rows.ticks[i];
  }
  for (int byte = 0; byte < 3; ++byte) {
    for (size_t i = 0; i < n; ++i) out.push_back(uint8_t(deltas[i] >> (8 * byte)));
  }
  for (const std::vector<uint8_t>& column : rows.values) {
    uint8_t running = 0;
    for (size_t i = 0; i < n; ++i) {
      out.push_back(uint8_t(column[i] - running));
      running = column[i];
    }
  }
  return true;
}

template <typename Event, typename Project>
Rows rowsOf(const std::vector<Event>& events, int valueColumns, Project project) {
  Rows rows;
  rows.values.assign(size_t(valueColumns), std::vector<uint8_t>());
  for (const Event& e : events) {
    rows.ticks.push_back(e.tick);
    uint8_t v[2] = {};
    project(e, v);
    for (int k = 0; k < valueColumns; ++k) rows.values[size_t(k)].push_back(v[k]);
  }
  return rows;
}

bool writeList(const Rows& rows, std::vector<uint8_t>& out, const char* what, int channel,
               std::string& error) {
  putInt32(out, int32_t(rows.ticks.size()));
  return writeColumns(rows, out, what, channel, error);
}

bool hasOtherLists(const ChannelEvents& ch) {
  if (!ch.programs.empty() || !ch.bends.empty()) return true;
  for (const auto& list : ch.controllers)
    if (!list.empty()) return true;
  return false;
}

bool writeChannel(const ChannelEvents& ch, int channel, std::vector<uint8_t>& out,
                  std::string& error) {
  if (ch.notes.empty()) {
    if (hasOtherLists(ch)) {
      error = "channel " + std::to_string(channel) +
              ": programs, bends or controllers need at least one note on the channel";
      return false;
    }
    putInt32(out, 0);
    return true;
  }
  auto notes = rowsOf(ch.notes, 2, [](const NoteEvent& e, uint8_t* v) {
    v[0] = e.note;
    v[1] = e.velocity;
  });
  if (!writeList(notes, out, "note list", channel, error)) return false;
  auto programs =
      rowsOf(ch.programs, 1, [](const ProgramEvent& e, uint8_t* v) { v[0] = e.program; });
  if (!writeList(programs, out, "program list", channel, error)) return false;
  auto bends = rowsOf(ch.bends, 2, [](const BendEvent& e, uint8_t* v) {
    v[0] = e.first;
    v[1] = e.second;
  });
  if (!writeList(bends, out, "bend list", channel, error)) return false;
  for (const auto& list : ch.controllers) {
    auto rows = rowsOf(list, 1, [](const ControllerEvent& e, uint8_t* v) { v[0] = e.value; });
    if (!writeList(rows, out, "controller list", channel, error)) return false;
  }
  return true;
}

// The tempo list has a 4-byte tempo column; every other column is one byte.
bool writeTempo(const std::vector<TempoEvent>& tempo, std::vector<uint8_t>& out,
                std::string& error) {
  putInt32(out, int32_t(tempo.size()));
  Rows deltasOnly;
  for (const TempoEvent& t : tempo) deltasOnly.ticks.push_back(t.tick);
  if (!writeColumns(deltasOnly, out, "tempo list", -1, error)) return false;
  for (const TempoEvent& t : tempo) putInt32(out, t.microsPerQuarter);
  for (const TempoEvent& t : tempo) out.push_back(t.metreNumerator);
  for (const TempoEvent& t : tempo) out.push_back(t.metreDenominator);
  for (const TempoEvent& t : tempo) out.push_back(t.metreAux);
  return true;
}

int32_t lastTick(const TuneDescription& tune) {
  int32_t last = 0;
  auto consider = [&](const auto& list) {
    if (!list.empty() && list.back().tick > last) last = list.back().tick;
  };
  consider(tune.tempo);
  for (const ChannelEvents& ch : tune.channels) {
    consider(ch.notes);
    consider(ch.programs);
    consider(ch.bends);
    for (const auto& list : ch.controllers) consider(list);
  }
  return last;
}

bool writeTexts(const std::vector<std::string>& texts, std::vector<uint8_t>& out,
                std::string& error) {
  if (texts.empty()) {
    putInt32(out, 0);
    return true;
  }
  if (texts.size() > size_t(kTextTableSize)) {
    error = "too many texts: " + std::to_string(texts.size()) + " (at most " +
            std::to_string(kTextTableSize) + ")";
    return false;
  }
  std::vector<uint8_t> block;
  putInt32(block, int32_t(texts.size()));
  block.resize(kTextHeaderSize + kTextOffsetSize * texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    setInt32(block, kTextHeaderSize + kTextOffsetSize * i, uint32_t(block.size()));
    block.insert(block.end(), texts[i].begin(), texts[i].end());
    block.push_back(0);
    if (block.size() > size_t(kMaxTextBlockSize)) {
      error = "texts need more than " + std::to_string(kMaxTextBlockSize) + " bytes";
      return false;
    }
  }
  putInt32(out, int32_t(block.size()));
  out.insert(out.end(), block.begin(), block.end());
  return true;
}

}  // namespace

bool writePatchMap(const std::vector<PatchEntry>& patches, std::vector<uint8_t>& out,
                   std::string& error) {
  out.clear();
  if (patches.empty()) return true;
  int highest = 0;
  std::set<int> seen;
  for (const PatchEntry& p : patches) {
    const std::string name = "patch for program " + std::to_string(p.program);
    if (p.program < 0 || p.program >= kProgramCount) {
      error = name + ": program number outside 0.." + std::to_string(kProgramCount - 1);
      return false;
    }
    if (!seen.insert(p.program).second) {
      error = name + ": program given twice";
      return false;
    }
    if (p.bytes.size() < size_t(kPatchFixedSize)) {
      error = name + ": " + std::to_string(p.bytes.size()) + " bytes, needs at least " +
              std::to_string(kPatchFixedSize);
      return false;
    }
    const size_t expected =
        size_t(kPatchFixedSize) + size_t(kPatchRouteSize) * p.bytes[kPatchRouteCountOffset];
    if (p.bytes.size() != expected) {
      error = name + ": " + std::to_string(p.bytes.size()) + " bytes, but its " +
              std::to_string(p.bytes[kPatchRouteCountOffset]) + " routes make " +
              std::to_string(expected);
      return false;
    }
    if (p.program > highest) highest = p.program;
  }
  const size_t table = 4 * size_t(highest + 1);
  out.assign(table, 0);
  for (int p = 0; p <= highest; ++p) setInt32(out, 4 * size_t(p), kMissingPatchOffset);
  for (const PatchEntry& p : patches) {
    setInt32(out, 4 * size_t(p.program), uint32_t(out.size()));
    out.insert(out.end(), p.bytes.begin(), p.bytes.end());
  }
  if (out.size() > size_t(kMaxPatchSize)) {
    error = "patch map of " + std::to_string(out.size()) + " bytes exceeds " +
            std::to_string(kMaxPatchSize);
    return false;
  }
  return true;
}

bool writeTuneImage(const TuneDescription& tune, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  error.clear();
  putInt32(out, tune.ticksPerQuarter);
  putInt32(out, tune.lengthTicks == kLengthFromEvents ? lastTick(tune) : tune.lengthTicks);
  if (!writeTempo(tune.tempo, out, error)) return false;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (!writeChannel(tune.channels[size_t(ch)], ch, out, error)) return false;
  }

  if (tune.global.size() > size_t(kMaxGlobalSize)) {
    error = "global parameter block of " + std::to_string(tune.global.size()) + " bytes exceeds " +
            std::to_string(kMaxGlobalSize);
    return false;
  }
  putInt32(out, int32_t(tune.global.size()));
  out.insert(out.end(), tune.global.begin(), tune.global.end());

  std::vector<uint8_t> map;
  if (!writePatchMap(tune.patches, map, error)) return false;
  putInt32(out, int32_t(map.size()));
  out.insert(out.end(), map.begin(), map.end());

  return writeTexts(tune.texts, out, error);
}
