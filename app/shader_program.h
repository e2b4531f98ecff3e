#pragma once
// The one shader program that draws every frame: the vertex text, the OpenGL
// 2.0 entry points resolved at run time, the scene's fragment text, and the
// compile, link and use steps.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/opengl.h"

// OpenGL 2.0 shader-object entry points, resolved by name once the surface's
// context is current and held for the whole run.
struct ShaderEntryPoints {
  PFNGLCREATESHADERPROC createShader = nullptr;
  PFNGLCREATEPROGRAMPROC createProgram = nullptr;
  PFNGLCOMPILESHADERPROC compileShader = nullptr;
  PFNGLLINKPROGRAMPROC linkProgram = nullptr;
  PFNGLUSEPROGRAMPROC useProgram = nullptr;
  PFNGLATTACHSHADERPROC attachShader = nullptr;
  PFNGLSHADERSOURCEPROC shaderSource = nullptr;
  PFNGLGETUNIFORMLOCATIONPROC getUniformLocation = nullptr;
  PFNGLUNIFORM1FPROC uniform1f = nullptr;
  PFNGLUNIFORM2FPROC uniform2f = nullptr;
  // Attribute binding and the status and info-log queries.
  PFNGLBINDATTRIBLOCATIONPROC bindAttribLocation = nullptr;
  PFNGLGETSHADERIVPROC getShaderiv = nullptr;
  PFNGLGETSHADERINFOLOGPROC getShaderInfoLog = nullptr;
  PFNGLGETPROGRAMIVPROC getProgramiv = nullptr;
  PFNGLGETPROGRAMINFOLOGPROC getProgramInfoLog = nullptr;
};

// Shader objects are core from this version on.
inline constexpr int kShaderGlMajor = 2;
inline constexpr int kShaderGlMinor = 0;

// Attribute location the quad's corners reach: generic attribute 0 aliases
// the fixed-function vertex position given with glVertex2f.
inline constexpr GLuint kPositionAttribute = 0;

// The vertex text: seven pieces joined without separators, one line of 176
// characters.
std::string buildVertexShaderSource();

// The scene's fragment text, built into the program.
std::string buildFragmentShaderSource();

// True when a GL_VERSION string ("major.minor..." with an optional
// "OpenGL ES " prefix) names at least major.minor. False for an unreadable one.
bool glVersionAtLeast(const char* version, int major, int minor);

// Resolves every entry point with the current context. False, with the
// record cleared, when the context is older than OpenGL 2.0 or a name does
// not resolve: no program can be made then.
bool loadShaderEntryPoints(ShaderEntryPoints& gl);

// Compiles both texts, binds "position" to kPositionAttribute, links, and with
// `use` makes the program current. A shader that fails to compile or a
// program that fails to link has its info log written to stderr and is
// returned all the same. 0 when no program object can be created.
GLuint compileShaderProgram(const ShaderEntryPoints& gl, const std::string& vertex,
                            const std::string& fragment, bool use);

// True when `program` linked.
bool programLinked(const ShaderEntryPoints& gl, GLuint program);
