#include "platform/event_queue.h"

bool pushEvent(EventQueue& queue, const Event& event) {
  if (queue.count > 0) {
    const int newest = (queue.head + queue.count - 1) % EventQueue::kCapacity;
    if (queue.slots[newest] == event) return false;
  }
  if (queue.count == EventQueue::kCapacity) return false;
  queue.slots[(queue.head + queue.count) % EventQueue::kCapacity] = event;
  ++queue.count;
  return true;
}

bool popEvent(EventQueue& queue, Event& event) {
  if (queue.count == 0) return false;
  event = queue.slots[queue.head];
  queue.head = (queue.head + 1) % EventQueue::kCapacity;
  --queue.count;
  return true;
}
