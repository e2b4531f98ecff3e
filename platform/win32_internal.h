#pragma once
// What the Win32 back end's sources share: the window classes and their
// procedures, and the record lookups by system handle.
#include <windows.h>

#include "platform/platform.h"

inline constexpr const char* kTopLevelClass = "orb2k16";
inline constexpr const char* kButtonClass = "orb2k16 button";
inline constexpr const char* kSurfaceClass = "orb2k16 surface";

LRESULT CALLBACK topLevelProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK buttonProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK surfaceProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// The layer's record, kept with each of its system windows.
inline Platform* platformOf(HWND hwnd) {
  return reinterpret_cast<Platform*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

// Window number of a top-level system window; -1 when it is not the layer's.
int32_t windowNumber(const Platform& p, HWND hwnd);

// COLORREF is the layer's Colour: 0x00BBGGRR.
inline COLORREF colourRef(Colour colour) {
  return static_cast<COLORREF>(colour) & 0xFFFFFFu;
}
