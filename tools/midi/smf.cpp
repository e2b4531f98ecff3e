#include "tools/midi/smf.h"

#include <cstdio>
#include <cstring>

namespace midi {

namespace {

constexpr size_t kChunkHeaderSize = 8;
constexpr uint32_t kMinHeaderLength = 6;
constexpr int kMaxVlqBytes = 4;
constexpr uint16_t kSmpteDivisionBit = 0x8000;
constexpr uint8_t kStatusBit = 0x80;
constexpr uint8_t kMetaStatus = 0xFF;
constexpr uint8_t kSysExStatus = 0xF0;
constexpr uint8_t kSysExEscape = 0xF7;

std::string format(const char* fmt, long long a = 0, long long b = 0, long long c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, fmt, a, b, c);
  return text;
}

uint32_t readBigEndian(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

// Reads a track one event at a time; every failure names the offset where
// the faulty item starts.
class TrackReader {
 public:
  TrackReader(const uint8_t* bytes, size_t begin, size_t end, SmfError& error)
      : bytes_(bytes), pos_(begin), end_(end), error_(error) {}

  bool read(SmfTrack& track) {
    while (pos_ < end_) {
      SmfEvent e;
      e.offset = uint32_t(pos_);
      uint32_t delta = 0;
      if (!readVlq(delta, "delta time")) return false;
      tick_ += delta;
      e.tick = tick_;
      if (pos_ >= end_) return fail(e.offset, "track ends after a delta time with no event");
      const uint8_t lead = bytes_[pos_];
      bool ok = false;
      if (lead == kMetaStatus) {
        ok = readMeta(e);
      } else if (lead == kSysExStatus || lead == kSysExEscape) {
        ok = readSysEx(e);
      } else if (lead > kSysExStatus) {
        return fail(
            pos_, format("status byte 0x%02llX (a system message) cannot appear in a file", lead));
      } else {
        ok = readChannel(e);
      }
      if (!ok) return false;
      track.events.push_back(e);
      track.endTick = tick_;
      // Anything after the end-of-track event belongs to no event.
      if (e.kind == SmfEventKind::Meta && e.metaType == kMetaEndOfTrack) break;
    }
    return true;
  }

 private:
  bool fail(size_t offset, std::string message) {
    error_.offset = offset;
    error_.message = std::move(message);
    return false;
  }

  bool readVlq(uint32_t& value, const char* what) {
    const size_t start = pos_;
    value = 0;
    for (int i = 0; i < kMaxVlqBytes; ++i) {
      if (pos_ >= end_) return fail(start, std::string("truncated ") + what);
      const uint8_t b = bytes_[pos_++];
      value = (value << 7) | (b & 0x7F);
      if (!(b & kStatusBit)) return true;
    }
    return fail(start, std::string(what) + " longer than 4 bytes");
  }

  bool readPayload(SmfEvent& e, const char* what) {
    uint32_t length = 0;
    const size_t lengthAt = pos_;
    if (!readVlq(length, what)) return false;
    if (length > end_ - pos_) {
      return fail(lengthAt, std::string(what) + format(" of %lld bytes runs past the track's end "
                                                       "(%lld bytes left)",
                                                       length, (long long)(end_ - pos_)));
    }
    e.payloadOffset = uint32_t(pos_);
    e.payloadLength = length;
    pos_ += length;
    return true;
  }

  bool readMeta(SmfEvent& e) {
    e.kind = SmfEventKind::Meta;
    e.status = kMetaStatus;
    ++pos_;
    if (pos_ >= end_) return fail(pos_ - 1, "truncated meta event: no type byte");
    e.metaType = bytes_[pos_++];
    return readPayload(e, "meta event length");
  }

  bool readSysEx(SmfEvent& e) {
    e.kind = SmfEventKind::SysEx;
    e.status = bytes_[pos_++];
    return readPayload(e, "SysEx length");
  }

  // Running status carries across meta and SysEx events as well: files in
  // the wild rely on it, and nothing else could be meant by the data byte.
  bool readChannel(SmfEvent& e) {
    e.kind = SmfEventKind::Channel;
    const size_t start = pos_;
    if (bytes_[pos_] & kStatusBit) {
      running_ = bytes_[pos_++];
    } else if (running_ == 0) {
      return fail(start, format("data byte 0x%02llX with no status byte before it", bytes_[pos_]));
    }
    e.status = running_;
    const uint8_t type = e.status & 0xF0;
    const int count = (type == 0xC0 || type == 0xD0) ? 1 : 2;
    for (int i = 0; i < count; ++i) {
      if (pos_ >= end_) {
        return fail(start, format("truncated message 0x%02llX: the track ends after %lld of %lld "
                                  "data bytes",
                                  e.status, i, count));
      }
      const uint8_t b = bytes_[pos_];
      if (b & kStatusBit) {
        return fail(pos_, format("status byte 0x%02llX where data byte %lld of message 0x%02llX "
                                 "belongs",
                                 b, i + 1, e.status));
      }
      e.data[i] = b;
      ++pos_;
    }
    return true;
  }

  const uint8_t* bytes_;
  size_t pos_;
  size_t end_;
  SmfError& error_;
  int64_t tick_ = 0;
  uint8_t running_ = 0;
};

std::string chunkName(const uint8_t* id) {
  std::string name;
  for (int i = 0; i < 4; ++i) {
    if (id[i] >= 0x20 && id[i] < 0x7F) {
      name += char(id[i]);
    } else {
      name += format("\\x%02llX", id[i]);
    }
  }
  return name;
}

bool fail(SmfError& error, size_t offset, std::string message) {
  error.offset = offset;
  error.message = std::move(message);
  return false;
}

bool readHeader(const uint8_t* bytes, size_t size, SmfFile& out, int& trackCount, size_t& next,
                SmfError& error) {
  if (size < 4 || std::memcmp(bytes, "MThd", 4) != 0) {
    return fail(error, 0, "not a Standard MIDI File: it does not start with an MThd header");
  }
  if (size < kChunkHeaderSize) return fail(error, 4, "truncated header: no chunk length");
  const uint32_t length = readBigEndian(bytes + 4, 4);
  if (length < kMinHeaderLength) {
    return fail(error, 4, format("header chunk of %lld bytes, needs at least 6", length));
  }
  if (length > size - kChunkHeaderSize) {
    return fail(error, 4,
                format("header chunk of %lld bytes runs past the end of the file "
                       "(%lld bytes left)",
                       length, (long long)(size - kChunkHeaderSize)));
  }
  const uint16_t fileFormat = uint16_t(readBigEndian(bytes + 8, 2));
  trackCount = int(readBigEndian(bytes + 10, 2));
  const uint16_t division = uint16_t(readBigEndian(bytes + 12, 2));
  if (fileFormat == 2) {
    return fail(error, 8, "format 2 (independent sequences) is not supported; use format 0 or 1");
  }
  if (fileFormat > 2) return fail(error, 8, format("unknown file format %lld", fileFormat));
  if (trackCount == 0) return fail(error, 10, "the header announces no tracks");
  if (fileFormat == 0 && trackCount != 1) {
    return fail(error, 10,
                format("format 0 file announces %lld tracks (it has exactly one)", trackCount));
  }
  if (division & kSmpteDivisionBit) {
    return fail(error, 12, "SMPTE time division is not supported; only ticks per quarter note");
  }
  if (division == 0) return fail(error, 12, "time division of 0 ticks per quarter note");
  out.format = fileFormat;
  out.ticksPerQuarter = division;
  next = kChunkHeaderSize + length;
  return true;
}

}  // namespace

std::string SmfError::text() const {
  return "byte offset " + std::to_string(offset) + ": " + message;
}

bool readSmf(const uint8_t* bytes, size_t size, SmfFile& out, SmfError& error) {
  out = SmfFile{};
  error = SmfError{};
  if (!bytes) size = 0;
  int trackCount = 0;
  size_t pos = 0;
  if (!readHeader(bytes, size, out, trackCount, pos, error)) return false;

  while (int(out.tracks.size()) < trackCount) {
    if (size - pos < kChunkHeaderSize) {
      return fail(error, pos,
                  format("the file ends after %lld of the %lld tracks its header "
                         "announces",
                         (long long)out.tracks.size(), trackCount));
    }
    const uint32_t length = readBigEndian(bytes + pos + 4, 4);
    const size_t left = size - pos - kChunkHeaderSize;
    if (length > left) {
      return fail(error, pos,
                  "chunk '" + chunkName(bytes + pos) +
                      format("' of %lld bytes runs past the end of the file (%lld "
                             "bytes left)",
                             length, (long long)left));
    }
    const size_t begin = pos + kChunkHeaderSize;
    if (std::memcmp(bytes + pos, "MTrk", 4) == 0) {
      SmfTrack track;
      track.offset = uint32_t(pos);
      TrackReader reader(bytes, begin, begin + length, error);
      if (!reader.read(track)) return false;
      out.tracks.push_back(std::move(track));
    }
    pos = begin + length;
  }
  return true;
}

}  // namespace midi
