#pragma once
// Start-up, the one-event-per-turn main loop and shutdown of the demo.
#include <cstdint>

#include "app/demo_state.h"
#include "platform/platform.h"

// What draws the picture: prepared once during start-up, rendered once per
// turn of the main loop.
struct Scene {
  // Builds the shader texts, resolves the GL entry points and compiles,
  // links and uses the program, with the surface's context current. False
  // when no program object can be created.
  bool (*prepare)(DemoState& demo, Platform& platform);
  // Draws one frame for demo.now and presents it with swapSurfaceBuffers.
  void (*render)(DemoState& demo, Platform& platform);
};

inline constexpr const char* kNoShaderCaption = "Unsupported Device?";
inline constexpr const char* kNoShaderText = "No Shader Support Available";
inline constexpr int32_t kOpeningAnimationMs = 300;

// The message shown when the window, its GL surface or the shader program
// cannot be made; the demo then shuts down.
void showNoShaderMessage(Platform& platform);

// The event hook: a left-button press on the window itself (the title strip
// and the label, which lets presses through) moves the window with the mouse
// until the button is released. Never handles a message itself.
int32_t dragHook(Platform& platform, int32_t window, const Message& message);

// True when the event returned by pollEvent ends the demo: any control event
// of the close button (click, double click, right-button release).
bool endsDemo(const Platform& platform, int32_t event);

// The whole program: start-up, main loop, shutdown. Returns the exit code:
// 0, or 1 (after one line on stderr) when there is no display.
int runDemo(const Scene& scene);
