#pragma once
// Off-screen images: 24-bit pixels kept as Colour values, drawn with a flood
// fill and one-pixel lines. Pure data, no window system involved.
#include <cstdint>
#include <vector>

// 24-bit RGB packed in an int as 0x00BBGGRR (red in the low byte).
using Colour = int32_t;

inline constexpr int colourRed(Colour c) {
  return c & 0xFF;
}
inline constexpr int colourGreen(Colour c) {
  return (c >> 8) & 0xFF;
}
inline constexpr int colourBlue(Colour c) {
  return (c >> 16) & 0xFF;
}

struct Image {
  int width = 0;
  int height = 0;
  std::vector<Colour> pixels;  // row-major from the top-left corner
};

// A width x height image, all black. Negative sizes give an empty image.
void setupImage(Image& image, int width, int height);

// Colour of pixel (x, y); 0 (black) outside the image.
Colour pixelAt(const Image& image, int x, int y);

// Repaints the 4-connected region that has the colour of pixel (x, y) with
// `colour`. Nothing happens when (x, y) lies outside the image.
void floodFill(Image& image, int x, int y, Colour colour);

// One-pixel line from (x, y) to (x + dx - 1, y + dy - 1); a negative extent
// ends at x + dx + 1 (y + dy + 1) instead. Both ends are drawn; nothing is
// drawn when dx or dy is 0. Pixels outside the image are skipped.
void drawLine(Image& image, int x, int y, int dx, int dy, Colour colour);
