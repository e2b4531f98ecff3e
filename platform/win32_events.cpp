// Event polling on Win32: one system message per poll, translated and
// dispatched to the window procedures below. The top-level procedure runs the
// hook first; the button and surface procedures queue control events, which
// later polls return. The system coalesces pointer moves itself.
#include <windows.h>
#include <windowsx.h>

#include <vector>

#include "platform/opengl.h"
#include "platform/win32_internal.h"

namespace {

int32_t controlNumber(HWND hwnd) {
  return GetDlgCtrlID(hwnd);
}

void queueControlEvent(Platform& p, int32_t control, ControlNotice notice) {
  if (control < 0 || control >= Platform::kMaxControls) return;
  pushEvent(p.queue, Event{kEventControl, control, p.controls[control].window,
                           static_cast<int32_t>(notice)});
}

bool isMouseMessage(UINT message) {
  return message >= WM_MOUSEFIRST && message <= WM_MOUSELAST;
}

// The message as the hook sees it: the pointer in the window's inner area
// for mouse messages, the key code for key messages.
Message hookMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  Message m;
  m.code = static_cast<int32_t>(message);
  if (isMouseMessage(message) && message != WM_MOUSEWHEEL) {
    m.x = GET_X_LPARAM(lparam);
    m.y = GET_Y_LPARAM(lparam);
  }
  if (message == WM_KEYDOWN || message == WM_KEYUP) m.key = static_cast<int32_t>(wparam);
  return m;
}

bool insideClient(HWND hwnd, LPARAM lparam) {
  RECT inner{};
  GetClientRect(hwnd, &inner);
  const POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  return PtInRect(&inner, at) != 0;
}

void paintButton(const Platform& p, HWND hwnd, const Control& c) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT all{0, 0, c.box.width, c.box.height};
  HBRUSH face = CreateSolidBrush(colourRef(kSystemFaceColour));
  FillRect(dc, &all, face);
  DeleteObject(face);
  if (const Image* image = imageOf(p, c.image)) {
    // The image as a top-down 32-bit picture: blue, green, red, unused.
    std::vector<uint32_t> bgrx(image->pixels.size());
    for (size_t i = 0; i < bgrx.size(); ++i) {
      const Colour colour = image->pixels[i];
      bgrx[i] = static_cast<uint32_t>(colourBlue(colour) | colourGreen(colour) << 8 |
                                      colourRed(colour) << 16);
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image->width;
    info.bmiHeader.biHeight = -image->height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, image->width, image->height, 0, 0, 0, image->height, bgrx.data(),
                      &info, DIB_RGB_COLORS);
  }
  EndPaint(hwnd, &paint);
}

}  // namespace

LRESULT CALLBACK topLevelProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  Platform* p = platformOf(hwnd);
  const int32_t window = p ? windowNumber(*p, hwnd) : -1;
  if (window < 0) return DefWindowProcA(hwnd, message, wparam, lparam);
  if (p->hook) {
    const int32_t result = p->hook(*p, window, hookMessage(message, wparam, lparam));
    if (result != kHookNotHandled) return result;
  }
  switch (message) {
    case WM_ERASEBKGND: {
      WindowRecord& w = p->windows[window];
      if (!w.brush) w.brush = CreateSolidBrush(colourRef(w.background));
      RECT inner{};
      GetClientRect(hwnd, &inner);
      FillRect(reinterpret_cast<HDC>(wparam), &inner, static_cast<HBRUSH>(w.brush));
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      const int32_t control = controlNumber(reinterpret_cast<HWND>(lparam));
      if (control < 0 || control >= Platform::kMaxControls) break;
      const Control& c = p->controls[control];
      if (c.kind != ControlKind::TextLabel || !c.backBrush) break;
      HDC dc = reinterpret_cast<HDC>(wparam);
      SetTextColor(dc, colourRef(c.textColour));
      SetBkColor(dc, colourRef(c.backColour));
      return reinterpret_cast<LRESULT>(c.backBrush);
    }
    case WM_CLOSE:
      // A close request only queues an event: the window stays open unless
      // the program acts on it.
      pushEvent(p->queue, Event{kEventClose, -1, window, 0});
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

// The image button: a left click (press and release on it), a left or right
// double click and a right-button release each queue a control event.
LRESULT CALLBACK buttonProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Platform* p = platformOf(hwnd);
  const int32_t control = controlNumber(hwnd);
  if (!p || control < 0 || control >= Platform::kMaxControls)
    return DefWindowProcA(hwnd, message, wparam, lparam);
  Control& c = p->controls[control];
  switch (message) {
    case WM_PAINT:
      paintButton(*p, hwnd, c);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painting covers every pixel
    case WM_LBUTTONDOWN:
      SetCapture(hwnd);
      c.pressed = true;
      return 0;
    case WM_LBUTTONUP:
      if (c.pressed) {
        c.pressed = false;
        ReleaseCapture();
        if (insideClient(hwnd, lparam)) queueControlEvent(*p, control, ControlNotice::Click);
      }
      return 0;
    case WM_LBUTTONDBLCLK:
      SetCapture(hwnd);
      c.pressed = true;
      queueControlEvent(*p, control, ControlNotice::DoubleClick);
      return 0;
    case WM_RBUTTONDBLCLK:
      queueControlEvent(*p, control, ControlNotice::DoubleClick);
      return 0;
    case WM_RBUTTONUP:
      if (insideClient(hwnd, lparam)) queueControlEvent(*p, control, ControlNotice::RightRelease);
      return 0;
    case WM_CAPTURECHANGED:
      c.pressed = false;
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

// The GL surface neither erases nor paints; its mouse, focus and key messages
// become control events with its own number.
LRESULT CALLBACK surfaceProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Platform* p = platformOf(hwnd);
  const int32_t control = controlNumber(hwnd);
  if (!p || control < 0 || control >= Platform::kMaxControls)
    return DefWindowProcA(hwnd, message, wparam, lparam);
  const Control& c = p->controls[control];
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      ValidateRect(hwnd, nullptr);
      return 0;
    case WM_SIZE:
      if (p->glContext && p->surfaceControl == control)
        glViewport(0, 0, GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam));
      return 0;
    case WM_MOUSEMOVE:
      queueControlEvent(*p, control, ControlNotice::MouseMove);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      if ((c.options & kSurfaceKeyboard) && GetFocus() != hwnd) SetFocus(hwnd);
      queueControlEvent(*p, control, ControlNotice::MousePress);
      return 0;
    case WM_SETFOCUS:
      queueControlEvent(*p, control, ControlNotice::Focus);
      return 0;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
      queueControlEvent(*p, control, ControlNotice::DoubleClick);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      queueControlEvent(*p, control, ControlNotice::MouseRelease);
      return 0;
    case WM_KEYDOWN:
      queueControlEvent(*p, control, ControlNotice::KeyPress);
      return 0;
    case WM_KEYUP:
      queueControlEvent(*p, control, ControlNotice::KeyRelease);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wparam, lparam);
  }
}

void setEventHook(Platform& platform, EventHook hook) {
  platform.hook = hook;
}

int32_t pollEvent(Platform& platform) {
  Event event;
  if (popEvent(platform.queue, event)) {
    platform.current = event;
    return event.code;
  }
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return kEventNone;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  const auto code = static_cast<int32_t>(message.message);
  platform.current = Event{code, -1, -1, 0};
  return code;
}

int32_t eventControl(const Platform& platform) {
  return platform.current.control;
}

void beginWindowDrag(Platform& platform, int32_t window, int32_t x, int32_t y) {
  (void)x;
  (void)y;
  if (window < 0 || window >= Platform::kMaxWindows || !platform.windows[window].hwnd) return;
  // The press counts as one on the caption: the system's move loop runs
  // inside this call until the button is released.
  HWND hwnd = static_cast<HWND>(platform.windows[window].hwnd);
  ReleaseCapture();
  SendMessageA(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}
