#include "tools/tunesrc/score.h"

#include <algorithm>

#include "tools/tunesrc/params.h"

namespace tunesrc {

namespace {

constexpr int kDefaultVelocity = 100;
constexpr int kDefaultGate = 90;  // percent of the written length that sounds
constexpr int kRampSteps = 16;    // ramps send at most this many values per quarter
constexpr int kGridLevels = 9;    // step characters '1'..'9'
constexpr int kGridAccent = 127;  // 'X'
constexpr int kGridGhost = 60;    // 'o'
constexpr int kMaxNote = 127;
// Names follow the synthesizer's tuning, where note 60 sounds at 130.81 Hz:
// c3 = 60, so c-2 is note 0.
constexpr long kLowestOctave = -2;
constexpr long kHighestOctave = 8;
constexpr int kMaxValue = 127;
constexpr int32_t kMaxPatternTicks = 1 << 22;

// What every lane carries from token to token.
struct LaneState {
  int32_t pos = 0;
  int32_t length = 0;
  int velocity = kDefaultVelocity;
  int gate = kDefaultGate;
  struct Tie {
    size_t note;      // index in the pattern's notes
    int32_t written;  // written length so far
  };
  std::vector<Tie> tied;  // the notes a following '-' lengthens
  uint8_t pitch = 0;      // the pitch of a grid lane
};

struct LaneContext {
  const SourcePos& pos;
  int32_t tpq;
  const std::vector<PatchDefinition>& patches;
  Pattern& pattern;
  BuildError& error;

  bool fail(const std::string& message) {
    error = {pos, message};
    return false;
  }
};

int gateTicks(int32_t written, int gate) {
  const int64_t t = int64_t(written) * gate / 100;
  return int(std::max<int64_t>(1, t));
}

bool advance(LaneContext& c, LaneState& s, int32_t ticks) {
  if (ticks <= 0) return c.fail("a length of zero ticks");
  s.pos += ticks;
  if (s.pos > kMaxPatternTicks) return c.fail("the lane is too long for a pattern");
  c.pattern.contentTicks = std::max(c.pattern.contentTicks, s.pos);
  return true;
}

bool parseNumberIn(const std::string& text, long low, long high, long& out) {
  return parseInteger(text, out) && out >= low && out <= high;
}

// Tokens every lane understands: lengths, velocities, gate and bar lines.
// Returns 1 when handled, 0 when not a setting, -1 on error.
int laneSetting(LaneContext& c, LaneState& s, const std::string& t) {
  if (t == "|") return 1;
  if (t[0] == '/') {
    if (!parseLength(t, c.tpq, s.length)) {
      c.fail("bad length '" + t + "' (/1 /2 /4 /8 /16 /32 /64, '.' dotted, 't' triplet, *N)");
      return -1;
    }
    return 1;
  }
  if (t[0] == '@') {
    long v = 0;
    if (!parseNumberIn(t.substr(1), 1, kMaxValue, v)) {
      c.fail("velocity takes 1..127, not '" + t + "'");
      return -1;
    }
    s.velocity = int(v);
    return 1;
  }
  if (t.compare(0, 5, "gate=") == 0) {
    long v = 0;
    if (!parseNumberIn(t.substr(5), 1, 100, v)) {
      c.fail("gate takes a percentage 1..100, not '" + t + "'");
      return -1;
    }
    s.gate = int(v);
    return 1;
  }
  return 0;
}

bool needLength(LaneContext& c, const LaneState& s, const std::string& t) {
  if (s.length > 0) return true;
  return c.fail("'" + t + "' has no length: set one first, e.g. /8");
}

// Splits "body/len@vel" (or "body@vel/len") into its parts; the suffixes
// are optional.
void splitSuffixes(const std::string& t, std::string& body, std::string& length,
                   std::string& velocity) {
  size_t at = t.find_first_of("/@", 1);
  body = t.substr(0, at);
  while (at != std::string::npos) {
    const size_t next = t.find_first_of("/@", at + 1);
    const std::string part = t.substr(at, next == std::string::npos ? next : next - at);
    if (part[0] == '/') {
      length = part;
    } else {
      velocity = part.substr(1);
    }
    at = next;
  }
}

bool programToken(LaneContext& c, LaneState& s, const std::string& value) {
  long number = -1;
  if (!parseNumberIn(value, 0, kMaxValue, number)) {
    for (const PatchDefinition& p : c.patches)
      if (p.name == value) number = p.program;
  }
  if (number < 0) return c.fail("prog= takes a patch name or 0..127, not '" + value + "'");
  c.pattern.programs.push_back({s.pos, int32_t(number)});
  return true;
}

bool noteToken(LaneContext& c, LaneState& s, const std::string& t) {
  std::string body, length, velocity;
  splitSuffixes(t, body, length, velocity);
  int32_t ticks = s.length;
  if (!length.empty() && !parseLength(length, c.tpq, ticks))
    return c.fail("bad length in '" + t + "'");
  if (length.empty() && !needLength(c, s, t)) return false;
  if (!length.empty()) s.length = ticks;
  int vel = s.velocity;
  if (!velocity.empty()) {
    long v = 0;
    if (!parseNumberIn(velocity, 1, kMaxValue, v))
      return c.fail("velocity takes 1..127, not '" + velocity + "' in '" + t + "'");
    vel = int(v);
  }
  if (body == "r") {
    s.tied.clear();
    return advance(c, s, ticks);
  }
  if (body == "-") {
    if (s.tied.empty()) return c.fail("'-' ties nothing: no note before it");
    for (LaneState::Tie& tie : s.tied) {
      tie.written += ticks;
      c.pattern.notes[tie.note].length = gateTicks(tie.written, s.gate);
    }
    return advance(c, s, ticks);
  }
  std::vector<uint8_t> pitches;
  size_t start = 0;
  while (start <= body.size()) {
    const size_t plus = body.find('+', start);
    const std::string name =
        body.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
    uint8_t note = 0;
    if (!parseNoteName(name, note))
      return c.fail("'" + t + "' is not a note, rest, tie or setting");
    pitches.push_back(note);
    if (plus == std::string::npos) break;
    start = plus + 1;
  }
  s.tied.clear();
  for (uint8_t note : pitches) {
    s.tied.push_back({c.pattern.notes.size(), ticks});
    c.pattern.notes.push_back({s.pos, gateTicks(ticks, s.gate), note, uint8_t(vel)});
  }
  return advance(c, s, ticks);
}

bool noteLane(LaneContext& c, LaneState& s, const std::vector<std::string>& t, size_t from) {
  for (size_t i = from; i < t.size(); ++i) {
    const int setting = laneSetting(c, s, t[i]);
    if (setting < 0) return false;
    if (setting > 0) continue;
    if (t[i].compare(0, 5, "prog=") == 0) {
      if (!programToken(c, s, t[i].substr(5))) return false;
      continue;
    }
    if (!noteToken(c, s, t[i])) return false;
  }
  return true;
}

int gridVelocity(char ch, int velocity) {
  if (ch == 'x') return velocity;
  if (ch == 'X') return kGridAccent;
  if (ch == 'o') return kGridGhost;
  if (ch >= '1' && ch <= '9') return (kMaxValue * (ch - '0') + kGridLevels - 1) / kGridLevels;
  return -1;
}

bool gridLane(LaneContext& c, LaneState& s, const std::vector<std::string>& t, size_t from) {
  for (size_t i = from; i < t.size(); ++i) {
    const int setting = laneSetting(c, s, t[i]);
    if (setting < 0) return false;
    if (setting > 0) continue;
    if (!needLength(c, s, t[i])) return false;
    for (char ch : t[i]) {
      if (ch != '.') {
        const int vel = gridVelocity(ch, s.velocity);
        if (vel < 0)
          return c.fail(std::string("unknown step '") + ch +
                        "' (. rest, x hit, X accent, o ghost, 1..9 levels)");
        c.pattern.notes.push_back({s.pos, gateTicks(s.length, s.gate), s.pitch, uint8_t(vel)});
      }
      if (!advance(c, s, s.length)) return false;
    }
  }
  return true;
}

bool parseValueIn(const std::string& text, long low, long high, long& out) {
  return parseNumberIn(text, low, high, out);
}

// Steps and ramps of one controller or the bend: "V" holds V for the current
// length, "A>B" ramps from A to B over it, "r" leaves the value alone.
bool valueLane(LaneContext& c, LaneState& s, const std::vector<std::string>& t, size_t from,
               long low, long high, std::vector<PatternValue>& out) {
  const int32_t spacing = std::max<int32_t>(1, c.tpq / kRampSteps);
  for (size_t i = from; i < t.size(); ++i) {
    const int setting = laneSetting(c, s, t[i]);
    if (setting < 0) return false;
    if (setting > 0) continue;
    std::string body, length, unused;
    splitSuffixes(t[i], body, length, unused);
    int32_t ticks = s.length;
    if (!length.empty()) {
      if (!parseLength(length, c.tpq, ticks)) return c.fail("bad length in '" + t[i] + "'");
      s.length = ticks;
    } else if (!needLength(c, s, t[i])) {
      return false;
    }
    if (body != "r") {
      const size_t arrow = body.find('>', 1);
      long a = 0, b = 0;
      const bool ramp = arrow != std::string::npos;
      const bool ok = ramp ? parseValueIn(body.substr(0, arrow), low, high, a) &&
                                 parseValueIn(body.substr(arrow + 1), low, high, b)
                           : parseValueIn(body, low, high, a);
      if (!ok)
        return c.fail("'" + t[i] + "' is not a value " + std::to_string(low) + ".." +
                      std::to_string(high) + ", a ramp A>B or r");
      if (!ramp) {
        out.push_back({s.pos, int32_t(a)});
      } else {
        long last = a + 1;  // force the first value out
        for (int32_t at = 0; at < ticks; at += spacing) {
          const long v = a + (b - a) * int64_t(at) / ticks;
          if (v != last) out.push_back({s.pos + at, int32_t(v)});
          last = v;
        }
        out.push_back({s.pos + ticks, int32_t(b)});
      }
    }
    if (!advance(c, s, ticks)) return false;
  }
  return true;
}

bool parseHeader(const SourceLine& header, Pattern& out, BuildError& error) {
  const auto& t = header.tokens;
  if (t.size() < 2) {
    error = {header.pos, "pattern needs a name"};
    return false;
  }
  out = Pattern{};
  out.name = t[1];
  out.pos = header.pos;
  for (size_t i = 2; i < t.size(); ++i) {
    long v = 0;
    if (t[i].compare(0, 5, "bars=") == 0 && parseNumberIn(t[i].substr(5), 1, 1024, v)) {
      out.unit = PatternUnit::Bars;
    } else if (t[i].compare(0, 6, "beats=") == 0 && parseNumberIn(t[i].substr(6), 1, 4096, v)) {
      out.unit = PatternUnit::Beats;
    } else {
      error = {header.pos, "expected bars=N or beats=N, not '" + t[i] + "'"};
      return false;
    }
    out.count = int32_t(v);
  }
  return true;
}

}  // namespace

bool parseNoteName(const std::string& text, uint8_t& note) {
  static constexpr int kSemitones[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
  if (text.size() < 2) return false;
  const char letter = text[0];
  if (letter < 'a' || letter > 'g') return false;
  int value = kSemitones[letter - 'a'];
  size_t i = 1;
  if (text[i] == '#') {
    ++value;
    ++i;
  } else if (text[i] == 'b' && i + 1 < text.size()) {  // "bb3" is B flat, "b3" is B
    --value;
    ++i;
  }
  long octave = 0;
  if (!parseInteger(text.substr(i), octave) || octave < kLowestOctave || octave > kHighestOctave)
    return false;
  const long midi = (octave - kLowestOctave) * 12 + value;
  if (midi < 0 || midi > kMaxNote) return false;
  note = uint8_t(midi);
  return true;
}

bool parseLength(const std::string& text, int32_t ticksPerQuarter, int32_t& ticks) {
  if (text.size() < 2 || text[0] != '/') return false;
  size_t i = 1;
  long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    if (value > 64) return false;
    ++i;
  }
  if (value < 1 || (value & (value - 1)) != 0) return false;
  int64_t num = int64_t(4) * ticksPerQuarter, den = value;
  if (i < text.size() && text[i] == '.') {
    num *= 3;
    den *= 2;
    ++i;
  } else if (i < text.size() && text[i] == 't') {
    num *= 2;
    den *= 3;
    ++i;
  }
  if (i < text.size() && text[i] == '*') {
    long times = 0;
    if (!parseInteger(text.substr(i + 1), times) || times < 1 || times > 1024) return false;
    num *= times;
    i = text.size();
  }
  if (i != text.size() || num % den != 0) return false;
  ticks = int32_t(num / den);
  return ticks > 0;
}

bool parsePatternBlock(const std::vector<SourceLine>& lines, size_t& at, int32_t ticksPerQuarter,
                       const std::vector<PatchDefinition>& patches, Pattern& out,
                       BuildError& error) {
  const SourceLine& header = lines[at];
  if (!parseHeader(header, out, error)) return false;
  LaneState lane;
  enum class Kind { None, Notes, Grid, Controller, Bend } kind = Kind::None;
  int controller = 0;
  for (++at; at < lines.size(); ++at) {
    const SourceLine& line = lines[at];
    if (line.pos.file != header.pos.file) break;
    const auto& t = line.tokens;
    LaneContext c{line.pos, ticksPerQuarter, patches, out, error};
    if (t[0] == "end") {
      if (t.size() != 1) return c.fail("'end' takes nothing after it");
      return true;
    }
    size_t from = 1;
    if (t[0] == "&") {
      if (kind == Kind::None) return c.fail("'&' continues a lane, but no lane came before");
    } else {
      lane = LaneState{};
      if (t[0] == "notes") {
        kind = Kind::Notes;
      } else if (t[0] == "grid") {
        uint8_t pitch = 0;
        if (t.size() < 2 || !parseNoteName(t[1], pitch))
          return c.fail("grid needs a note name first, e.g. grid c2 /16 x...");
        kind = Kind::Grid;
        lane.pitch = pitch;
        from = 2;
      } else if (t[0] == "cc") {
        long n = 0;
        if (t.size() < 2 || !parseNumberIn(t[1], 1, kControllerLanes, n))
          return c.fail("cc needs a controller number 1..7");
        kind = Kind::Controller;
        controller = int(n);
        from = 2;
      } else if (t[0] == "bend") {
        kind = Kind::Bend;
      } else {
        return c.fail("unknown lane '" + t[0] + "' (notes, grid, cc, bend, & to continue)");
      }
    }
    bool ok = true;
    switch (kind) {
      case Kind::Notes:
        ok = noteLane(c, lane, t, from);
        break;
      case Kind::Grid:
        ok = gridLane(c, lane, t, from);
        break;
      case Kind::Controller:
        ok = valueLane(c, lane, t, from, 0, kMaxValue, out.controllers[size_t(controller - 1)]);
        break;
      case Kind::Bend:
        ok = valueLane(c, lane, t, from, kBendMin, kBendMax, out.bends);
        break;
      case Kind::None:
        break;
    }
    if (!ok) return false;
  }
  error = {header.pos, "pattern '" + out.name + "' has no 'end' in its file"};
  return false;
}

}  // namespace tunesrc
