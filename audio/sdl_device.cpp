#include "audio/sdl_device.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kOutputFrames = 1024;  // SDL's own buffer: about 23 ms
constexpr auto kReopenInterval = std::chrono::milliseconds(500);

void SDLCALL feedOutput(void* device, Uint8* out, int bytes) {
  static_cast<SdlRingDevice*>(device)->play(out, bytes);
}

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// ALSA's library prints its own diagnostics on stderr while SDL probes for a
// device: a dozen lines on a machine without a sound card. SDL loads the
// library at run time; loading the same instance here first lets us give it
// a silent error handler. Nothing is lost: SDL still says why no device
// opened. The library stays loaded, as SDL keeps using it.
void silenceAlsaDiagnostics() {
  using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
  using SetHandler = int (*)(Handler);
  void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
  if (!alsa) return;
  if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) {
    set(ignoreAlsaMessage);
  }
}

}  // namespace

DeviceStatus SdlRingDevice::open() {
  error_[0] = '\0';
  silenceAlsaDiagnostics();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    keepError();
    return DeviceStatus::Failed;
  }
  subsystemUp_ = true;
  ring_.fill(0);
  cursor_.store(0);
  detached_ = false;
  if (openOutput()) return DeviceStatus::Ok;
  keepError();
  return DeviceStatus::Failed;
}

void SdlRingDevice::keepError() {
  std::snprintf(error_, sizeof error_, "%s", SDL_GetError());
}

void SdlRingDevice::close() {
  closeOutput();
  detached_ = false;
  if (subsystemUp_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  subsystemUp_ = false;
}

bool SdlRingDevice::openOutput() {
  SDL_AudioSpec want{};
  want.freq = kStreamSampleRate;
  want.format = AUDIO_S16SYS;
  want.channels = kStreamChannels;
  want.samples = kOutputFrames;
  want.callback = feedOutput;
  want.userdata = this;
  // No changes allowed: SDL converts to whatever the hardware wants.
  outputId_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
  if (outputId_ == 0) return false;
  SDL_PauseAudioDevice(outputId_, 0);
  return true;
}

void SdlRingDevice::closeOutput() {
  // Waits for a callback in progress to end; the callback takes no lock, so
  // this cannot deadlock against the stream's worker.
  if (outputId_ != 0) SDL_CloseAudioDevice(outputId_);
  outputId_ = 0;
}

void SdlRingDevice::play(uint8_t* out, int bytes) {
  published_.load(std::memory_order_acquire);
  int cursor = cursor_.load(std::memory_order_relaxed);
  while (bytes > 0) {
    int run = bytes < kRingBytes - cursor ? bytes : kRingBytes - cursor;
    std::memcpy(out, ring_.data() + cursor, static_cast<size_t>(run));
    out += run;
    bytes -= run;
    cursor = (cursor + run) % kRingBytes;
  }
  cursor_.store(cursor, std::memory_order_release);
}

int SdlRingDevice::detachedCursor() {
  auto elapsed =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - detachedSince_);
  long long frames = elapsed.count() * kStreamSampleRate / 1000000;
  return static_cast<int>((detachedBase_ + frames * kBytesPerFrame) % kRingBytes);
}

DeviceStatus SdlRingDevice::playCursor(int& offset) {
  if (!subsystemUp_) return DeviceStatus::Failed;
  if (detached_) {
    offset = detachedCursor();
    if (Clock::now() - lastReopenTry_ >= kReopenInterval) {
      lastReopenTry_ = Clock::now();
      cursor_.store(offset, std::memory_order_release);
      if (openOutput()) detached_ = false;
    }
    return DeviceStatus::Ok;
  }
  if (SDL_GetAudioDeviceStatus(outputId_) == SDL_AUDIO_STOPPED) return DeviceStatus::Lost;
  offset = cursor_.load(std::memory_order_acquire);
  return DeviceStatus::Ok;
}

DeviceStatus SdlRingDevice::lock(int offset, int bytes, RingRegions& regions) {
  regions = {};
  if (!subsystemUp_ || offset < 0 || offset >= kRingBytes || bytes <= 0 || bytes > kRingBytes)
    return DeviceStatus::Failed;
  int firstBytes = bytes < kRingBytes - offset ? bytes : kRingBytes - offset;
  regions.first = reinterpret_cast<int16_t*>(ring_.data() + offset);
  regions.firstBytes = firstBytes;
  if (bytes > firstBytes) {
    regions.second = reinterpret_cast<int16_t*>(ring_.data());
    regions.secondBytes = bytes - firstBytes;
  }
  return DeviceStatus::Ok;
}

void SdlRingDevice::unlock(const RingRegions&) {
  published_.fetch_add(1, std::memory_order_release);
}

DeviceStatus SdlRingDevice::restore() {
  if (!subsystemUp_) return DeviceStatus::Failed;
  if (detached_) return DeviceStatus::Ok;
  int cursor = cursor_.load(std::memory_order_acquire);
  closeOutput();
  cursor_.store(cursor, std::memory_order_release);
  lastReopenTry_ = Clock::now();
  if (openOutput()) return DeviceStatus::Ok;
  // No output for now: keep time with the clock and try again later.
  detached_ = true;
  detachedBase_ = cursor;
  detachedSince_ = Clock::now();
  return DeviceStatus::Ok;
}

void SdlRingDevice::prepareWorkerThread() {
  SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);
}
