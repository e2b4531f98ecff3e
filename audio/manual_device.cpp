#include "audio/manual_device.h"

namespace {

// Takes one from a countdown; true when it was above 0.
bool takeOne(std::atomic<int>& countdown) {
  int left = countdown.load();
  while (left > 0 && !countdown.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

int wrapOffset(int offset) {
  offset %= kRingBytes;
  return offset < 0 ? offset + kRingBytes : offset;
}

}  // namespace

DeviceStatus ManualRingDevice::open() {
  if (failOpen_.exchange(false)) return DeviceStatus::Failed;
  ring_.fill(0);
  cursor_.store(0);
  open_.store(true);
  return DeviceStatus::Ok;
}

void ManualRingDevice::close() {
  open_.store(false);
}

DeviceStatus ManualRingDevice::playCursor(int& offset) {
  cursorReadings_.fetch_add(1);
  if (takeOne(lostReadings_)) return DeviceStatus::Lost;
  if (takeOne(failedReadings_)) return DeviceStatus::Failed;
  int step = freeRunStep_.load();
  if (step != 0) advance(step);
  offset = cursor_.load();
  return DeviceStatus::Ok;
}

DeviceStatus ManualRingDevice::lock(int offset, int bytes, RingRegions& regions) {
  regions = {};
  if (!open_.load() || failLocks_.load() || bytes <= 0 || bytes > kRingBytes)
    return DeviceStatus::Failed;
  lockCount_.fetch_add(1);
  offset = wrapOffset(offset);
  int firstBytes = bytes < kRingBytes - offset ? bytes : kRingBytes - offset;
  regions.first = ring_.data() + offset / 2;
  regions.firstBytes = firstBytes;
  if (bytes > firstBytes) {
    regions.second = ring_.data();
    regions.secondBytes = bytes - firstBytes;
  }
  return DeviceStatus::Ok;
}

void ManualRingDevice::unlock(const RingRegions&) {}

DeviceStatus ManualRingDevice::restore() {
  restoreCount_.fetch_add(1);
  return DeviceStatus::Ok;
}

void ManualRingDevice::setCursor(int offset) {
  cursor_.store(wrapOffset(offset));
}

void ManualRingDevice::advance(int bytes) {
  int current = cursor_.load();
  while (!cursor_.compare_exchange_weak(current, wrapOffset(current + bytes))) {
  }
}
