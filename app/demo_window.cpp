#include "app/demo_window.h"

void drawCloseGlyph(Platform& platform) {
  createImage(platform, kCloseGlyph, kCloseGlyphSize, kCloseGlyphSize);
  beginImageDrawing(platform, kCloseGlyph);
  floodFill(platform, 1, 1, kForegroundColour);
  drawLine(platform, 6, 23, 18, -18, kBackgroundColour);  // (6, 23) to (23, 6)
  drawLine(platform, 6, 6, 18, 18, kBackgroundColour);    // (6, 6) to (23, 23)
  endImageDrawing(platform, kCloseGlyph);
}

bool buildDemoWindow(DemoState& demo, Platform& platform) {
  demo.windowWidth = demo.resolutionWidth = kDemoWidth;
  demo.windowHeight = demo.resolutionHeight = kDemoHeight;
  if (!openWindow(platform, kDemoWindow, 0, 0, demo.windowWidth, demo.windowHeight, "",
                  kWindowBorderless | kWindowCentred | kWindowHidden)) {
    return false;
  }
  setWindowColour(platform, kDemoWindow, kBackgroundColour);
  // Every x is taken from the inner width, so the button keeps to the right
  // edge and the surface spans the width whatever the width is.
  const int32_t w = windowInnerWidth(platform, kDemoWindow);
  createImageButton(platform, kCloseButton, w - 31, 1, kCloseGlyphSize, kCloseGlyphSize,
                    kCloseGlyph);
  if (!createGlSurface(platform, kGlSurface, w - 1023, 32, 1022, 447, kSurfaceKeyboard)) {
    return false;
  }
  createTextLabel(platform, kTitleLabel, w - 1013, 1, 567, 28, kTitleText, kLabelVerticalCentre);
  createFont(platform, kLabelFont, kLabelFace, kLabelPoints, kFontHighQuality);
  setControlFont(platform, kTitleLabel, kLabelFont);
  setControlColour(platform, kTitleLabel, ControlColour::Background, kBackgroundColour);
  setControlColour(platform, kTitleLabel, ControlColour::Text, kForegroundColour);
  return true;
}
