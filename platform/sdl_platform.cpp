// Window, label, button, image, font and message-box operations on SDL2.
#include <SDL2/SDL.h>
#include <SDL2/SDL_ttf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/compositor.h"
#include "platform/font_lookup.h"
#include "platform/image_slots.h"
#include "platform/platform.h"

namespace {

constexpr float kDefaultDpi = 96.0f;
constexpr int kAnimationStepMs = 15;

bool validNumber(int32_t number, int limit) {
  return number >= 0 && number < limit;
}

WindowRecord* windowOf(Platform& p, int32_t window) {
  if (!validNumber(window, Platform::kMaxWindows) || !p.windows[window].sdl) return nullptr;
  return &p.windows[window];
}

Control* controlOf(Platform& p, int32_t control) {
  if (!validNumber(control, Platform::kMaxControls)) return nullptr;
  Control& c = p.controls[control];
  return c.kind == ControlKind::None ? nullptr : &c;
}

// Latin-1 to UTF-8, for texts SDL shows itself (window titles, message boxes).
std::string utf8FromLatin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

float displayDpi() {
  float diagonal = 0, horizontal = 0, vertical = 0;
  if (SDL_GetDisplayDPI(0, &diagonal, &horizontal, &vertical) != 0) return kDefaultDpi;
  // Screens that report no or absurd physical sizes get the customary default.
  if (!(vertical >= 48.0f && vertical <= 480.0f)) return kDefaultDpi;
  return vertical;
}

// A control slot inside the window opened last; false when none can be made.
Control* newControl(Platform& p, int32_t control, ControlKind kind, int32_t x, int32_t y,
                    int32_t width, int32_t height, uint32_t options) {
  if (!validNumber(control, Platform::kMaxControls) || !windowOf(p, p.lastWindow)) return nullptr;
  if (width <= 0 || height <= 0) return nullptr;
  Control& c = p.controls[control];
  if (c.kind != ControlKind::None) releaseControlGl(p, c);
  c = Control{};
  c.kind = kind;
  c.window = p.lastWindow;
  c.box = Rect{x, y, width, height};
  c.options = options;
  return &c;
}

void putPixel(std::vector<uint8_t>& rgba, size_t at, Colour colour) {
  rgba[at * 4 + 0] = static_cast<uint8_t>(colourRed(colour));
  rgba[at * 4 + 1] = static_cast<uint8_t>(colourGreen(colour));
  rgba[at * 4 + 2] = static_cast<uint8_t>(colourBlue(colour));
  rgba[at * 4 + 3] = 0xFF;
}

// Label content: the background box with the text left-aligned and, with the
// vertical-centre option, centred on the box's height.
void drawLabel(Platform& p, Control& c) {
  const int w = c.box.width;
  const int h = c.box.height;
  c.pixels.assign(static_cast<size_t>(w) * h * 4, 0);
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) putPixel(c.pixels, i, c.backColour);
  c.dirty = true;
  if (!validNumber(c.font, Platform::kMaxFonts) || !p.fonts[c.font].ttf || c.text.empty()) return;
  TTF_Font* font = p.fonts[c.font].ttf;
  const SDL_Color fg{static_cast<Uint8>(colourRed(c.textColour)),
                     static_cast<Uint8>(colourGreen(c.textColour)),
                     static_cast<Uint8>(colourBlue(c.textColour)), 0xFF};
  const SDL_Color bg{static_cast<Uint8>(colourRed(c.backColour)),
                     static_cast<Uint8>(colourGreen(c.backColour)),
                     static_cast<Uint8>(colourBlue(c.backColour)), 0xFF};
  // Shaded rendering antialiases the glyphs against the label's own background.
  SDL_Surface* text = TTF_RenderText_Shaded(font, c.text.c_str(), fg, bg);
  if (!text) return;
  const int top = (c.options & kLabelVerticalCentre) ? (h - text->h) / 2 : 0;
  SDL_LockSurface(text);
  const SDL_Palette* palette = text->format->palette;
  for (int ty = 0; ty < text->h; ++ty) {
    const int y = top + ty;
    if (y < 0 || y >= h) continue;
    const auto* row = static_cast<const uint8_t*>(text->pixels) + ty * text->pitch;
    for (int tx = 0; tx < text->w && tx < w; ++tx) {
      const SDL_Color& s = palette->colors[row[tx]];
      const Colour colour = s.r | (s.g << 8) | (s.b << 16);
      putPixel(c.pixels, static_cast<size_t>(y) * w + tx, colour);
    }
  }
  SDL_UnlockSurface(text);
  SDL_FreeSurface(text);
}

// Button content: its image at the top-left corner, the system face beyond it.
void drawButton(Platform& p, Control& c) {
  const int w = c.box.width;
  const int h = c.box.height;
  c.pixels.assign(static_cast<size_t>(w) * h * 4, 0);
  const Image* image = imageOf(p, c.image);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool covered = image && x < image->width && y < image->height;
      putPixel(c.pixels, static_cast<size_t>(y) * w + x,
               covered ? pixelAt(*image, x, y) : kSystemFaceColour);
    }
  }
  c.dirty = true;
}

void redrawLabelsUsing(Platform& p, int32_t font) {
  for (Control& c : p.controls) {
    if (c.kind == ControlKind::TextLabel && c.font == font) drawLabel(p, c);
  }
}

}  // namespace

void redrawControlsShowing(Platform& p, int32_t image) {
  for (Control& c : p.controls) {
    if (c.kind == ControlKind::ImageButton && c.image == image) drawButton(p, c);
  }
}

bool initPlatform(Platform& platform) {
  // Signals keep their default meaning: the demo ignores close requests, so
  // an interrupt or terminate must still end the process.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // The first click on an inactive window is delivered, as a press on it.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // Without a display SDL would fall back to drivers that show nothing, and
  // the demo would run unseen; only a caller who names a driver gets one.
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  const bool named = asked && *asked;
  const char* display = SDL_getenv("DISPLAY");
  const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
  const bool anyDisplay = (display && *display) || (wayland && *wayland);
  if (!named && !anyDisplay) {
    platform.failure = "no display: DISPLAY and WAYLAND_DISPLAY are not set";
    return false;
  }
  // An X display alone: no other driver is tried (their probes print
  // diagnostics of their own when the display cannot be opened).
  if (!named && !(wayland && *wayland)) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    platform.failure = std::string("cannot open the display (") + SDL_GetError() + ")";
    return false;
  }
  const char* driver = SDL_GetCurrentVideoDriver();
  const bool unseen =
      driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0);
  if (unseen && !named) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    platform.failure =
        std::string("cannot open the display '") + (display && *display ? display : wayland) + "'";
    return false;
  }
  platform.videoReady = true;
  platform.ttfReady = TTF_Init() == 0;
  clockMilliseconds(platform.clock);  // fixes the counter's rate now
  return true;
}

void shutdownPlatform(Platform& platform) {
  if (platform.glContext) {
    for (Control& c : platform.controls) releaseControlGl(platform, c);
    SDL_GL_DeleteContext(static_cast<SDL_GLContext>(platform.glContext));
    platform.glContext = nullptr;
  }
  for (Control& c : platform.controls) c = Control{};
  for (FontRecord& f : platform.fonts) {
    if (f.ttf) TTF_CloseFont(f.ttf);
    f = FontRecord{};
  }
  for (WindowRecord& w : platform.windows) {
    if (w.sdl) SDL_DestroyWindow(w.sdl);
    w = WindowRecord{};
  }
  for (ImageRecord& i : platform.images) i = ImageRecord{};
  if (platform.ttfReady) TTF_Quit();
  platform.ttfReady = false;
  // Only the video subsystem: the audio output keeps its own part of SDL.
  if (platform.videoReady) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  platform.videoReady = false;
  platform.surfaceControl = -1;
  platform.lastWindow = -1;
  platform.hook = nullptr;
  platform.queue = EventQueue{};
}

bool openWindow(Platform& platform, int32_t number, int32_t x, int32_t y, int32_t innerWidth,
                int32_t innerHeight, std::string_view title, uint32_t options) {
  if (!platform.videoReady || !validNumber(number, Platform::kMaxWindows)) return false;
  if (innerWidth <= 0 || innerHeight <= 0 || platform.windows[number].sdl) return false;
  if (options & kWindowCentred) {
    SDL_Rect screen{};
    if (SDL_GetDisplayBounds(0, &screen) == 0) {
      x = screen.x + (screen.w - std::min(screen.w, innerWidth)) / 2;
      y = screen.y + (screen.h - std::min(screen.h, innerHeight)) / 2;
    }
  }
  // The GL surface draws into its own framebuffer; the window's buffers only
  // receive the composited picture.
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  Uint32 flags = SDL_WINDOW_OPENGL;
  if (options & kWindowBorderless) flags |= SDL_WINDOW_BORDERLESS;
  flags |= (options & kWindowHidden) ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
  const std::string text = utf8FromLatin1(title);
  SDL_Window* window = SDL_CreateWindow(text.c_str(), x, y, innerWidth, innerHeight, flags);
  if (!window) return false;
  WindowRecord& record = platform.windows[number];
  record = WindowRecord{};
  record.sdl = window;
  record.sdlId = SDL_GetWindowID(window);
  record.innerWidth = innerWidth;
  record.innerHeight = innerHeight;
  platform.lastWindow = number;
  return true;
}

void setWindowColour(Platform& platform, int32_t window, Colour colour) {
  if (WindowRecord* w = windowOf(platform, window)) w->background = colour;
}

int32_t windowInnerWidth(const Platform& platform, int32_t window) {
  if (!validNumber(window, Platform::kMaxWindows)) return 0;
  return platform.windows[window].sdl ? platform.windows[window].innerWidth : 0;
}

void* nativeWindowHandle(const Platform& platform, int32_t window) {
  if (!validNumber(window, Platform::kMaxWindows)) return nullptr;
  return platform.windows[window].sdl;
}

void showWindow(Platform& platform, int32_t window) {
  WindowRecord* w = windowOf(platform, window);
  if (!w) return;
  SDL_ShowWindow(w->sdl);
  SDL_RaiseWindow(w->sdl);
}

void animateWindow(Platform& platform, int32_t window, int32_t milliseconds, uint32_t flags) {
  WindowRecord* w = windowOf(platform, window);
  if (!w) return;
  int finalX = 0, finalY = 0;
  SDL_GetWindowPosition(w->sdl, &finalX, &finalY);
  const int width = w->innerWidth;
  const int height = w->innerHeight;
  if ((flags & kAnimateCentre) && milliseconds > 0 && platform.glContext) {
    // The window grows out of its centre: each step shows a centred part of
    // the full picture in a window of that size around the same centre.
    SDL_SetWindowSize(w->sdl, 1, 1);
    SDL_SetWindowPosition(w->sdl, finalX + width / 2, finalY + height / 2);
    SDL_ShowWindow(w->sdl);
    const Uint64 start = SDL_GetTicks64();
    for (;;) {
      const Uint64 elapsed = SDL_GetTicks64() - start;
      if (elapsed >= static_cast<Uint64>(milliseconds)) break;
      const int stepWidth = std::max<int>(1, static_cast<int>(width * elapsed / milliseconds));
      const int stepHeight = std::max<int>(1, static_cast<int>(height * elapsed / milliseconds));
      const int left = (width - stepWidth) / 2;
      const int top = (height - stepHeight) / 2;
      SDL_SetWindowSize(w->sdl, stepWidth, stepHeight);
      SDL_SetWindowPosition(w->sdl, finalX + left, finalY + top);
      presentWindow(platform, window, -left, -top, stepWidth, stepHeight);
      SDL_Delay(kAnimationStepMs);
    }
    SDL_SetWindowSize(w->sdl, width, height);
    SDL_SetWindowPosition(w->sdl, finalX, finalY);
  }
  SDL_ShowWindow(w->sdl);
  if (platform.glContext) presentWindow(platform, window, 0, 0, width, height);
}

void setWindowTitle(Platform& platform, int32_t window, std::string_view title) {
  if (WindowRecord* w = windowOf(platform, window)) {
    SDL_SetWindowTitle(w->sdl, utf8FromLatin1(title).c_str());
  }
}

bool createTextLabel(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                     int32_t height, std::string_view text, uint32_t options) {
  Control* c = newControl(platform, control, ControlKind::TextLabel, x, y, width, height, options);
  if (!c) return false;
  // Text stops at an embedded NUL, as in any C string.
  c->text = std::string(text.substr(0, text.find('\0')));
  drawLabel(platform, *c);
  return true;
}

bool createFont(Platform& platform, int32_t number, std::string_view face, int32_t points,
                uint32_t options) {
  if (!validNumber(number, Platform::kMaxFonts) || points <= 0) return false;
  FontRecord& record = platform.fonts[number];
  if (record.ttf) TTF_CloseFont(record.ttf);
  record = FontRecord{};
  if (!platform.ttfReady) return false;
  const FontFile file = findFontFile(face);
  if (file.path.empty()) return false;
  record.pixelHeight = fontPixelHeight(points, displayDpi());
  // TTF sizes are points at 72 dpi, i.e. pixels of the em square.
  record.ttf = TTF_OpenFontIndex(file.path.c_str(), record.pixelHeight, file.index);
  if (!record.ttf) return false;
  TTF_SetFontHinting(record.ttf, TTF_HINTING_NORMAL);
  TTF_SetFontKerning(record.ttf, 1);
  (void)options;  // glyphs are always antialiased against the label background
  redrawLabelsUsing(platform, number);
  return true;
}

void setControlFont(Platform& platform, int32_t control, int32_t font) {
  Control* c = controlOf(platform, control);
  if (!c || c->kind != ControlKind::TextLabel) return;
  c->font = font;
  drawLabel(platform, *c);
}

void setControlColour(Platform& platform, int32_t control, ControlColour which, Colour colour) {
  Control* c = controlOf(platform, control);
  if (!c || c->kind != ControlKind::TextLabel) return;
  if (which == ControlColour::Text) c->textColour = colour;
  if (which == ControlColour::Background) c->backColour = colour;
  drawLabel(platform, *c);
}

bool createImageButton(Platform& platform, int32_t control, int32_t x, int32_t y, int32_t width,
                       int32_t height, int32_t image) {
  Control* c = newControl(platform, control, ControlKind::ImageButton, x, y, width, height, 0);
  if (!c) return false;
  c->image = image;
  drawButton(platform, *c);
  return true;
}

void* glProcAddress(const char* name) {
  return SDL_GL_GetProcAddress(name);
}

int32_t clockMilliseconds(Platform& platform) {
  return clockMilliseconds(platform.clock);
}

void showMessageBox(Platform& platform, std::string_view caption, std::string_view text) {
  (void)platform;
  // Modal: the layer's windows get no messages until the box is closed.
  const std::string title = utf8FromLatin1(caption);
  const std::string message = utf8FromLatin1(text);
  if (SDL_ShowSimpleMessageBox(0, title.c_str(), message.c_str(), nullptr) != 0) {
    // No box can be shown (no display, no fonts for it): the message must
    // still reach the user.
    std::fprintf(stderr, "%s: %s\n", title.c_str(), message.c_str());
  }
}
