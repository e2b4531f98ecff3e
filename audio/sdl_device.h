#pragma once
// The ring device on an SDL2 audio output. The ring lives here; SDL's audio
// callback plays it in a loop and advances the play cursor. When the output
// disappears (unplugged, server gone) it is reopened where possible; until
// then the cursor runs on the clock, so the client's timeline keeps going and
// nothing waits on a device that is not there.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "audio/ring_device.h"

class SdlRingDevice : public RingDevice {
 public:
  SdlRingDevice() = default;
  SdlRingDevice(const SdlRingDevice&) = delete;
  SdlRingDevice& operator=(const SdlRingDevice&) = delete;
  ~SdlRingDevice() override { close(); }

  DeviceStatus open() override;
  void close() override;
  DeviceStatus playCursor(int& offset) override;
  DeviceStatus lock(int offset, int bytes, RingRegions& regions) override;
  void unlock(const RingRegions& regions) override;
  DeviceStatus restore() override;
  void prepareWorkerThread() override;

  // Why the last open failed, as SDL put it; empty after a successful one.
  const char* errorText() const { return error_; }

  // SDL's audio thread: copies `bytes` bytes of the ring from the play cursor.
  void play(uint8_t* out, int bytes);

 private:
  using Clock = std::chrono::steady_clock;

  bool openOutput();
  void closeOutput();
  int detachedCursor();
  void keepError();

  alignas(16) std::array<uint8_t, kRingBytes> ring_{};
  std::atomic<int> cursor_{0};
  std::atomic<uint32_t> published_{0};  // orders ring writes before SDL's reads
  uint32_t outputId_ = 0;               // SDL audio device id; 0 = none open
  bool subsystemUp_ = false;
  char error_[160] = {};

  // Without an output the cursor advances with the clock from here.
  bool detached_ = false;
  int detachedBase_ = 0;
  Clock::time_point detachedSince_{};
  Clock::time_point lastReopenTry_{};
};
