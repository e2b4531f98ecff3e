#pragma once
// Video files of the scene with its music, written through FFmpeg's
// libraries: `.mp4` holds H.264 + AAC for sharing, `.mkv` lossless FFV1 (RGB)
// + FLAC. Pictures come in as 8-bit RGBA rows, sound as interleaved 16-bit
// stereo frames; both streams start at presentation time 0.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class VideoFormat { Mp4, Mkv };

// The extensions a video file may have, as a user is told them.
inline constexpr const char* kVideoExtensions = ".mp4 (H.264 + AAC) or .mkv (lossless FFV1 + FLAC)";

// The container a file name asks for by its extension (any case); nothing for
// any other name.
std::optional<VideoFormat> videoFormatFor(std::string_view path);

// The encoded picture's side for a rendered side: H.264 in 4:2:0 needs even
// sides, so an odd side gains one row or column repeating the last one; FFV1
// keeps every size.
int encodedSide(VideoFormat format, int side);

struct VideoSettings {
  VideoFormat format = VideoFormat::Mkv;
  int width = 0;  // rendered picture, pixels
  int height = 0;
  int fps = 0;             // frames per second, the video stream's time base is 1 / fps
  int sampleRate = 44100;  // Hz, stereo
};

class VideoWriter {
 public:
  VideoWriter();
  ~VideoWriter();  // closes an unfinished file as it stands
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;

  // Creates `path` (whatever its name: the format comes from `settings`) and
  // writes the file header. False with error() set when an encoder or the
  // file cannot be opened.
  bool open(const std::string& path, const VideoSettings& settings);

  // The next picture: `height` rows of width x 4 bytes (R, G, B, unused), the
  // top row at `top`, each next row `stride` bytes on (negative for rows read
  // bottom-up from the GL).
  bool writeFrame(const uint8_t* top, std::ptrdiff_t stride);

  // The next `frames` stereo frames of sound, interleaved.
  bool writeAudio(const int16_t* samples, int frames);

  // Flushes both encoders, writes the trailer and closes the file.
  bool finish();

  // The last failure as one line.
  const std::string& error() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};
