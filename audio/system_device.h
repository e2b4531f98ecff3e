#pragma once
// The ring device of the system the program is built for.
#if defined(_WIN32)
#include "audio/dsound_device.h"
using SystemRingDevice = DsoundRingDevice;
#else
#include "audio/sdl_device.h"
using SystemRingDevice = SdlRingDevice;
#endif
