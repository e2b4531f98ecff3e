#pragma once
// The SDL2 back end's state record (included by platform/platform.h): SDL
// windows, controls composited into the window by GL blits, SDL2_ttf fonts.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gl_functions.h"

struct SDL_Window;
struct _TTF_Font;

struct WindowRecord {
  SDL_Window* sdl = nullptr;
  uint32_t sdlId = 0;
  int32_t innerWidth = 0;
  int32_t innerHeight = 0;
  Colour background = kSystemFaceColour;
};

struct Control {
  ControlKind kind = ControlKind::None;
  int32_t window = -1;
  Rect box;
  uint32_t options = 0;
  // Label.
  std::string text;  // 8-bit (Latin-1) text, shown as it is
  int32_t font = -1;
  Colour textColour = 0;
  Colour backColour = kSystemFaceColour;
  // Button.
  int32_t image = -1;
  // Composited content: RGBA rows from the top, uploaded to `texture` on the
  // next swap when `dirty` (labels and buttons only).
  std::vector<uint8_t> pixels;
  bool dirty = false;
  uint32_t texture = 0;      // GL names: 0 until made
  uint32_t framebuffer = 0;  // read framebuffer for compositing, or the surface's own
  uint32_t colourBuffer = 0;
  uint32_t depthBuffer = 0;
};

struct FontRecord {
  _TTF_Font* ttf = nullptr;  // null when no face could be opened
  int32_t pixelHeight = 0;
};

struct ImageRecord {
  bool exists = false;
  Image image;
};

struct Platform {
  static constexpr int kMaxWindows = 4;
  static constexpr int kMaxControls = 16;
  static constexpr int kMaxImages = 16;
  static constexpr int kMaxFonts = 16;

  bool videoReady = false;
  bool ttfReady = false;
  std::array<WindowRecord, kMaxWindows> windows{};
  std::array<Control, kMaxControls> controls{};
  std::array<ImageRecord, kMaxImages> images{};
  std::array<FontRecord, kMaxFonts> fonts{};
  int32_t lastWindow = -1;    // controls are created inside the window opened last
  int32_t drawingImage = -1;  // image between begin/endImageDrawing

  EventQueue queue;
  Event current;
  EventHook hook = nullptr;
  int32_t pressedControl = -1;  // control that took the left-button press
  int32_t focusControl = -1;    // control holding the keyboard focus

  ClockState clock;

  // The one GL context, made with the surface and current for its life.
  void* glContext = nullptr;
  GlFunctions gl{};
  int32_t surfaceControl = -1;
  bool swapIntervalSet = false;

  std::string failure;  // why initPlatform failed, one line
};
