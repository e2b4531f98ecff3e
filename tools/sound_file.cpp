#include "tools/sound_file.h"

#include <cerrno>
#include <cstring>

#include "audio/audio_stream.h"
#include "tools/cli/cli.h"

namespace {

constexpr SoundFormat kFormats[] = {
    {"wav", SF_FORMAT_WAV, true},
    {"flac", SF_FORMAT_FLAC, false},
    {"ogg", SF_FORMAT_OGG, false},
};
constexpr int kChannels = 2;

int subtypeOf(const SoundFormat& format, bool asFloat) {
  if (format.major == SF_FORMAT_OGG) return SF_FORMAT_VORBIS;
  return asFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16;
}

}  // namespace

const SoundFormat* soundFormatFor(const std::string& path) {
  const std::string ext = cli::extensionOf(path);
  for (const SoundFormat& f : kFormats) {
    if (ext == f.extension) return &f;
  }
  return nullptr;
}

const char* soundFormatList() {
  return ".wav, .flac or .ogg";
}

SoundFileWriter::~SoundFileWriter() {
  if (file_) sf_close(file_);
}

void SoundFileWriter::keepError() {
  // The system's reason, when there is one, says what a user can act on;
  // the library's own text is the last resort.
  const int system = errno;
  error_ = system ? std::strerror(system) : sf_strerror(file_);
}

bool SoundFileWriter::open(const std::string& path, const SoundFormat& format, int rate,
                           bool asFloat, int64_t maxFrames) {
  const int sampleBytes = asFloat ? 4 : 2;
  rf64_ = format.major == SF_FORMAT_WAV &&
          static_cast<uint64_t>(maxFrames) * kChannels * sampleBytes > kMaxWavDataBytes;
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = kChannels;
  info.format = (rf64_ ? SF_FORMAT_RF64 : format.major) | subtypeOf(format, asFloat);
  if (!sf_format_check(&info)) {
    errno = 0;
    error_ =
        std::string("this build's sound file library cannot write .") + format.extension + " files";
    return false;
  }
  errno = 0;
  file_ = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file_) {
    keepError();
    return false;
  }
  if (rf64_) sf_command(file_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  asFloat_ = asFloat;
  return true;
}

bool SoundFileWriter::write(const float* frames, int count) {
  errno = 0;
  sf_count_t written = 0;
  if (asFloat_) {
    written = sf_writef_float(file_, frames, count);
  } else {
    pcm_.resize(static_cast<size_t>(kChannels) * count);
    convertToPcm16(frames, pcm_.data(), kChannels * count, kFullScale);
    written = sf_writef_short(file_, pcm_.data(), count);
  }
  if (written == count) return true;
  keepError();
  return false;
}

bool SoundFileWriter::close() {
  errno = 0;
  const int rc = sf_close(file_);
  file_ = nullptr;
  if (rc == 0) return true;
  keepError();
  return false;
}
