#include "player/tune_image.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kTextHeaderSize = 4;  // textCount
constexpr int kTextOffsetSize = 4;  // one int32 offset per text

int32_t readInt32(const uint8_t* p) {
  uint32_t v =
      uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
  return int32_t(v);
}

uint32_t readUint32(const uint8_t* p) {
  return uint32_t(readInt32(p));
}

ParseResult accepted() {
  ParseResult r;
  r.ok = true;
  return r;
}

ParseResult rejected(const char* format, ...) __attribute__((format(printf, 1, 2)));
ParseResult rejected(const char* format, ...) {
  ParseResult r;
  va_list args;
  va_start(args, format);
  std::vsnprintf(r.reason, sizeof r.reason, format, args);
  va_end(args);
  return r;
}

// Walks the image front to back; every read is checked against the real size.
struct Cursor {
  const uint8_t* image;
  size_t size;
  size_t pos = 0;

  size_t left() const { return size - pos; }
  bool has(uint64_t bytes) const { return bytes <= left(); }
};

// Reads an int32 field; fails with a reason naming the field when the image ends first.
bool readField(Cursor& c, int32_t& value, const char* what, ParseResult& r) {
  if (!c.has(4)) {
    r = rejected("image ends at byte %zu inside %s", c.size, what);
    return false;
  }
  value = readInt32(c.image + c.pos);
  c.pos += 4;
  return true;
}

// Reads a count and records the list of count records of recordSize bytes that follows.
bool readList(Cursor& c, int recordSize, EventList& list, const char* what, int channel,
              ParseResult& r) {
  if (!c.has(4)) {
    r = rejected("image ends at byte %zu inside the %s count of channel %d", c.size, what, channel);
    return false;
  }
  const int32_t count = readInt32(c.image + c.pos);
  c.pos += 4;
  if (count < 0) {
    r = rejected("channel %d: %s count is negative (%d)", channel, what, count);
    return false;
  }
  const uint64_t bytes = uint64_t(count) * uint64_t(recordSize);
  if (!c.has(bytes)) {
    r = rejected("channel %d: %s of %d records needs %llu bytes at offset %zu, image has %zu",
                 channel, what, count, (unsigned long long)bytes, c.pos, c.size);
    return false;
  }
  list.data = c.image + c.pos;
  list.count = count;
  c.pos += size_t(bytes);
  return true;
}

bool readTempoList(Cursor& c, TuneImage& out, ParseResult& r) {
  int32_t count = 0;
  if (!readField(c, count, "the tempo count", r)) return false;
  if (count < 0) {
    r = rejected("tempo count is negative (%d)", count);
    return false;
  }
  const uint64_t bytes = uint64_t(count) * kTempoRecordSize;
  if (!c.has(bytes)) {
    r = rejected("tempo list of %d records needs %llu bytes at offset %zu, image has %zu", count,
                 (unsigned long long)bytes, c.pos, c.size);
    return false;
  }
  out.tempo.data = c.image + c.pos;
  out.tempo.count = count;
  c.pos += size_t(bytes);

  // A zero denominator would divide by zero, and a bar of zero beats would
  // never finish counting; a tempo below 1 microsecond per quarter has no meaning.
  for (int32_t i = 0; i < count; ++i) {
    const TempoRecord t = readTempoRecord(out.tempo, i);
    if (t.microsPerQuarter < 1) {
      r = rejected("tempo record %d: %d microseconds per quarter (must be at least 1)", i,
                   t.microsPerQuarter);
      return false;
    }
    if (t.metreDenominator == 0) {
      r = rejected("tempo record %d: metre %d/0 has a zero denominator", i, t.metreNumerator);
      return false;
    }
    if (t.metreNumerator * 4 / t.metreDenominator == 0) {
      r = rejected("tempo record %d: metre %d/%d gives bars of zero beats", i, t.metreNumerator,
                   t.metreDenominator);
      return false;
    }
  }
  return true;
}

bool readChannel(Cursor& c, int channel, ChannelLists& lists, ParseResult& r) {
  lists = ChannelLists{};
  if (!readList(c, kNoteRecordSize, lists.notes, "note list", channel, r)) return false;
  if (lists.notes.count == 0) return true;  // the block is the count alone
  if (!readList(c, kProgramRecordSize, lists.programs, "program list", channel, r)) return false;
  if (!readList(c, kBendRecordSize, lists.bends, "bend list", channel, r)) return false;
  static constexpr const char* kControllerNames[kControllerListCount] = {
      "controller 1 list", "controller 2 list", "controller 3 list", "controller 4 list",
      "controller 5 list", "controller 6 list", "controller 7 list"};
  for (int k = 0; k < kControllerListCount; ++k) {
    if (!readList(c, kControllerRecordSize, lists.controllers[k], kControllerNames[k], channel, r))
      return false;
  }
  return true;
}

// Reads a size field and the block of that many bytes after it.
bool readBlock(Cursor& c, int32_t maxSize, const uint8_t*& block, int32_t& size, const char* what,
               ParseResult& r) {
  if (!readField(c, size, what, r)) return false;
  if (size < 0 || size > maxSize) {
    r = rejected("%s size %d is outside 0..%d", what, size, maxSize);
    return false;
  }
  if (!c.has(uint64_t(size))) {
    r = rejected("%s of %d bytes at offset %zu runs past the image end (%zu bytes)", what, size,
                 c.pos, c.size);
    return false;
  }
  block = c.image + c.pos;
  c.pos += size_t(size);
  return true;
}

// The text block: textCount, one offset per text, then the texts. Each text is
// bounded by the block, so the speech renderer never reads past it.
bool readTexts(Cursor& c, TuneImage& out, ParseResult& r) {
  for (SpeechText& t : out.textTable) t = SpeechText{nullptr, 0};
  out.textBlock = nullptr;
  out.textCount = 0;
  if (!readField(c, out.textSize, "the text block size", r)) return false;
  // A block of no usable size (empty, negative or oversized) is not an
  // error: the tune simply has no texts.
  if (out.textSize <= 0 || out.textSize > kMaxTextBlockSize) return true;
  if (!c.has(uint64_t(out.textSize))) {
    r = rejected("text block of %d bytes at offset %zu runs past the image end (%zu bytes)",
                 out.textSize, c.pos, c.size);
    return false;
  }
  const uint8_t* block = c.image + c.pos;
  const int32_t size = out.textSize;
  c.pos += size_t(size);
  if (size < kTextHeaderSize) {
    r = rejected("text block of %d bytes cannot hold its text count", size);
    return false;
  }
  const int32_t count = readInt32(block);
  if (count < 0 || count > kTextTableSize) {
    r = rejected("text count %d is outside 0..%d", count, kTextTableSize);
    return false;
  }
  if (kTextHeaderSize + int64_t(count) * kTextOffsetSize > size) {
    r = rejected("text block of %d bytes cannot hold %d text offsets", size, count);
    return false;
  }
  for (int32_t i = 0; i < count; ++i) {
    const int32_t offset = readInt32(block + kTextHeaderSize + i * kTextOffsetSize);
    if (offset < 0 || offset > size) {
      r = rejected("text %d starts at offset %d, outside the %d-byte text block", i, offset, size);
      return false;
    }
    const void* zero = std::memchr(block + offset, 0, size_t(size - offset));
    const int32_t length =
        zero ? int32_t(static_cast<const uint8_t*>(zero) - (block + offset)) : size - offset;
    out.textTable[i] = SpeechText{reinterpret_cast<const char*>(block + offset), length};
  }
  out.textBlock = block;
  out.textCount = count;
  return true;
}

}  // namespace

TempoRecord readTempoRecord(const EventList& tempo, int32_t index) {
  const int32_t n = tempo.count;
  const uint8_t* base = tempo.data;
  TempoRecord t;
  t.delta = readDelta(base + index, n);
  t.microsPerQuarter = readInt32(base + 3 * n + 4 * index);
  t.metreNumerator = base[7 * n + index];
  t.metreDenominator = base[8 * n + index];
  t.metreAux = base[9 * n + index];
  return t;
}

ParseResult parseTuneImage(const uint8_t* image, size_t size, TuneImage& out, PatchCheck check) {
  out = TuneImage{};
  if (!image) return rejected("no image");
  Cursor c{image, size};
  ParseResult r;

  if (!readField(c, out.ticksPerQuarter, "ticks per quarter", r)) return r;
  if (out.ticksPerQuarter < 1 || out.ticksPerQuarter > kMaxTicksPerQuarter)
    return rejected("ticks per quarter %d is outside 1..%d", out.ticksPerQuarter,
                    kMaxTicksPerQuarter);
  out.tickDivisor = out.ticksPerQuarter * kTickDivisorScale;
  if (!readField(c, out.lengthTicks, "the tune length", r)) return r;
  if (!readTempoList(c, out, r)) return r;

  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (!readChannel(c, ch, out.channels[ch], r)) return r;
  }

  if (!readBlock(c, kMaxGlobalSize, out.globalBlock, out.globalSize, "global parameter block", r))
    return r;
  // The synthesizer always reads 22 bytes; a shorter block reads as zeros past its end.
  const int32_t used = out.globalSize < kGlobalParamsUsed ? out.globalSize : kGlobalParamsUsed;
  if (used > 0) std::memcpy(out.globalParams, out.globalBlock, size_t(used));

  if (!readBlock(c, kMaxPatchSize, out.patchMap, out.patchSize, "patch map", r)) return r;
  if (!readTexts(c, out, r)) return r;

  if (check == PatchCheck::Required) {
    r = validatePrograms(out);
    if (!r) return r;
  }
  return accepted();
}

namespace {

// Program p's patch must lie whole inside the map: its offset-table entry,
// then 90 fixed bytes and 3 bytes per modulation route.
bool patchInsideMap(const TuneImage& tune, int program, ParseResult& r) {
  const int64_t entry = int64_t(program) * 4;
  if (entry + 4 > tune.patchSize) {
    r = rejected("program %d has no entry in the %d-byte patch map", program, tune.patchSize);
    return false;
  }
  const uint64_t offset = readUint32(tune.patchMap + entry);
  if (offset + kPatchFixedSize > uint64_t(tune.patchSize)) {
    r = rejected("program %d: patch at offset %llu runs past the %d-byte patch map", program,
                 (unsigned long long)offset, tune.patchSize);
    return false;
  }
  const int routes = tune.patchMap[offset + kPatchRouteCountOffset];
  if (offset + kPatchFixedSize + uint64_t(routes) * kPatchRouteSize > uint64_t(tune.patchSize)) {
    r = rejected("program %d: patch with %d routes at offset %llu runs past the %d-byte patch map",
                 program, routes, (unsigned long long)offset, tune.patchSize);
    return false;
  }
  return true;
}

}  // namespace

ParseResult validatePrograms(const TuneImage& tune) {
  // Which programs the tune can select: 0 after initialisation, plus the
  // running value of every program record, top bit cleared as the
  // synthesizer reads it.
  bool selected[kProgramCount] = {};
  selected[0] = true;
  for (const ChannelLists& ch : tune.channels) {
    const EventList& list = ch.programs;
    uint8_t program = 0;
    for (int32_t i = 0; i < list.count; ++i) {
      program = uint8_t(program + list.data[3 * list.count + i]);
      selected[program & 0x7F] = true;
    }
  }
  ParseResult r;
  for (int p = 0; p < kProgramCount; ++p) {
    if (selected[p] && !patchInsideMap(tune, p, r)) return r;
  }
  return accepted();
}

void fillSpeechTexts(const TuneImage& tune, SpeechText (&out)[kSpeechTextCount]) {
  for (int i = 0; i < kSpeechTextCount; ++i) out[i] = tune.textTable[i];
}
