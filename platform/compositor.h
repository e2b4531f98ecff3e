#pragma once
// Composition of a window's picture from its background, its controls'
// content and the GL surface's framebuffer (internal to the layer).
#include <cstdint>

struct Platform;
struct Control;

// Draws window `window` into its back buffer and presents it. The window's
// inner area starts at (originX, originY) of a drawable of the given size
// (nonzero origins while the opening animation shows part of the window).
// Leaves the GL surface's framebuffer bound and the caller's GL state as it was.
void presentWindow(Platform& platform, int32_t window, int32_t originX, int32_t originY,
                   int32_t drawableWidth, int32_t drawableHeight);

// Deletes the GL objects a control holds (needs the layer's context).
void releaseControlGl(Platform& platform, Control& control);
