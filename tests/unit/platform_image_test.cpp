// Off-screen image drawing: flood fill regions and the exact pixels of lines,
// including negative extents, and the close button's glyph built from them.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "app/demo_window.h"
#include "platform/image.h"
#include "platform/platform.h"

namespace {

constexpr Colour kRed = 0x0000FF;
constexpr Colour kGrey = 0x5F5F5F;
constexpr Colour kDark = 0x151312;

using Pixels = std::set<std::pair<int, int>>;

Pixels pixelsOf(const Image& image, Colour colour) {
  Pixels out;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (pixelAt(image, x, y) == colour) out.insert({x, y});
    }
  }
  return out;
}

Image blank(int w, int h) {
  Image image;
  setupImage(image, w, h);
  return image;
}

TEST(ImageTest, FloodFillRepaintsTheConnectedRegionOnly) {
  Image image = blank(10, 10);
  // A closed vertical wall at x = 4 splits the image in two.
  drawLine(image, 4, 0, 1, 10, kRed);
  floodFill(image, 1, 1, kGrey);
  EXPECT_EQ(pixelsOf(image, kGrey).size(), 40u);  // columns 0..3
  EXPECT_EQ(pixelAt(image, 5, 5), 0);
  EXPECT_EQ(pixelsOf(image, kRed).size(), 10u);
  // Filling the wall itself recolours exactly the wall.
  floodFill(image, 4, 9, kDark);
  EXPECT_EQ(pixelsOf(image, kDark).size(), 10u);
}

TEST(ImageTest, FloodFillDoesNotLeakThroughDiagonalGaps) {
  Image image = blank(6, 6);
  drawLine(image, 0, 5, 6, -6, kRed);  // anti-diagonal from (0, 5) to (5, 0)
  floodFill(image, 0, 0, kGrey);
  // Only the triangle above the diagonal: 15 pixels.
  EXPECT_EQ(pixelsOf(image, kGrey).size(), 15u);
  EXPECT_EQ(pixelAt(image, 5, 5), 0);
}

TEST(ImageTest, FloodFillCoversALargeImage) {
  Image image = blank(1024, 1024);
  floodFill(image, 512, 512, kGrey);
  EXPECT_EQ(pixelsOf(image, kGrey).size(), 1024u * 1024u);
}

TEST(ImageTest, NegativeExtentEndsOneShortTowardsTheStart) {
  Image image = blank(30, 30);
  drawLine(image, 6, 23, 18, -18, kRed);  // to (23, 6)
  Pixels expected;
  for (int i = 0; i < 18; ++i) expected.insert({6 + i, 23 - i});
  EXPECT_EQ(pixelsOf(image, kRed), expected);

  Image both = blank(30, 30);
  drawLine(both, 20, 20, -5, -3, kRed);  // to (16, 18)
  const Pixels drawn = pixelsOf(both, kRed);
  EXPECT_EQ(drawn.size(), 5u);
  EXPECT_TRUE(drawn.count({20, 20}));
  EXPECT_TRUE(drawn.count({16, 18}));
  EXPECT_FALSE(drawn.count({15, 17}));
}

TEST(ImageTest, ShallowAndSteepLinesAreUnbrokenWithBothEnds) {
  Image image = blank(40, 40);
  drawLine(image, 2, 3, 30, 8, kRed);  // (2, 3) to (31, 10)
  const Pixels drawn = pixelsOf(image, kRed);
  EXPECT_EQ(drawn.size(), 30u);  // one pixel per column
  EXPECT_TRUE(drawn.count({2, 3}));
  EXPECT_TRUE(drawn.count({31, 10}));
  for (int x = 2; x <= 31; ++x) {
    int inColumn = 0;
    for (int y = 0; y < 40; ++y) inColumn += drawn.count({x, y});
    EXPECT_EQ(inColumn, 1) << "column " << x;
  }
  Image steep = blank(40, 40);
  drawLine(steep, 10, 30, -3, -21, kRed);  // (10, 30) to (8, 10)
  const Pixels steepDrawn = pixelsOf(steep, kRed);
  EXPECT_EQ(steepDrawn.size(), 21u);  // one pixel per row
  EXPECT_TRUE(steepDrawn.count({10, 30}));
  EXPECT_TRUE(steepDrawn.count({8, 10}));
}

TEST(ImageTest, LinesAreClippedAtTheImageEdges) {
  Image image = blank(10, 10);
  drawLine(image, -5, -5, 20, 20, kRed);  // (-5, -5) to (14, 14)
  EXPECT_EQ(pixelsOf(image, kRed).size(), 10u);
  EXPECT_EQ(pixelAt(image, 0, 0), kRed);
  EXPECT_EQ(pixelAt(image, 9, 9), kRed);
}

TEST(CloseGlyphTest, DarkCrossOnGrey) {
  Platform platform;
  drawCloseGlyph(platform);
  const Image* glyph = imageOf(platform, kCloseGlyph);
  ASSERT_NE(glyph, nullptr);
  ASSERT_EQ(glyph->width, 30);
  ASSERT_EQ(glyph->height, 30);
  for (auto [x, y] : {std::pair{6, 6}, {23, 23}, {6, 23}, {23, 6}, {15, 15}, {14, 15}}) {
    EXPECT_EQ(pixelAt(*glyph, x, y), kBackgroundColour) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{0, 0}, {5, 5}, {24, 24}, {15, 16}, {29, 29}}) {
    EXPECT_EQ(pixelAt(*glyph, x, y), kForegroundColour) << x << "," << y;
  }
  // Two diagonals of 18 pixels that do not share a pixel; the rest is grey.
  EXPECT_EQ(pixelsOf(*glyph, kBackgroundColour).size(), 36u);
  EXPECT_EQ(pixelsOf(*glyph, kForegroundColour).size(), 900u - 36u);
}

}  // namespace
