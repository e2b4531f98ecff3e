#pragma once
// Reading Standard MIDI Files (format 0 and 1, ticks-per-quarter division)
// into tracks of timed events. The reader checks the container and every
// event's length; it keeps channel messages, meta events and SysEx as they
// are and leaves their meaning to the importer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace midi {

enum class SmfEventKind : uint8_t {
  Channel,  // status 0x80..0xEF with its one or two data bytes
  Meta,     // 0xFF type length data
  SysEx,    // 0xF0 or 0xF7 length data
};

struct SmfEvent {
  int64_t tick = 0;     // absolute, from the start of the track
  uint32_t offset = 0;  // byte offset of the event (its delta time) in the file
  SmfEventKind kind = SmfEventKind::Channel;
  uint8_t status = 0;          // channel status with running status resolved; 0xFF; 0xF0/0xF7
  uint8_t data[2] = {};        // channel data bytes (the second is 0 for one-byte messages)
  uint8_t metaType = 0;        // meta events only
  uint32_t payloadOffset = 0;  // meta and SysEx: where the payload lies in the file
  uint32_t payloadLength = 0;
};

struct SmfTrack {
  uint32_t offset = 0;  // byte offset of the chunk header
  std::vector<SmfEvent> events;
  int64_t endTick = 0;  // tick of the track's last event (its end-of-track, when present)
};

struct SmfFile {
  int format = 0;  // 0 or 1
  int ticksPerQuarter = 0;
  std::vector<SmfTrack> tracks;
};

struct SmfError {
  size_t offset = 0;
  std::string message;
  // "byte offset N: message"
  std::string text() const;
};

constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTimeSignature = 0x58;

// Parses a whole file. Fails, naming the problem and its byte offset, on a
// missing or short header, format 2, SMPTE or zero division, a chunk that runs
// past the end, fewer track chunks than the header announces, a truncated
// event, a data byte with no status to run on, or a status byte that a file
// cannot carry. Chunks of unknown type are skipped; bytes after the last
// announced track are ignored.
bool readSmf(const uint8_t* bytes, size_t size, SmfFile& out, SmfError& error);

}  // namespace midi
