#pragma once
// Turns a Standard MIDI File into a tune description for the tune writer.
//
// MIDI channel n plays on tune channel n. Channel 9 (the tenth) always plays
// the bank's drum kit, whose sounds follow the key; its program changes are
// ignored. Channel 15 is the synthesizer's speech channel, whose formant
// filter colours everything played there, so MIDI channel 15 moves to the
// highest channel the file leaves free (channels are numbered from 0, as
// `tune inspect` shows them).
//
// What a tune can hold is carried over: notes, program changes, controllers
// 1..7, pitch bend, every tempo change and time signature. Everything else is
// dropped and counted in the summary.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "player/tune_writer.h"
#include "tools/midi/smf.h"

namespace midi {

constexpr int kDrumChannel = 9;

// The sounds an import draws on: melodic programs by MIDI program number
// (a bank need not define all 128; a missing program falls back to another
// of its family of eight, then to the lowest defined one), the drum kit and
// the global parameter block.
struct Bank {
  std::vector<PatchEntry> programs;
  std::vector<uint8_t> drumKit;  // patch bytes; may be empty when no file uses channel 9
  std::vector<uint8_t> global;
};

// What an import kept, merged, added and dropped.
struct ImportSummary {
  int64_t notes = 0;  // note starts
  int channels = 0;   // channels with notes
  int tempoRecords = 0;
  int64_t programChanges = 0;
  int64_t controllerChanges = 0;
  int64_t bends = 0;
  int64_t lengthTicks = 0;
  // Where MIDI channel 15 plays: -1 when it has no notes; 15 when no other
  // channel was free.
  int channel15PlaysOn = -1;

  // Later values at the same tick replace earlier ones in one list: the
  // sequencer delivers one record per list and tick, and values that last no
  // time cannot be heard.
  int64_t merged = 0;
  // Controllers 1..6 given again after a program change, which clears them
  // in the synthesizer but not in MIDI.
  int64_t restoredControllers = 0;
  int64_t notesClosedAtEnd = 0;     // notes still held at the file's end
  int64_t metresAdjusted = 0;       // time signatures a tune cannot hold as written
  int64_t programsSubstituted = 0;  // programs the bank lacks

  // Dropped.
  int64_t otherControllers = 0;  // controllers 0 and 8..127
  int64_t pressure = 0;          // key and channel pressure
  int64_t drumPrograms = 0;      // program changes on the drum channel
  int64_t sysEx = 0;
  int64_t otherMeta = 0;               // text, names, key signature, ...
  int64_t eventsOnSilentChannels = 0;  // a tune channel without notes carries nothing else

  // One line: what was imported, then the dropped events by kind.
  std::string line() const;
};

// Builds the tune from a parsed file whose bytes are `bytes` (meta payloads
// are read from there). Fails with a one-line reason when the bank cannot
// serve the file or the file does not fit the tune format (ticks beyond
// 2^31 - 1, a tempo of 0).
bool importSmf(const SmfFile& smf, const uint8_t* bytes, const Bank& bank, TuneDescription& out,
               ImportSummary& summary, std::string& error);

// Reads, imports and writes in one step: `image` receives the tune image.
// Errors from the reader carry the byte offset.
bool importMidi(const uint8_t* bytes, size_t size, const Bank& bank, std::vector<uint8_t>& image,
                ImportSummary& summary, std::string& error);

}  // namespace midi
