// Shader texts, the OpenGL version gate, and the program built on a real
// context (those tests need a display; the shader end-to-end tests run them
// under a virtual X server).
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/demo_window.h"
#include "app/frame.h"
#include "app/shader_program.h"
#include "platform/platform.h"

namespace {

TEST(GlVersion, ShaderObjectsNeedTwoPointZero) {
  EXPECT_TRUE(glVersionAtLeast("2.1 Mesa 22.3.6", 2, 0));
  EXPECT_TRUE(glVersionAtLeast("4.5 (Compatibility Profile) Mesa 22.3.6", 2, 0));
  EXPECT_TRUE(glVersionAtLeast("OpenGL ES 3.2 Mesa 22.3.6", 2, 0));
  EXPECT_FALSE(glVersionAtLeast("1.5 Mesa 22.3.6", 2, 0));
  EXPECT_FALSE(glVersionAtLeast("2.0", 2, 1));
  EXPECT_FALSE(glVersionAtLeast(nullptr, 2, 0));
  EXPECT_FALSE(glVersionAtLeast("Mesa 2.1", 2, 0));
  EXPECT_FALSE(glVersionAtLeast("99999999999999999999.0", 2, 0));
}

// A hidden window with the demo's GL surface; skips where there is no display.
class ShaderOnContext : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
    ASSERT_TRUE(initPlatform(platform_)) << platform_.failure;
    ASSERT_TRUE(openWindow(platform_, kDemoWindow, 0, 0, 64, 32, "", kWindowHidden));
    ASSERT_TRUE(createGlSurface(platform_, kGlSurface, 0, 0, 64, 32, 0));
    ASSERT_TRUE(loadShaderEntryPoints(gl_));
  }
  void TearDown() override { shutdownPlatform(platform_); }

  GLint currentProgram() const {
    GLint program = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    return program;
  }

  Platform platform_;
  ShaderEntryPoints gl_;
};

TEST_F(ShaderOnContext, BrokenTextLogsAndLeavesTheFixedPipeline) {
  const std::string broken = "void main() { gl_FragColor = vec4(undeclared, 1.0); }\n";
  testing::internal::CaptureStderr();
  const GLuint program = compileShaderProgram(gl_, buildVertexShaderSource(), broken, true);
  const std::string log = testing::internal::GetCapturedStderr();
  // A program object exists, so start-up goes on without the message box.
  ASSERT_NE(program, 0u);
  EXPECT_FALSE(programLinked(gl_, program));
  EXPECT_NE(log.find("fragment shader"), std::string::npos) << log;
  EXPECT_NE(log.find("undeclared"), std::string::npos) << log;
  EXPECT_EQ(currentProgram(), 0);
  EXPECT_EQ(gl_.getUniformLocation(program, "time"), -1);
  while (glGetError() != GL_NO_ERROR) {
  }

  // The frame's quad then comes out in the fixed pipeline's colour, white.
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  drawScene(gl_, -1, -1, 1024.0f, 480.0f, 1.0f);
  unsigned char pixel[4] = {0, 0, 0, 0};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_EQ(pixel[0], 255);
  EXPECT_EQ(pixel[1], 255);
  EXPECT_EQ(pixel[2], 255);
}

TEST_F(ShaderOnContext, PreparedSceneHoldsProgramAndLocations) {
  DemoState demo;
  demo.resolutionWidth = kDemoWidth;
  demo.resolutionHeight = kDemoHeight;
  ASSERT_TRUE(prepareShaderScene(demo, platform_));
  EXPECT_EQ(demo.vertexSource, buildVertexShaderSource());
  EXPECT_EQ(demo.fragmentSource, buildFragmentShaderSource());
  EXPECT_NE(demo.program, 0u);
  EXPECT_GE(demo.timeLocation, 0);
  EXPECT_GE(demo.resolutionLocation, 0);

  // One frame sets the uniforms the shader sees.
  demo.start = 1000;
  demo.now = 3500;
  renderFrame(demo, platform_);
  float resolution[2] = {0, 0};
  float seconds = 0;
  auto getUniformfv =
      reinterpret_cast<PFNGLGETUNIFORMFVPROC>(SDL_GL_GetProcAddress("glGetUniformfv"));
  ASSERT_NE(getUniformfv, nullptr);
  getUniformfv(demo.program, demo.resolutionLocation, resolution);
  getUniformfv(demo.program, demo.timeLocation, &seconds);
  EXPECT_EQ(resolution[0], 1024.0f);
  EXPECT_EQ(resolution[1], 480.0f);
  EXPECT_EQ(seconds, 2.5f);
  EXPECT_EQ(demo.fps.framesPerSecond, 1);
}

}  // namespace
