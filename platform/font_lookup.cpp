#include "platform/font_lookup.h"

#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <cmath>

namespace {

// Best match for one family name in `config`, or nothing.
FontFile matchFamily(FcConfig* config, const std::string& family, bool exactFamily) {
  FontFile found;
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return found;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  if (match) {
    FcChar8* matchedFamily = nullptr;
    FcChar8* file = nullptr;
    int index = 0;
    const bool familyOk =
        !exactFamily ||
        (FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily) == FcResultMatch &&
         strcasecmp(reinterpret_cast<const char*>(matchedFamily), family.c_str()) == 0);
    if (familyOk && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
      found.path = reinterpret_cast<const char*>(file);
      if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) found.index = index;
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return found;
}

}  // namespace

FontFile findFontFile(std::string_view face) {
  // A configuration of our own, released again: the lookup leaves no state behind.
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return {};
  FontFile found = matchFamily(config, std::string(face), true);
  if (found.path.empty()) found = matchFamily(config, "sans-serif", false);
  FcConfigDestroy(config);
  return found;
}

int fontPixelHeight(int points, float dpi) {
  return static_cast<int>(std::lround(static_cast<double>(points) * dpi / 72.0));
}
