// Event lists: channel messages with running status, ended by 0xFD.
#include <cstdint>

#include "synth/params.h"
#include "synth/units/numeric.h"
#include "synth/voice.h"

namespace {

constexpr uint8_t kStatusMask = 0x80;
constexpr uint8_t kEndOfList = 0xFD;
constexpr uint8_t kReset = 0xFF;
constexpr uint8_t kSystemFirst = 0xF0;
constexpr uint8_t kProgramMask = 0x7F;

enum class Message : uint8_t {
  NoteOff = 0x8,
  NoteOn = 0x9,
  PolyPressure = 0xA,
  Control = 0xB,
  Program = 0xC,
  ChannelPressure = 0xD,
  PitchBend = 0xE,
  System = 0xF,
};

constexpr int kFirstRouteController = 1;
constexpr int kLastRouteController = 7;
constexpr int kLastZeroedController = 6;  // a program change clears 1..6, keeps volume
constexpr int kAllSoundOff = 120;
constexpr int kFirstAllNotesOff = 123;
constexpr int kLastAllNotesOff = 127;

// Reads the list; the end of the buffer or an end marker where a data byte
// belongs ends it, so an incomplete message is never applied.
struct Reader {
  const uint8_t* list;
  size_t size;
  size_t pos;

  bool atEnd() const { return pos >= size || list[pos] == kEndOfList; }
  bool data(int& out) {
    if (atEnd()) return false;
    out = list[pos++];
    return true;
  }
};

void noteOff(SynthState& s, int ch, int note) {
  if (ch == kSpeechChannel) speechNoteOff(s.speech);
  for (int v = 0; v < kSynthVoices; ++v) {
    Voice& voice = s.voices[v];
    if (s.voiceChannel[v] == ch && voice.note == note && voice.gate != 0) {
      voice.gate = 0;
      return;
    }
  }
}

void noteOn(SynthState& s, int ch, int note, int velocity) {
  if (velocity == 0) {
    noteOff(s, ch, note);
    return;
  }
  // The speech text goes on even when the channel itself cannot sound.
  if (ch == kSpeechChannel) speechNoteOn(s.speech);
  const uint8_t* patch = s.channelPatch[ch];
  if (!patch || patch[kPatchPolyphony] == 0) return;  // no voice may sound
  const int v = allocateVoice(s, ch);
  refreshVoice(s, v);
  startNote(s, v, note, velocity);
}

void allSoundOff(SynthState& s, int ch) {
  for (int v = 0; v < kSynthVoices; ++v) {
    if (s.voiceChannel[v] != ch) continue;
    resetVoice(s, v);
    s.voiceChannel[v] = -1;
  }
}

void allNotesOff(SynthState& s, int ch) {
  if (ch == kSpeechChannel) speechNoteOff(s.speech);
  for (int v = 0; v < kSynthVoices; ++v) {
    if (s.voiceChannel[v] == ch) s.voices[v].gate = 0;
  }
}

void controlChange(SynthState& s, int ch, int controller, int value) {
  if (controller >= kFirstRouteController && controller <= kLastRouteController) {
    s.channelControls[ch][controller] = static_cast<uint8_t>(value);
    if (ch == kSpeechChannel) speechController(s.speech, controller, value);
  } else if (controller == kAllSoundOff) {
    allSoundOff(s, ch);
  } else if (controller >= kFirstAllNotesOff && controller <= kLastAllNotesOff) {
    allNotesOff(s, ch);
  }
}

void programChange(SynthState& s, int ch, int byte) {
  const int program = byte & kProgramMask;
  if (program != s.channelControls[ch][0]) {
    selectProgram(s, ch, program);
    // Freed without a reset: the sound stops at the next tick.
    for (int v = 0; v < kSynthVoices; ++v) {
      if (s.voiceChannel[v] == ch) s.voiceChannel[v] = -1;
    }
  }
  for (int c = kFirstRouteController; c <= kLastZeroedController; ++c) {
    s.channelControls[ch][c] = 0;
  }
}

// Applies one channel message whose data bytes start at the reader's
// position; false when the list ends inside the message.
bool dispatch(SynthState& s, Reader& r, uint8_t status) {
  const int ch = status & 0x0F;
  const auto message = static_cast<Message>(status >> 4);
  const bool oneByte = message == Message::Program || message == Message::ChannelPressure;
  const int bytes = message == Message::System ? 0 : oneByte ? 1 : 2;
  int a = 0;
  int b = 0;
  if ((bytes >= 1 && !r.data(a)) || (bytes >= 2 && !r.data(b))) return false;
  switch (message) {
    case Message::NoteOff:
      noteOff(s, ch, a);
      break;
    case Message::NoteOn:
      noteOn(s, ch, a, b);
      break;
    case Message::Control:
      controlChange(s, ch, a, b);
      break;
    case Message::Program:
      programChange(s, ch, a);
      break;
    default:  // pressure and pitch bend are read and ignored
      break;
  }
  return true;
}

}  // namespace

void processEvents(SynthState& s, const uint8_t* list) {
  processEvents(s, list, SIZE_MAX);
}

void processEvents(SynthState& s, const uint8_t* list, size_t size) {
  if (!list || s.constants.tickLength == 0) return;
  RoundingScope rounding;
  Reader r{list, size, 0};
  while (!r.atEnd()) {
    const uint8_t byte = list[r.pos];
    if (byte & kStatusMask) {
      s.runningStatus = byte;
      ++r.pos;
      if (byte == kReset) {
        synthInit(s, s.patchMap, s.patchMapSize, s.sampleRate, s.seedSource);
        continue;
      }
      if (byte >= kSystemFirst) continue;  // carries no data
    } else {
      if (!(s.runningStatus & kStatusMask)) return;  // no status since initialisation
      if (s.runningStatus >= kSystemFirst) {
        ++r.pos;  // a data byte cannot belong to a system message: skip it
        continue;
      }
    }
    if (!dispatch(s, r, static_cast<uint8_t>(s.runningStatus))) return;
  }
}
