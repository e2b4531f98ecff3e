#pragma once
// The layer's own event queue: control events and close requests wait here
// until the program polls them, one per poll.
#include <array>
#include <cstdint>

// Event codes returned by pollEvent.
inline constexpr int32_t kEventNone = 0;
inline constexpr int32_t kEventControl = 13100;  // eventControl names the control
inline constexpr int32_t kEventClose = 13116;    // close request for a window

struct Event {
  int32_t code = kEventNone;
  int32_t control = -1;  // control number, -1 when the event is not a control's
  int32_t window = -1;
  int32_t detail = 0;  // what happened to the control (ControlNotice)

  friend bool operator==(const Event&, const Event&) = default;
};

// Fixed-capacity ring of events. Enough for any burst a poll can dispatch; an
// event that finds the ring full is dropped, never an older one.
struct EventQueue {
  static constexpr int kCapacity = 64;
  std::array<Event, kCapacity> slots{};
  int head = 0;   // oldest waiting event
  int count = 0;  // events waiting
};

// Appends `event` unless it equals the newest event still waiting (same code,
// control, window and detail). Returns false when the event was not queued.
bool pushEvent(EventQueue& queue, const Event& event);

// Removes the oldest event into `event`; false when the queue is empty.
bool popEvent(EventQueue& queue, Event& event);
