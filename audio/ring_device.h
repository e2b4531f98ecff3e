#pragma once
// The device under the audio stream: one looping ring of 16-bit stereo PCM
// whose play position can be read and whose played stretch can be locked and
// rewritten. Back ends: SDL2 (audio/sdl_device.h), DirectSound on Windows
// (audio/dsound_device.h) and a manually clocked ring for tests
// (audio/manual_device.h); audio/system_device.h names the system's.
#include <cstdint>

constexpr int kStreamSampleRate = 44100;  // Hz
constexpr int kStreamChannels = 2;
constexpr int kBytesPerFrame = 4;  // two signed 16-bit samples
constexpr int kRingBytes = 65536;  // 16,384 frames, about 371.5 ms
constexpr int kRingFrames = kRingBytes / kBytesPerFrame;

enum class DeviceStatus {
  Ok,
  Lost,    // the device went away; restore() may bring it back
  Failed,  // any other error
};

// A locked stretch of the ring: at most two regions when it crosses the end.
struct RingRegions {
  int16_t* first = nullptr;
  int firstBytes = 0;
  int16_t* second = nullptr;
  int secondBytes = 0;
};

class RingDevice {
 public:
  virtual ~RingDevice() = default;

  // Creates the ring (kRingBytes of zeros) and starts looping playback at
  // offset 0. A device object can be opened again after close().
  virtual DeviceStatus open() = 0;
  virtual void close() = 0;

  // Byte offset of the play cursor in the ring, 0..kRingBytes-1.
  virtual DeviceStatus playCursor(int& offset) = 0;

  // Locks `bytes` bytes from `offset` (wrapping at the ring end) for writing.
  // On failure the regions are left null.
  virtual DeviceStatus lock(int offset, int bytes, RingRegions& regions) = 0;
  virtual void unlock(const RingRegions& regions) = 0;

  // Brings a lost device back; the ring keeps its contents and its cursor.
  virtual DeviceStatus restore() = 0;

  // Called once on the stream's worker thread before its first fill, so a
  // back end can raise the thread's priority.
  virtual void prepareWorkerThread() {}

  // The window the sound belongs to (the system's handle), given before
  // open(); back ends whose device is tied to a window use it.
  virtual void setOwnerWindow(void* window) { (void)window; }
};
