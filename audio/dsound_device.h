#pragma once
// The ring device on DirectSound: one looping secondary buffer of kRingBytes,
// 16-bit stereo at 44,100 Hz, whose play cursor, Lock and Unlock are the ring's
// own. A lost buffer is restored and played again. The system's interfaces are
// kept untyped so that its headers stay out of the program's sources.
#include "audio/ring_device.h"

class DsoundRingDevice : public RingDevice {
 public:
  DsoundRingDevice() = default;
  DsoundRingDevice(const DsoundRingDevice&) = delete;
  DsoundRingDevice& operator=(const DsoundRingDevice&) = delete;
  ~DsoundRingDevice() override { close(); }

  DeviceStatus open() override;
  void close() override;
  DeviceStatus playCursor(int& offset) override;
  DeviceStatus lock(int offset, int bytes, RingRegions& regions) override;
  void unlock(const RingRegions& regions) override;
  DeviceStatus restore() override;
  void prepareWorkerThread() override;
  void setOwnerWindow(void* window) override { window_ = window; }

 private:
  void* window_ = nullptr;     // HWND for the cooperative level; the desktop's when null
  void* device_ = nullptr;     // IDirectSound
  void* primary_ = nullptr;    // IDirectSoundBuffer: the primary buffer, for its format
  void* secondary_ = nullptr;  // IDirectSoundBuffer: the ring
};
