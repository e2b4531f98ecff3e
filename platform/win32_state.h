#pragma once
// The Win32 back end's state record (included by platform/platform.h): system
// windows for the window and each control, GDI fonts and brushes, the WGL
// context of the surface. Handles are kept untyped so that the system headers
// stay out of the program's sources; platform/win32_*.cpp cast them back.
#include <array>
#include <cstdint>
#include <string>

struct WindowRecord {
  void* hwnd = nullptr;  // HWND
  int32_t innerWidth = 0;
  int32_t innerHeight = 0;
  Colour background = kSystemFaceColour;
  void* brush = nullptr;  // HBRUSH of `background`, made on first use
};

struct Control {
  ControlKind kind = ControlKind::None;
  int32_t window = -1;
  Rect box;
  uint32_t options = 0;
  void* hwnd = nullptr;  // the control's own child window
  // Label.
  int32_t font = -1;
  Colour textColour = 0;
  Colour backColour = kSystemFaceColour;
  void* backBrush = nullptr;  // HBRUSH of `backColour`
  // Button.
  int32_t image = -1;
  bool pressed = false;  // took a left press and holds the mouse capture
};

struct FontRecord {
  void* font = nullptr;  // HFONT
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

  bool ready = false;  // window classes registered
  std::array<WindowRecord, kMaxWindows> windows{};
  std::array<Control, kMaxControls> controls{};
  std::array<ImageRecord, kMaxImages> images{};
  std::array<FontRecord, kMaxFonts> fonts{};
  int32_t lastWindow = -1;    // controls are created inside the window opened last
  int32_t drawingImage = -1;  // image between begin/endImageDrawing

  EventQueue queue;
  Event current;
  EventHook hook = nullptr;

  ClockState clock;

  // The one GL context, made with the surface and current for its life, and
  // the surface's device context, held as long.
  void* glContext = nullptr;  // HGLRC
  void* surfaceDc = nullptr;  // HDC
  int32_t surfaceControl = -1;
  bool swapIntervalSet = false;

  std::string failure;  // why initPlatform failed, one line
};
