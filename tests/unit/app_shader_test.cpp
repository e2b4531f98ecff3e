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

}  // namespace
