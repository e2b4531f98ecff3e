#pragma once
// Phoneme names and their frames, and the reader of one text item: an
// optional run of digits (the duration multiplier) and a phoneme name.
#include <cstdint>

constexpr int kPhonemeCount = 52;
constexpr int kSearchedPhonemes = 51;  // the pause entry is reached only as the fallback
constexpr int kPausePhoneme = 51;
constexpr int kMaxPhonemeFrames = 4;
constexpr int32_t kMaxMultiplier = 100000;  // long digit runs saturate here

struct Phoneme {
  char name[4];                      // lower case, up to 3 letters
  int8_t frames[kMaxPhonemeFrames];  // frame indices, the first `frameCount` used
  int8_t frameCount;
};

const Phoneme& phonemeEntry(int index);  // 0..kPhonemeCount-1

// What one item of a text reads as.
struct SpeechItem {
  int32_t phoneme;     // entry index; kPausePhoneme for an unmatched character
  int32_t multiplier;  // 1..kMaxMultiplier
  int32_t next;        // text position after the item
  bool complete;       // false when the digits ran into the end of the text
};

// Reads the item at `pos` of a text of `length` bytes (pos < length). Names
// are tried in table order, ignoring case; the first that is a prefix of the
// remaining text wins. A character that starts no name is consumed alone and
// reads as the pause. Never reads at or past `length`.
SpeechItem readSpeechItem(const char* text, int32_t length, int32_t pos);
