// orb2k16-capture: renders one still of the scene to a PNG file, at the demo
// surface's 1022 x 447 and with the demo's uniforms (resolution 1024 x 480),
// in a hidden window.
//
//   orb2k16-capture --time SECONDS --out FILE.png
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/demo_window.h"
#include "app/frame.h"
#include "app/shader_program.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kSurfaceWidth = 1022;
constexpr int32_t kSurfaceHeight = 447;
constexpr int kChannels = 3;

constexpr const char* kUsage =
    "usage: orb2k16-capture --time SECONDS --out FILE.png\n"
    "       orb2k16-capture --print-source vertex|fragment\n"
    "\n"
    "Renders the scene as the demo shows it SECONDS after the music started\n"
    "to a 1022 x 447 PNG. Needs an OpenGL 2.0 display (an X server such as\n"
    "Xvfb will do). --print-source writes a shader text to stdout.\n";

struct Options {
  std::optional<double> seconds;
  std::string out;
  std::string printSource;
  bool help = false;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "orb2k16-capture: %s\n(see orb2k16-capture --help)\n", message.c_str());
  return 2;
}

// A finite decimal number and nothing else.
std::optional<double> parseSeconds(const char* text) {
  if (!*text) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Fills `options`; an empty result when the arguments are sound, else the error.
std::string parseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return {};
    }
    const bool takesValue = arg == "--time" || arg == "--out" || arg == "--print-source";
    if (!takesValue) return "unknown argument '" + std::string(arg) + "'";
    if (i + 1 >= argc) return std::string(arg) + " needs a value";
    const char* value = argv[++i];
    if (arg == "--time") {
      options.seconds = parseSeconds(value);
      if (!options.seconds)
        return "--time takes a number of seconds, not '" + std::string(value) + "'";
    } else if (arg == "--out") {
      options.out = value;
      if (options.out.empty()) return "--out needs a file name";
    } else {
      options.printSource = value;
      if (options.printSource != "vertex" && options.printSource != "fragment") {
        return "--print-source takes 'vertex' or 'fragment'";
      }
    }
  }
  if (!options.printSource.empty()) return {};
  if (!options.seconds) return "--time SECONDS is required";
  if (options.out.empty()) return "--out FILE.png is required";
  return {};
}

// Reads the surface's framebuffer, bottom row first, into rows from the top.
std::vector<unsigned char> readSurface() {
  std::vector<unsigned char> bottomUp(static_cast<size_t>(kSurfaceWidth) * kSurfaceHeight *
                                      kChannels);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
  std::vector<unsigned char> topDown(bottomUp.size());
  const size_t stride = static_cast<size_t>(kSurfaceWidth) * kChannels;
  for (int y = 0; y < kSurfaceHeight; ++y) {
    std::memcpy(&topDown[y * stride], &bottomUp[(kSurfaceHeight - 1 - y) * stride], stride);
  }
  return topDown;
}

void writeToFile(void* context, void* data, int size) {
  std::fwrite(data, 1, static_cast<size_t>(size), static_cast<std::FILE*>(context));
}

// Renders the still into `out`; false with a message on stderr when it cannot
// be made.
bool capture(Platform& platform, float seconds, std::FILE* out) {
  if (!openWindow(platform, kDemoWindow, 0, 0, kSurfaceWidth, kSurfaceHeight, "orb2k16-capture",
                  kWindowBorderless | kWindowHidden) ||
      !createGlSurface(platform, kGlSurface, 0, 0, kSurfaceWidth, kSurfaceHeight, 0)) {
    std::fprintf(stderr, "orb2k16-capture: no OpenGL surface with framebuffer objects\n");
    return false;
  }
  ShaderEntryPoints gl;
  if (!loadShaderEntryPoints(gl)) {
    std::fprintf(stderr, "orb2k16-capture: the OpenGL context has no shader support (2.0)\n");
    return false;
  }
  const GLuint program =
      compileShaderProgram(gl, buildVertexShaderSource(), buildFragmentShaderSource(), true);
  if (!programLinked(gl, program)) {
    std::fprintf(stderr, "orb2k16-capture: the scene's shader program could not be built\n");
    return false;
  }
  drawScene(gl, gl.getUniformLocation(program, "time"),
            gl.getUniformLocation(program, "resolution"), static_cast<float>(kDemoWidth),
            static_cast<float>(kDemoHeight), seconds);
  const std::vector<unsigned char> pixels = readSurface();
  if (glGetError() != GL_NO_ERROR) {
    std::fprintf(stderr, "orb2k16-capture: the GL reported an error while rendering\n");
    return false;
  }
  return stbi_write_png_to_func(writeToFile, out, kSurfaceWidth, kSurfaceHeight, kChannels,
                                pixels.data(), kSurfaceWidth * kChannels) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const std::string error = parseArguments(argc, argv, options);
  if (!error.empty()) return usageError(error);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!options.printSource.empty()) {
    const std::string text =
        options.printSource == "vertex" ? buildVertexShaderSource() : buildFragmentShaderSource();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  // The file is opened first, so that a bad path is reported before the
  // slow part; a failed capture leaves no file behind.
  std::FILE* out = std::fopen(options.out.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "orb2k16-capture: cannot write '%s': %s\n", options.out.c_str(),
                 std::strerror(errno));
    return 1;
  }
  Platform platform;
  bool ok = initPlatform(platform);
  if (!ok) {
    std::fprintf(stderr, "orb2k16-capture: no display available\n");
  } else {
    ok = capture(platform, static_cast<float>(*options.seconds), out);
    shutdownPlatform(platform);
  }
  const bool writeFailed = std::ferror(out) != 0;
  if ((std::fclose(out) != 0 || writeFailed) && ok) {
    std::fprintf(stderr, "orb2k16-capture: cannot write '%s': %s\n", options.out.c_str(),
                 std::strerror(errno));
    ok = false;
  }
  if (!ok) std::remove(options.out.c_str());
  return ok ? 0 : 1;
}
