#pragma once
// The capture tool's command line: a still (--time, --out), a video (--video,
// --fps, --from, --seconds), either at --size, or a shader text
// (--print-source); and the picture size and resolution uniform they ask for.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "app/demo_window.h"

inline constexpr const char* kCaptureProgram = "orb2k16-capture";

enum class StillFormat { Png, Jpg, Bmp };

struct CaptureOptions {
  std::optional<double> time;  // seconds, 0 to kMaxCaptureSeconds
  std::string out;             // a still
  std::optional<StillFormat> stillFormat;
  std::string video;  // a video, .mp4 or .mkv
  std::optional<int> fps;
  std::optional<int32_t> fromMs;  // whole milliseconds
  std::optional<double> seconds;  // above 0
  std::optional<std::pair<int, int>> size;
  std::string printSource;  // "vertex" or "fragment"
};

// The picture's size in pixels and the resolution uniform the scene is drawn
// with: the demo surface's 1022 x 447 with the demo's 1024 x 480 by default,
// W x H for both with --size.
inline constexpr int kCaptureWidth = 1022;  // the demo window's GL surface
inline constexpr int kCaptureHeight = 447;

struct CaptureView {
  int width = kCaptureWidth;
  int height = kCaptureHeight;
  float resolutionWidth = static_cast<float>(kDemoWidth);
  float resolutionHeight = static_cast<float>(kDemoHeight);
};

// False when nothing is to be captured: `status` is then the exit status
// (0 after --help or --version, 2 after a usage error, reported on stderr).
bool parseCaptureOptions(int argc, char** argv, CaptureOptions& options, int& status);

CaptureView captureView(const CaptureOptions& options);
