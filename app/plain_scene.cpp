#include "app/plain_scene.h"

#include "app/demo_window.h"

bool preparePlainScene(DemoState& demo, Platform& platform) {
  (void)demo;
  (void)platform;
  return true;
}

void renderPlainFrame(DemoState& demo, Platform& platform) {
  (void)demo;
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  swapSurfaceBuffers(platform, kGlSurface);
}
