#include "audio/audio_stream.h"

#include <chrono>
#include <cmath>

namespace {

void resetState(AudioStream& stream) {
  stream.regions = {};
  stream.writePosition = 0;
  stream.bytesWritten = -kRingBytes;
  stream.lastPosition = -kRingBytes;
  stream.outputScale.store(kFullScale);
  stream.stopRequest.store(0);
  stream.scratch.fill(0.0f);
  std::lock_guard<std::mutex> guard(stream.wake.mutex);
  stream.wake.pending = false;
}

// Waits for streamWake or the end of one worker period, then clears the
// signal (auto-reset).
void waitForWake(WakeEvent& wake, int periodMs) {
  std::unique_lock<std::mutex> guard(wake.mutex);
  wake.signal.wait_for(guard, std::chrono::milliseconds(periodMs),
                       [&wake] { return wake.pending; });
  wake.pending = false;
}

void runWorker(AudioStream& stream) {
  stream.device->prepareWorkerThread();
  while (stream.stopRequest.load() == 0) {
    waitForWake(stream.wake, stream.workerPeriodMs);
    if (stream.stopRequest.load() != 0) break;
    streamFill(stream);
  }
}

// Reads the play cursor, restoring a lost device a bounded number of times.
// False when no valid reading came.
bool readCursor(RingDevice& device, int& cursor, int& restoresLeft) {
  for (;;) {
    DeviceStatus status = device.playCursor(cursor);
    if (status == DeviceStatus::Ok) return cursor >= 0 && cursor < kRingBytes;
    if (status != DeviceStatus::Lost || restoresLeft <= 0) return false;
    --restoresLeft;
    device.restore();
  }
}

void writeRegions(const AudioStream& stream, const RingRegions& regions, float scale) {
  const float* source = stream.scratch.data();
  if (regions.first) {
    int samples = regions.firstBytes / 2;
    convertToPcm16(source, regions.first, samples, scale);
    source += samples;
  }
  if (regions.second) convertToPcm16(source, regions.second, regions.secondBytes / 2, scale);
}

}  // namespace

AudioStream::~AudioStream() {
  streamClose(*this);
}

void convertToPcm16(const float* in, int16_t* out, int count, float scale) {
  constexpr float kHigh = static_cast<float>(kSampleLimit);
  for (int i = 0; i < count; ++i) {
    float v = in[i] * scale;
    // Clamping before rounding gives the same result as after (the limit is
    // an integer) and keeps infinities out of lrint.
    if (v > kHigh) v = kHigh;
    if (v < -kHigh) v = -kHigh;
    if (v != v) v = 0.0f;
    out[i] = static_cast<int16_t>(std::lrint(v));
  }
}

bool streamOpen(AudioStream& stream, RingDevice& device, StreamCallback callback, void* context) {
  if (stream.running) return false;
  resetState(stream);
  stream.device = &device;
  stream.callback = callback;
  stream.context = context;
  if (device.open() != DeviceStatus::Ok) {
    device.close();
    stream.device = nullptr;
    return false;
  }
  stream.running = true;
  stream.worker = std::thread(runWorker, std::ref(stream));
  return true;
}

void streamClose(AudioStream& stream) {
  if (!stream.running) return;
  stream.stopRequest.fetch_add(1);
  streamWake(stream);
  // The worker ends within one wait period plus the fill in progress; only
  // then is the device it uses closed.
  if (stream.worker.joinable()) stream.worker.join();
  stream.device->close();
  stream.device = nullptr;
  stream.running = false;
}

void streamFill(AudioStream& stream) {
  std::lock_guard<std::recursive_mutex> guard(stream.lock);
  if (!stream.running) return;
  RingDevice& device = *stream.device;
  int restoresLeft = kMaxRestoreTries;
  for (;;) {
    stream.regions = {};
    int cursor = 0;
    if (!readCursor(device, cursor, restoresLeft)) {
      // Where the device plays is unknown; assume one period went by.
      cursor = (stream.writePosition + kUnreadCursorStep) % kRingBytes;
    }
    int target = cursor & ~(kFillGranule - 1);
    int gap = target - stream.writePosition;
    if (gap == 0) return;
    if (gap < 0) gap += kRingBytes;

    stream.bytesWritten += gap;
    int from = stream.writePosition;
    stream.writePosition = target;
    DeviceStatus status = device.lock(from, gap, stream.regions);
    if (status == DeviceStatus::Lost && restoresLeft > 0) {
      // The stretch whose lock failed stays as it was; the timeline has
      // already moved past it.
      --restoresLeft;
      device.restore();
      continue;
    }
    if (status != DeviceStatus::Ok) stream.regions = {};

    // The client's timeline advances by the gap even when nothing reaches the
    // device.
    if (stream.callback)
      stream.callback(stream.context, stream.scratch.data(), gap / kBytesPerFrame);
    writeRegions(stream, stream.regions, stream.outputScale.load());
    if (stream.regions.first || stream.regions.second) device.unlock(stream.regions);
    return;
  }
}

int64_t streamPosition(AudioStream& stream) {
  std::lock_guard<std::recursive_mutex> guard(stream.lock);
  if (!stream.running) return stream.lastPosition;
  int cursor = 0;
  if (stream.device->playCursor(cursor) != DeviceStatus::Ok) return stream.lastPosition;
  int distance = cursor - stream.writePosition;
  if (distance < 0) distance += kRingBytes;
  if (distance < kQuarterRingBytes) stream.lastPosition = stream.bytesWritten + distance;
  return stream.lastPosition;
}

void streamSetVolume(AudioStream& stream, float volume) {
  stream.outputScale.store(volume * kFullScale);
}

void streamWake(AudioStream& stream) {
  {
    std::lock_guard<std::mutex> guard(stream.wake.mutex);
    stream.wake.pending = true;
  }
  stream.wake.signal.notify_one();
}

void streamLock(AudioStream& stream) {
  stream.lock.lock();
}

void streamUnlock(AudioStream& stream) {
  stream.lock.unlock();
}
