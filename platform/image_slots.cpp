#include "platform/image_slots.h"

#include "platform/image.h"

namespace {

bool validNumber(int32_t number, int limit) {
  return number >= 0 && number < limit;
}

}  // namespace

bool createImage(Platform& platform, int32_t number, int32_t width, int32_t height) {
  if (!validNumber(number, Platform::kMaxImages) || width <= 0 || height <= 0) return false;
  ImageRecord& record = platform.images[number];
  record.exists = true;
  setupImage(record.image, width, height);
  redrawControlsShowing(platform, number);
  return true;
}

bool beginImageDrawing(Platform& platform, int32_t image) {
  if (!imageOf(platform, image)) return false;
  platform.drawingImage = image;
  return true;
}

void endImageDrawing(Platform& platform, int32_t image) {
  if (platform.drawingImage != image) return;
  platform.drawingImage = -1;
  redrawControlsShowing(platform, image);
}

void floodFill(Platform& platform, int32_t x, int32_t y, Colour colour) {
  if (!imageOf(platform, platform.drawingImage)) return;
  floodFill(platform.images[platform.drawingImage].image, x, y, colour);
}

void drawLine(Platform& platform, int32_t x, int32_t y, int32_t dx, int32_t dy, Colour colour) {
  if (!imageOf(platform, platform.drawingImage)) return;
  drawLine(platform.images[platform.drawingImage].image, x, y, dx, dy, colour);
}

const Image* imageOf(const Platform& platform, int32_t image) {
  if (!validNumber(image, Platform::kMaxImages) || !platform.images[image].exists) return nullptr;
  return &platform.images[image].image;
}
