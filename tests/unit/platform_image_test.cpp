// Off-screen image drawing: flood fill regions and lines clipped at the edges.
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

  // No leak through a diagonal gap: only the triangle above the anti-diagonal
  // from (0, 5) to (5, 0), 15 pixels.
  image = blank(6, 6);
  drawLine(image, 0, 5, 6, -6, kRed);
  floodFill(image, 0, 0, kGrey);
  EXPECT_EQ(pixelsOf(image, kGrey).size(), 15u);
  EXPECT_EQ(pixelAt(image, 5, 5), 0);

  // A large image fills whole (no recursion that runs out of stack).
  image = blank(1024, 1024);
  floodFill(image, 512, 512, kGrey);
  EXPECT_EQ(pixelsOf(image, kGrey).size(), 1024u * 1024u);
}

TEST(ImageTest, LinesAreClippedAtTheImageEdges) {
  Image image = blank(10, 10);
  drawLine(image, -5, -5, 20, 20, kRed);  // (-5, -5) to (14, 14)
  EXPECT_EQ(pixelsOf(image, kRed).size(), 10u);
  EXPECT_EQ(pixelAt(image, 0, 0), kRed);
  EXPECT_EQ(pixelAt(image, 9, 9), kRed);
}

}  // namespace
