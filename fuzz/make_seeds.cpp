// Writes the seed corpus of the fuzz targets from the test tunes.
// Usage: make_seeds OUT_DIR [IMAGE...]
//
// The given images (the demo's tune and any other) and two tunes written here
// (one that uses every list, tempo changes and texts; one that sings) become
// seeds of the image targets; the event lists the sequencer delivers for them
// become seeds of the event targets; their texts seed the speech target.
// Every seed lands in OUT_DIR/<target>/.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/entries.h"
#include "player/sequencer.h"
#include "player/tune_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxSeedLists = 192;  // event lists per seed
constexpr uint8_t kSpeechSpeed = 3;    // controller 4 = 63 + 3
constexpr uint8_t kNeutralFormant = 64;

using Bytes = std::vector<uint8_t>;

// Keeps every event list the sequencer hands over, up to a limit.
class ListRecorder final : public SequencerSink {
 public:
  void start(const TuneImage&, int) override {}
  void processEvents(const uint8_t* list) override {
    if (lists_ >= kMaxSeedLists) return;
    for (int i = 0; i < kEventListCapacity; ++i) {
      bytes_.push_back(list[i]);
      if (list[i] == kEventListEnd) break;
    }
    ++lists_;
  }
  void render(float*, int) override {}
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  size_t lists_ = 0;
};

bool writeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return out.good();
}

bool readFile(const char* path, Bytes& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// The bytes of each program of the fixed patch map, as their own patches.
std::vector<Bytes> fixedPatches() {
  const Bytes map = fuzzentry::fixedPatchMap();
  std::vector<Bytes> patches;
  for (int program = 0; program < 4; ++program) {
    const size_t at = size_t(map[4 * program]) | size_t(map[4 * program + 1]) << 8 |
                      size_t(map[4 * program + 2]) << 16 | size_t(map[4 * program + 3]) << 24;
    const size_t length = kPatchHeaderSize + kRouteSize * size_t(map[at + kPatchRouteCount]);
    patches.emplace_back(map.begin() + long(at), map.begin() + long(at + length));
  }
  return patches;
}

// Every kind of list on three channels, two tempo changes with metres, four
// programs and three texts sung on channel 15.
TuneDescription featureTune() {
  TuneDescription tune;
  tune.ticksPerQuarter = 96;
  tune.global = fuzzentry::busyGlobals();
  const std::vector<Bytes> patches = fixedPatches();
  for (int p = 0; p < 4; ++p) tune.patches.push_back(PatchEntry{p, patches[size_t(p)]});
  tune.tempo.push_back(TempoEvent{0, 500000, 4, 4, 8});
  tune.tempo.push_back(TempoEvent{384, 375000, 3, 4, 8});
  tune.tempo.push_back(TempoEvent{768, 600000, 6, 8, 8});
  for (int ch : {0, 1, kSpeechChannel}) {
    ChannelEvents& c = tune.channels[size_t(ch)];
    for (int i = 0; i < 16; ++i) {
      const int32_t tick = 48 * i + 4 * ch;
      const auto note = uint8_t(36 + (7 * i + 5 * ch) % 48);
      c.notes.push_back(NoteEvent{tick, note, uint8_t(40 + 5 * i)});
      c.notes.push_back(NoteEvent{tick + 40, note, 0});
    }
    for (int i = 0; i < 4; ++i) c.programs.push_back(ProgramEvent{192 * i, uint8_t((i + ch) % 4)});
    for (int i = 0; i < 8; ++i) {
      c.bends.push_back(BendEvent{96 * i + 10, uint8_t(16 * i), uint8_t(32 + 8 * i)});
    }
    for (int k = 0; k < kControllerListCount; ++k) {
      for (int i = 0; i < 4; ++i) {
        c.controllers[size_t(k)].push_back(
            ControllerEvent{200 * i + k, uint8_t((37 * i + 11 * k) % 128)});
      }
    }
  }
  tune.texts = {"!hEH_l !OW_ wER_ld", "3AA12EE 99oo", "_sIH ng!"};
  return tune;
}

// A plain sawtooth voice singing one text in step with its notes.
TuneDescription singingTune() {
  TuneDescription tune;
  tune.ticksPerQuarter = 128;
  Bytes voice = fuzzentry::plainPatchBytes();
  voice[2] = 1;  // a bright oscillator shape: rich vocal cords
  voice[2 + 4] = 0;
  tune.patches.push_back(PatchEntry{0, voice});
  tune.global = fuzzentry::busyGlobals();
  tune.tempo.push_back(TempoEvent{0, 500000});
  const int32_t on[] = {64, 256, 448, 768};
  for (int32_t t : on) {
    tune.channels[kSpeechChannel].notes.push_back(NoteEvent{t, 45, 100});
    tune.channels[kSpeechChannel].notes.push_back(NoteEvent{t + 96, 45, 0});
  }
  tune.lengthTicks = 960;
  tune.texts = {"!DHAX_ !kwIH_k !br4AH_UHn !fAA_ks !"};
  return tune;
}

Bytes eventListsOf(const Bytes& image) {
  auto player = std::make_unique<PlayerState>();
  ListRecorder recorder;
  if (!parseTuneImage(image.data(), image.size(), player->tune, PatchCheck::Skip)) return {};
  player->sink = &recorder;
  resetSequencer(*player);
  measureTune(*player);
  return recorder.bytes();
}

Bytes speechSeed(const std::string& text) {
  Bytes seed{kSpeechSpeed, kNeutralFormant};
  seed.insert(seed.end(), text.begin(), text.end());
  return seed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds OUT_DIR [IMAGE...]\n");
    return 2;
  }
  const fs::path out = argv[1];
  for (const char* target : {"tune_image", "pipeline", "events", "finite_output", "speech_text"}) {
    fs::create_directories(out / target);
  }

  std::vector<Bytes> images;
  std::vector<std::string> texts;
  for (int i = 2; i < argc; ++i) {
    Bytes image;
    if (!readFile(argv[i], image)) {
      std::fprintf(stderr, "make_seeds: cannot read '%s'\n", argv[i]);
      return 1;
    }
    images.push_back(image);
  }
  for (const TuneDescription& tune : {featureTune(), singingTune()}) {
    Bytes image;
    std::string error;
    if (!writeTuneImage(tune, image, error)) {
      std::fprintf(stderr, "make_seeds: %s\n", error.c_str());
      return 1;
    }
    images.push_back(image);
    texts.insert(texts.end(), tune.texts.begin(), tune.texts.end());
  }
  texts.push_back("12345678901234567890123456789012345678AA");  // a saturating multiplier
  texts.push_back("9");                                         // digits alone

  const std::vector<Bytes> patches = fixedPatches();
  const Bytes globals = fuzzentry::busyGlobals();
  int written = 0;
  bool ok = true;
  for (size_t i = 0; i < images.size(); ++i) {
    const std::string name = "seed-" + std::to_string(i);
    ok = ok && writeFile(out / "tune_image" / name, images[i]);
    ok = ok && writeFile(out / "pipeline" / name, images[i]);
    const Bytes events = eventListsOf(images[i]);
    if (events.empty()) continue;
    ok = ok && writeFile(out / "events" / name, events);
    // Each patch with this tune's events, all through one program.
    for (size_t p = 0; p < patches.size(); ++p) {
      Bytes seed = patches[p];
      seed.insert(seed.end(), globals.begin(), globals.end());
      seed.insert(seed.end(), events.begin(), events.end());
      ok = ok && writeFile(out / "finite_output" / (name + "-" + std::to_string(p)), seed);
      ++written;
    }
    written += 3;
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    ok = ok && writeFile(out / "speech_text" / ("seed-" + std::to_string(i)), speechSeed(texts[i]));
    ++written;
  }
  if (!ok) {
    std::fprintf(stderr, "make_seeds: cannot write under '%s'\n", argv[1]);
    return 1;
  }
  std::printf("%d seeds in %s\n", written, argv[1]);
  return 0;
}
