// The GL surface and the compositor: every control is drawn into the
// window's back buffer by framebuffer blits, which leave the program's shader,
// viewport and matrices untouched.
#include "platform/compositor.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_opengl.h>

#include "platform/platform.h"

namespace {

template <typename F>
bool resolve(F& slot, const char* name) {
  slot = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
  return slot != nullptr;
}

// GL state the compositor changes and puts back.
struct SavedState {
  GLint readFramebuffer = 0;
  GLint drawFramebuffer = 0;
  GLint texture = 0;
  GLint unpackAlignment = 4;
  GLboolean scissor = GL_FALSE;
  GLfloat clearColour[4] = {0, 0, 0, 0};
};

SavedState saveState() {
  SavedState s;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &s.readFramebuffer);
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &s.drawFramebuffer);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.texture);
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &s.unpackAlignment);
  s.scissor = glIsEnabled(GL_SCISSOR_TEST);
  glGetFloatv(GL_COLOR_CLEAR_VALUE, s.clearColour);
  return s;
}

void restoreState(const Platform& p, const SavedState& s) {
  p.gl.bindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(s.readFramebuffer));
  p.gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(s.drawFramebuffer));
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(s.texture));
  glPixelStorei(GL_UNPACK_ALIGNMENT, s.unpackAlignment);
  if (s.scissor) glEnable(GL_SCISSOR_TEST);
  glClearColor(s.clearColour[0], s.clearColour[1], s.clearColour[2], s.clearColour[3]);
}

// Uploads a label's or button's pixels into its texture and read framebuffer.
void uploadContent(Platform& p, Control& c) {
  if (!c.dirty) return;
  if (!c.texture) {
    glGenTextures(1, &c.texture);
    p.gl.genFramebuffers(1, &c.framebuffer);
  }
  glBindTexture(GL_TEXTURE_2D, c.texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, c.box.width, c.box.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               c.pixels.data());
  p.gl.bindFramebuffer(GL_READ_FRAMEBUFFER, c.framebuffer);
  p.gl.framebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, c.texture, 0);
  c.dirty = false;
}

void releaseSurface(Platform& p, Control& c) {
  if (c.framebuffer) p.gl.deleteFramebuffers(1, &c.framebuffer);
  if (c.colourBuffer) p.gl.deleteRenderbuffers(1, &c.colourBuffer);
  if (c.depthBuffer) p.gl.deleteRenderbuffers(1, &c.depthBuffer);
  c.framebuffer = c.colourBuffer = c.depthBuffer = 0;
}

}  // namespace

bool loadGlFunctions(GlFunctions& gl) {
  // Names resolve even where the driver lacks the feature, so ask the context:
  // framebuffer objects are core from OpenGL 3.0 and an extension before.
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  const bool core = version && version[0] >= '3' && version[0] <= '9' && version[1] == '.';
  if (!core && !SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object")) return false;
  bool ok = true;
  ok &= resolve(gl.genFramebuffers, "glGenFramebuffers");
  ok &= resolve(gl.deleteFramebuffers, "glDeleteFramebuffers");
  ok &= resolve(gl.bindFramebuffer, "glBindFramebuffer");
  ok &= resolve(gl.framebufferTexture2D, "glFramebufferTexture2D");
  ok &= resolve(gl.framebufferRenderbuffer, "glFramebufferRenderbuffer");
  ok &= resolve(gl.checkFramebufferStatus, "glCheckFramebufferStatus");
  ok &= resolve(gl.genRenderbuffers, "glGenRenderbuffers");
  ok &= resolve(gl.deleteRenderbuffers, "glDeleteRenderbuffers");
  ok &= resolve(gl.bindRenderbuffer, "glBindRenderbuffer");
  ok &= resolve(gl.renderbufferStorage, "glRenderbufferStorage");
  ok &= resolve(gl.blitFramebuffer, "glBlitFramebuffer");
  return ok;
}

void releaseControlGl(Platform& platform, Control& control) {
  if (!platform.glContext) return;
  if (control.kind == ControlKind::GlSurface) {
    releaseSurface(platform, control);
  } else {
    if (control.framebuffer) platform.gl.deleteFramebuffers(1, &control.framebuffer);
    if (control.texture) glDeleteTextures(1, &control.texture);
    control.framebuffer = control.texture = 0;
    control.dirty = !control.pixels.empty();
  }
}

void presentWindow(Platform& platform, int32_t window, int32_t originX, int32_t originY,
                   int32_t drawableWidth, int32_t drawableHeight) {
  if (!platform.glContext || window < 0 || window >= Platform::kMaxWindows) return;
  WindowRecord& w = platform.windows[window];
  if (!w.sdl) return;
  const SavedState saved = saveState();
  glDisable(GL_SCISSOR_TEST);
  platform.gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glClearColor(colourRed(w.background) / 255.0f, colourGreen(w.background) / 255.0f,
               colourBlue(w.background) / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  // Later controls first, so that the first one created ends up on top.
  for (int i = Platform::kMaxControls - 1; i >= 0; --i) {
    Control& c = platform.controls[i];
    if (c.kind == ControlKind::None || c.window != window) continue;
    if (c.kind != ControlKind::GlSurface) uploadContent(platform, c);
    if (!c.framebuffer) continue;
    const GLint left = originX + c.box.x;
    const GLint top = drawableHeight - (originY + c.box.y);  // GL rows count from the bottom
    const GLint bottom = top - c.box.height;
    platform.gl.bindFramebuffer(GL_READ_FRAMEBUFFER, c.framebuffer);
    platform.gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    // Content rows are stored top first; the surface's framebuffer is in GL's
    // own bottom-up order.
    const bool topFirst = c.kind != ControlKind::GlSurface;
    platform.gl.blitFramebuffer(0, 0, c.box.width, c.box.height, left, topFirst ? top : bottom,
                                left + c.box.width, topFirst ? bottom : top, GL_COLOR_BUFFER_BIT,
                                GL_NEAREST);
  }
  (void)drawableWidth;
  SDL_GL_SwapWindow(w.sdl);
  restoreState(platform, saved);
}

bool createGlSurface(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t options) {
  if (control < 0 || control >= Platform::kMaxControls) return false;
  if (platform.surfaceControl >= 0) return false;  // one surface, one context
  if (platform.lastWindow < 0 || !platform.windows[platform.lastWindow].sdl) return false;
  if (width <= 0 || height <= 0) return false;
  SDL_Window* window = platform.windows[platform.lastWindow].sdl;
  SDL_GLContext context = platform.glContext;
  const bool ownContext = !context;
  if (!context) context = SDL_GL_CreateContext(window);
  if (!context || SDL_GL_MakeCurrent(window, context) != 0) {
    if (context && ownContext) SDL_GL_DeleteContext(context);
    return false;
  }
  GlFunctions gl{};
  if (!loadGlFunctions(gl)) {
    if (ownContext) SDL_GL_DeleteContext(context);
    return false;
  }
  // The surface's own framebuffer: 32-bit colour, 16-bit depth.
  GLuint framebuffer = 0, colour = 0, depth = 0;
  gl.genFramebuffers(1, &framebuffer);
  gl.genRenderbuffers(1, &colour);
  gl.genRenderbuffers(1, &depth);
  gl.bindRenderbuffer(GL_RENDERBUFFER, colour);
  gl.renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  gl.bindRenderbuffer(GL_RENDERBUFFER, depth);
  gl.renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
  gl.bindRenderbuffer(GL_RENDERBUFFER, 0);
  gl.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
  gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
  if (gl.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    gl.bindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.deleteFramebuffers(1, &framebuffer);
    gl.deleteRenderbuffers(1, &colour);
    gl.deleteRenderbuffers(1, &depth);
    if (ownContext) SDL_GL_DeleteContext(context);
    return false;
  }
  Control& c = platform.controls[control];
  if (c.kind != ControlKind::None) releaseControlGl(platform, c);
  c = Control{};
  c.kind = ControlKind::GlSurface;
  c.window = platform.lastWindow;
  c.box = Rect{x, y, width, height};
  c.options = options;
  c.framebuffer = framebuffer;
  c.colourBuffer = colour;
  c.depthBuffer = depth;
  platform.glContext = context;
  platform.gl = gl;
  platform.surfaceControl = control;
  // Each swap waits for one vertical blank where the driver allows it.
  platform.swapIntervalSet = SDL_GL_SetSwapInterval(1) == 0;
  // The surface's framebuffer stays bound: everything the program draws lands in it.
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  swapSurfaceBuffers(platform, control);
  return true;
}

void swapSurfaceBuffers(Platform& platform, int32_t control) {
  if (control != platform.surfaceControl || control < 0) return;
  const int32_t window = platform.controls[control].window;
  const WindowRecord& w = platform.windows[window];
  presentWindow(platform, window, 0, 0, w.innerWidth, w.innerHeight);
}
