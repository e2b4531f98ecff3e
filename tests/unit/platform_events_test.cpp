// The layer's event queue: one event per poll, oldest first, an event equal
// to the newest still waiting is not queued twice; and how the demo's loop
// reads control events.
#include <gtest/gtest.h>

#include "app/demo.h"
#include "app/demo_window.h"
#include "platform/event_queue.h"
#include "platform/platform.h"

namespace {

Event controlEvent(int32_t control, ControlNotice notice = ControlNotice::Click) {
  return Event{kEventControl, control, 0, static_cast<int32_t>(notice)};
}

std::vector<Event> drain(EventQueue& queue) {
  std::vector<Event> out;
  Event e;
  while (popEvent(queue, e)) out.push_back(e);
  return out;
}

TEST(EventQueueTest, RepeatOfTheNewestWaitingEventIsDropped) {
  EventQueue queue;
  EXPECT_TRUE(pushEvent(queue, controlEvent(4)));
  EXPECT_FALSE(pushEvent(queue, controlEvent(4)));
  EXPECT_FALSE(pushEvent(queue, controlEvent(4)));
  EXPECT_EQ(drain(queue).size(), 1u);
}

TEST(EventQueueTest, FullQueueDropsNewEventsAndKeepsOrderAcrossWrap) {
  EventQueue queue;
  for (int i = 0; i < EventQueue::kCapacity; ++i) {
    ASSERT_TRUE(pushEvent(queue, Event{kEventControl, i, 0, 0}));
  }
  EXPECT_FALSE(pushEvent(queue, Event{kEventControl, 999, 0, 0}));
  Event e;
  for (int i = 0; i < 10; ++i) popEvent(queue, e);
  for (int i = 0; i < 10; ++i) pushEvent(queue, Event{kEventControl, 100 + i, 0, 0});
  const std::vector<Event> got = drain(queue);
  ASSERT_EQ(got.size(), static_cast<size_t>(EventQueue::kCapacity));
  EXPECT_EQ(got.front().control, 10);
  EXPECT_EQ(got.back().control, 109);
}

TEST(PollEventTest, ReturnsOneQueuedEventPerCallThenNothing) {
  Platform platform;  // no window system: only the layer's own queue
  pushEvent(platform.queue, controlEvent(0, ControlNotice::MouseMove));
  pushEvent(platform.queue, controlEvent(4));
  pushEvent(platform.queue, Event{kEventClose, -1, 0, 0});
  EXPECT_EQ(pollEvent(platform), kEventControl);
  EXPECT_EQ(eventControl(platform), 0);
  EXPECT_EQ(pollEvent(platform), kEventControl);
  EXPECT_EQ(eventControl(platform), 4);
  EXPECT_EQ(pollEvent(platform), kEventClose);
  EXPECT_EQ(pollEvent(platform), kEventNone);
}

TEST(PollEventTest, OnlyControlEventsOfTheCloseButtonEndTheDemo) {
  Platform platform;
  pushEvent(platform.queue, controlEvent(kGlSurface, ControlNotice::MousePress));
  pushEvent(platform.queue, Event{kEventClose, -1, kDemoWindow, 0});
  pushEvent(platform.queue, Event{kMessageLeftButtonUp, kCloseButton, kDemoWindow, 0});
  pushEvent(platform.queue, controlEvent(kCloseButton, ControlNotice::RightRelease));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(endsDemo(platform, pollEvent(platform))) << i;
  EXPECT_TRUE(endsDemo(platform, pollEvent(platform)));
  // A double click ends it as well.
  pushEvent(platform.queue, controlEvent(kCloseButton, ControlNotice::DoubleClick));
  EXPECT_TRUE(endsDemo(platform, pollEvent(platform)));
}

}  // namespace
