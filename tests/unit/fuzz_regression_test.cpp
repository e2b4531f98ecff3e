// Hostile input in the ordinary test run: every input the fuzz targets once
// failed on (tests/fuzz-regressions/<target>/) is replayed through the same
// entry points, and random patches, event streams and speech texts must give
// finite samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/entries.h"
#include "synth/synth.h"

namespace {

namespace fs = std::filesystem;
using Check = const char* (*)(const uint8_t*, size_t);

struct Target {
  const char* name;
  Check check;
};

constexpr Target kTargets[] = {
    {"tune_image", fuzzentry::checkTuneImage},   {"pipeline", fuzzentry::checkPipeline},
    {"events", fuzzentry::checkEvents},          {"finite_output", fuzzentry::checkFiniteOutput},
    {"speech_text", fuzzentry::checkSpeechText},
};

std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a generated input; a faulty one is saved where the fuzz target of the
// same name can replay it, and the path is part of the failure message.
std::string replay(const char* target, Check check, const std::vector<uint8_t>& input, int c) {
  const char* fault = check(input.data(), input.size());
  if (!fault) return {};
  const fs::path path =
      fs::temp_directory_path() / (std::string(target) + "-case-" + std::to_string(c));
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size()));
  return std::string(fault) + " (input saved as " + path.string() + ")";
}

TEST(FuzzRegression, KeptInputsReplayWithoutFault) {
  const fs::path root = fs::path(ORB_SOURCE_DIR) / "tests" / "fuzz-regressions";
  int replayed = 0;
  for (const Target& t : kTargets) {
    const fs::path dir = root / t.name;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      const std::vector<uint8_t> bytes = readBytes(entry.path());
      const char* fault = t.check(bytes.data(), bytes.size());
      EXPECT_EQ(fault, nullptr) << t.name << ": " << entry.path().filename() << ": "
                                << (fault ? fault : "");
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0) << "no kept inputs under " << root;
}

// Channel messages of every kind with random data bytes, some of them out of
// range, and now and then a stray byte; lists of a few messages each.
std::vector<uint8_t> randomEvents(std::mt19937& rng, int lists) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> data(0, 127);
  std::vector<uint8_t> out;
  for (int l = 0; l < lists; ++l) {
    const int messages = 1 + byte(rng) % 6;
    for (int m = 0; m < messages; ++m) {
      const int kind = byte(rng) % 8;
      const int channel = byte(rng) % 16;
      out.push_back(uint8_t(0x80 + 16 * kind + channel));
      if (kind == 4 && byte(rng) % 2) out.push_back(uint8_t(0x90 + channel));  // a note after all
      out.push_back(uint8_t(data(rng)));
      out.push_back(uint8_t(byte(rng) % 4 == 0 ? byte(rng) : data(rng)));
      if (byte(rng) % 16 == 0) out.push_back(uint8_t(byte(rng)));
    }
    out.push_back(0xFD);
  }
  return out;
}

// Any patch bytes (0..255, up to 12 routes), any global block and a random
// event stream: every sample of every channel stays finite.
TEST(FiniteOutput, RandomPatchesGlobalsAndEventsGiveFiniteSamples) {
  std::mt19937 rng(0x2016);
  std::uniform_int_distribution<int> byte(0, 255);
  constexpr int kCases = 48;
  for (int c = 0; c < kCases; ++c) {
    const int routes = byte(rng) % 13;
    std::vector<uint8_t> input(kPatchHeaderSize + kRouteSize * routes + kGlobalParamCount);
    for (uint8_t& b : input) b = uint8_t(byte(rng));
    input[kPatchRouteCount] = uint8_t(routes);
    input[kPatchPolyphony] = uint8_t(1 + byte(rng) % 16);
    const std::vector<uint8_t> events = randomEvents(rng, 48);
    input.insert(input.end(), events.begin(), events.end());
    ASSERT_EQ(replay("finite_output", fuzzentry::checkFiniteOutput, input, c), "");
  }
}

// The speech reader on texts of every byte value: nothing is read past a
// text, digit runs saturate and the song stays finite.
TEST(FiniteOutput, SpeechTextsOfRandomBytes) {
  std::mt19937 rng(0x5EEC);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int c = 0; c < 32; ++c) {
    std::vector<uint8_t> input(2 + byte(rng) % 48);
    for (uint8_t& b : input) b = uint8_t(byte(rng));
    if (c % 4 == 0) std::fill(input.begin() + 2, input.end() - 1, uint8_t('9'));
    ASSERT_EQ(replay("speech_text", fuzzentry::checkSpeechText, input, c), "");
  }
}

}  // namespace
