// The OpenGL surface on Win32: a child window of its own class with a WGL
// context, current on the main thread for the surface's life.
#include <windows.h>

#include "platform/opengl.h"
#include "platform/win32_internal.h"

namespace {

using SwapIntervalFunction = BOOL(WINAPI*)(int interval);

// wglGetProcAddress answers some failures with small values instead of null.
bool usableAddress(PROC address) {
  const auto value = reinterpret_cast<intptr_t>(address);
  return value != 0 && value != 1 && value != 2 && value != 3 && value != -1;
}

}  // namespace

void* glProcAddress(const char* name) {
  PROC address = wglGetProcAddress(name);
  if (usableAddress(address)) return reinterpret_cast<void*>(address);
  // OpenGL 1.1 entry points are exported by the system's GL library itself.
  HMODULE library = GetModuleHandleA("opengl32.dll");
  return library ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
}

bool createGlSurface(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t options) {
  if (control < 0 || control >= Platform::kMaxControls) return false;
  if (platform.surfaceControl >= 0) return false;  // one surface, one context
  if (platform.lastWindow < 0 || !platform.windows[platform.lastWindow].hwnd) return false;
  if (width <= 0 || height <= 0) return false;
  Control& c = platform.controls[control];
  if (c.kind != ControlKind::None) return false;
  DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  if (options & kSurfaceKeyboard) style |= WS_TABSTOP | WS_GROUP;
  HWND parent = static_cast<HWND>(platform.windows[platform.lastWindow].hwnd);
  HWND hwnd = CreateWindowExA(0, kSurfaceClass, "", style, x, y, width, height, parent,
                              reinterpret_cast<HMENU>(static_cast<intptr_t>(control)),
                              GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return false;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&platform));

  HDC dc = GetDC(hwnd);
  PIXELFORMATDESCRIPTOR format{};
  format.nSize = sizeof format;
  format.nVersion = 1;
  format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  format.iPixelType = PFD_TYPE_RGBA;
  format.cColorBits = 32;
  format.cDepthBits = 16;
  format.iLayerType = PFD_MAIN_PLANE;
  const int chosen = dc ? ChoosePixelFormat(dc, &format) : 0;
  HGLRC context = nullptr;
  if (chosen != 0 && SetPixelFormat(dc, chosen, &format)) context = wglCreateContext(dc);
  if (!context || !wglMakeCurrent(dc, context)) {
    if (context) wglDeleteContext(context);
    if (dc) ReleaseDC(hwnd, dc);
    DestroyWindow(hwnd);
    return false;
  }
  c = Control{};
  c.kind = ControlKind::GlSurface;
  c.window = platform.lastWindow;
  c.box = Rect{x, y, width, height};
  c.options = options;
  c.hwnd = hwnd;
  platform.glContext = context;
  platform.surfaceDc = dc;
  platform.surfaceControl = control;

  // Each swap waits for one vertical blank where the driver offers it.
  const auto swapInterval =
      reinterpret_cast<SwapIntervalFunction>(glProcAddress("wglSwapIntervalEXT"));
  platform.swapIntervalSet = swapInterval && swapInterval(1);
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  SwapBuffers(dc);
  return true;
}

void swapSurfaceBuffers(Platform& platform, int32_t control) {
  if (control != platform.surfaceControl || !platform.surfaceDc) return;
  SwapBuffers(static_cast<HDC>(platform.surfaceDc));
}
