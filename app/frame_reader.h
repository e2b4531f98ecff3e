#pragma once
// Reads rendered frames back from the GL surface as 8-bit RGBA rows. Where the
// context has pixel-buffer objects (OpenGL 2.1) two of them take turns: the
// read of one frame goes on while the next is drawn, and a frame is only
// mapped once the one after it has been asked for. Without them each read
// waits for the frame.
#include <SDL2/SDL_opengl.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

inline constexpr int kFrameReaderSlots = 2;

struct FrameReader {
  int width = 0;
  int height = 0;
  bool pixelBuffers = false;  // reads go through pixel-buffer objects
  GLuint buffers[kFrameReaderSlots] = {};
  std::vector<uint8_t> memory[kFrameReaderSlots];  // the reads without pixel-buffer objects
  int64_t requested = 0;                           // frames asked for so far
  int64_t delivered = 0;                           // frames handed on so far
  // Pixel-buffer entry points, resolved with the current context.
  PFNGLGENBUFFERSPROC genBuffers = nullptr;
  PFNGLDELETEBUFFERSPROC deleteBuffers = nullptr;
  PFNGLBINDBUFFERPROC bindBuffer = nullptr;
  PFNGLBUFFERDATAPROC bufferData = nullptr;
  PFNGLMAPBUFFERPROC mapBuffer = nullptr;
  PFNGLUNMAPBUFFERPROC unmapBuffer = nullptr;
};

// A frame as it is handed on: the top row at `top`, each next row `stride`
// bytes on (negative: the GL keeps rows bottom-up). False stops the reading.
using FrameUse = std::function<bool(const uint8_t* top, std::ptrdiff_t stride)>;

// Prepares reads of width x height frames from the current framebuffer;
// `allowPixelBuffers` false keeps to plain reads.
void setupFrameReader(FrameReader& reader, int width, int height, bool allowPixelBuffers);

// Starts reading the frame just drawn. With kFrameReaderSlots frames already
// pending, the oldest must be taken first.
void requestFrame(FrameReader& reader);

// Number of frames asked for and not yet taken.
int64_t pendingFrames(const FrameReader& reader);

// Hands the oldest pending frame to `use`; its result (false also when the
// buffer cannot be mapped or nothing is pending).
bool takeFrame(FrameReader& reader, const FrameUse& use);

// Deletes the pixel-buffer objects (the context must still be current).
void releaseFrameReader(FrameReader& reader);
