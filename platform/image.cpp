#include "platform/image.h"

#include <cstdlib>
#include <utility>

namespace {

bool inside(const Image& image, int x, int y) {
  return x >= 0 && y >= 0 && x < image.width && y < image.height;
}

// Last coordinate covered by an extent: one short of start + extent, on the
// side the extent points to.
int lineEnd(int start, int extent) {
  return extent > 0 ? start + extent - 1 : start + extent + 1;
}

}  // namespace

void setupImage(Image& image, int width, int height) {
  if (width < 0 || height < 0) width = height = 0;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
}

Colour pixelAt(const Image& image, int x, int y) {
  if (!inside(image, x, y)) return 0;
  return image.pixels[static_cast<size_t>(y) * image.width + x];
}

void floodFill(Image& image, int x, int y, Colour colour) {
  if (!inside(image, x, y)) return;
  const Colour target = pixelAt(image, x, y);
  if (target == colour) return;  // already filled; repainting would never end
  // Explicit stack of pixels still to visit, so large regions cannot exhaust
  // the call stack.
  std::vector<std::pair<int, int>> pending{{x, y}};
  while (!pending.empty()) {
    auto [px, py] = pending.back();
    pending.pop_back();
    if (!inside(image, px, py)) continue;
    Colour& pixel = image.pixels[static_cast<size_t>(py) * image.width + px];
    if (pixel != target) continue;
    pixel = colour;
    pending.emplace_back(px + 1, py);
    pending.emplace_back(px - 1, py);
    pending.emplace_back(px, py + 1);
    pending.emplace_back(px, py - 1);
  }
}

void drawLine(Image& image, int x, int y, int dx, int dy, Colour colour) {
  if (dx == 0 || dy == 0) return;
  const int x1 = lineEnd(x, dx);
  const int y1 = lineEnd(y, dy);
  // Integer Bresenham over the inclusive span from (x, y) to (x1, y1).
  const int ax = std::abs(x1 - x);
  const int ay = std::abs(y1 - y);
  const int sx = x1 >= x ? 1 : -1;
  const int sy = y1 >= y ? 1 : -1;
  int error = ax - ay;
  int px = x;
  int py = y;
  for (;;) {
    if (inside(image, px, py)) image.pixels[static_cast<size_t>(py) * image.width + px] = colour;
    if (px == x1 && py == y1) break;
    const int twice = 2 * error;
    if (twice > -ay) {
      error -= ay;
      px += sx;
    }
    if (twice < ax) {
      error += ax;
      py += sy;
    }
  }
}
