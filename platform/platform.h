#pragma once
// The window-system layer under the demo: one top-level window with a text
// label, an image button and an OpenGL surface; a non-blocking event poll
// with a message hook; off-screen images; a millisecond clock and a modal
// message box. Main thread only. Two back ends: SDL2 with an OpenGL
// compatibility context, SDL2_ttf and fontconfig (platform/sdl_*.cpp), and
// Win32 with WGL and GDI on Windows (platform/win32_*.cpp).
//
// Objects are named by small numbers the caller chooses. Every operation
// takes the layer's one state record, `Platform`, which the program owns.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/event_queue.h"
#include "platform/image.h"

struct Platform;

// openWindow options.
inline constexpr uint32_t kWindowBorderless = 1u << 0;  // no frame: inner size = outer size
inline constexpr uint32_t kWindowCentred = 1u << 1;     // centred on the primary screen
inline constexpr uint32_t kWindowHidden = 1u << 2;      // not shown until showWindow
// createTextLabel options.
inline constexpr uint32_t kLabelVerticalCentre = 1u << 0;
// createGlSurface options.
inline constexpr uint32_t kSurfaceKeyboard = 1u << 0;  // takes the keyboard focus when clicked
// createFont options.
inline constexpr uint32_t kFontHighQuality = 1u << 0;  // antialiased glyphs
// animateWindow flags.
inline constexpr uint32_t kAnimateCentre = 16;  // grows out of the window's centre

enum class ControlColour : int32_t { Text = 1, Background = 2 };

// Colour the system gives windows and labels until the program sets its own.
inline constexpr Colour kSystemFaceColour = 0xF0F0F0;

// Codes of the system messages pollEvent dispatches (it returns the code of
// the message it dispatched). The layer's own events are kEventControl and
// kEventClose (event_queue.h).
inline constexpr int32_t kMessageOther = 0x0001;  // anything not listed here
inline constexpr int32_t kMessageFocus = 0x0007;
inline constexpr int32_t kMessageBlur = 0x0008;
inline constexpr int32_t kMessageExpose = 0x000F;
inline constexpr int32_t kMessageClose = 0x0010;
inline constexpr int32_t kMessageKeyDown = 0x0100;
inline constexpr int32_t kMessageKeyUp = 0x0101;
inline constexpr int32_t kMessageText = 0x0102;
inline constexpr int32_t kMessageMouseMove = 0x0200;
inline constexpr int32_t kMessageLeftButtonDown = 0x0201;
inline constexpr int32_t kMessageLeftButtonUp = 0x0202;
inline constexpr int32_t kMessageLeftDoubleClick = 0x0203;
inline constexpr int32_t kMessageRightButtonDown = 0x0204;
inline constexpr int32_t kMessageRightButtonUp = 0x0205;
inline constexpr int32_t kMessageRightDoubleClick = 0x0206;
inline constexpr int32_t kMessageMiddleButtonDown = 0x0207;
inline constexpr int32_t kMessageMiddleButtonUp = 0x0208;
inline constexpr int32_t kMessageWheel = 0x020A;

// One system message as the hook sees it.
struct Message {
  int32_t code = kMessageOther;
  int32_t x = 0;  // pointer position in the window's inner area (mouse messages)
  int32_t y = 0;
  int32_t key = 0;  // key code (key messages)
};

// The hook's "not handled" result: normal processing goes on. Any other
// result ends the message's processing at once.
inline constexpr int32_t kHookNotHandled = static_cast<int32_t>(0xE0E0E0E1u);
using EventHook = int32_t (*)(Platform& platform, int32_t window, const Message& message);

// What happened to a control; the detail of its control events.
enum class ControlNotice : int32_t {
  Click = 0,
  DoubleClick = 1,
  RightRelease = 2,
  MouseMove = 3,
  MousePress = 4,
  MouseRelease = 5,
  Focus = 6,
  KeyPress = 7,
  KeyRelease = 8,
};

enum class ControlKind : int32_t { None, TextLabel, ImageButton, GlSurface };

struct Rect {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool contains(int32_t px, int32_t py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
};

// The back end's state record.
#if defined(_WIN32)
#include "platform/win32_state.h"
#else
#include "platform/sdl_state.h"
#endif

// Brings up the window system. False, with the reason in `failure`, when
// there is no display to show windows on.
bool initPlatform(Platform& platform);
// Releases fonts, controls, windows and images, then the window system.
void shutdownPlatform(Platform& platform);

// Top-level window with the given inner size. Centred: left = (screen width -
// min(screen width, width)) / 2, top likewise, so a window larger than the
// screen starts at its left or top edge.
bool openWindow(Platform& platform, int32_t number, int32_t x, int32_t y, int32_t innerWidth,
                int32_t innerHeight, std::string_view title, uint32_t options);
void setWindowColour(Platform& platform, int32_t window, Colour colour);
int32_t windowInnerWidth(const Platform& platform, int32_t window);
void* nativeWindowHandle(const Platform& platform, int32_t window);  // SDL_Window, HWND
void showWindow(Platform& platform, int32_t window);
// Shows a hidden window growing out of its centre over `milliseconds`.
void animateWindow(Platform& platform, int32_t window, int32_t milliseconds, uint32_t flags);
void setWindowTitle(Platform& platform, int32_t window, std::string_view title);

// Static text, left-aligned, ampersands literal; presses fall through to the window.
bool createTextLabel(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                     int32_t height, std::string_view text, uint32_t options);
// Looks the face up through fontconfig (the system sans-serif face when it is
// missing) at `points` for the display's DPI. False, and text drawn with it
// stays empty, when no face can be opened at all.
bool createFont(Platform& platform, int32_t number, std::string_view face, int32_t points,
                uint32_t options);
void setControlFont(Platform& platform, int32_t control, int32_t font);
void setControlColour(Platform& platform, int32_t control, ControlColour which, Colour colour);
// Shows `image` at its top-left corner. A left click, a left or right double
// click and a right-button release each queue a control event.
bool createImageButton(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                       int32_t height, int32_t image);

// OpenGL surface: a framebuffer of its own size, bound while the program
// draws, so gl_FragCoord counts from the surface's bottom-left corner. Makes
// the layer's GL context current for the rest of the run.
bool createGlSurface(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t options);
// Composites window, label, button and surface and presents them; waits for
// the vertical blank where the swap interval could be set.
void swapSurfaceBuffers(Platform& platform, int32_t control);

bool createImage(Platform& platform, int32_t number, int32_t width, int32_t height);
bool beginImageDrawing(Platform& platform, int32_t image);
void endImageDrawing(Platform& platform, int32_t image);
// Draw on the image between beginImageDrawing and endImageDrawing.
void floodFill(Platform& platform, int32_t x, int32_t y, Colour colour);
void drawLine(Platform& platform, int32_t x, int32_t y, int32_t dx, int32_t dy, Colour colour);
const Image* imageOf(const Platform& platform, int32_t image);

// Called first for every message of every top-level window of the layer.
void setEventHook(Platform& platform, EventHook hook);
// Never waits. Returns the oldest queued layer event, or dispatches at most
// one system message and returns its code, or 0. Pointer moves waiting one
// after another count as one message, the newest.
int32_t pollEvent(Platform& platform);
int32_t eventControl(const Platform& platform);
// Moves `window` with the mouse until the left button is released, as if its
// caption had been pressed at (x, y) of its inner area. Returns after the move.
void beginWindowDrag(Platform& platform, int32_t window, int32_t x, int32_t y);

int32_t clockMilliseconds(Platform& platform);

// Modal message box with an OK button.
void showMessageBox(Platform& platform, std::string_view caption, std::string_view text);
