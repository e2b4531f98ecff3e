// The demo's frame on the current OpenGL driver: the scene shader over the
// 1022 x 447 surface, with the demo's resolution uniform (1024 x 480).
// Needs a display; on a headless machine run it under a virtual X server:
//   LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a build/bench/frame_bench
// Frames per second are the items_per_second column.
#include <benchmark/benchmark.h>

#include <memory>

#include "app/demo_window.h"
#include "app/frame.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kSurfaceWidth = 1022;
constexpr int32_t kSurfaceHeight = 447;

// A hidden demo-sized window with the surface and the prepared scene.
struct SceneContext {
  Platform platform;
  DemoState demo;
  bool ready = false;

  SceneContext() {
    demo.resolutionWidth = kDemoWidth;
    demo.resolutionHeight = kDemoHeight;
    ready = initPlatform(platform) &&
            openWindow(platform, kDemoWindow, 0, 0, kDemoWidth, kDemoHeight, "",
                       kWindowBorderless | kWindowHidden) &&
            createGlSurface(platform, kGlSurface, 1, 32, kSurfaceWidth, kSurfaceHeight, 0) &&
            prepareShaderScene(demo, platform) && programLinked(demo.gl, demo.program);
  }
  ~SceneContext() { shutdownPlatform(platform); }
};

// Waits until the GL has drawn everything asked of it.
void finishFrame() {
  unsigned char pixel[4];
  glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  benchmark::DoNotOptimize(pixel);
}

// The quad alone at scene time state.range(0) seconds: all of the shader's work.
void BM_SceneFrame(benchmark::State& state) {
  auto scene = std::make_unique<SceneContext>();
  if (!scene->ready) {
    state.SkipWithError("no OpenGL 2.0 display with framebuffer objects");
    return;
  }
  const float seconds = static_cast<float>(state.range(0));
  for (auto _ : state) {
    drawScene(scene->demo.gl, scene->demo.timeLocation, scene->demo.resolutionLocation,
              static_cast<float>(kDemoWidth), static_cast<float>(kDemoHeight), seconds);
    finishFrame();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["pixels"] = kSurfaceWidth * kSurfaceHeight;
}
BENCHMARK(BM_SceneFrame)
    ->Arg(0)
    ->Arg(20)
    ->Arg(70)
    ->MinTime(3.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What the main loop pays per turn: renderFrame with its title update and
// the composited buffer swap, the clock advancing 20 ms a frame.
void BM_RenderFrame(benchmark::State& state) {
  auto scene = std::make_unique<SceneContext>();
  if (!scene->ready) {
    state.SkipWithError("no OpenGL 2.0 display with framebuffer objects");
    return;
  }
  scene->demo.start = 1;
  scene->demo.now = 20001;
  for (auto _ : state) {
    renderFrame(scene->demo, scene->platform);
    finishFrame();
    scene->demo.now += 20;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderFrame)->MinTime(3.0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
