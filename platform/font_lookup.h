#pragma once
// Finds font files by face name through fontconfig.
#include <string>
#include <string_view>

struct FontFile {
  std::string path;  // empty when nothing was found
  int index = 0;     // face index inside the file
};

// The regular, upright face named `face`; the system's sans-serif face when
// no installed face carries that name.
FontFile findFontFile(std::string_view face);

// Pixel height of the em square for `points` at `dpi`: points * dpi / 72,
// rounded half away from zero.
int fontPixelHeight(int points, float dpi);
