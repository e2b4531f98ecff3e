#pragma once
// A ring device clocked by hand: the play cursor moves only when its owner
// moves it, or, when free-running, by a fixed step at every reading (a device
// as fast as the worker can fill). Tests use it to drive the audio stream
// without sound hardware. The cursor and counters may be touched from any
// thread; the ring's contents are read under the stream lock.
#include <array>
#include <atomic>

#include "audio/ring_device.h"

class ManualRingDevice : public RingDevice {
 public:
  DeviceStatus open() override;
  void close() override;
  DeviceStatus playCursor(int& offset) override;
  DeviceStatus lock(int offset, int bytes, RingRegions& regions) override;
  void unlock(const RingRegions& regions) override;
  DeviceStatus restore() override;

  // Moves the play cursor to an offset (taken modulo the ring) or by a step.
  void setCursor(int offset);
  void advance(int bytes);
  // Every later cursor reading first advances the cursor by `bytes` (0: off).
  void setFreeRun(int bytes) { freeRunStep_.store(bytes); }
  // The next `count` cursor readings report a lost device, or another error.
  void loseNextReadings(int count) { lostReadings_.store(count); }
  void failNextReadings(int count) { failedReadings_.store(count); }
  // While set, every lock reports an error (nothing reaches the ring).
  void setFailLocks(bool fail) { failLocks_.store(fail); }
  void failNextOpen() { failOpen_.store(true); }

  int cursor() const { return cursor_.load(); }
  int cursorReadings() const { return cursorReadings_.load(); }
  int lockCount() const { return lockCount_.load(); }
  int restoreCount() const { return restoreCount_.load(); }
  bool isOpen() const { return open_.load(); }
  // The ring as 16-bit samples, kRingBytes / 2 of them.
  const int16_t* samples() const { return ring_.data(); }

 private:
  std::array<int16_t, kRingBytes / 2> ring_{};
  std::atomic<int> cursor_{0};
  std::atomic<int> freeRunStep_{0};
  std::atomic<int> lostReadings_{0};
  std::atomic<int> failedReadings_{0};
  std::atomic<bool> failLocks_{false};
  std::atomic<bool> failOpen_{false};
  std::atomic<bool> open_{false};
  std::atomic<int> cursorReadings_{0};
  std::atomic<int> lockCount_{0};
  std::atomic<int> restoreCount_{0};
};
