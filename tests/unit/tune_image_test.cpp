// Tune image layout and parser checks.
#include "player/tune_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/tune_fixtures.h"

namespace {

void put32(std::vector<uint8_t>& v, int32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(uint32_t(x) >> (8 * i)));
}

void set32(std::vector<uint8_t>& v, size_t at, int32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(uint32_t(x) >> (8 * i));
}

// A patch map holding program 0.
std::vector<uint8_t> mapWithPadding() {
  std::vector<uint8_t> map;
  put32(map, 4);
  std::vector<uint8_t> patch = placeholderPatch();
  map.insert(map.end(), patch.begin(), patch.end());
  return map;
}

// An image with no events, assembled by hand so sizes can break the format's limits.
std::vector<uint8_t> eventlessImage(int32_t globalSize, const std::vector<uint8_t>& map,
                                    int32_t textSize, const std::vector<uint8_t>& textBlock) {
  std::vector<uint8_t> v;
  put32(v, 128);  // ticks per quarter
  put32(v, 0);    // length
  put32(v, 0);    // tempo count
  for (int ch = 0; ch < kChannelCount; ++ch) put32(v, 0);
  put32(v, globalSize);
  v.resize(v.size() + size_t(globalSize > 0 ? globalSize : 0), 7);
  put32(v, int32_t(map.size()));
  v.insert(v.end(), map.begin(), map.end());
  put32(v, textSize);
  v.insert(v.end(), textBlock.begin(), textBlock.end());
  return v;
}

ParseResult parse(const std::vector<uint8_t>& image, TuneImage& out,
                  PatchCheck check = PatchCheck::Required) {
  return parseTuneImage(image.data(), image.size(), out, check);
}

bool reasonMentions(const ParseResult& r, const char* word) {
  return std::strstr(r.reason, word) != nullptr;
}

// A tune using every kind of list, two channels, two tempo records and texts.
TuneDescription richTune() {
  TuneDescription t = onePatchTune();
  t.patches.push_back(PatchEntry{3, placeholderPatch(10)});
  t.tempo = {{0, 400000, 3, 4, 8}, {256, 300000, 6, 8, 24}};
  ChannelEvents& a = t.channels[2];
  a.notes = {{0, 60, 100}, {0, 64, 90}, {300, 60, 0}, {300, 64, 0}};
  a.programs = {{0, 3}};
  a.bends = {{10, 0, 64}, {20, 127, 1}};
  a.controllers[0] = {{5, 10}, {6, 20}};
  a.controllers[6] = {{7, 100}};
  t.channels[9].notes = {{100, 36, 127}, {101, 36, 0}};
  t.texts = {"hello", "world"};
  return t;
}

TEST(TuneImageLayout, ListsAreStoredColumnByColumnWithDeltasAndIncrements) {
  TuneDescription t;
  t.tempo = {{0, 371519, 4, 4, 8}};
  t.channels[0].notes = {{0, 60, 100}, {300, 60, 0}};
  std::vector<uint8_t> image = buildImage(t);
  // The tempo record, as the format fixes it: 00 | 00 | 00 | 3F AB 05 00 | 04 | 04 | 08.
  const std::vector<uint8_t> tempo = {0, 0, 0, 0x3F, 0xAB, 0x05, 0x00, 4, 4, 8};
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 12, image.begin() + 22), tempo);
  // Note list after the note count: delta low, mid, high columns, then note
  // and velocity increments. 300 = 0x012C; velocity 100 then +156 wraps to 0.
  const std::vector<uint8_t> notes = {0, 0x2C, 0, 0x01, 0, 0, 60, 0, 100, 156};
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 26, image.begin() + 36), notes);

  TuneImage tune;
  ASSERT_TRUE(parse(image, tune, PatchCheck::Skip));
  EXPECT_EQ(readDelta(tune.channels[0].notes.data + 1, 2), 300);
  const TempoRecord r = readTempoRecord(tune.tempo, 0);
  EXPECT_EQ(r.microsPerQuarter, 371519);
  EXPECT_EQ(r.metreAux, 8);
}

TEST(TuneImageParse, EveryTruncationIsRejectedWithoutReadingPastTheEnd) {
  const std::vector<uint8_t> full = buildImage(richTune());
  TuneImage tune;
  ASSERT_TRUE(parse(full, tune));
  for (size_t n = 0; n < full.size(); ++n) {
    // An exactly sized copy, so a read past the end trips the address sanitizer.
    std::vector<uint8_t> cut(full.begin(), full.begin() + long(n));
    ParseResult r = parseTuneImage(n ? cut.data() : full.data(), n, tune);
    ASSERT_FALSE(r) << "prefix of " << n << " bytes accepted";
    EXPECT_GT(std::strlen(r.reason), 10u);
  }
}

TEST(TuneImageParse, InconsistentFieldsAreRejectedWithAReason) {
  const std::vector<uint8_t> good = buildImage(richTune());
  // Offsets in the rich tune: 12 header bytes, then two 10-byte tempo
  // records, column by column: record i's tempo at 3n + 4i, its metre
  // numerator at 7n + i, its denominator at 8n + i.
  const size_t tempo = 12, n = 2, firstChannel = 32;
  const struct {
    const char* name;
    size_t offset;
    int32_t value;
    int width;  // bytes written
    const char* word;
  } cases[] = {
      {"zero ticks per quarter", 0, 0, 4, "ticks per quarter"},
      {"huge tempo count", 8, 0x7FFFFFFF, 4, "tempo list"},
      {"huge note count", firstChannel + 8, 0x7FFFFFFF, 4, "note list"},
      {"zero microseconds per quarter", tempo + 3 * n, 0, 4, "tempo record 0"},
      {"metre denominator 0", tempo + 8 * n + 1, 0, 1, "tempo record 1"},
      {"bars of zero beats (1/8)", tempo + 7 * n + 1, 1, 1, "tempo record 1"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> image = good;
    if (c.width == 4) {
      set32(image, c.offset, c.value);
    } else {
      image[c.offset] = uint8_t(c.value);
    }
    TuneImage tune;
    ParseResult r = parse(image, tune);
    EXPECT_FALSE(r) << c.name;
    EXPECT_TRUE(reasonMentions(r, c.word)) << c.name << ": " << r.reason;
  }
}

TEST(TuneImageParse, TextTableChecksAndBounds) {
  const std::vector<uint8_t> map = mapWithPadding();
  TuneImage tune;
  auto textBlock = [](int32_t count, std::vector<int32_t> offsets, const std::string& body) {
    std::vector<uint8_t> b;
    put32(b, count);
    for (int32_t o : offsets) put32(b, o);
    b.insert(b.end(), body.begin(), body.end());
    return b;
  };
  // Text 0 ends at its zero byte; text 1 runs to the block's end, which has no zero.
  std::vector<uint8_t> block = textBlock(2, {12, 16}, std::string("abc\0wxyz", 8));
  const std::vector<uint8_t> image = eventlessImage(22, map, int32_t(block.size()), block);
  ParseResult r = parse(image, tune);
  ASSERT_TRUE(r) << r.reason;
  EXPECT_EQ(std::string(tune.textTable[0].text, size_t(tune.textTable[0].length)), "abc");
  EXPECT_EQ(std::string(tune.textTable[1].text, size_t(tune.textTable[1].length)), "wxyz");
  SpeechText first64[kSpeechTextCount];
  fillSpeechTexts(tune, first64);
  EXPECT_EQ(first64[1].text, tune.textTable[1].text);
  EXPECT_EQ(first64[2].text, nullptr);

  struct Case {
    const char* name;
    std::vector<uint8_t> block;
  };
  std::vector<int32_t> many(257, 0);
  const Case cases[] = {
      {"257 texts", textBlock(257, many, "")},
      {"offset past the block", textBlock(1, {99}, "abc")},
      {"block shorter than its count", std::vector<uint8_t>{1, 0}},
  };
  for (const Case& c : cases) {
    r = parse(eventlessImage(22, map, int32_t(c.block.size()), c.block), tune);
    EXPECT_FALSE(r) << c.name;
    EXPECT_TRUE(reasonMentions(r, "text")) << c.name << ": " << r.reason;
  }
  // 256 texts, all empty at the block's very end, are the most there can be.
  block = textBlock(256, std::vector<int32_t>(256, 4 + 4 * 256), "");
  r = parse(eventlessImage(22, map, int32_t(block.size()), block), tune);
  EXPECT_TRUE(r) << r.reason;
  EXPECT_EQ(tune.textCount, 256);
}

TEST(TuneImagePrograms, EverySelectedProgramNeedsAWholePatch) {
  TuneImage tune;
  // Program 0 is selected after initialisation: an empty patch map cannot play.
  TuneDescription none;
  std::vector<uint8_t> image = buildImage(none);
  ParseResult r = parse(image, tune);
  EXPECT_FALSE(r);
  EXPECT_TRUE(reasonMentions(r, "program 0")) << r.reason;
  EXPECT_TRUE(parse(image, tune, PatchCheck::Skip));

  // A program change to 5 with only programs 0 and 3 in the map.
  TuneDescription t = richTune();
  t.channels[9].programs = {{100, 5}};
  image = buildImage(t);
  r = parse(image, tune);
  EXPECT_FALSE(r);
  EXPECT_TRUE(reasonMentions(r, "program 5")) << r.reason;

  // The synthesizer ignores the top bit: 0x83 selects program 3, which exists.
  t.channels[9].programs = {{100, 0x83}};
  image = buildImage(t);
  r = parse(image, tune);
  EXPECT_TRUE(r) << r.reason;

  // A patch whose routes run past the map.
  TuneDescription routes = onePatchTune();
  image = buildImage(routes);
  const size_t routeCount = image.size() - 4 - 90 + kPatchRouteCountOffset;
  image[routeCount] = 2;
  r = parse(image, tune);
  EXPECT_FALSE(r);
  EXPECT_TRUE(reasonMentions(r, "routes")) << r.reason;
}

}  // namespace
