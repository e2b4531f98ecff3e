#include "audio/dsound_device.h"

// The system's headers in the order they need each other.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>
// clang-format on

namespace {

IDirectSound* soundOf(void* device) {
  return static_cast<IDirectSound*>(device);
}
IDirectSoundBuffer* bufferOf(void* buffer) {
  return static_cast<IDirectSoundBuffer*>(buffer);
}

// 16-bit stereo PCM at the stream's rate.
WAVEFORMATEX ringFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = kStreamChannels;
  format.nSamplesPerSec = kStreamSampleRate;
  format.nAvgBytesPerSec = kStreamSampleRate * kBytesPerFrame;
  format.nBlockAlign = kBytesPerFrame;
  format.wBitsPerSample = 16;
  format.cbSize = 0;
  return format;
}

DeviceStatus statusOf(HRESULT result) {
  if (result == DSERR_BUFFERLOST) return DeviceStatus::Lost;
  return SUCCEEDED(result) ? DeviceStatus::Ok : DeviceStatus::Failed;
}

// Fills the whole ring with zeros.
DeviceStatus clearRing(IDirectSoundBuffer* ring) {
  void* first = nullptr;
  void* second = nullptr;
  DWORD firstBytes = 0, secondBytes = 0;
  const HRESULT locked =
      ring->Lock(0, 0, &first, &firstBytes, &second, &secondBytes, DSBLOCK_ENTIREBUFFER);
  if (FAILED(locked)) return statusOf(locked);
  if (first) ZeroMemory(first, firstBytes);
  if (second) ZeroMemory(second, secondBytes);
  return statusOf(ring->Unlock(first, firstBytes, second, secondBytes));
}

}  // namespace

DeviceStatus DsoundRingDevice::open() {
  close();
  IDirectSound* device = nullptr;
  if (FAILED(DirectSoundCreate(nullptr, &device, nullptr)) || !device) return DeviceStatus::Failed;
  device_ = device;
  HWND window = window_ ? static_cast<HWND>(window_) : GetDesktopWindow();
  WAVEFORMATEX format = ringFormat();
  DSBUFFERDESC primary{};
  primary.dwSize = sizeof primary;
  primary.dwFlags = DSBCAPS_PRIMARYBUFFER;
  DSBUFFERDESC ring{};
  ring.dwSize = sizeof ring;
  ring.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
  ring.dwBufferBytes = kRingBytes;
  ring.lpwfxFormat = &format;
  IDirectSoundBuffer* primaryBuffer = nullptr;
  IDirectSoundBuffer* ringBuffer = nullptr;
  bool ok = SUCCEEDED(device->SetCooperativeLevel(window, DSSCL_PRIORITY));
  ok = ok && SUCCEEDED(device->CreateSoundBuffer(&primary, &primaryBuffer, nullptr));
  primary_ = primaryBuffer;
  ok = ok && SUCCEEDED(device->CreateSoundBuffer(&ring, &ringBuffer, nullptr));
  secondary_ = ringBuffer;
  // The device plays in the ring's own format where it can; where it cannot,
  // the system converts, so the result does not matter.
  if (ok) primaryBuffer->SetFormat(&format);
  ok = ok && clearRing(ringBuffer) == DeviceStatus::Ok;
  ok = ok && SUCCEEDED(ringBuffer->Play(0, 0, DSBPLAY_LOOPING));
  if (ok) return DeviceStatus::Ok;
  close();
  return DeviceStatus::Failed;
}

void DsoundRingDevice::close() {
  if (secondary_) bufferOf(secondary_)->Release();
  if (primary_) bufferOf(primary_)->Release();
  if (device_) soundOf(device_)->Release();
  secondary_ = primary_ = device_ = nullptr;
}

DeviceStatus DsoundRingDevice::playCursor(int& offset) {
  if (!secondary_) return DeviceStatus::Failed;
  DWORD play = 0;
  const DeviceStatus status = statusOf(bufferOf(secondary_)->GetCurrentPosition(&play, nullptr));
  if (status == DeviceStatus::Ok) offset = static_cast<int>(play % kRingBytes);
  return status;
}

DeviceStatus DsoundRingDevice::lock(int offset, int bytes, RingRegions& regions) {
  regions = {};
  if (!secondary_ || offset < 0 || offset >= kRingBytes || bytes <= 0 || bytes > kRingBytes)
    return DeviceStatus::Failed;
  void* first = nullptr;
  void* second = nullptr;
  DWORD firstBytes = 0, secondBytes = 0;
  const HRESULT result = bufferOf(secondary_)
                             ->Lock(static_cast<DWORD>(offset), static_cast<DWORD>(bytes), &first,
                                    &firstBytes, &second, &secondBytes, 0);
  if (FAILED(result)) return statusOf(result);
  regions.first = static_cast<int16_t*>(first);
  regions.firstBytes = first ? static_cast<int>(firstBytes) : 0;
  regions.second = static_cast<int16_t*>(second);
  regions.secondBytes = second ? static_cast<int>(secondBytes) : 0;
  return DeviceStatus::Ok;
}

void DsoundRingDevice::unlock(const RingRegions& regions) {
  if (!secondary_ || !regions.first) return;
  bufferOf(secondary_)
      ->Unlock(regions.first, static_cast<DWORD>(regions.firstBytes), regions.second,
               static_cast<DWORD>(regions.secondBytes));
}

DeviceStatus DsoundRingDevice::restore() {
  if (!secondary_) return DeviceStatus::Failed;
  IDirectSoundBuffer* ring = bufferOf(secondary_);
  const HRESULT restored = ring->Restore();
  if (FAILED(restored)) return statusOf(restored);
  // A restored buffer has lost its contents and its playing state: silence
  // until the stream has filled it again.
  clearRing(ring);
  return statusOf(ring->Play(0, 0, DSBPLAY_LOOPING));
}

void DsoundRingDevice::prepareWorkerThread() {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}
