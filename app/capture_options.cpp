#include "app/capture_options.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "app/video_writer.h"
#include "tools/cli/cli.h"

namespace {

constexpr int kMaxSide = 8192;               // pixels; GL drivers allow at least this much
constexpr int kMaxFps = 240;                 // frames per second
constexpr double kMaxSeconds = 24.0 * 3600;  // the longest video, and --time's largest value

constexpr const char* kTimeValue = "a number of seconds, 0 to 86400";
constexpr const char* kFromValue = "a number of seconds in whole milliseconds, 0 to 86400";
constexpr const char* kSecondsValue = "a number of seconds above 0, at most 86400";
constexpr const char* kFpsValue = "a whole number of frames per second, 1 to 240";
constexpr const char* kSizeValue = "WxH, each side 1 to 8192";
constexpr const char* kSourceValue = "'vertex' or 'fragment'";
constexpr const char* kStillList = ".png, .jpg or .bmp";

void printHelp(FILE* out) {
  std::fputs(
      "usage: orb2k16-capture --time SECONDS --out FILE [--size WxH]\n"
      "       orb2k16-capture --video FILE --fps N [--from S] [--seconds S] [--size WxH]\n"
      "       orb2k16-capture --print-source vertex|fragment\n"
      "\n"
      "Renders the scene as the demo shows it, by the scene's own clock, at the demo\n"
      "surface's 1022 x 447 (with the demo's 1024 x 480 resolution uniform) or at\n"
      "--size W x H (1 to 8192 each, the resolution uniform W x H).\n"
      "\n"
      "  --time SECONDS   a still at SECONDS after the music started (0 to 86400)\n"
      "  --out FILE       the still; the extension picks the format: .png, .jpg, .bmp\n"
      "  --video FILE     a video with the music: .mp4 (H.264 + AAC; an odd side is\n"
      "                   padded to even by repeating the last row or column) or .mkv\n"
      "                   (lossless FFV1 RGB + FLAC)\n"
      "  --fps N          frames per second (1 to 240): frame k shows FROM + k / N\n"
      "  --from S         start S seconds into the tune, in whole milliseconds (default 0)\n"
      "  --seconds S      length of the video (default: to the tune's end, without the\n"
      "                   ring-out); the sound is what `tune render --from-ms` gives\n"
      "  --print-source vertex|fragment   a shader text to standard output\n"
      "  --help           this text\n"
      "  --version        the program's version and source revision\n"
      "\n"
      "Files are written beside the target under a temporary name and renamed when\n"
      "complete; an interrupted or failed run leaves no file and an existing one\n"
      "untouched. It needs an X display (the window stays hidden) with OpenGL 2.0 and\n"
      "framebuffer objects; where there is none, a virtual X server with Mesa's\n"
      "software renderer will do: LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a orb2k16-capture ...\n"
      "\n"
      "Exit status: 0 success, 1 failure, 2 usage error.\n",
      out);
}

std::optional<StillFormat> stillFormatFor(const std::string& path) {
  const std::string extension = cli::extensionOf(path);
  if (extension == "png") return StillFormat::Png;
  if (extension == "jpg") return StillFormat::Jpg;
  if (extension == "bmp") return StillFormat::Bmp;
  return std::nullopt;
}

// "WxH", each side 1 to kMaxSide.
std::optional<std::pair<int, int>> parseSize(std::string_view text) {
  const size_t x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  int64_t width = 0, height = 0;
  const std::string w(text.substr(0, x)), h(text.substr(x + 1));
  if (w.empty() || h.empty() || w[0] == '-' || w[0] == '+' || h[0] == '-' || h[0] == '+' ||
      !cli::parseInteger(w.c_str(), width) || !cli::parseInteger(h.c_str(), height) || width < 1 ||
      width > kMaxSide || height < 1 || height > kMaxSide) {
    return std::nullopt;
  }
  return std::pair{static_cast<int>(width), static_cast<int>(height)};
}

// Seconds that are a whole number of milliseconds (within rounding of the
// decimal text).
std::optional<int32_t> wholeMilliseconds(double seconds) {
  const double ms = seconds * 1000.0;
  const double whole = std::nearbyint(ms);
  if (std::fabs(ms - whole) > 1e-6 * std::max(1.0, ms)) return std::nullopt;
  return static_cast<int32_t>(whole);
}

// A file name option's value; an empty name is refused.
void takeName(cli::Args& args, std::string& name) {
  const char* text = args.value("a file name");
  if (!text) return;
  if (!*text) return args.invalid("a file name");
  name = text;
}

// Choices that depend on one another, checked once all are known.
void checkCombination(cli::Args& args, CaptureOptions& o) {
  if (!o.printSource.empty()) {
    if (!o.out.empty()) {
      args.usage("--print-source writes to standard output; it takes no --out");
    } else if (o.time || !o.video.empty() || o.fps || o.fromMs || o.seconds || o.size) {
      args.usage("--print-source takes no other options");
    }
  } else if (!o.video.empty()) {
    if (o.time || !o.out.empty()) {
      args.usage("--video makes a video; --time and --out are for stills");
    } else if (!videoFormatFor(o.video)) {
      args.usage("cannot write '%s': the extension picks the format, %s", o.video.c_str(),
                 kVideoExtensions);
    } else if (!o.fps) {
      args.usage("--video needs --fps N (try '%s --help')", kCaptureProgram);
    }
  } else if (o.fps || o.fromMs || o.seconds) {
    args.usage("--fps, --from and --seconds are for --video");
  } else if (!o.time) {
    args.usage("--time SECONDS is required (try '%s --help')", kCaptureProgram);
  } else if (o.out.empty()) {
    args.usage("--out FILE is required (try '%s --help')", kCaptureProgram);
  } else if (!(o.stillFormat = stillFormatFor(o.out))) {
    args.usage("cannot write '%s': the extension picks the format, %s", o.out.c_str(), kStillList);
  }
}

}  // namespace

bool parseCaptureOptions(int argc, char** argv, CaptureOptions& o, int& status) {
  cli::Args args(kCaptureProgram, argc, argv, printHelp);
  while (args.next()) {
    double number = 0.0;
    int64_t whole = 0;
    const char* text = nullptr;
    if (args.is("--time")) {
      if (args.number(number, 0.0, kMaxSeconds, kTimeValue)) o.time = number;
    } else if (args.is("--out")) {
      takeName(args, o.out);
    } else if (args.is("--video")) {
      takeName(args, o.video);
    } else if (args.is("--fps")) {
      if (args.integer(whole, 1, kMaxFps, kFpsValue)) o.fps = static_cast<int>(whole);
    } else if (args.is("--from")) {
      if (args.number(number, 0.0, kMaxSeconds, kFromValue)) {
        o.fromMs = wholeMilliseconds(number);
        if (!o.fromMs) args.invalid(kFromValue);
      }
    } else if (args.is("--seconds")) {
      if (args.number(number, 0.0, kMaxSeconds, kSecondsValue)) {
        if (number == 0.0) args.invalid(kSecondsValue);
        o.seconds = number;
      }
    } else if (args.is("--size")) {
      if ((text = args.value(kSizeValue))) {
        o.size = parseSize(text);
        if (!o.size) args.invalid(kSizeValue);
      }
    } else if (args.is("--print-source")) {
      if ((text = args.value(kSourceValue))) {
        o.printSource = text;
        if (o.printSource != "vertex" && o.printSource != "fragment") args.invalid(kSourceValue);
      }
    } else {
      args.operand();
    }
  }
  if (args.ok() && !args.list().empty()) {
    args.usage("unexpected argument '%s' (try '%s --help')", args.list()[0], kCaptureProgram);
  }
  if (args.ok()) checkCombination(args, o);
  status = args.status();
  return args.ok();
}

CaptureView captureView(const CaptureOptions& options) {
  CaptureView view;
  if (options.size) {
    view.width = options.size->first;
    view.height = options.size->second;
    view.resolutionWidth = static_cast<float>(view.width);
    view.resolutionHeight = static_cast<float>(view.height);
  }
  return view;
}
