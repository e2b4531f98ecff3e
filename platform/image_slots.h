// The platform's numbered images, shared by every back end: created and drawn
// into through the platform, shown by image buttons.
#pragma once
#include <cstdint>

#include "platform/platform.h"

// Each back end redraws the image buttons that show an image after the image
// changed (created again, or drawing into it ended).
void redrawControlsShowing(Platform& p, int32_t image);
