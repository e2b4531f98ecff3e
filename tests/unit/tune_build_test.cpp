// The tune source compiler: the demo's source builds into exactly the image
// the demo embeds and is a whole looping piece; the score notation lands on
// the ticks and values it promises; errors name file and line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "player/sequencer.h"
#include "player/synth_sink.h"
#include "support/patch_builder.h"
#include "support/tune_fixtures.h"
#include "synth/synth.h"
#include "tools/tunesrc/compile.h"

extern const unsigned char kTuneImage[];
extern const unsigned long kTuneImage_size;

namespace {

namespace fs = std::filesystem;
using tunesrc::BuildError;

const std::string kDemoSource = std::string(ORB_SOURCE_DIR) + "/assets/tune";

// A folder of source files that disappears with the test.
class SourceTree {
 public:
  SourceTree() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ =
        fs::temp_directory_path() / ("tunesrc-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~SourceTree() { fs::remove_all(dir_); }
  std::string write(const std::string& name, const std::string& text) const {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
    return path.string();
  }
  std::string root() const { return dir_.string(); }

 private:
  fs::path dir_;
};

// One patch at program 0 and channel `a` (0) playing it.
const std::string kPrelude =
    "patch p program=0\n"
    "end\n"
    "channel a 0 program=p\n";

TuneDescription compile(const std::string& main, BuildError* error = nullptr) {
  SourceTree tree;
  tree.write("main.tune", main);
  TuneDescription tune;
  BuildError e;
  const bool ok = tunesrc::compileTuneSource(tree.root(), tune, e);
  if (error) {
    *error = e;
  } else {
    EXPECT_TRUE(ok) << e.text();
  }
  return tune;
}

struct Note {
  int32_t tick;
  int note;
  int velocity;
  bool operator==(const Note&) const = default;
};

std::vector<Note> notesOf(const ChannelEvents& ch) {
  std::vector<Note> out;
  for (const NoteEvent& n : ch.notes) out.push_back({n.tick, n.note, n.velocity});
  return out;
}

// --- the demo tune -----------------------------------------------------------

TEST(DemoTune, EmbeddedImageIsWhatTheSourceBuilds) {
  std::vector<uint8_t> fresh;
  BuildError error;
  ASSERT_TRUE(tunesrc::buildTuneImage(kDemoSource, fresh, error)) << error.text();
  ASSERT_EQ(fresh.size(), size_t(kTuneImage_size));
  EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), kTuneImage));
}

TEST(DemoTune, IsAWholeLoopingPieceWhoseWordsStayOnTheirNotes) {
  TuneDescription tune;
  BuildError error;
  ASSERT_TRUE(tunesrc::compileTuneSource(kDemoSource, tune, error)) << error.text();
  int playing = 0;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    // Every note that starts also ends: nothing hangs into the repeat.
    std::map<int, int> held;
    for (const NoteEvent& n : tune.channels[size_t(ch)].notes) held[n.note] += n.velocity ? 1 : -1;
    for (const auto& [note, count] : held)
      EXPECT_EQ(count, 0) << "channel " << ch << " note " << note;
    playing += !tune.channels[size_t(ch)].notes.empty();
  }
  EXPECT_GE(playing, 8);

  // 2½ to 4 minutes, ending on the last tick, which is a bar line.
  SynthSink sink;
  const std::unique_ptr<LoadedTune> loaded = loadTune(tune, &sink);
  const TuneLength length = measureTune(*loaded->player);
  ASSERT_TRUE(length.ok);
  EXPECT_GE(length.lengthMs, 150000);
  EXPECT_LE(length.lengthMs, 240000);
  EXPECT_EQ(length.lastTick, tune.lengthTicks);
  EXPECT_EQ(tune.lengthTicks % (tune.ticksPerQuarter * 4), 0);

  // The sung text waits for one note per syllable: the speech channel plays
  // whole phrases, so the words stay on their notes through every repeat.
  ASSERT_FALSE(tune.texts.empty());
  const auto syllables = std::count(tune.texts[0].begin(), tune.texts[0].end(), '!');
  ASSERT_GT(syllables, 0);
  const auto& sung = tune.channels[kSpeechChannel].notes;
  const auto starts = std::count_if(sung.begin(), sung.end(), [](auto& n) { return n.velocity; });
  EXPECT_GT(starts, 0);
  EXPECT_EQ(starts % syllables, 0);
}

// --- score notation ----------------------------------------------------------

// The prelude, pattern x (its text from "pattern x" on) and a song of one
// section of `bars` bars that plays `arrangement` on channel a.
TuneDescription compileSong(const std::string& pattern, int bars = 1,
                            const std::string& arrangement = "x") {
  return compile(kPrelude + pattern + "end\nsong\n  section s bars=" + std::to_string(bars) +
                 "\n    a " + arrangement + "\nend\n");
}

TEST(Score, NotesLandOnTheirTicks) {
  // 96 ticks per quarter: an eighth is 48, a triplet eighth 32.
  const struct {
    const char* what;
    const char* pattern;
    int bars;
    const char* arrangement;
    bool onsOnly;
    std::vector<Note> notes;
  } cases[] = {
      // clang-format off
      {"lengths, gate, ties, chords and velocities",
       "pattern x\n  notes /8 gate=50 a1 c3+e3/4 - d3@70/8 /8t g3 g3 g3\n", 1, "x", false,
       // a1 = 55 Hz; the chord tied over two quarters.
       {{0, 45, 100}, {24, 45, 0}, {48, 60, 100}, {48, 64, 100}, {144, 60, 0}, {144, 64, 0},
        {240, 62, 70}, {264, 62, 0}, {288, 67, 100}, {304, 67, 0}, {320, 67, 100}, {336, 67, 0},
        {352, 67, 100}, {368, 67, 0}}},
      // Only the whole note fits the one-bar section; it ends with the section.
      {"notes past the bar are cut", "pattern x bars=2\n  notes /1 c3 /4 d3 /8t e3 e3 e3 f3/2\n",
       1, "x", false, {{0, 60, 100}, {345, 60, 0}}},
      // The old note ends before the same key starts again at the same tick.
      {"repeated pitch", "pattern x\n  notes /4 gate=100 c3 c3 c3 c3\n", 1, "x", false,
       {{0, 60, 100}, {96, 60, 0}, {96, 60, 100}, {192, 60, 0}, {192, 60, 100}, {288, 60, 0},
        {288, 60, 100}, {384, 60, 0}}},
      // x+2, x+2, a silent bar, x-12, and the list starts again for bar five.
      {"transposition, repeats, filling", "pattern x\n  notes /1 gate=100 a2\n", 5,
       "x+2*2 rest x-12", true, {{0, 59, 100}, {384, 59, 100}, {1152, 45, 100}, {1536, 59, 100}}},
      {"grid steps and levels", "pattern x\n  grid c2 /16 @90 x.X. o..9 ....  ....\n", 1, "x",
       true, {{0, 48, 90}, {48, 48, 127}, {96, 48, 60}, {168, 48, 127}}},
      // clang-format on
  };
  for (const auto& c : cases) {
    const TuneDescription t = compileSong(c.pattern, c.bars, c.arrangement);
    std::vector<Note> got;
    for (const Note& n : notesOf(t.channels[0]))
      if (n.velocity || !c.onsOnly) got.push_back(n);
    EXPECT_EQ(got, c.notes) << c.what;
    EXPECT_EQ(t.lengthTicks, 384 * c.bars) << c.what;
  }
}

TEST(Score, TempoMetreAndTheLastTick) {
  const TuneDescription t = compile(kPrelude +
                                    "pattern x\n  notes /4 c3\nend\n"
                                    "pattern w beats=3\n  notes /4 c3 d3 e3\nend\n"
                                    "song\n"
                                    "  tempo 124\n"
                                    "  section a bars=2\n    a x\n"
                                    "  tempo 90\n  metre 3/4\n"
                                    "  section b bars=2\n    a w rest\n"
                                    "end\n");
  ASSERT_EQ(t.tempo.size(), 2u);
  EXPECT_EQ(t.tempo[0].tick, 0);
  EXPECT_EQ(t.tempo[0].microsPerQuarter, 483871);  // 60,000,000 / 124, rounded
  EXPECT_EQ(t.tempo[1].tick, 768);
  EXPECT_EQ(t.tempo[1].microsPerQuarter, 666667);
  EXPECT_EQ(t.tempo[1].metreNumerator, 3);
  EXPECT_EQ(t.tempo[1].metreDenominator, 4);
  EXPECT_EQ(t.lengthTicks, 768 + 2 * 288);
  // The last bar is silent, so a controller 7 record marks the tune's end
  // without changing its value.
  const auto& marker = t.channels[0].controllers[6];
  ASSERT_EQ(marker.size(), 1u);
  EXPECT_EQ(marker[0].tick, t.lengthTicks);
  EXPECT_EQ(marker[0].value, 127);
}

// --- errors --------------------------------------------------------------------

struct BadSource {
  const char* what;
  const char* main;
  const char* bank;  // written as patches/bank.patch when not null
  const char* file;  // "main.tune" or "patches/bank.patch"
  int line;
  const char* message;
};

const BadSource kBadSources[] = {
    {"unknown parameter in an included patch", "include patches/bank.patch\n",
     "patch a program=0\n  osc1 level=5\n  osc1 volume=3\nend\n", "patches/bank.patch", 3,
     "unknown patch parameter 'osc1.volume'"},
    {"pattern longer than its bars",
     "patch a program=0\nend\nchannel a 0\npattern x\n  notes /1 c3 d3\nend\n"
     "song\n  section s bars=4\n    a x\nend\n",
     nullptr, "main.tune", 9, "ticks long here"},
    {"program without a patch",
     "patch a program=0\nend\nchannel a 0\npattern x\n  notes prog=9 /1 c3\nend\n"
     "song\n  section s bars=1\n    a x\nend\n",
     nullptr, "main.tune", 3, "program 9"},
    {"include loop", "include patches/bank.patch\n", "include ../main.tune\n", "patches/bank.patch",
     1, "includes itself"},
};

TEST(BuildErrors, NameTheFileAndLine) {
  for (const BadSource& bad : kBadSources) {
    SCOPED_TRACE(bad.what);
    SourceTree tree;
    tree.write("main.tune", bad.main);
    if (bad.bank) tree.write("patches/bank.patch", bad.bank);
    std::vector<uint8_t> image;
    BuildError error;
    EXPECT_FALSE(tunesrc::buildTuneImage(tree.root(), image, error));
    EXPECT_EQ(fs::path(error.pos.file).lexically_normal(),
              (fs::path(tree.root()) / bad.file).lexically_normal());
    EXPECT_EQ(error.pos.line, bad.line);
    EXPECT_NE(error.message.find(bad.message), std::string::npos) << error.message;
    const std::string prefix = error.pos.file + ":" + std::to_string(bad.line) + ": ";
    EXPECT_EQ(error.text().rfind(prefix, 0), 0u) << error.text();
  }
}

}  // namespace
