#pragma once
// Sound files written by `tune render`: the format follows the output's
// extension (.wav, .flac, .ogg), 16-bit samples converted exactly as the
// audio stream converts them, or 32-bit floats (WAV only) as synthesized.
#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

struct SoundFormat {
  const char* extension;  // lower case, without the dot
  int major;              // the sound file library's container
  bool holdsFloat;        // can keep the synthesizer's float samples
};

// The format for an output path; null when its extension names none.
const SoundFormat* soundFormatFor(const std::string& path);
// ".wav, .flac or .ogg", for messages.
const char* soundFormatList();

// Past this many bytes of samples a WAV file's 32-bit sizes would wrap, so
// the file is written as RF64.
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 4096;

class SoundFileWriter {
 public:
  SoundFileWriter() = default;
  ~SoundFileWriter();
  SoundFileWriter(const SoundFileWriter&) = delete;
  SoundFileWriter& operator=(const SoundFileWriter&) = delete;

  // Opens `path` for stereo at `rate` Hz. `maxFrames` bounds what will be
  // written: a WAV file that could outgrow 4 GiB is begun as RF64 and
  // becomes plain WAV again when it ends small enough. False with error().
  bool open(const std::string& path, const SoundFormat& format, int rate, bool asFloat,
            int64_t maxFrames);
  // Writes interleaved stereo frames. False with error().
  bool write(const float* frames, int count);
  // Completes the file. False with error().
  bool close();
  // Why the last operation failed.
  const std::string& error() const { return error_; }
  // True when the file is being written as RF64.
  bool isRf64() const { return rf64_; }

 private:
  void keepError();

  SNDFILE* file_ = nullptr;
  bool asFloat_ = false;
  bool rf64_ = false;
  std::vector<int16_t> pcm_;
  std::string error_;
};
