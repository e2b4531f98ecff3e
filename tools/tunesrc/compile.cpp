#include "tools/tunesrc/compile.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>

#include "synth/synth.h"
#include "tools/tunesrc/params.h"
#include "tools/tunesrc/patch_parser.h"
#include "tools/tunesrc/score.h"

namespace tunesrc {

namespace {

constexpr int32_t kMaxTicksPerQuarter = 3840;
constexpr int kMaxTexts = kSpeechTextCount;  // the synthesizer reads the first 64
constexpr double kMicrosPerMinute = 60e6;
constexpr double kMinBpm = 10.0;
constexpr double kMaxBpm = 1000.0;
constexpr int32_t kBendCentre = 8192;
constexpr int kBendLowBits = 7;
constexpr uint8_t kDataMask = 0x7F;
constexpr int kMarkerController = 7;  // see addEndMarker
constexpr uint8_t kControllerStart = 127;
constexpr uint8_t kMetreAux = 8;

struct ChannelDecl {
  std::string name;
  int number = 0;
  int program = -1;  // -1: none selected at the start
  SourcePos pos;
};

// One channel's events as they are gathered. Lists other than the note list
// keep one value per tick (the last one written): at tick 0 the player would
// deliver only the first, and elsewhere the others would override it at once.
struct ChannelBuild {
  struct NoteRecord {
    int32_t tick;
    bool on;
    uint32_t order;
    uint8_t note;
    uint8_t velocity;
  };
  std::vector<NoteRecord> notes;
  std::map<int32_t, uint8_t> programs;
  std::array<std::map<int32_t, uint8_t>, kControllerLanes> controllers;
  std::map<int32_t, std::pair<uint8_t, uint8_t>> bends;
};

struct Metre {
  int numerator = 4;
  int denominator = 4;
};

class Compiler {
 public:
  explicit Compiler(BuildError& error) : error_(error) {}

  bool statements(const std::vector<SourceLine>& lines);
  bool arrange();
  bool describe(TuneDescription& tune);

 private:
  bool fail(const SourcePos& pos, const std::string& message) {
    error_ = {pos, message};
    return false;
  }
  bool ticksStatement(const SourceLine& line);
  bool textStatement(const SourceLine& line);
  bool globalBlock(const std::vector<SourceLine>& lines, size_t& at);
  bool channelStatement(const SourceLine& line);
  bool songBlock(const std::vector<SourceLine>& lines, size_t& at);

  bool tempoLine(const SourceLine& line, int32_t tick);
  bool metreLine(const SourceLine& line, int32_t tick);
  bool channelLine(const SourceLine& line, int32_t start, int32_t end);
  bool place(const SourceLine& line, const Pattern& p, int transpose, int32_t at, int32_t end,
             ChannelBuild& build);
  int32_t barTicks() const { return metre_.numerator * 4 * tpq_ / metre_.denominator; }
  int32_t patternTicks(const Pattern& p) const;
  void setTempo(int32_t tick);
  bool checkPrograms();
  void addEndMarker();

  const ChannelDecl* findChannel(const std::string& name) const;
  const Pattern* findPattern(const std::string& name) const;
  const PatchDefinition* findPatch(const std::string& name) const;

  BuildError& error_;
  int32_t tpq_ = kDefaultTicksPerQuarter;
  bool patternsSeen_ = false;
  std::vector<std::string> textNames_;
  std::vector<std::string> texts_;
  std::vector<uint8_t> global_ = defaultGlobalBytes();
  bool globalSeen_ = false;
  std::vector<PatchDefinition> patches_;
  std::vector<ChannelDecl> channels_;
  std::vector<Pattern> patterns_;
  std::vector<SourceLine> song_;
  SourcePos songPos_;
  bool songSeen_ = false;

  // Arrangement state.
  Metre metre_;
  int32_t microsPerQuarter_ = kDefaultMicrosPerQuarter;
  std::map<int32_t, TempoEvent> tempo_;
  std::array<ChannelBuild, kChannelCount> builds_;
  uint32_t noteOrder_ = 0;
  int32_t lengthTicks_ = 0;
};

bool isName(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return true;
}

bool parseIntIn(const std::string& text, long low, long high, long& out) {
  return parseInteger(text, out) && out >= low && out <= high;
}

bool Compiler::statements(const std::vector<SourceLine>& lines) {
  for (size_t at = 0; at < lines.size(); ++at) {
    const SourceLine& line = lines[at];
    const std::string& head = line.tokens[0];
    bool ok = true;
    if (head == "ticks") {
      ok = ticksStatement(line);
    } else if (head == "text") {
      ok = textStatement(line);
    } else if (head == "global") {
      ok = globalBlock(lines, at);
    } else if (head == "patch") {
      PatchDefinition def;
      ok = parsePatchBlock(lines, at, patches_, def, error_);
      if (ok) patches_.push_back(std::move(def));
      ok = ok && checkPatchSet(patches_, error_);
    } else if (head == "channel") {
      ok = channelStatement(line);
    } else if (head == "pattern") {
      Pattern p;
      patternsSeen_ = true;
      ok = parsePatternBlock(lines, at, tpq_, patches_, p, error_);
      if (ok && findPattern(p.name))
        return fail(p.pos, "pattern '" + p.name + "' is already defined");
      if (ok && p.name == "rest")
        return fail(p.pos, "'rest' is the silent bar, not a pattern name");
      if (ok) patterns_.push_back(std::move(p));
    } else if (head == "song") {
      ok = songBlock(lines, at);
    } else if (head == "end") {
      return fail(line.pos, "'end' without a block to close");
    } else {
      return fail(line.pos, "unknown statement '" + head +
                                "' (include, ticks, text, global, patch, channel, pattern, song)");
    }
    if (!ok) return false;
  }
  return true;
}

bool Compiler::ticksStatement(const SourceLine& line) {
  long v = 0;
  if (line.tokens.size() != 2 || !parseIntIn(line.tokens[1], 1, kMaxTicksPerQuarter, v))
    return fail(line.pos, "ticks takes a number 1.." + std::to_string(kMaxTicksPerQuarter));
  if (patternsSeen_) return fail(line.pos, "ticks must come before the first pattern");
  tpq_ = int32_t(v);
  return true;
}

bool Compiler::textStatement(const SourceLine& line) {
  const auto& t = line.tokens;
  if (t.size() != 3 || !isName(t[1]) || !isQuoted(t[2]))
    return fail(line.pos, "text takes a name and a quoted phoneme string");
  if (std::find(textNames_.begin(), textNames_.end(), t[1]) != textNames_.end())
    return fail(line.pos, "text '" + t[1] + "' is already defined");
  if (int(texts_.size()) >= kMaxTexts)
    return fail(line.pos, "more than " + std::to_string(kMaxTexts) + " texts");
  const std::string body = unquote(t[2]);
  for (char c : body) {
    if (c < ' ' || c > '~') return fail(line.pos, "texts hold printable characters only");
  }
  textNames_.push_back(t[1]);
  texts_.push_back(body);
  return true;
}

bool Compiler::globalBlock(const std::vector<SourceLine>& lines, size_t& at) {
  const SourceLine& header = lines[at];
  if (header.tokens.size() != 1) return fail(header.pos, "'global' takes nothing after it");
  if (globalSeen_) return fail(header.pos, "the global parameters are already given");
  globalSeen_ = true;
  const auto& table = globalParams();
  for (++at; at < lines.size() && lines[at].pos.file == header.pos.file; ++at) {
    const SourceLine& line = lines[at];
    const auto& t = line.tokens;
    if (t[0] == "end") return t.size() == 1 || fail(line.pos, "'end' takes nothing after it");
    std::vector<std::pair<std::string, std::string>> pairs;
    if (isParamGroup(table, t[0])) {
      for (size_t i = 1; i < t.size(); ++i) {
        const size_t eq = t[i].find('=');
        if (eq == std::string::npos || eq == 0)
          return fail(line.pos, "expected key=value after '" + t[0] + "', not '" + t[i] + "'");
        pairs.push_back({t[0] + "." + t[i].substr(0, eq), t[i].substr(eq + 1)});
      }
      if (pairs.empty()) return fail(line.pos, "'" + t[0] + "' needs key=value pairs");
    } else if (t.size() == 2) {
      pairs.push_back({t[0], t[1]});
    } else {
      return fail(line.pos, "unknown global parameter '" + t[0] + "'");
    }
    for (const auto& [name, value] : pairs) {
      const ParamInfo* param = findParam(table, name);
      if (!param) return fail(line.pos, "unknown global parameter '" + name + "'");
      std::string reason;
      if (!parseParamValue(*param, value, global_[size_t(param->index)], reason))
        return fail(line.pos, reason);
    }
  }
  return fail(header.pos, "'global' has no 'end' in its file");
}

bool Compiler::channelStatement(const SourceLine& line) {
  const auto& t = line.tokens;
  long number = 0;
  if (t.size() < 3 || t.size() > 4 || !isName(t[1]) ||
      !parseIntIn(t[2], 0, kChannelCount - 1, number))
    return fail(line.pos, "channel takes a name, a number 0..15 and optionally program=PATCH");
  if (findChannel(t[1])) return fail(line.pos, "channel '" + t[1] + "' is already defined");
  for (const ChannelDecl& c : channels_) {
    if (c.number == number)
      return fail(line.pos,
                  "channel " + std::to_string(number) + " is already named '" + c.name + "'");
  }
  ChannelDecl decl{t[1], int(number), -1, line.pos};
  if (t.size() == 4) {
    if (t[3].compare(0, 8, "program=") != 0)
      return fail(line.pos, "expected program=PATCH, not '" + t[3] + "'");
    const std::string value = t[3].substr(8);
    long p = 0;
    if (const PatchDefinition* patch = findPatch(value)) {
      decl.program = patch->program;
    } else if (parseIntIn(value, 0, kSynthPrograms - 1, p)) {
      decl.program = int(p);
    } else {
      return fail(line.pos, "no patch named '" + value + "' is defined before this line");
    }
  }
  channels_.push_back(decl);
  return true;
}

bool Compiler::songBlock(const std::vector<SourceLine>& lines, size_t& at) {
  const SourceLine& header = lines[at];
  if (header.tokens.size() != 1) return fail(header.pos, "'song' takes nothing after it");
  if (songSeen_) return fail(header.pos, "the song is already given");
  songSeen_ = true;
  songPos_ = header.pos;
  for (++at; at < lines.size() && lines[at].pos.file == header.pos.file; ++at) {
    const SourceLine& line = lines[at];
    if (line.tokens[0] == "end")
      return line.tokens.size() == 1 || fail(line.pos, "'end' takes nothing after it");
    song_.push_back(line);
  }
  return fail(header.pos, "'song' has no 'end' in its file");
}

const ChannelDecl* Compiler::findChannel(const std::string& name) const {
  for (const ChannelDecl& c : channels_)
    if (c.name == name) return &c;
  return nullptr;
}

const Pattern* Compiler::findPattern(const std::string& name) const {
  for (const Pattern& p : patterns_)
    if (p.name == name) return &p;
  return nullptr;
}

const PatchDefinition* Compiler::findPatch(const std::string& name) const {
  for (const PatchDefinition& p : patches_)
    if (p.name == name) return &p;
  return nullptr;
}

int32_t Compiler::patternTicks(const Pattern& p) const {
  if (p.unit == PatternUnit::Bars) return p.count * barTicks();
  return p.count * 4 * tpq_ / metre_.denominator;
}

void Compiler::setTempo(int32_t tick) {
  tempo_[tick] = TempoEvent{tick, microsPerQuarter_, uint8_t(metre_.numerator),
                            uint8_t(metre_.denominator), kMetreAux};
}

bool Compiler::tempoLine(const SourceLine& line, int32_t tick) {
  const auto& t = line.tokens;
  char* end = nullptr;
  const double bpm = t.size() == 2 ? std::strtod(t[1].c_str(), &end) : 0.0;
  if (t.size() != 2 || *end != '\0' || !(bpm >= kMinBpm && bpm <= kMaxBpm))
    return fail(line.pos, "tempo takes quarter notes per minute, 10..1000");
  microsPerQuarter_ = int32_t(std::lround(kMicrosPerMinute / bpm));
  setTempo(tick);
  return true;
}

bool Compiler::metreLine(const SourceLine& line, int32_t tick) {
  const auto& t = line.tokens;
  const size_t slash = t.size() == 2 ? t[1].find('/') : std::string::npos;
  long num = 0, den = 0;
  if (slash == std::string::npos || !parseIntIn(t[1].substr(0, slash), 1, 64, num) ||
      !parseIntIn(t[1].substr(slash + 1), 1, 64, den) || (den & (den - 1)) != 0)
    return fail(line.pos, "metre takes BEATS/NOTE, e.g. 4/4 or 6/8");
  if ((num * 4 * tpq_) % den != 0)
    return fail(line.pos, "a bar of " + t[1] + " is not a whole number of ticks");
  metre_ = Metre{int(num), int(den)};
  setTempo(tick);
  return true;
}

bool Compiler::place(const SourceLine& line, const Pattern& p, int transpose, int32_t at,
                     int32_t end, ChannelBuild& build) {
  for (const PatternNote& n : p.notes) {
    const int32_t start = at + n.start;
    if (start >= end) continue;
    const int note = n.note + transpose;
    if (note < 0 || note > 127)
      return fail(line.pos, "pattern '" + p.name + "' transposed by " + std::to_string(transpose) +
                                " leaves the note range 0..127");
    const int32_t stop = std::min(start + n.length, end);
    build.notes.push_back({start, true, noteOrder_++, uint8_t(note), n.velocity});
    build.notes.push_back({stop, false, noteOrder_++, uint8_t(note), 0});
  }
  for (const PatternValue& v : p.programs)
    if (at + v.tick < end) build.programs[at + v.tick] = uint8_t(v.value);
  for (int c = 0; c < kControllerLanes; ++c) {
    for (const PatternValue& v : p.controllers[size_t(c)])
      if (at + v.tick <= end) build.controllers[size_t(c)][at + v.tick] = uint8_t(v.value);
  }
  for (const PatternValue& v : p.bends) {
    if (at + v.tick > end) continue;
    const int32_t u = v.value + kBendCentre;
    build.bends[at + v.tick] = {uint8_t(u & kDataMask), uint8_t((u >> kBendLowBits) & kDataMask)};
  }
  return true;
}

bool Compiler::channelLine(const SourceLine& line, int32_t start, int32_t end) {
  const auto& t = line.tokens;
  const ChannelDecl* channel = findChannel(t[0]);
  if (!channel) return fail(line.pos, "'" + t[0] + "' is no channel, tempo, metre or section");
  if (t.size() < 2) return fail(line.pos, "channel '" + t[0] + "' needs patterns to play");
  struct Item {
    const Pattern* pattern;  // null: a silent bar
    int transpose;
    int repeat;
  };
  std::vector<Item> items;
  for (size_t i = 1; i < t.size(); ++i) {
    const std::string& word = t[i];
    const size_t mark = word.find_first_of("+-*");
    const std::string name = word.substr(0, mark);
    Item item{nullptr, 0, 1};
    if (name != "rest") {
      item.pattern = findPattern(name);
      if (!item.pattern) return fail(line.pos, "no pattern named '" + name + "'");
    }
    std::string rest = mark == std::string::npos ? std::string() : word.substr(mark);
    long v = 0;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
      const size_t star = rest.find('*');
      if (!parseIntIn(rest.substr(0, star), -127, 127, v) || !item.pattern)
        return fail(line.pos, "bad transposition in '" + word + "'");
      item.transpose = int(v);
      rest = star == std::string::npos ? std::string() : rest.substr(star);
    }
    if (!rest.empty()) {
      if (rest[0] != '*' || !parseIntIn(rest.substr(1), 1, 1024, v))
        return fail(line.pos, "bad repeat in '" + word + "' (NAME*N)");
      item.repeat = int(v);
    }
    items.push_back(item);
  }
  ChannelBuild& build = builds_[size_t(channel->number)];
  int32_t at = start;
  while (at < end) {
    for (const Item& item : items) {
      for (int r = 0; r < item.repeat && at < end; ++r) {
        const int32_t length = item.pattern ? patternTicks(*item.pattern) : barTicks();
        if (item.pattern && item.pattern->contentTicks > length) {
          return fail(line.pos, "pattern '" + item.pattern->name + "' holds " +
                                    std::to_string(item.pattern->contentTicks) +
                                    " ticks of events but is " + std::to_string(length) +
                                    " ticks long here");
        }
        if (item.pattern && !place(line, *item.pattern, item.transpose, at, end, build))
          return false;
        at += length;
      }
    }
  }
  return true;
}

bool Compiler::arrange() {
  if (!songSeen_) return fail(SourcePos{}, "the source has no song");
  setTempo(0);
  int32_t tick = 0;
  int32_t sectionStart = -1;
  for (const SourceLine& line : song_) {
    const std::string& head = line.tokens[0];
    bool ok = true;
    if (head == "tempo") {
      ok = tempoLine(line, tick);
    } else if (head == "metre") {
      ok = metreLine(line, tick);
    } else if (head == "section") {
      long bars = 0;
      const auto& t = line.tokens;
      if (t.size() != 3 || t[2].compare(0, 5, "bars=") != 0 ||
          !parseIntIn(t[2].substr(5), 1, 4096, bars))
        return fail(line.pos, "section takes a name and bars=N");
      sectionStart = tick;
      tick += int32_t(bars) * barTicks();
      if (tick > kMaxDelta) return fail(line.pos, "the song is too long for 24-bit ticks");
    } else if (sectionStart < 0) {
      return fail(line.pos, "'" + head + "' outside a section (start one with 'section')");
    } else {
      ok = channelLine(line, sectionStart, tick);
    }
    if (!ok) return false;
  }
  if (tick == 0) return fail(songPos_, "the song has no sections");
  lengthTicks_ = tick;
  // A channel's first program goes out only if the channel plays at all (a
  // channel without notes can carry no other list); patterns may override it.
  for (const ChannelDecl& c : channels_) {
    ChannelBuild& b = builds_[size_t(c.number)];
    if (c.program >= 0 && !b.notes.empty()) b.programs.emplace(0, uint8_t(c.program));
  }
  addEndMarker();
  return checkPrograms();
}

// The player ends a tune after the last tick that holds an event, so the
// tune's last tick must hold one for its length (and a seamless repeat) to
// come out right. Where nothing falls there, controller 7 of the first
// channel with notes is sent its current value again, which changes nothing.
void Compiler::addEndMarker() {
  for (const auto& [tick, unused] : tempo_)
    if (tick == lengthTicks_) return;
  int first = -1;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    const ChannelBuild& b = builds_[size_t(ch)];
    if (b.notes.empty()) continue;
    if (first < 0) first = ch;
    for (const auto& n : b.notes)
      if (n.tick == lengthTicks_) return;
    if (b.programs.count(lengthTicks_) || b.bends.count(lengthTicks_)) return;
    for (const auto& list : b.controllers)
      if (list.count(lengthTicks_)) return;
  }
  if (first < 0) return;
  auto& marker = builds_[size_t(first)].controllers[kMarkerController - 1];
  const uint8_t value = marker.empty() ? kControllerStart : marker.rbegin()->second;
  marker[lengthTicks_] = value;
}

bool Compiler::checkPrograms() {
  auto known = [&](int program) {
    for (const PatchDefinition& p : patches_)
      if (p.program == program) return true;
    return false;
  };
  for (const ChannelDecl& c : channels_) {
    const ChannelBuild& b = builds_[size_t(c.number)];
    if (b.notes.empty()) {
      bool other = !b.programs.empty() || !b.bends.empty();
      for (const auto& list : b.controllers) other = other || !list.empty();
      if (other)
        return fail(c.pos,
                    "channel '" + c.name + "' has programs, controllers or bends but no notes");
      continue;
    }
    if (!known(0))
      return fail(c.pos,
                  "no patch for program 0, which every channel plays until it selects "
                  "another");
    for (const auto& [tick, program] : b.programs) {
      if (!known(program))
        return fail(c.pos, "channel '" + c.name + "' selects program " + std::to_string(program) +
                               ", which no patch defines");
    }
  }
  return true;
}

bool Compiler::describe(TuneDescription& tune) {
  tune = TuneDescription{};
  tune.ticksPerQuarter = tpq_;
  tune.lengthTicks = lengthTicks_;
  for (const auto& [tick, event] : tempo_) tune.tempo.push_back(event);
  for (int ch = 0; ch < kChannelCount; ++ch) {
    ChannelBuild& b = builds_[size_t(ch)];
    ChannelEvents& out = tune.channels[size_t(ch)];
    // At one tick, notes end before new ones start, so that a repeated pitch
    // releases the old voice rather than the new one.
    std::sort(b.notes.begin(), b.notes.end(), [](const auto& x, const auto& y) {
      if (x.tick != y.tick) return x.tick < y.tick;
      if (x.on != y.on) return !x.on;
      return x.order < y.order;
    });
    for (const auto& n : b.notes) out.notes.push_back({n.tick, n.note, n.velocity});
    for (const auto& [tick, program] : b.programs) out.programs.push_back({tick, program});
    for (const auto& [tick, value] : b.bends)
      out.bends.push_back({tick, value.first, value.second});
    for (int c = 0; c < kControllerLanes; ++c) {
      for (const auto& [tick, value] : b.controllers[size_t(c)])
        out.controllers[size_t(c)].push_back({tick, value});
    }
  }
  tune.global = global_;
  for (const PatchDefinition& p : patches_) tune.patches.push_back({p.program, p.bytes});
  tune.texts = texts_;
  return true;
}

bool isFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string mainFileOf(const std::string& path) {
  if (!isFolder(path)) return path;
  return path + (path.empty() || path.back() == '/' ? "" : "/") + kMainFileName;
}

bool compileTuneSource(const std::string& path, TuneDescription& tune, BuildError& error) {
  std::vector<SourceLine> lines;
  const std::string main = mainFileOf(path);
  if (!readSource(main, lines, error)) return false;
  Compiler compiler(error);
  if (!compiler.statements(lines)) return false;
  if (!compiler.arrange()) {
    if (error.pos.file.empty()) error.pos = SourcePos{main, 1};
    return false;
  }
  return compiler.describe(tune);
}

bool buildTuneImage(const std::string& path, std::vector<uint8_t>& image, BuildError& error) {
  TuneDescription tune;
  if (!compileTuneSource(path, tune, error)) return false;
  std::string reason;
  if (!writeTuneImage(tune, image, reason)) {
    error = {SourcePos{mainFileOf(path), 0}, reason};
    return false;
  }
  return true;
}

}  // namespace tunesrc
