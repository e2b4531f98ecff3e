#include "app/demo.h"

#include <cstdio>
#include <memory>

#include "app/demo_window.h"
#include "app/music.h"

void showNoShaderMessage(Platform& platform) {
  showMessageBox(platform, kNoShaderCaption, kNoShaderText);
}

int32_t dragHook(Platform& platform, int32_t window, const Message& message) {
  if (message.code == kMessageLeftButtonDown)
    beginWindowDrag(platform, window, message.x, message.y);
  return kHookNotHandled;
}

bool endsDemo(const Platform& platform, int32_t event) {
  return event == kEventControl && eventControl(platform) == kCloseButton;
}

namespace {

// Start-up up to the loop. False when the demo must end at once.
bool startDemo(DemoState& demo, Platform& platform, Music& music, const Scene& scene) {
  drawCloseGlyph(platform);
  if (!buildDemoWindow(demo, platform)) {
    showNoShaderMessage(platform);
    return false;
  }
  // The music plays from here on, while the window is still hidden.
  startMusic(music, nativeWindowHandle(platform, kDemoWindow));
  demo.start = clockMilliseconds(platform);
  if (!scene.prepare(demo, platform)) {
    showNoShaderMessage(platform);
    return false;
  }
  animateWindow(platform, kDemoWindow, kOpeningAnimationMs, kAnimateCentre);
  setEventHook(platform, dragHook);
  showWindow(platform, kDemoWindow);
  return true;
}

// One event and one frame per turn; the buffer swap sets the pace.
void runMainLoop(DemoState& demo, Platform& platform, Music& music, const Scene& scene) {
  for (;;) {
    demo.currentEvent = pollEvent(platform);
    keepMusicPlaying(music);
    if (endsDemo(platform, demo.currentEvent)) return;
    demo.now = clockMilliseconds(platform);
    scene.render(demo, platform);
  }
}

}  // namespace

int runDemo(const Scene& scene) {
  Platform platform;
  DemoState demo;
  auto music = std::make_unique<Music>();
  if (!initPlatform(platform)) {
    // No display: nothing could show a message box, and running unseen would
    // only spend the processor.
    std::fprintf(stderr, "orb2k16: %s\n", platform.failure.c_str());
    return 1;
  }
  if (startDemo(demo, platform, *music, scene)) runMainLoop(demo, platform, *music, scene);
  // The music is not stopped: ending the process ends the audio worker.
  shutdownPlatform(platform);
  return 0;
}
