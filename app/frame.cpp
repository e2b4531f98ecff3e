#include "app/frame.h"

#include "app/demo_window.h"

namespace {

// Two's-complement arithmetic on clock readings, which wrap after about 24.8
// days.
int32_t wrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t wrappingSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

bool countFrame(FpsCounter& fps, int32_t now) {
  ++fps.frameCount;
  if (now <= fps.nextUpdate) return false;
  fps.framesPerSecond = fps.frameCount;
  fps.frameCount = 0;
  fps.nextUpdate = wrappingAdd(now, kFpsUpdatePeriodMs);
  return true;
}

std::string fpsTitle(int32_t framesPerSecond) {
  return kFpsTitlePrefix + std::to_string(framesPerSecond);
}

float shaderTime(int32_t now, int32_t start) {
  return static_cast<float>(wrappingSub(now, start) / 1000.0);
}

void drawScene(const ShaderEntryPoints& gl, int32_t timeLocation, int32_t resolutionLocation,
               float resolutionWidth, float resolutionHeight, float seconds) {
  gl.uniform2f(resolutionLocation, resolutionWidth, resolutionHeight);
  gl.uniform1f(timeLocation, seconds);
  // No clear and no other state: the quad covers the whole viewport.
  glBegin(GL_QUADS);
  glVertex2f(-1.0f, -1.0f);
  glVertex2f(1.0f, -1.0f);
  glVertex2f(1.0f, 1.0f);
  glVertex2f(-1.0f, 1.0f);
  glEnd();
}

bool prepareShaderScene(DemoState& demo, Platform& platform) {
  (void)platform;  // the surface's context is current from its creation on
  demo.vertexSource = buildVertexShaderSource();
  if (!loadShaderEntryPoints(demo.gl)) return false;
  demo.fragmentSource = buildFragmentShaderSource();
  demo.program = compileShaderProgram(demo.gl, demo.vertexSource, demo.fragmentSource, true);
  if (demo.program == 0) return false;
  demo.timeLocation = demo.gl.getUniformLocation(demo.program, "time");
  demo.resolutionLocation = demo.gl.getUniformLocation(demo.program, "resolution");
  return true;
}

void renderFrame(DemoState& demo, Platform& platform) {
  drawScene(demo.gl, demo.timeLocation, demo.resolutionLocation,
            static_cast<float>(demo.resolutionWidth), static_cast<float>(demo.resolutionHeight),
            shaderTime(demo.now, demo.start));
  if (countFrame(demo.fps, demo.now)) {
    setWindowTitle(platform, kDemoWindow, fpsTitle(demo.fps.framesPerSecond));
  }
  swapSurfaceBuffers(platform, kGlSurface);
}
