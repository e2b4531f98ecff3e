#pragma once
// The shader scene: prepared once at start-up, then one frame per turn of the
// main loop (uniforms, one quad, the frame-rate title, the buffer swap).
#include <cstdint>
#include <string>

#include "app/demo.h"
#include "app/demo_state.h"
#include "app/shader_program.h"

inline constexpr const char* kFpsTitlePrefix = "GLSL Testing - QX 07/06/2014 - FPS: ";
inline constexpr int32_t kFpsUpdatePeriodMs = 1000;

// Counts one frame drawn at clock reading `now`. True when the title is due:
// the first frame whose reading exceeds the previous update's by more than a
// second (signed 32-bit comparison), or the first frame above 0; the counter
// then holds the frames of the closed span in framesPerSecond.
bool countFrame(FpsCounter& fps, int32_t now);

// The window title for a frame rate.
std::string fpsTitle(int32_t framesPerSecond);

// Seconds since the music started, as the shader's "time" uniform. The
// 32-bit clock may wrap between the two readings.
float shaderTime(int32_t now, int32_t start);

// Sets "resolution" and "time" and draws one quad over the whole viewport.
// Locations of -1 are ignored by the GL.
void drawScene(const ShaderEntryPoints& gl, int32_t timeLocation, int32_t resolutionLocation,
               float resolutionWidth, float resolutionHeight, float seconds);

// Vertex text, entry points, fragment text, compile, link, use and the
// uniform locations. False when no program object can be created (no OpenGL
// 2.0, an entry point missing, or the GL refusing one).
bool prepareShaderScene(DemoState& demo, Platform& platform);

// One frame for demo.now: uniforms, quad, frame-rate title, buffer swap.
void renderFrame(DemoState& demo, Platform& platform);

inline constexpr Scene kShaderScene{prepareShaderScene, renderFrame};
