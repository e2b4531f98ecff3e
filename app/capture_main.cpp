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
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/capture_options.h"
#include "app/demo_window.h"
#include "app/frame.h"
#include "app/frame_reader.h"
#include "app/music.h"
#include "app/offline_music.h"
#include "app/shader_program.h"
#include "app/video_writer.h"
#include "platform/platform.h"
#include "tools/cli/cli.h"

namespace {

constexpr const char* kProgram = kCaptureProgram;
constexpr int kJpegQuality = 95;
constexpr int kRgbaBytes = 4;
constexpr int kRgbBytes = 3;
constexpr auto kProgressPeriod = std::chrono::milliseconds(250);

// Set by SIGINT, SIGTERM and SIGHUP; the capture stops at the next frame and
// its temporary file is removed. (A handler can reach nothing but a global.)
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

void report(const std::string& message) {
  cli::report(kProgram, "%s", message.c_str());
}

// The scene's program and where its uniforms go.
struct SceneProgram {
  ShaderEntryPoints gl;
  int32_t timeLocation = -1;
  int32_t resolutionLocation = -1;
};

// A hidden window with the surface at the view's size and the scene's program.
bool setupScene(Platform& platform, const CaptureView& view, SceneProgram& scene) {
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

void drawAt(const SceneProgram& scene, const CaptureView& view, double seconds) {
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
bool writeStill(const std::string& path, StillFormat format, const CaptureView& view,
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
bool captureStill(Platform& platform, const CaptureOptions& options, const CaptureView& view,
                  const cli::OutputFile& file) {
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
  if (!writeStill(file.path(), *options.stillFormat, view, rgb)) {
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
bool planVideo(const CaptureOptions& options, const OfflineMusic& music, VideoPlan& plan) {
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
bool recordVideo(Platform& platform, const CaptureView& view, const VideoPlan& plan,
                 OfflineMusic& music, VideoWriter& writer, const std::string& target) {
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
    // An empty writer error means the frame never reached it.
    report(writer.error().empty() ? std::string("a frame could not be read back from the GL")
                                  : "cannot write '" + target + "': " + writer.error());
    return false;
  }
  return !gStopRequested && !glFailed();
}

int runStill(const CaptureOptions& options) {
  cli::OutputFile file(kProgram, options.out);
  if (!file.create()) return cli::kExitFailure;
  Platform platform;
  bool ok = initPlatform(platform);
  if (!ok) {
    report("no display available (it needs an X display; see --help)");
  } else {
    ok = captureStill(platform, options, captureView(options), file) && !gStopRequested;
    shutdownPlatform(platform);
  }
  if (ok) return file.commit() ? cli::kExitOk : cli::kExitFailure;
  if (gStopRequested) report("interrupted; nothing written");
  return cli::kExitFailure;  // the temporary file goes with `file`
}

int runVideo(const CaptureOptions& options) {
  OfflineMusic music;
  VideoPlan plan;
  if (!startOfflineMusic(music, embeddedTune(), embeddedTuneSize(), options.fromMs.value_or(0))) {
    report("the built-in tune image was rejected");
    return cli::kExitFailure;
  }
  if (!planVideo(options, music, plan)) return cli::kExitFailure;
  const CaptureView view = captureView(options);
  cli::OutputFile file(kProgram, options.video);
  if (!file.create()) return cli::kExitFailure;
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
    ok = writer.open(file.path(), settings);
    if (!ok) report("cannot write '" + options.video + "': " + writer.error());
    ok = ok && recordVideo(platform, view, plan, music, writer, options.video);
    if (ok && !writer.finish()) {
      report("cannot write '" + options.video + "': " + writer.error());
      ok = false;
    }
    shutdownPlatform(platform);
  }
  if (ok) return file.commit() ? cli::kExitOk : cli::kExitFailure;
  if (gStopRequested) report("interrupted; nothing written");
  return cli::kExitFailure;  // the temporary file goes with `file`
}

}  // namespace

int main(int argc, char** argv) {
  CaptureOptions options;
  int status = cli::kExitOk;
  if (!parseCaptureOptions(argc, argv, options, status)) return status;
  if (!options.printSource.empty()) {
    const std::string text =
        options.printSource == "vertex" ? buildVertexShaderSource() : buildFragmentShaderSource();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return cli::kExitOk;
  }
  // The window system must leave Ctrl-C to this program, which removes its
  // temporary file before it ends.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  catchStopSignals();
  return options.video.empty() ? runStill(options) : runVideo(options);
}
