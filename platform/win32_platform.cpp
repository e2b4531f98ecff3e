// Window, label, button, image, font and message-box operations on Win32 and
// GDI. Each window and control is a system window; the layer's record rides
// along with each of them for the window procedures (win32_events.cpp).
#include <algorithm>
#include <string>

#include "platform/image_slots.h"
#include "platform/win32_internal.h"

namespace {

constexpr int kProgramIcon = 1;  // resource number of the program's icon

bool validNumber(int32_t number, int limit) {
  return number >= 0 && number < limit;
}

WindowRecord* windowOf(Platform& p, int32_t window) {
  if (!validNumber(window, Platform::kMaxWindows) || !p.windows[window].hwnd) return nullptr;
  return &p.windows[window];
}

Control* controlOf(Platform& p, int32_t control) {
  if (!validNumber(control, Platform::kMaxControls)) return nullptr;
  Control& c = p.controls[control];
  return c.kind == ControlKind::None ? nullptr : &c;
}

HWND hwndOf(void* handle) {
  return static_cast<HWND>(handle);
}

void deleteBrush(void*& brush) {
  if (brush) DeleteObject(static_cast<HBRUSH>(brush));
  brush = nullptr;
}

void destroyControl(Control& c) {
  if (c.hwnd) DestroyWindow(hwndOf(c.hwnd));
  deleteBrush(c.backBrush);
  c = Control{};
}

bool registerClasses(HINSTANCE instance) {
  WNDCLASSEXA top{};
  top.cbSize = sizeof top;
  top.lpfnWndProc = topLevelProcedure;
  top.hInstance = instance;
  top.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kProgramIcon));
  if (!top.hIcon) top.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
  top.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));              // IDC_ARROW
  top.lpszClassName = kTopLevelClass;  // the background is erased by the procedure
  WNDCLASSEXA button = top;
  button.style = CS_DBLCLKS;
  button.lpfnWndProc = buttonProcedure;
  button.hIcon = nullptr;
  button.lpszClassName = kButtonClass;
  WNDCLASSEXA surface = button;
  surface.style = CS_OWNDC | CS_DBLCLKS;  // no background brush: the surface never erases
  surface.lpfnWndProc = surfaceProcedure;
  surface.lpszClassName = kSurfaceClass;
  return RegisterClassExA(&top) && RegisterClassExA(&button) && RegisterClassExA(&surface);
}

// A control slot inside the window opened last; false when none can be made.
Control* newControl(Platform& p, int32_t control, ControlKind kind, int32_t x, int32_t y,
                    int32_t width, int32_t height, uint32_t options) {
  if (!validNumber(control, Platform::kMaxControls) || !windowOf(p, p.lastWindow)) return nullptr;
  if (width <= 0 || height <= 0) return nullptr;
  Control& c = p.controls[control];
  destroyControl(c);
  c.kind = kind;
  c.window = p.lastWindow;
  c.box = Rect{x, y, width, height};
  c.options = options;
  return &c;
}

// The child window of a control, numbered by its control number.
HWND createChild(Platform& p, const Control& c, const char* windowClass, const char* text,
                 DWORD style) {
  HWND parent = hwndOf(p.windows[c.window].hwnd);
  const auto id = reinterpret_cast<HMENU>(static_cast<intptr_t>(&c - p.controls.data()));
  HWND hwnd =
      CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, c.box.x, c.box.y,
                      c.box.width, c.box.height, parent, id, GetModuleHandleA(nullptr), nullptr);
  if (hwnd) SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&p));
  return hwnd;
}

}  // namespace

void redrawControlsShowing(Platform& p, int32_t image) {
  for (Control& c : p.controls) {
    if (c.kind == ControlKind::ImageButton && c.image == image && c.hwnd)
      InvalidateRect(hwndOf(c.hwnd), nullptr, FALSE);
  }
}

int32_t windowNumber(const Platform& p, HWND hwnd) {
  for (int i = 0; i < Platform::kMaxWindows; ++i) {
    if (hwnd && p.windows[i].hwnd == hwnd) return i;
  }
  return -1;
}

bool initPlatform(Platform& platform) {
  if (!platform.ready) {
    // A class left registered by an earlier run in this process is reused.
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    platform.ready =
        GetClassInfoExA(instance, kTopLevelClass, &existing) || registerClasses(instance);
  }
  if (!platform.ready) platform.failure = "cannot register the window classes";
  clockMilliseconds(platform.clock);  // fixes the counter's rate now
  return platform.ready;
}

void shutdownPlatform(Platform& platform) {
  if (platform.glContext) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(static_cast<HGLRC>(platform.glContext));
    platform.glContext = nullptr;
  }
  if (platform.surfaceDc && validNumber(platform.surfaceControl, Platform::kMaxControls)) {
    const Control& s = platform.controls[platform.surfaceControl];
    ReleaseDC(hwndOf(s.hwnd), static_cast<HDC>(platform.surfaceDc));
  }
  platform.surfaceDc = nullptr;
  for (Control& c : platform.controls) destroyControl(c);
  for (FontRecord& f : platform.fonts) {
    if (f.font) DeleteObject(static_cast<HFONT>(f.font));
    f = FontRecord{};
  }
  for (WindowRecord& w : platform.windows) {
    if (w.hwnd) DestroyWindow(hwndOf(w.hwnd));
    deleteBrush(w.brush);
    w = WindowRecord{};
  }
  for (ImageRecord& i : platform.images) i = ImageRecord{};
  platform.surfaceControl = -1;
  platform.swapIntervalSet = false;
  platform.lastWindow = -1;
  platform.hook = nullptr;
  platform.queue = EventQueue{};
}

bool openWindow(Platform& platform, int32_t number, int32_t x, int32_t y, int32_t innerWidth,
                int32_t innerHeight, std::string_view title, uint32_t options) {
  if (!platform.ready || !validNumber(number, Platform::kMaxWindows)) return false;
  if (innerWidth <= 0 || innerHeight <= 0 || platform.windows[number].hwnd) return false;
  // Borderless: the popup style alone, so the inner size is the outer size.
  DWORD style = WS_CLIPCHILDREN;
  style |= (options & kWindowBorderless) ? WS_POPUP : WS_OVERLAPPEDWINDOW;
  RECT outer{0, 0, innerWidth, innerHeight};
  AdjustWindowRectEx(&outer, style, FALSE, 0);
  const int outerWidth = outer.right - outer.left;
  const int outerHeight = outer.bottom - outer.top;
  if (options & kWindowCentred) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    x = (screenWidth - std::min(screenWidth, outerWidth)) / 2;
    y = (screenHeight - std::min(screenHeight, outerHeight)) / 2;
  }
  const std::string text(title.substr(0, title.find('\0')));
  WindowRecord& record = platform.windows[number];
  record = WindowRecord{};
  record.innerWidth = innerWidth;
  record.innerHeight = innerHeight;
  // The procedure finds the record from the creation parameter on.
  HWND hwnd = CreateWindowExA(0, kTopLevelClass, text.c_str(), style, x, y, outerWidth, outerHeight,
                              nullptr, nullptr, GetModuleHandleA(nullptr), &platform);
  if (!hwnd) return false;
  record.hwnd = hwnd;
  platform.lastWindow = number;
  if (!(options & kWindowHidden)) ShowWindow(hwnd, SW_SHOWNORMAL);
  return true;
}

void setWindowColour(Platform& platform, int32_t window, Colour colour) {
  WindowRecord* w = windowOf(platform, window);
  if (!w) return;
  w->background = colour;
  deleteBrush(w->brush);
  w->brush = CreateSolidBrush(colourRef(colour));
  InvalidateRect(hwndOf(w->hwnd), nullptr, TRUE);
}

int32_t windowInnerWidth(const Platform& platform, int32_t window) {
  if (!validNumber(window, Platform::kMaxWindows) || !platform.windows[window].hwnd) return 0;
  RECT inner{};
  if (!GetClientRect(hwndOf(platform.windows[window].hwnd), &inner)) return 0;
  return inner.right - inner.left;
}

void* nativeWindowHandle(const Platform& platform, int32_t window) {
  if (!validNumber(window, Platform::kMaxWindows)) return nullptr;
  return platform.windows[window].hwnd;
}

void showWindow(Platform& platform, int32_t window) {
  if (WindowRecord* w = windowOf(platform, window)) ShowWindow(hwndOf(w->hwnd), SW_SHOWNORMAL);
}

void animateWindow(Platform& platform, int32_t window, int32_t milliseconds, uint32_t flags) {
  WindowRecord* w = windowOf(platform, window);
  if (!w) return;
  // The system's own animation; where it cannot animate, the window is shown.
  if (!AnimateWindow(hwndOf(w->hwnd), static_cast<DWORD>(std::max(0, milliseconds)), flags))
    ShowWindow(hwndOf(w->hwnd), SW_SHOWNA);
}

void setWindowTitle(Platform& platform, int32_t window, std::string_view title) {
  if (WindowRecord* w = windowOf(platform, window)) {
    SetWindowTextA(hwndOf(w->hwnd), std::string(title.substr(0, title.find('\0'))).c_str());
  }
}

bool createTextLabel(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                     int32_t height, std::string_view text, uint32_t options) {
  Control* c = newControl(platform, control, ControlKind::TextLabel, x, y, width, height, options);
  if (!c) return false;
  // A static control without SS_NOTIFY is transparent to the mouse: presses
  // reach the window below it.
  DWORD style = SS_LEFT | SS_NOPREFIX;
  if (options & kLabelVerticalCentre) style |= SS_CENTERIMAGE;
  const std::string label(text.substr(0, text.find('\0')));
  c->backBrush = CreateSolidBrush(colourRef(c->backColour));
  c->hwnd = createChild(platform, *c, "STATIC", label.c_str(), style);
  if (!c->hwnd) {
    destroyControl(*c);
    return false;
  }
  return true;
}

bool createFont(Platform& platform, int32_t number, std::string_view face, int32_t points,
                uint32_t options) {
  if (!validNumber(number, Platform::kMaxFonts) || points <= 0) return false;
  FontRecord& record = platform.fonts[number];
  if (record.font) DeleteObject(static_cast<HFONT>(record.font));
  record = FontRecord{};
  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  const std::string name(face.substr(0, std::min<size_t>(face.find('\0'), LF_FACESIZE - 1)));
  const DWORD quality = (options & kFontHighQuality) ? PROOF_QUALITY : DEFAULT_QUALITY;
  record.font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality,
                            DEFAULT_PITCH | FF_DONTCARE, name.c_str());
  return record.font != nullptr;
}

void setControlFont(Platform& platform, int32_t control, int32_t font) {
  Control* c = controlOf(platform, control);
  if (!c || c->kind != ControlKind::TextLabel) return;
  c->font = font;
  HFONT handle = validNumber(font, Platform::kMaxFonts)
                     ? static_cast<HFONT>(platform.fonts[font].font)
                     : nullptr;
  SendMessageA(hwndOf(c->hwnd), WM_SETFONT, reinterpret_cast<WPARAM>(handle), TRUE);
}

void setControlColour(Platform& platform, int32_t control, ControlColour which, Colour colour) {
  Control* c = controlOf(platform, control);
  if (!c || c->kind != ControlKind::TextLabel) return;
  if (which == ControlColour::Text) c->textColour = colour;
  if (which == ControlColour::Background) {
    c->backColour = colour;
    deleteBrush(c->backBrush);
    c->backBrush = CreateSolidBrush(colourRef(colour));
  }
  InvalidateRect(hwndOf(c->hwnd), nullptr, TRUE);
}

bool createImageButton(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                       int32_t height, int32_t image) {
  Control* c = newControl(platform, control, ControlKind::ImageButton, x, y, width, height, 0);
  if (!c) return false;
  c->image = image;
  c->hwnd = createChild(platform, *c, kButtonClass, "", 0);
  if (!c->hwnd) {
    destroyControl(*c);
    return false;
  }
  return true;
}

int32_t clockMilliseconds(Platform& platform) {
  return clockMilliseconds(platform.clock);
}

void showMessageBox(Platform& platform, std::string_view caption, std::string_view text) {
  (void)platform;
  const std::string title(caption.substr(0, caption.find('\0')));
  const std::string message(text.substr(0, text.find('\0')));
  // Task-modal: the thread's other windows are disabled while the box shows.
  MessageBoxA(nullptr, message.c_str(), title.c_str(), MB_OK | MB_TASKMODAL);
}
