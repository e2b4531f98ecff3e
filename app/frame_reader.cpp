#include "app/frame_reader.h"

#include <SDL2/SDL.h>

#include <cstring>

#include "app/shader_program.h"

namespace {

constexpr int kRgbaBytes = 4;
constexpr int kPixelBufferMajor = 2;  // pixel-pack buffers are core from 2.1 on
constexpr int kPixelBufferMinor = 1;

template <typename F>
bool resolve(F& slot, const char* name) {
  slot = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
  return slot != nullptr;
}

bool loadPixelBuffers(FrameReader& r) {
  // Drivers hand out addresses for names they do not serve; the version decides.
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (!glVersionAtLeast(version, kPixelBufferMajor, kPixelBufferMinor)) return false;
  return resolve(r.genBuffers, "glGenBuffers") & resolve(r.deleteBuffers, "glDeleteBuffers") &
         resolve(r.bindBuffer, "glBindBuffer") & resolve(r.bufferData, "glBufferData") &
         resolve(r.mapBuffer, "glMapBuffer") & resolve(r.unmapBuffer, "glUnmapBuffer");
}

size_t frameBytes(const FrameReader& r) {
  return static_cast<size_t>(r.width) * r.height * kRgbaBytes;
}

// The top row of a bottom-up frame that starts at `data`, and the step to the next row.
bool handOn(const FrameReader& r, const uint8_t* data, const FrameUse& use) {
  const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(r.width) * kRgbaBytes;
  return use(data + (r.height - 1) * row, -row);
}

}  // namespace

void setupFrameReader(FrameReader& r, int width, int height, bool allowPixelBuffers) {
  releaseFrameReader(r);
  r = FrameReader{};
  r.width = width;
  r.height = height;
  r.pixelBuffers = allowPixelBuffers && loadPixelBuffers(r);
  if (r.pixelBuffers) {
    r.genBuffers(kFrameReaderSlots, r.buffers);
    for (GLuint buffer : r.buffers) {
      r.bindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
      r.bufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(frameBytes(r)), nullptr,
                   GL_STREAM_READ);
    }
    r.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  } else {
    for (auto& memory : r.memory) memory.resize(frameBytes(r));
  }
}

void requestFrame(FrameReader& r) {
  const int slot = static_cast<int>(r.requested % kFrameReaderSlots);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  if (r.pixelBuffers) {
    r.bindBuffer(GL_PIXEL_PACK_BUFFER, r.buffers[slot]);
    glReadPixels(0, 0, r.width, r.height, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    r.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  } else {
    glReadPixels(0, 0, r.width, r.height, GL_RGBA, GL_UNSIGNED_BYTE, r.memory[slot].data());
  }
  ++r.requested;
}

int64_t pendingFrames(const FrameReader& r) {
  return r.requested - r.delivered;
}

bool takeFrame(FrameReader& r, const FrameUse& use) {
  if (pendingFrames(r) <= 0) return false;
  const int slot = static_cast<int>(r.delivered % kFrameReaderSlots);
  ++r.delivered;
  if (!r.pixelBuffers) return handOn(r, r.memory[slot].data(), use);
  r.bindBuffer(GL_PIXEL_PACK_BUFFER, r.buffers[slot]);
  const auto* data = static_cast<const uint8_t*>(r.mapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY));
  bool ok = data != nullptr && handOn(r, data, use);
  if (data) ok &= r.unmapBuffer(GL_PIXEL_PACK_BUFFER) == GL_TRUE;
  r.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  return ok;
}

void releaseFrameReader(FrameReader& r) {
  if (r.pixelBuffers && r.deleteBuffers) r.deleteBuffers(kFrameReaderSlots, r.buffers);
  r.pixelBuffers = false;
}
