#pragma once
// The demo's one application record: window and shader sizes, the loop's
// clock readings, the shader program and the frame-rate counter.
#include <cstdint>
#include <string>

#include "app/shader_program.h"

// The frame-rate counter behind the window title: frames drawn since the
// last update, and the clock reading after which the next update is due.
struct FpsCounter {
  int32_t nextUpdate = 0;  // the first frame with a clock reading above 0 updates
  int32_t frameCount = 0;
  int32_t framesPerSecond = 0;
};

struct DemoState {
  int32_t windowWidth = 0;  // 1024 x 480, set when the window is built
  int32_t windowHeight = 0;
  int32_t resolutionWidth = 0;  // the "resolution" uniform: the window's size
  int32_t resolutionHeight = 0;
  int32_t currentEvent = 0;  // last code pollEvent returned
  int32_t now = 0;           // clock reading of this turn, taken before rendering
  int32_t start = 0;         // clock reading right after the music started
  std::string vertexSource;
  std::string fragmentSource;
  ShaderEntryPoints gl;  // resolved once the surface's context exists
  uint32_t program = 0;  // linked shader program, 0 until built
  int32_t timeLocation = -1;
  int32_t resolutionLocation = -1;
  FpsCounter fps;
};
