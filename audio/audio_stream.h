#pragma once
// The audio stream: a worker thread keeps the device's looping ring filled from
// a client callback that renders float frames on demand. Every visit fills the
// stretch the device has played since the last one, so data written now is
// heard one ring length (about 371.5 ms) later; the first ring length after
// opening is silence.
//
// The stream is a record its owner allocates; several streams (each on its own
// device) may live in one process.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "audio/ring_device.h"

// Renders `frameCount` interleaved stereo frames (left, right) into `frames`.
using StreamCallback = void (*)(void* context, float* frames, int frameCount);

constexpr float kFullScale = 32768.0f;  // outputScale at volume 1.0
constexpr int kSampleLimit = 32600;     // converted samples are clamped to +-this
constexpr int kFillGranule = 32;        // the play cursor is used at 8-frame granularity
constexpr int kQuarterRingBytes = kRingBytes / 4;
constexpr int kWorkerPeriodMs = 21;  // about 926 frames per visit
constexpr int kMaxRestoreTries = 4;  // bound on device restores within one visit
// How far a visit that cannot read the play cursor moves the timeline: one
// worker period of audio (920 frames), so the client's timeline keeps moving
// at about the device's pace while nothing reaches it.
constexpr int kUnreadCursorStep =
    (kStreamSampleRate * kWorkerPeriodMs / 1000 * kBytesPerFrame) & ~(kFillGranule - 1);

// Auto-reset wake signal for the worker.
struct WakeEvent {
  std::mutex mutex;
  std::condition_variable signal;
  bool pending = false;
};

struct AudioStream {
  RingDevice* device = nullptr;
  StreamCallback callback = nullptr;
  void* context = nullptr;
  std::atomic<float> outputScale{kFullScale};
  std::atomic<int> stopRequest{0};
  std::thread worker;
  bool running = false;  // between a successful streamOpen and streamClose

  // The timeline counts bytes in 64 bits: at 176,400 bytes a second a 32-bit
  // count would overflow after 3 h 23 min, and the stream runs for days.
  RingRegions regions;       // the last lock
  int writePosition = 0;     // ring offset written up to; a multiple of kFillGranule
  int64_t bytesWritten = 0;  // -kRingBytes plus every gap filled so far
  int64_t lastPosition = 0;  // last value returned by streamPosition

  WakeEvent wake;
  int workerPeriodMs = kWorkerPeriodMs;  // the worker's wait when no wake comes
  std::recursive_mutex lock;             // held by the worker over each whole fill

  std::array<float, kRingFrames * kStreamChannels> scratch{};  // the callback renders here

  AudioStream() = default;
  AudioStream(const AudioStream&) = delete;
  AudioStream& operator=(const AudioStream&) = delete;
  ~AudioStream();
};

// Opens the device, starts its looping playback and the worker. Returns false,
// with everything undone, when the device cannot be opened. Must not be called
// on a running stream.
bool streamOpen(AudioStream& stream, RingDevice& device, StreamCallback callback, void* context);

// Stops the worker (waiting for it to end) and then closes the device. Does
// nothing on a stream that is not running.
void streamClose(AudioStream& stream);

// Bytes of client audio played so far (4 per frame); negative while the
// silence of the first ring length plays. A reading a quarter ring or more
// away from the write position is ignored and the previous value returned.
int64_t streamPosition(AudioStream& stream);

// outputScale = volume * 32,768; takes effect at the next conversion.
void streamSetVolume(AudioStream& stream, float volume);

// Makes the worker fill at once instead of at the end of its wait.
void streamWake(AudioStream& stream);

// Keeps the callback from running while the caller changes what it uses.
void streamLock(AudioStream& stream);
void streamUnlock(AudioStream& stream);

// One worker visit: reads the play cursor and fills the stretch played since
// the last visit. When the cursor cannot be read (an error, or a device still
// lost after kMaxRestoreTries restores) the visit takes it to lie
// kUnreadCursorStep past the write position and fills that, so the client's
// timeline keeps moving. The worker calls this; exposed for its tests.
void streamFill(AudioStream& stream);

// Float samples to 16-bit: times `scale`, rounded to nearest (ties to even),
// clamped to +-kSampleLimit. NaN becomes 0. Offline renderers use this too, so
// a file sounds exactly like the stream.
void convertToPcm16(const float* in, int16_t* out, int count, float scale);
