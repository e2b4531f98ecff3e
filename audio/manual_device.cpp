#include "audio/manual_device.h"

namespace {

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
  int lost = lostReadings_.load();
  while (lost > 0 && !lostReadings_.compare_exchange_weak(lost, lost - 1)) {
  }
  if (lost > 0) return DeviceStatus::Lost;
  int step = freeRunStep_.load();
  if (step != 0) advance(step);
  offset = cursor_.load();
  return DeviceStatus::Ok;
}

DeviceStatus ManualRingDevice::lock(int offset, int bytes, RingRegions& regions) {
  regions = {};
  if (!open_.load() || bytes <= 0 || bytes > kRingBytes) return DeviceStatus::Failed;
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
