// orb2k16-capture: stills and videos of the scene, drawn off screen in a
// hidden window. By default at the demo surface's 1022 x 447 with the demo's
// uniforms (resolution 1024 x 480); --size renders another size with the
// resolution to match.
//
//   orb2k16-capture --time SECONDS --out FILE.png|.jpg|.bmp [--size WxH]
//   orb2k16-capture --video FILE.mp4|.mkv --fps N [--from S] [--seconds S] [--size WxH]
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <SDL2/SDL_hints.h>
#include <stb/stb_image_write.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/demo_window.h"
#include "app/frame.h"
#include "app/frame_reader.h"
#include "app/music.h"
#include "app/offline_music.h"
#include "app/shader_program.h"
#include "app/video_writer.h"
#include "orb_version.h"
#include "platform/platform.h"

namespace {

constexpr const char* kProgram = "orb2k16-capture";
constexpr int32_t kSurfaceWidth = 1022;
constexpr int32_t kSurfaceHeight = 447;
constexpr int kMaxSide = 8192;               // pixels; GL drivers allow at least this much
constexpr int kMaxFps = 240;                 // frames per second
constexpr double kMaxSeconds = 24.0 * 3600;  // the longest video, and --time's largest value
constexpr int kJpegQuality = 95;
constexpr int kRgbaBytes = 4;
constexpr int kRgbBytes = 3;
constexpr auto kProgressPeriod = std::chrono::milliseconds(250);

constexpr const char* kStillExtensions = ".png, .jpg, .bmp";
constexpr const char* kUsage =
    "usage: orb2k16-capture --time SECONDS --out FILE [--size WxH]\n"
    "       orb2k16-capture --video FILE --fps N [--from S] [--seconds S] [--size WxH]\n"
    "       orb2k16-capture --print-source vertex|fragment\n"
    "\n"
    "Renders the scene as the demo shows it, by the scene's own clock, at the demo\n"
    "surface's 1022 x 447 (with the demo's 1024 x 480 resolution uniform) or at\n"
    "--size W x H (1 to 8192 each, the resolution uniform W x H).\n"
    "\n"
    "  --time SECONDS   a still at SECONDS after the music started (0 or more)\n"
    "  --out FILE       the still: .png, .jpg or .bmp\n"
    "  --video FILE     a video with the music: .mp4 (H.264 + AAC; an odd side is\n"
    "                   padded to even by repeating the last row or column) or .mkv\n"
    "                   (lossless FFV1 RGB + FLAC)\n"
    "  --fps N          frames per second (1 to 240): frame k shows FROM + k / N\n"
    "  --from S         start S seconds into the tune, in whole milliseconds (default 0)\n"
    "  --seconds S      length of the video (default: to the tune's end, no ring-out);\n"
    "                   the sound is the offline render `tune render --from-ms` gives\n"
    "  --print-source vertex|fragment   a shader text to standard output\n"
    "  --version        the version and source revision\n"
    "\n"
    "Files are written beside the target under a temporary name and renamed when\n"
    "complete; an interrupted or failed run leaves an existing file untouched.\n"
    "Needs an X display (the window stays hidden) with OpenGL 2.0 and framebuffer\n"
    "objects; on a machine without one, a virtual X server with Mesa's software\n"
    "renderer will do: LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a orb2k16-capture ...\n";

// Set by SIGINT, SIGTERM and SIGHUP; the capture loop polls it, then removes
// its temporary file. (A handler can reach nothing but a global.)
volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void requestStop(int) {
  gStopRequested = 1;
}

void catchStopSignals() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

enum class StillFormat { Png, Jpg, Bmp };

struct Options {
  std::optional<double> time;
  std::string out;
  std::string video;
  std::optional<int> fps;
  std::optional<int32_t> fromMs;
  std::optional<double> seconds;
  std::optional<std::pair<int, int>> size;
  std::string printSource;
  bool help = false;
  bool version = false;
};

// The picture's size and the resolution uniform the scene is drawn with.
struct View {
  int width = kSurfaceWidth;
  int height = kSurfaceHeight;
  float resolutionWidth = static_cast<float>(kDemoWidth);
  float resolutionHeight = static_cast<float>(kDemoHeight);
};

void report(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s (try '%s --help')\n", kProgram, message.c_str(), kProgram);
  return 2;
}

bool endsWith(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  return std::equal(tail.begin(), tail.end(), text.end() - tail.size(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

std::optional<StillFormat> stillFormatFor(std::string_view path) {
  if (endsWith(path, ".png")) return StillFormat::Png;
  if (endsWith(path, ".jpg")) return StillFormat::Jpg;
  if (endsWith(path, ".bmp")) return StillFormat::Bmp;
  return std::nullopt;
}

// A finite decimal number and nothing else.
std::optional<double> parseNumber(const char* text) {
  if (!*text) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
  return value;
}

// A whole decimal number from `least` to `most`.
std::optional<int> parseWhole(std::string_view text, int least, int most) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < least || value > most) return std::nullopt;
  return value;
}

// "WxH", each side 1 to kMaxSide.
std::optional<std::pair<int, int>> parseSize(std::string_view text) {
  const size_t x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  const auto width = parseWhole(text.substr(0, x), 1, kMaxSide);
  const auto height = parseWhole(text.substr(x + 1), 1, kMaxSide);
  if (!width || !height) return std::nullopt;
  return std::pair{*width, *height};
}

// Seconds in whole milliseconds, 0 to kMaxSeconds.
std::optional<int32_t> parseMilliseconds(const char* text) {
  const auto seconds = parseNumber(text);
  if (!seconds || *seconds < 0.0 || *seconds > kMaxSeconds) return std::nullopt;
  const double ms = *seconds * 1000.0;
  const double whole = std::nearbyint(ms);
  if (std::fabs(ms - whole) > 1e-6 * std::max(1.0, ms)) return std::nullopt;
  return static_cast<int32_t>(whole);
}

// Fills `options`; an empty result when the arguments are sound, else the error.
std::string parseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return {};
    }
    if (arg == "--version") {
      options.version = true;
      return {};
    }
    const bool takesValue = arg == "--time" || arg == "--out" || arg == "--print-source" ||
                            arg == "--video" || arg == "--fps" || arg == "--from" ||
                            arg == "--seconds" || arg == "--size";
    if (!takesValue) return "unknown argument '" + std::string(arg) + "'";
    if (i + 1 >= argc) return std::string(arg) + " needs a value";
    const char* value = argv[++i];
    const std::string quoted = "'" + std::string(value) + "'";
    if (arg == "--time") {
      options.time = parseNumber(value);
      if (!options.time || *options.time < 0.0 || *options.time > kMaxSeconds) {
        return "--time takes a number of seconds from 0 to 86400, not " + quoted;
      }
    } else if (arg == "--out" || arg == "--video") {
      (arg == "--out" ? options.out : options.video) = value;
      if (!*value) return std::string(arg) + " needs a file name";
    } else if (arg == "--fps") {
      options.fps = parseWhole(value, 1, kMaxFps);
      if (!options.fps) return "--fps takes a whole number from 1 to 240, not " + quoted;
    } else if (arg == "--from") {
      options.fromMs = parseMilliseconds(value);
      if (!options.fromMs) {
        return "--from takes seconds from 0 to 86400 in whole milliseconds, not " + quoted;
      }
    } else if (arg == "--seconds") {
      options.seconds = parseNumber(value);
      if (!options.seconds || *options.seconds <= 0.0 || *options.seconds > kMaxSeconds) {
        return "--seconds takes a number of seconds above 0 and at most 86400, not " + quoted;
      }
    } else if (arg == "--size") {
      options.size = parseSize(value);
      if (!options.size) return "--size takes WxH, each side 1 to 8192, not " + quoted;
    } else {
      options.printSource = value;
      if (options.printSource != "vertex" && options.printSource != "fragment") {
        return "--print-source takes 'vertex' or 'fragment'";
      }
    }
  }
  if (!options.printSource.empty()) {
    if (!options.out.empty()) return "--print-source writes to standard output; it takes no --out";
    if (options.time || !options.video.empty() || options.fps || options.fromMs ||
        options.seconds || options.size) {
      return "--print-source takes no other options";
    }
    return {};
  }
  if (!options.video.empty()) {
    if (options.time || !options.out.empty()) {
      return "--video makes a video; --time and --out are for stills";
    }
    if (!videoFormatFor(options.video)) {
      return "cannot write '" + options.video + "': a video is " + kVideoExtensions;
    }
    if (!options.fps) return "--video needs --fps N";
    return {};
  }
  if (options.fps || options.fromMs || options.seconds) {
    return "--fps, --from and --seconds are for --video";
  }
  if (!options.time) return "--time SECONDS is required";
  if (options.out.empty()) return "--out FILE is required";
  if (!stillFormatFor(options.out)) {
    return "cannot write '" + options.out + "': a still is " + kStillExtensions;
  }
  return {};
}

View viewFor(const Options& options) {
  View view;
  if (options.size) {
    view.width = options.size->first;
    view.height = options.size->second;
    view.resolutionWidth = static_cast<float>(view.width);
    view.resolutionHeight = static_cast<float>(view.height);
  }
  return view;
}

// The target's temporary twin in the same folder, so that the rename which
// completes it stays on one file system.
struct OutputFile {
  std::string target;
  std::string temporary;  // empty once renamed or removed
};

bool createOutput(OutputFile& file, const std::string& target) {
  file.target = target;
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = folder + "." + name + ".XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    report("cannot write '" + target + "': " + std::strerror(errno));
    return false;
  }
  // mkstemp makes the file private; the finished file gets the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  file.temporary = pattern;
  return true;
}

void discardOutput(OutputFile& file) {
  if (!file.temporary.empty()) std::remove(file.temporary.c_str());
  file.temporary.clear();
}

bool commitOutput(OutputFile& file) {
  if (std::rename(file.temporary.c_str(), file.target.c_str()) != 0) {
    report("cannot write '" + file.target + "': " + std::strerror(errno));
    discardOutput(file);
    return false;
  }
  file.temporary.clear();
  return true;
}

// The scene's program and where its uniforms go.
struct SceneProgram {
  ShaderEntryPoints gl;
  int32_t timeLocation = -1;
  int32_t resolutionLocation = -1;
};

// A hidden window with the surface at the view's size and the scene's program.
bool setupScene(Platform& platform, const View& view, SceneProgram& scene) {
  if (!openWindow(platform, kDemoWindow, 0, 0, view.width, view.height, kProgram,
                  kWindowBorderless | kWindowHidden) ||
      !createGlSurface(platform, kGlSurface, 0, 0, view.width, view.height, 0)) {
    report("no OpenGL surface with framebuffer objects of " + std::to_string(view.width) + "x" +
           std::to_string(view.height));
    return false;
  }
  if (!loadShaderEntryPoints(scene.gl)) {
    report("the OpenGL context has no shader support (2.0)");
    return false;
  }
  const GLuint program =
      compileShaderProgram(scene.gl, buildVertexShaderSource(), buildFragmentShaderSource(), true);
  if (!programLinked(scene.gl, program)) {
    report("the scene's shader program could not be built");
    return false;
  }
  scene.timeLocation = scene.gl.getUniformLocation(program, "time");
  scene.resolutionLocation = scene.gl.getUniformLocation(program, "resolution");
  return true;
}

void drawAt(const SceneProgram& scene, const View& view, double seconds) {
  drawScene(scene.gl, scene.timeLocation, scene.resolutionLocation, view.resolutionWidth,
            view.resolutionHeight, static_cast<float>(seconds));
}

bool glFailed() {
  if (glGetError() == GL_NO_ERROR) return false;
  report("the GL reported an error while rendering");
  return true;
}

void writeToFile(void* context, void* data, int size) {
  std::fwrite(data, 1, static_cast<size_t>(size), static_cast<std::FILE*>(context));
}

// Encodes RGB rows from the top into `path` in the format its target's name asks for.
bool writeStill(const std::string& path, StillFormat format, const View& view,
                const std::vector<unsigned char>& rgb) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const int w = view.width, h = view.height;
  bool ok = false;
  switch (format) {
    case StillFormat::Png:
      ok = stbi_write_png_to_func(writeToFile, out, w, h, kRgbBytes, rgb.data(), w * kRgbBytes);
      break;
    case StillFormat::Jpg:
      ok = stbi_write_jpg_to_func(writeToFile, out, w, h, kRgbBytes, rgb.data(), kJpegQuality);
      break;
    case StillFormat::Bmp:
      ok = stbi_write_bmp_to_func(writeToFile, out, w, h, kRgbBytes, rgb.data());
      break;
  }
  ok = ok && !std::ferror(out);
  return std::fclose(out) == 0 && ok;
}

// Renders the still into the output's temporary file.
bool captureStill(Platform& platform, const Options& options, const View& view,
                  const OutputFile& file) {
  SceneProgram scene;
  if (!setupScene(platform, view, scene)) return false;
  drawAt(scene, view, *options.time);
  FrameReader reader;
  setupFrameReader(reader, view.width, view.height, false);
  requestFrame(reader);
  std::vector<unsigned char> rgb(static_cast<size_t>(view.width) * view.height * kRgbBytes);
  takeFrame(reader, [&](const uint8_t* top, std::ptrdiff_t stride) {
    unsigned char* to = rgb.data();
    for (int y = 0; y < view.height; ++y, top += stride) {
      for (int x = 0; x < view.width; ++x, to += kRgbBytes) {
        std::memcpy(to, top + x * kRgbaBytes, kRgbBytes);
      }
    }
    return true;
  });
  releaseFrameReader(reader);
  if (glFailed()) return false;
  if (!writeStill(file.temporary, *stillFormatFor(options.out), view, rgb)) {
    report("cannot write '" + options.out + "': " + std::strerror(errno));
    return false;
  }
  return true;
}

// What a video holds: `frames` pictures at `fps` and `samples` stereo frames
// of sound, both from `fromMs` into the tune.
struct VideoPlan {
  int fps = 0;
  int32_t fromMs = 0;
  int64_t frames = 0;
  int64_t samples = 0;
};

// Sound frames from the start to the end of picture `frame` (exclusive).
int64_t samplesBefore(const VideoPlan& plan, int64_t frame) {
  const int64_t at = (frame * kDefaultSampleRate + plan.fps - 1) / plan.fps;
  return std::min(at, plan.samples);
}

// The stretch: --seconds of both streams, or the tune from --from to its
// last tick (no ring-out) with pictures to cover the sound.
bool planVideo(const Options& options, const OfflineMusic& music, VideoPlan& plan) {
  plan.fps = *options.fps;
  plan.fromMs = options.fromMs.value_or(0);
  if (options.seconds) {
    plan.samples = std::llround(*options.seconds * kDefaultSampleRate);
    plan.frames = std::max<int64_t>(1, std::llround(*options.seconds * plan.fps));
    return true;
  }
  const int64_t length = tuneLengthFrames(music);
  if (length < 0) {
    report("the tune's length cannot be measured; give --seconds");
    return false;
  }
  plan.samples = length - framesAtMs(plan.fromMs);
  if (plan.samples <= 0) {
    report("--from " + std::to_string(plan.fromMs / 1000.0) + " s is past the tune's end at " +
           std::to_string(length / double(kDefaultSampleRate)) + " s");
    return false;
  }
  plan.frames = (plan.samples * plan.fps + kDefaultSampleRate - 1) / kDefaultSampleRate;
  return true;
}

// "frame 120/600, 23.4 fps, 0:20 left" on one terminal line, rewritten in place.
struct Progress {
  bool shown = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last = start;
};

void showProgress(Progress& progress, int64_t done, int64_t total) {
  if (!progress.shown) return;
  const auto now = std::chrono::steady_clock::now();
  if (done < total && now - progress.last < kProgressPeriod) return;
  progress.last = now;
  const double elapsed = std::chrono::duration<double>(now - progress.start).count();
  const double rate = elapsed > 0.0 ? done / elapsed : 0.0;
  const long left = rate > 0.0 ? std::lround((total - done) / rate) : 0;
  std::fprintf(stderr, "\rframe %" PRId64 "/%" PRId64 ", %.1f fps, %ld:%02ld left ", done, total,
               rate, left / 60, left % 60);
  if (done == total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

// Draws, reads back and encodes every frame with its share of the sound.
bool recordVideo(Platform& platform, const View& view, const VideoPlan& plan, OfflineMusic& music,
                 VideoWriter& writer) {
  SceneProgram scene;
  if (!setupScene(platform, view, scene)) return false;
  FrameReader reader;
  setupFrameReader(reader, view.width, view.height, true);
  Progress progress;
  progress.shown = ::isatty(STDERR_FILENO);
  std::vector<int16_t> sound;
  int64_t soundDone = 0;
  bool ok = true;
  const auto encodeOldest = [&]() {
    const int64_t frame = reader.delivered;
    ok = takeFrame(reader, [&](const uint8_t* top, std::ptrdiff_t stride) {
      return writer.writeFrame(top, stride);
    });
    if (!ok) return;
    const int64_t upTo = frame + 1 == plan.frames ? plan.samples : samplesBefore(plan, frame + 1);
    const int count = static_cast<int>(upTo - soundDone);
    sound.resize(2 * static_cast<size_t>(count));
    renderPcm16(music, sound.data(), count);
    ok = writer.writeAudio(sound.data(), count);
    soundDone = upTo;
    showProgress(progress, frame + 1, plan.frames);
  };
  const double from = plan.fromMs / 1000.0;
  for (int64_t k = 0; k < plan.frames && ok && !gStopRequested; ++k) {
    drawAt(scene, view, from + static_cast<double>(k) / plan.fps);
    if (pendingFrames(reader) == kFrameReaderSlots) encodeOldest();
    requestFrame(reader);
  }
  while (ok && !gStopRequested && pendingFrames(reader) > 0) encodeOldest();
  releaseFrameReader(reader);
  if (progress.shown && reader.delivered < plan.frames) std::fputc('\n', stderr);
  if (!ok) {
    report("writing the video failed: " + writer.error());
    return false;
  }
  return !gStopRequested && !glFailed();
}

int runStill(const Options& options) {
  OutputFile file;
  if (!createOutput(file, options.out)) return 1;
  Platform platform;
  bool ok = initPlatform(platform);
  if (!ok) {
    report("no display available (it needs an X display; see --help)");
  } else {
    ok = captureStill(platform, options, viewFor(options), file) && !gStopRequested;
    shutdownPlatform(platform);
  }
  if (ok) return commitOutput(file) ? 0 : 1;
  if (gStopRequested) report("interrupted; nothing written");
  discardOutput(file);
  return 1;
}

int runVideo(const Options& options) {
  OfflineMusic music;
  VideoPlan plan;
  if (!startOfflineMusic(music, embeddedTune(), embeddedTuneSize(), options.fromMs.value_or(0))) {
    report("the built-in tune image was rejected");
    return 1;
  }
  if (!planVideo(options, music, plan)) return 1;
  const View view = viewFor(options);
  OutputFile file;
  if (!createOutput(file, options.video)) return 1;
  Platform platform;
  bool ok = initPlatform(platform);
  if (!ok) {
    report("no display available (it needs an X display; see --help)");
  } else {
    VideoWriter writer;
    VideoSettings settings;
    settings.format = *videoFormatFor(options.video);
    settings.width = view.width;
    settings.height = view.height;
    settings.fps = plan.fps;
    settings.sampleRate = kDefaultSampleRate;
    ok = writer.open(file.temporary, settings);
    if (!ok) report("cannot write '" + options.video + "': " + writer.error());
    ok = ok && recordVideo(platform, view, plan, music, writer);
    if (ok && !writer.finish()) {
      report("cannot write '" + options.video + "': " + writer.error());
      ok = false;
    }
    shutdownPlatform(platform);
  }
  if (ok) return commitOutput(file) ? 0 : 1;
  if (gStopRequested) report("interrupted; nothing written");
  discardOutput(file);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const std::string error = parseArguments(argc, argv, options);
  if (!error.empty()) return usageError(error);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s (%s)\n", kProgram, kOrbVersion, kOrbRevision);
    return 0;
  }
  if (!options.printSource.empty()) {
    const std::string text =
        options.printSource == "vertex" ? buildVertexShaderSource() : buildFragmentShaderSource();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  // The window system must leave Ctrl-C to this program, which removes its
  // temporary file before it ends.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  catchStopSignals();
  return options.video.empty() ? runStill(options) : runVideo(options);
}
