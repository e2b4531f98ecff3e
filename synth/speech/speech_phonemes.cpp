#include "synth/speech/speech_phonemes.h"

namespace {

// In search order: two-letter names before the single letters they begin with.
constexpr Phoneme kPhonemes[kPhonemeCount] = {
    {"sil", {50}, 1},       {"ng", {38}, 1},         {"th", {57}, 1},
    {"sh", {55}, 1},        {"dh", {12, 51, 13}, 3}, {"zh", {67, 51, 67}, 3},
    {"ch", {9, 10}, 2},     {"ih", {25}, 1},         {"eh", {16}, 1},
    {"ae", {1}, 1},         {"ah", {60}, 1},         {"oh", {39}, 1},
    {"uh", {42}, 1},        {"ax", {0}, 1},          {"iy", {17}, 1},
    {"er", {19}, 1},        {"aa", {4}, 1},          {"ao", {5}, 1},
    {"uw", {61}, 1},        {"ey", {2, 25}, 2},      {"ay", {28, 25}, 2},
    {"oy", {41, 25}, 2},    {"aw", {45, 46}, 2},     {"ow", {40, 46}, 2},
    {"ia", {26, 27}, 2},    {"ea", {3, 27}, 2},      {"ua", {43, 27}, 2},
    {"ll", {35}, 1},        {"wh", {63}, 1},         {"ix", {0}, 1},
    {"el", {34}, 1},        {"rx", {53}, 1},         {"h", {24}, 1},
    {"p", {47, 48, 49}, 3}, {"t", {56, 58, 59}, 3},  {"k", {31, 32, 33}, 3},
    {"b", {6, 7, 8}, 3},    {"d", {11, 14, 15}, 3},  {"g", {21, 22, 23}, 3},
    {"m", {36}, 1},         {"n", {37}, 1},          {"f", {20}, 1},
    {"s", {54}, 1},         {"v", {62, 51, 62}, 3},  {"z", {66, 51, 68}, 3},
    {"l", {34}, 1},         {"r", {52}, 1},          {"w", {63}, 1},
    {"q", {51}, 1},         {"y", {65}, 1},          {"j", {29, 30, 51, 30}, 4},
    {"", {18}, 1},  // the pause
};

// ASCII only: texts are phoneme names, and the locale must not matter.
char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithName(const char* text, int32_t length, int32_t pos, const char* name) {
  for (int i = 0; name[i] != '\0'; ++i) {
    if (pos + i >= length || lowerAscii(text[pos + i]) != name[i]) return false;
  }
  return true;
}

int32_t nameLength(const char* name) {
  int32_t n = 0;
  while (name[n] != '\0') ++n;
  return n;
}

}  // namespace

const Phoneme& phonemeEntry(int index) {
  return kPhonemes[index];
}

SpeechItem readSpeechItem(const char* text, int32_t length, int32_t pos) {
  SpeechItem item{kPausePhoneme, 1, pos, false};
  int32_t digits = 0;
  while (pos < length && text[pos] >= '0' && text[pos] <= '9') {
    digits = digits * 10 + (text[pos] - '0');
    if (digits > kMaxMultiplier) digits = kMaxMultiplier;
    ++pos;
  }
  item.multiplier = digits == 0 ? 1 : digits;
  if (pos >= length) {
    item.next = pos;
    return item;  // digits without a name: the caller drops them
  }
  item.complete = true;
  for (int entry = 0; entry < kSearchedPhonemes; ++entry) {
    const char* name = kPhonemes[entry].name;
    if (startsWithName(text, length, pos, name)) {
      item.phoneme = entry;
      item.next = pos + nameLength(name);
      return item;
    }
  }
  item.next = pos + 1;
  return item;
}
