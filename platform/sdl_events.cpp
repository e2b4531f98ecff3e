// Event polling: one system message per poll, dispatched to the hook and the
// layer's handlers, which queue control events and close requests for later
// polls.
#include <SDL2/SDL.h>

#include "platform/compositor.h"
#include "platform/platform.h"

namespace {

constexpr int kDragStepMs = 5;
constexpr int kReleaseWaitPolls = 40;  // about 200 ms for a release in transit
constexpr int kMaxQueuedEvents = 256;

void moveWindowTo(WindowRecord& w, int x, int y) {
  int nowX = 0, nowY = 0;
  SDL_GetWindowPosition(w.sdl, &nowX, &nowY);
  if (nowX != x || nowY != y) SDL_SetWindowPosition(w.sdl, x, y);
}

// Removes the first queued left-button release, and the pointer motion
// before it, which the move has consumed; every other event stays queued in
// its order. False when no release is queued.
bool takeLeftRelease(SDL_Event& release) {
  static_assert(kMaxQueuedEvents > 0);
  SDL_Event events[kMaxQueuedEvents];
  const int count =
      SDL_PeepEvents(events, kMaxQueuedEvents, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
  if (count <= 0) return false;
  int found = -1;
  for (int i = 0; i < count && found < 0; ++i) {
    if (events[i].type == SDL_MOUSEBUTTONUP && events[i].button.button == SDL_BUTTON_LEFT)
      found = i;
  }
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    const bool consumed =
        i == found || (found >= 0 && i < found && events[i].type == SDL_MOUSEMOTION);
    if (!consumed) events[kept++] = events[i];
  }
  if (found >= 0) release = events[found];
  SDL_PeepEvents(events, kept, SDL_ADDEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
  return found >= 0;
}

// A run of pointer moves of one window waiting at the head of the queue is
// taken as its newest, with the relative motion summed. The window system
// the main loop was designed for keeps at most one pending move, so a click
// waits behind at most one move however often the pointer reports and however
// slowly frames are drawn; other events keep their order.
void takeNewestMotion(SDL_Event& motion) {
  SDL_Event next;
  while (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1 &&
         next.type == SDL_MOUSEMOTION && next.motion.windowID == motion.motion.windowID &&
         SDL_PeepEvents(&next, 1, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION) == 1) {
    next.motion.xrel += motion.motion.xrel;
    next.motion.yrel += motion.motion.yrel;
    motion = next;
  }
}

int32_t windowNumber(const Platform& p, uint32_t sdlId) {
  for (int i = 0; i < Platform::kMaxWindows; ++i) {
    if (p.windows[i].sdl && p.windows[i].sdlId == sdlId) return i;
  }
  return -1;
}

// The control under (x, y) of the window's inner area that takes mouse
// input; -1 for the window itself. Labels let presses through.
int32_t controlAt(const Platform& p, int32_t window, int32_t x, int32_t y) {
  for (int i = 0; i < Platform::kMaxControls; ++i) {
    const Control& c = p.controls[i];
    if (c.kind == ControlKind::None || c.kind == ControlKind::TextLabel) continue;
    if (c.window == window && c.box.contains(x, y)) return i;
  }
  return -1;
}

void queueControlEvent(Platform& p, int32_t control, ControlNotice notice) {
  pushEvent(p.queue, Event{kEventControl, control, p.controls[control].window,
                           static_cast<int32_t>(notice)});
}

// Mouse codes as the window sees them (double clicks arrive as presses).
int32_t mouseCode(const SDL_Event& e, bool reportDoubleClicks) {
  if (e.type == SDL_MOUSEMOTION) return kMessageMouseMove;
  if (e.type == SDL_MOUSEWHEEL) return kMessageWheel;
  const bool down = e.type == SDL_MOUSEBUTTONDOWN;
  const bool twice = reportDoubleClicks && down && e.button.clicks >= 2 && e.button.clicks % 2 == 0;
  switch (e.button.button) {
    case SDL_BUTTON_LEFT:
      return twice ? kMessageLeftDoubleClick : down ? kMessageLeftButtonDown : kMessageLeftButtonUp;
    case SDL_BUTTON_RIGHT:
      return twice  ? kMessageRightDoubleClick
             : down ? kMessageRightButtonDown
                    : kMessageRightButtonUp;
    case SDL_BUTTON_MIDDLE:
      return down ? kMessageMiddleButtonDown : kMessageMiddleButtonUp;
    default:
      return kMessageOther;
  }
}

// The image button: a left click (press and release on it), a left or right
// double click and a right-button release each queue a control event.
void buttonHandler(Platform& p, int32_t control, int32_t code, bool releaseInside) {
  switch (code) {
    case kMessageLeftButtonDown:
      p.pressedControl = control;
      break;
    case kMessageLeftButtonUp:
      if (p.pressedControl == control && releaseInside) {
        queueControlEvent(p, control, ControlNotice::Click);
      }
      p.pressedControl = -1;
      break;
    case kMessageLeftDoubleClick:
    case kMessageRightDoubleClick:
      p.pressedControl = code == kMessageLeftDoubleClick ? control : p.pressedControl;
      queueControlEvent(p, control, ControlNotice::DoubleClick);
      break;
    case kMessageRightButtonUp:
      if (releaseInside) queueControlEvent(p, control, ControlNotice::RightRelease);
      break;
    default:
      break;
  }
}

// The GL surface: its mouse, focus and key messages become control events.
void surfaceHandler(Platform& p, int32_t control, int32_t code) {
  switch (code) {
    case kMessageMouseMove:
      queueControlEvent(p, control, ControlNotice::MouseMove);
      break;
    case kMessageLeftButtonDown:
    case kMessageRightButtonDown:
    case kMessageMiddleButtonDown:
      if ((p.controls[control].options & kSurfaceKeyboard) && p.focusControl != control) {
        p.focusControl = control;
        queueControlEvent(p, control, ControlNotice::Focus);
      }
      queueControlEvent(p, control, ControlNotice::MousePress);
      break;
    case kMessageLeftDoubleClick:
    case kMessageRightDoubleClick:
      queueControlEvent(p, control, ControlNotice::DoubleClick);
      break;
    case kMessageLeftButtonUp:
    case kMessageRightButtonUp:
    case kMessageMiddleButtonUp:
      queueControlEvent(p, control, ControlNotice::MouseRelease);
      break;
    case kMessageKeyDown:
      queueControlEvent(p, control, ControlNotice::KeyPress);
      break;
    case kMessageKeyUp:
      queueControlEvent(p, control, ControlNotice::KeyRelease);
      break;
    default:
      break;
  }
}

// Runs the hook for a message of a top-level window; true when it handled it.
bool hookHandled(Platform& p, int32_t window, const Message& message) {
  return p.hook && p.hook(p, window, message) != kHookNotHandled;
}

int32_t dispatchMouse(Platform& p, const SDL_Event& e) {
  const uint32_t id = e.type == SDL_MOUSEMOTION  ? e.motion.windowID
                      : e.type == SDL_MOUSEWHEEL ? e.wheel.windowID
                                                 : e.button.windowID;
  const int32_t window = windowNumber(p, id);
  int32_t x = 0, y = 0;
  if (e.type == SDL_MOUSEMOTION) {
    x = e.motion.x;
    y = e.motion.y;
  } else if (e.type == SDL_MOUSEWHEEL) {
    SDL_GetMouseState(&x, &y);
  } else {
    x = e.button.x;
    y = e.button.y;
  }
  if (window < 0) return mouseCode(e, false);
  // A left release belongs to the control that took the press (mouse capture).
  int32_t control = controlAt(p, window, x, y);
  const bool leftUp = e.type == SDL_MOUSEBUTTONUP && e.button.button == SDL_BUTTON_LEFT;
  if (leftUp && p.pressedControl >= 0) control = p.pressedControl;
  if (control < 0) {
    Message message{mouseCode(e, false), x, y, 0};
    if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT) p.pressedControl = -1;
    hookHandled(p, window, message);
    return message.code;
  }
  const Control& c = p.controls[control];
  const int32_t code = mouseCode(e, true);
  if (c.kind == ControlKind::ImageButton) buttonHandler(p, control, code, c.box.contains(x, y));
  if (c.kind == ControlKind::GlSurface) surfaceHandler(p, control, code);
  return code;
}

int32_t dispatchKey(Platform& p, const SDL_Event& e) {
  const int32_t code = e.type == SDL_KEYDOWN ? kMessageKeyDown : kMessageKeyUp;
  const int32_t window = windowNumber(p, e.key.windowID);
  if (window < 0) return code;
  const int32_t focus = p.focusControl;
  if (focus >= 0 && p.controls[focus].kind == ControlKind::GlSurface &&
      p.controls[focus].window == window) {
    surfaceHandler(p, focus, code);
    return code;
  }
  hookHandled(p, window, Message{code, 0, 0, static_cast<int32_t>(e.key.keysym.sym)});
  return code;
}

int32_t dispatchWindowEvent(Platform& p, const SDL_Event& e) {
  const int32_t window = windowNumber(p, e.window.windowID);
  int32_t code = kMessageOther;
  switch (e.window.event) {
    case SDL_WINDOWEVENT_CLOSE:
      code = kMessageClose;
      break;
    case SDL_WINDOWEVENT_EXPOSED:
      code = kMessageExpose;
      break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      code = kMessageFocus;
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
      code = kMessageBlur;
      p.pressedControl = -1;
      break;
    default:
      break;
  }
  if (window < 0) return code;
  if (hookHandled(p, window, Message{code, 0, 0, 0})) return code;
  // A close request only queues an event: the window stays open unless the
  // program acts on it.
  if (code == kMessageClose) pushEvent(p.queue, Event{kEventClose, -1, window, 0});
  return code;
}

int32_t dispatch(Platform& p, const SDL_Event& e) {
  switch (e.type) {
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
    case SDL_MOUSEWHEEL:
      return dispatchMouse(p, e);
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      return dispatchKey(p, e);
    case SDL_TEXTINPUT:
      return kMessageText;
    case SDL_WINDOWEVENT:
      return dispatchWindowEvent(p, e);
    case SDL_QUIT:
      // The system asks the whole program to end: a close request for the
      // first open window (the program decides, as for any close request).
      for (int i = 0; i < Platform::kMaxWindows; ++i) {
        if (!p.windows[i].sdl) continue;
        if (!hookHandled(p, i, Message{kMessageClose, 0, 0, 0})) {
          pushEvent(p.queue, Event{kEventClose, -1, i, 0});
        }
        break;
      }
      return kMessageClose;
    default:
      return kMessageOther;
  }
}

}  // namespace

void setEventHook(Platform& platform, EventHook hook) {
  platform.hook = hook;
}

int32_t pollEvent(Platform& platform) {
  Event event;
  if (popEvent(platform.queue, event)) {
    platform.current = event;
    return event.code;
  }
  if (!platform.videoReady) return kEventNone;
  SDL_Event e;
  if (!SDL_PollEvent(&e)) return kEventNone;
  if (e.type == SDL_MOUSEMOTION) takeNewestMotion(e);
  const int32_t code = dispatch(platform, e);
  platform.current = Event{code, -1, -1, 0};
  return code;
}

int32_t eventControl(const Platform& platform) {
  return platform.current.control;
}

void beginWindowDrag(Platform& platform, int32_t window, int32_t x, int32_t y) {
  if (window < 0 || window >= Platform::kMaxWindows || !platform.windows[window].sdl) return;
  WindowRecord& w = platform.windows[window];
  // The pointer keeps its place on the window: the corner follows the
  // pointer at (x, y) from it. The move runs here, inside the dispatch of the
  // press, until the left button is released.
  int posX = 0, posY = 0;
  SDL_GetWindowPosition(w.sdl, &posX, &posY);
  int releasedPolls = 0;
  for (;;) {
    SDL_PumpEvents();
    SDL_Event release;
    if (takeLeftRelease(release)) {
      // Queued mouse events are relative to where the window stood when they
      // happened: the place this loop set last (or the start).
      moveWindowTo(w, posX + release.button.x - x, posY + release.button.y - y);
      break;
    }
    int gx = 0, gy = 0;
    const Uint32 buttons = SDL_GetGlobalMouseState(&gx, &gy);
    if (buttons & SDL_BUTTON_LMASK) {
      if (gx - x != posX || gy - y != posY) {
        posX = gx - x;
        posY = gy - y;
        moveWindowTo(w, posX, posY);
      }
    } else if (++releasedPolls > kReleaseWaitPolls) {
      break;  // released, but the release never reached this window
    }
    SDL_Delay(kDragStepMs);
  }
  platform.pressedControl = -1;
  if (platform.surfaceControl >= 0 && platform.controls[platform.surfaceControl].window == window) {
    presentWindow(platform, window, 0, 0, w.innerWidth, w.innerHeight);
  }
}
