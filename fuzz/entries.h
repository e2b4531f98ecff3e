#pragma once
// The hostile-input entry points: each takes arbitrary bytes, drives one part
// of the player or the synthesizer with them and returns null when every
// promise held, or a short description of the first broken one. Memory faults
// are left to the sanitizers. The libFuzzer targets abort on a description;
// the regression test replays the kept inputs through the same functions.
//
// Header-only so that the fuzz targets (built with clang's instrumentation)
// and the ordinary test run share one copy without a library of their own.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "player/playback.h"
#include "player/synth_sink.h"
#include "player/tune_image.h"
#include "player/tune_writer.h"
#include "synth/speech/speech.h"
#include "synth/speech/speech_phonemes.h"
#include "synth/synth.h"

namespace fuzzentry {

// Rendering is what an input costs: every target renders only as far as the
// input's events reach, a few ticks past the last one, and never more than a
// cap, so that the fuzzer tries hundreds of inputs a second.
constexpr int kSampleRate = 44100;
constexpr int kTickFrames = 128;                      // one control tick at 44,100 Hz
constexpr int64_t kPipelineFrames = kSampleRate / 2;  // cap: half a second through the player
constexpr int kPipelineBlock = 1024;                  // what the audio stream asks for at a time
constexpr int64_t kPipelineTailFrames = 4 * kTickFrames;  // rendered past the tune's end
constexpr int kTailTicks = 3;                             // rendered after the last event list
constexpr size_t kMaxEventLists = 16;  // longer inputs are cut (keeps runs short)
// A reset message (0xFF) initialises the whole synthesizer, which costs more
// than a tick of rendering; past the first few in an input, 0xFF bytes are
// read as 0xFE, another system byte that carries no data.
constexpr int kMaxResets = 1;
constexpr uint8_t kResetByte = 0xFF;
constexpr uint8_t kIgnoredSystemByte = 0xFE;
constexpr int kSpeechTicksPerByte = 8;
constexpr int kMaxSpeechTicks = 4096;
constexpr int kSpeechPrefix = 2;  // speed and formant controller values before the text

// Channel parameters, counted from patch byte 59.
constexpr int kChannelBase = kVoiceParamCount;

inline bool allFinite(const float* x, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(x[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Tune image parser.

inline bool insideImage(const uint8_t* image, size_t size, const uint8_t* p, size_t bytes) {
  if (bytes == 0) return true;
  return p != nullptr && p >= image && bytes <= size && size_t(p - image) <= size - bytes;
}

inline bool listInside(const uint8_t* image, size_t size, const EventList& list, int recordSize) {
  if (list.count < 0) return false;
  return insideImage(image, size, list.data, size_t(list.count) * size_t(recordSize));
}

// Parses the bytes both ways and, when accepted, checks that everything the
// parsed record points at lies inside the image and reads back sensibly.
inline const char* checkTuneImage(const uint8_t* data, size_t size) {
  // An exact-size copy, so that a read one past the end is a sanitizer finding.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(copy.get(), data, size);
  const uint8_t* image = copy.get();

  auto tune = std::make_unique<TuneImage>();
  const ParseResult formatOnly = parseTuneImage(image, size, *tune, PatchCheck::Skip);
  if (!formatOnly && formatOnly.reason[0] == '\0') return "a rejection without a reason";
  const ParseResult full = parseTuneImage(image, size, *tune, PatchCheck::Required);
  if (full && !formatOnly) return "accepted with the patch check but not without it";
  if (!full) return nullptr;

  if (tune->ticksPerQuarter < 1 || tune->ticksPerQuarter > kMaxTicksPerQuarter) {
    return "ticks per quarter out of range";
  }
  // A negative length is accepted: the tune then ends after its first tick.
  if (!listInside(image, size, tune->tempo, kTempoRecordSize)) return "tempo list outside";
  for (int i = 0; i < tune->tempo.count; ++i) {
    const TempoRecord r = readTempoRecord(tune->tempo, i);
    if (r.delta < 0 || r.delta > kMaxDelta) return "tempo delta out of range";
  }
  for (const ChannelLists& c : tune->channels) {
    if (!listInside(image, size, c.notes, kNoteRecordSize) ||
        !listInside(image, size, c.programs, kProgramRecordSize) ||
        !listInside(image, size, c.bends, kBendRecordSize)) {
      return "channel list outside";
    }
    for (const EventList& l : c.controllers) {
      if (!listInside(image, size, l, kControllerRecordSize)) return "controller list outside";
    }
  }
  if (tune->globalSize < 0 || !insideImage(image, size, tune->globalBlock, tune->globalSize)) {
    return "global block outside";
  }
  if (tune->patchSize < 0 || !insideImage(image, size, tune->patchMap, tune->patchSize)) {
    return "patch map outside";
  }
  if (tune->textCount < 0 || tune->textCount > kTextTableSize) return "text count out of range";
  for (int i = 0; i < kTextTableSize; ++i) {
    const SpeechText& t = tune->textTable[i];
    if (i >= tune->textCount) {
      if (t.text != nullptr || t.length != 0) return "text entry past the count";
      continue;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(t.text);
    if (t.length < 0 || (t.length > 0 && !insideImage(image, size, p, size_t(t.length)))) {
      return "text outside the image";
    }
  }
  SpeechText texts[kSpeechTextCount];
  fillSpeechTexts(*tune, texts);
  return nullptr;
}

// ---------------------------------------------------------------------------
// The synthesizer's state is megabytes: allocating and clearing it for every
// input would cost more than most inputs' rendering. synthInit clears the
// whole record, so one state serves every input without carrying anything
// from one to the next.
inline SynthState& reusedState() {
  static SynthState* const state = new SynthState();
  return *state;
}
inline SynthSink& reusedSink() {
  static SynthSink* const sink = new SynthSink();
  return *sink;
}

// The whole offline pipeline: parse, measure, render to a little past the
// measured end, at most half a second.

inline const char* checkPipeline(const uint8_t* data, size_t size) {
  std::unique_ptr<uint8_t[]> image(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(image.get(), data, size);

  auto pb = std::make_unique<Playback>();  // no device: nothing leaves the process
  pb->player.sink = &reusedSink();
  if (!playTune(*pb, image.get(), size)) return nullptr;

  const TuneLength measured = pb->measured;
  if (measured.frames < 0) return "negative measured length";
  if (measured.ok && measured.lengthMs < 0) return "negative length in milliseconds";
  if (!measured.ok && measured.overflowTick < 0) return "overflow without its tick";

  playFromPosition(*pb, 0);
  PlayerState& p = pb->player;
  std::vector<float> block(2 * kPipelineBlock);
  // A tune that cannot be measured may end anywhere: it gets the whole cap.
  const int64_t frames = measured.ok
                             ? std::min(kPipelineFrames, measured.frames + kPipelineTailFrames)
                             : kPipelineFrames;
  int64_t done = 0;
  int64_t endBlockStart = -1;  // the block in which sequencing was first seen over
  int64_t endBlockEnd = -1;
  while (done < frames) {
    const int n = int(std::min<int64_t>(kPipelineBlock, frames - done));
    renderFrames(p, block.data(), n);
    if (!allFinite(block.data(), 2 * size_t(n))) return "a sample is not finite";
    if (endBlockStart < 0 && p.playState.load() != PlayState::Sequencing) {
      endBlockStart = done;
      endBlockEnd = done + n;
    }
    done += n;
    if (p.positionFrames != done) return "position differs from the frames rendered";
  }
  // A measurable tune ends where the measuring pass said: inside the block
  // that reached its length, and not before.
  if (measured.ok && measured.frames <= kPipelineFrames) {
    if (endBlockStart < 0) return "the tune did not end at its measured length";
    if (measured.frames < endBlockStart || measured.frames > endBlockEnd) {
      return "the tune ended away from its measured length";
    }
  }
  if (measured.ok && measured.frames > kPipelineFrames && endBlockStart >= 0) {
    return "the tune ended before its measured length";
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Event lists and the synthesizer.

// A small deterministic generator for patch bytes (xorshift32).
inline uint32_t nextRandom(uint32_t& x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

// A sounding patch: sine oscillator at full level, sustained envelopes, pan
// centre, neutral channel delay; polyphony 8, no routes.
inline std::vector<uint8_t> plainPatchBytes() {
  std::vector<uint8_t> p(kPatchHeaderSize, 0);
  p[0] = 64;
  p[1] = 64;
  for (int osc : {2, 8, 14}) {
    p[osc + 2] = 64;
    p[osc + 3] = 64;
    p[osc + 4] = 64;
  }
  p[2 + 5] = 128;
  p[27] = 64;
  for (int env : {32, 38}) {
    p[env + 2] = 128;
    p[env + 3] = 64;
    p[env + 5] = 128;
  }
  p[kChannelBase + 0] = 100;
  p[kChannelBase + 13] = 64;
  p[kChannelBase + 14] = 64;
  p[kPatchPolyphony] = 8;
  return p;
}

// Four patches: the plain one; the plain one with every channel effect and
// send engaged; and two of seeded random bytes (0..128) with modulation
// routes. Programs 0..127 take them in turn.
inline std::vector<uint8_t> fixedPatchMap() {
  std::vector<PatchEntry> patches;
  patches.push_back({0, plainPatchBytes()});
  std::vector<uint8_t> busy = plainPatchBytes();
  for (int i = 1; i < kChannelParamCount; ++i) busy[kChannelBase + i] = uint8_t(40 + 3 * i);
  busy[20] = 2;  // filter 1 engaged
  busy[21] = 70;
  busy[28] = 3;  // voice shaper
  patches.push_back({1, busy});
  uint32_t x = 0x2016u;
  for (int program = 2; program < 4; ++program) {
    const int routes = 4;
    std::vector<uint8_t> r(kPatchHeaderSize + kRouteSize * routes);
    for (uint8_t& b : r) b = uint8_t(nextRandom(x) % 129);
    r[kPatchPolyphony] = uint8_t(1 + nextRandom(x) % 16);
    r[kPatchRouteCount] = routes;
    patches.push_back({program, r});
  }
  for (int program = 4; program < kSynthPrograms; ++program) {
    patches.push_back({program, patches[size_t(program % 4)].bytes});
  }
  std::vector<uint8_t> map;
  std::string error;
  writePatchMap(patches, map, error);
  return map;
}

// Reverb, delay and master compressor engaged, both cut filters working.
inline std::vector<uint8_t> busyGlobals() {
  std::vector<uint8_t> g(kGlobalParamCount, 64);
  g[11] = 8;
  g[12] = 120;
  return g;
}

// Applies `events` in lists ended by 0xFD (the last one may run to the end),
// rendering one tick after each and a tail after the last; every sample must
// be finite.
inline const char* playEvents(SynthState& s, const uint8_t* events, size_t size) {
  float out[2 * kTickFrames];
  size_t pos = 0;
  size_t lists = 0;
  int resetsLeft = kMaxResets;
  while (pos < size && lists < kMaxEventLists) {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(events + pos, 0xFD, size - pos));
    const size_t length = end ? size_t(end - (events + pos)) + 1 : size - pos;
    // An exact-size copy per list, so that reading past the list is a finding.
    std::unique_ptr<uint8_t[]> list(new uint8_t[length]);
    std::memcpy(list.get(), events + pos, length);
    for (size_t i = 0; i < length; ++i) {
      if (list[i] != kResetByte) continue;
      if (resetsLeft > 0) {
        --resetsLeft;
      } else {
        list[i] = kIgnoredSystemByte;
      }
    }
    processEvents(s, list.get(), length);
    synthRender(s, out, kTickFrames, nullptr, false);
    if (!allFinite(out, 2 * kTickFrames)) return "a sample is not finite";
    pos += length;
    ++lists;
  }
  for (int t = 0; t < kTailTicks; ++t) {
    synthRender(s, out, kTickFrames, nullptr, false);
    if (!allFinite(out, 2 * kTickFrames)) return "a sample of the tail is not finite";
  }
  float left = 0, right = 0;
  getMasterMeter(s, &left, &right);
  if (!std::isfinite(left) || !std::isfinite(right)) return "the master meter is not finite";
  int counts[kSynthChannels + 1];
  getVoiceCounts(s, counts);
  if (counts[kSynthChannels] > kSynthVoices) return "more voices than the synthesizer has";
  return nullptr;
}

// Arbitrary event bytes against a fixed, valid patch map.
inline const char* checkEvents(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> map = fixedPatchMap();
  static const std::vector<uint8_t> globals = busyGlobals();
  SynthState& s = reusedState();
  if (!synthInit(s, map.data(), map.size(), kSampleRate)) return "synthInit failed";
  setGlobalParams(s, globals.data());
  return playEvents(s, data, size);
}

// Arbitrary patch bytes, global block and events: the input is a patch (90
// bytes, then as many whole routes as its route count asks and the input
// holds), 22 global bytes, then event lists. Every program plays that patch.
inline const char* checkFiniteOutput(const uint8_t* data, size_t size) {
  if (size < size_t(kPatchHeaderSize + kGlobalParamCount)) return nullptr;
  const size_t available = (size - kPatchHeaderSize - kGlobalParamCount) / kRouteSize;
  const size_t routes = std::min<size_t>(data[kPatchRouteCount], available);
  std::vector<uint8_t> patch(data, data + kPatchHeaderSize + kRouteSize * routes);
  patch[kPatchRouteCount] = uint8_t(routes);
  const uint8_t* globals = data + patch.size();
  const uint8_t* events = globals + kGlobalParamCount;
  const size_t eventSize = size - patch.size() - kGlobalParamCount;

  // Every program's offset names the one copy of the patch after the table.
  static std::vector<uint8_t> map;
  const uint32_t offset = 4u * kSynthPrograms;
  map.assign(offset, 0);
  for (int program = 0; program < kSynthPrograms; ++program) {
    for (int b = 0; b < 4; ++b) map[size_t(4 * program + b)] = uint8_t(offset >> (8 * b));
  }
  map.insert(map.end(), patch.begin(), patch.end());
  SynthState& s = reusedState();
  if (!synthInit(s, map.data(), map.size(), kSampleRate)) return "synthInit failed";
  setGlobalParams(s, globals);
  return playEvents(s, events, eventSize);
}

// ---------------------------------------------------------------------------
// Speech texts.

// Reads the whole text item by item: every item moves forward and stays
// inside the text, with a multiplier and phoneme in range.
inline const char* readWholeText(const char* text, int32_t length) {
  int32_t pos = 0;
  while (pos < length) {
    const SpeechItem item = readSpeechItem(text, length, pos);
    if (item.next <= pos || item.next > length) return "an item does not move forward inside";
    if (item.multiplier < 1 || item.multiplier > kMaxMultiplier) return "multiplier out of range";
    if (item.phoneme < 0 || item.phoneme >= kPhonemeCount) return "phoneme out of range";
    if (!item.complete && item.next != length) return "digits dropped before the end";
    pos = item.next;
  }
  return nullptr;
}

// Two bytes of controller values (speed, formant shift), then the text. The
// text is read item by item, then sung over a sawtooth for a while with
// notes starting and ending, so that both markers are met.
inline const char* checkSpeechText(const uint8_t* data, size_t size) {
  if (size < size_t(kSpeechPrefix)) return nullptr;
  const auto length = int32_t(std::min<size_t>(size - kSpeechPrefix, kMaxTextBlockSize));
  std::unique_ptr<char[]> text(new char[size_t(length) + 1]);
  std::memcpy(text.get(), data + kSpeechPrefix, size_t(length));
  text[size_t(length)] = 'X';  // never part of the text: a read of it is a fault
  if (const char* fault = readWholeText(text.get(), length)) return fault;

  auto speech = std::make_unique<SpeechRenderer>();
  speechInit(*speech, kSampleRate);
  SpeechText table[kSpeechTextCount] = {};
  table[0] = SpeechText{text.get(), length};
  speechSetTexts(*speech, table);
  speechController(*speech, 4, 63 + data[0] % 65);
  speechController(*speech, 5, data[1] % 128);

  const int ticks = std::min(kMaxSpeechTicks, 64 + kSpeechTicksPerByte * length);
  float buffer[2 * kTickFrames];
  float saw = 0.0f;
  for (int t = 0; t < ticks; ++t) {
    if (t % 16 == 0) speechNoteOn(*speech);
    if (t % 16 == 8) speechNoteOff(*speech);
    // A speed change now and then, inside segments as well.
    if (t % 37 == 36) speechController(*speech, 4, 63 + (data[0] + t) % 65);
    speechControlStep(*speech);
    for (int i = 0; i < kTickFrames; ++i) {
      saw += 0.01f;
      if (saw > 1.0f) saw -= 2.0f;
      buffer[2 * i] = buffer[2 * i + 1] = 0.5f * saw;
    }
    speechRender(*speech, buffer, kTickFrames);
    if (!allFinite(buffer, 2 * kTickFrames)) return "a speech sample is not finite";
  }
  return nullptr;
}

}  // namespace fuzzentry
