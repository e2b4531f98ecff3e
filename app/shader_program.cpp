#include "app/shader_program.h"

#include <cstdio>
#include <vector>

// The scene's fragment text (assets/shaders/scene.frag), NUL-terminated.
extern const unsigned char kSceneFragmentShader[];
extern const unsigned long kSceneFragmentShader_size;

namespace {

template <typename F>
bool resolve(F& slot, const char* name) {
  slot = reinterpret_cast<F>(glProcAddress(name));
  return slot != nullptr;
}

// Reads "major.minor" at the start of `text`; false when it is not there.
bool parseVersion(const char* text, int& major, int& minor) {
  auto digits = [](const char*& at, int& value) {
    if (*at < '0' || *at > '9') return false;
    value = 0;
    while (*at >= '0' && *at <= '9') {
      if (value > 1000) return false;
      value = value * 10 + (*at++ - '0');
    }
    return true;
  };
  return digits(text, major) && *text++ == '.' && digits(text, minor);
}

void writeInfoLog(const char* what, const std::vector<char>& log) {
  if (log.size() > 1) {
    std::fprintf(stderr, "%s:\n%s\n", what, log.data());
  } else {
    std::fprintf(stderr, "%s (no log)\n", what);
  }
}

void reportCompileFailure(const ShaderEntryPoints& gl, GLuint shader, const char* kind) {
  GLint status = GL_FALSE;
  gl.getShaderiv(shader, GL_COMPILE_STATUS, &status);
  if (status == GL_TRUE) return;
  GLint length = 0;
  gl.getShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
  std::vector<char> log(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  gl.getShaderInfoLog(shader, static_cast<GLsizei>(log.size()), nullptr, log.data());
  writeInfoLog(kind, log);
}

GLuint compileShader(const ShaderEntryPoints& gl, GLenum type, const std::string& text,
                     const char* kind) {
  const GLuint shader = gl.createShader(type);
  const GLchar* source = text.c_str();
  gl.shaderSource(shader, 1, &source, nullptr);
  gl.compileShader(shader);
  if (shader) reportCompileFailure(gl, shader, kind);
  return shader;
}

}  // namespace

std::string buildVertexShaderSource() {
  static constexpr const char* kPieces[] = {
      "attribute vec3 position;",
      "attribute vec2 surfacePosAttrib;",
      "varying vec2 surfacePosition;",
      "\tvoid main() {",
      "\t\tsurfacePosition = surfacePosAttrib;",
      "\t\tgl_Position = vec4( position, 1.0 );",
      "\t}",
  };
  std::string text;
  for (const char* piece : kPieces) text += piece;
  return text;
}

std::string buildFragmentShaderSource() {
  return std::string(reinterpret_cast<const char*>(kSceneFragmentShader),
                     kSceneFragmentShader_size);
}

bool glVersionAtLeast(const char* version, int major, int minor) {
  if (!version) return false;
  static constexpr std::string_view kEsPrefix = "OpenGL ES ";
  if (std::string_view(version).starts_with(kEsPrefix)) version += kEsPrefix.size();
  int haveMajor = 0, haveMinor = 0;
  if (!parseVersion(version, haveMajor, haveMinor)) return false;
  return haveMajor > major || (haveMajor == major && haveMinor >= minor);
}

bool loadShaderEntryPoints(ShaderEntryPoints& gl) {
  gl = ShaderEntryPoints{};
  // Drivers hand out addresses for every name they know, whatever version the
  // context supports, so the context's own version decides.
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (!glVersionAtLeast(version, kShaderGlMajor, kShaderGlMinor)) return false;
  bool ok = true;
  ok &= resolve(gl.createShader, "glCreateShader");
  ok &= resolve(gl.createProgram, "glCreateProgram");
  ok &= resolve(gl.compileShader, "glCompileShader");
  ok &= resolve(gl.linkProgram, "glLinkProgram");
  ok &= resolve(gl.useProgram, "glUseProgram");
  ok &= resolve(gl.attachShader, "glAttachShader");
  ok &= resolve(gl.shaderSource, "glShaderSource");
  ok &= resolve(gl.getUniformLocation, "glGetUniformLocation");
  ok &= resolve(gl.uniform1f, "glUniform1f");
  ok &= resolve(gl.uniform2f, "glUniform2f");
  ok &= resolve(gl.bindAttribLocation, "glBindAttribLocation");
  ok &= resolve(gl.getShaderiv, "glGetShaderiv");
  ok &= resolve(gl.getShaderInfoLog, "glGetShaderInfoLog");
  ok &= resolve(gl.getProgramiv, "glGetProgramiv");
  ok &= resolve(gl.getProgramInfoLog, "glGetProgramInfoLog");
  if (!ok) gl = ShaderEntryPoints{};
  return ok;
}

GLuint compileShaderProgram(const ShaderEntryPoints& gl, const std::string& vertex,
                            const std::string& fragment, bool use) {
  if (!gl.createProgram) return 0;
  const GLuint vertexShader = compileShader(gl, GL_VERTEX_SHADER, vertex, "vertex shader");
  const GLuint fragmentShader = compileShader(gl, GL_FRAGMENT_SHADER, fragment, "fragment shader");
  const GLuint program = gl.createProgram();
  if (!program) return 0;
  gl.attachShader(program, vertexShader);
  gl.attachShader(program, fragmentShader);
  gl.bindAttribLocation(program, kPositionAttribute, "position");
  gl.linkProgram(program);
  if (!programLinked(gl, program)) {
    GLint length = 0;
    gl.getProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    gl.getProgramInfoLog(program, static_cast<GLsizei>(log.size()), nullptr, log.data());
    writeInfoLog("shader program link", log);
  }
  // An unlinked program is refused by the GL and leaves none current: the
  // quad is then drawn by the fixed pipeline.
  if (use) gl.useProgram(program);
  return program;
}

bool programLinked(const ShaderEntryPoints& gl, GLuint program) {
  if (!program || !gl.getProgramiv) return false;
  GLint status = GL_FALSE;
  gl.getProgramiv(program, GL_LINK_STATUS, &status);
  return status == GL_TRUE;
}
