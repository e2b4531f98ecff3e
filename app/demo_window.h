#pragma once
// The DemoWindow: a borderless, dark 1024 x 480 window with a 32-pixel title
// strip (label left, close button right) and the GL surface below it, inside
// a one-pixel margin. Also the CloseGlyph the close button shows.
#include <cstdint>

#include "app/demo_state.h"
#include "platform/platform.h"

// Object numbers; the main loop knows the close button by its number.
inline constexpr int32_t kDemoWindow = 0;
inline constexpr int32_t kGlSurface = 0;
inline constexpr int32_t kCloseButton = 4;
inline constexpr int32_t kTitleLabel = 5;
inline constexpr int32_t kCloseGlyph = 3;
inline constexpr int32_t kLabelFont = 6;

inline constexpr int32_t kDemoWidth = 1024;
inline constexpr int32_t kDemoHeight = 480;
inline constexpr int32_t kCloseGlyphSize = 30;

inline constexpr Colour kBackgroundColour = 0x151312;  // red 18, green 19, blue 21
inline constexpr Colour kForegroundColour = 0x5F5F5F;  // grey 95

inline constexpr const char* kTitleText = "  GLSL Shader Demo: orb 2k16";
inline constexpr const char* kLabelFace = "Microsoft Sans Serif";
inline constexpr int32_t kLabelPoints = 10;

// Image kCloseGlyph: a dark cross, 18 pixels along each diagonal, centred in
// a grey 30 x 30 square.
void drawCloseGlyph(Platform& platform);

// Opens the window hidden and creates its controls. False when the window or
// the GL surface cannot be made; a missing font only leaves the label empty.
bool buildDemoWindow(DemoState& demo, Platform& platform);
