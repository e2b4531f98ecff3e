#pragma once
// Turns a Standard MIDI File into a tune description for the tune writer.
//
// MIDI channel n plays on tune channel n. Channel 9 (the tenth) always plays
// the bank's drum kit, whose sounds follow the key; its program changes are
// ignored. Channel 15 is the synthesizer's speech channel, whose formant
// filter colours everything played there, so MIDI channel 15 moves to the
// highest channel the file leaves free; when none is, two channels that can
// share one do (channels are numbered from 0 here; the summary line numbers
// them from 1, as MIDI and `tune inspect` do).
//
// The synthesizer knows notes, programs and seven controllers whose meaning
// each patch gives by its routes. The importer turns what a MIDI file says
// into those: the sustain pedal into note lengths; volume, expression, pan,
// the modulation wheel and pitch bend (with its registered range) into the
// seven controllers below, which every patch of the bank routes to its level,
// pan and pitch. Tempo changes and time signatures are kept. Everything else
// is dropped and counted in the summary.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "player/tune_writer.h"
#include "tools/midi/smf.h"

namespace midi {

constexpr int kDrumChannel = 9;

// The synthesizer controllers an import drives, and what the bank's patches
// do with them.
enum : int {
  kModulationController = 1,  // the modulation wheel as it is: vibrato depth
  kPanRightController = 2,    // pan right of the centre: +1 per step
  kPanLeftController = 3,     // pan left of the centre: -1 per step
  kBendDownController = 4,    // transpose -1/2 semitone per step
  kBendFineController = 5,    // transpose +1/64 semitone per step
  kBendUpController = 6,      // transpose +1/2 semitone per step
  kLevelController = 7,       // channel volume, linear
};

// A note's velocity (1..127) as the note carries it: its square, scaled to
// 1..127, since the bank's patches are as loud as the velocity they get and
// a general MIDI renderer's loudness follows the velocity's square.
int noteVelocity(int velocity);

// Channel volume and expression (0..127 each) as the level controller: the
// product of their squares, the loudness curve of a general MIDI renderer.
int levelValue(int volume, int expression);

// A MIDI pan position (0 left, 64 centre, 127 right) as the two pan
// controllers; one of them is always 0.
struct PanValues {
  int right = 0;
  int left = 0;
};
PanValues panValues(int pan);

// A 14-bit pitch bend (8192 = none) at a range in cents (the registered
// parameter 0, 200 by default) as the three bend controllers: half
// semitones up or down and 64ths of a semitone up; transpose =
// (up - down) / 2 + fine / 64.
struct BendValues {
  int down = 0;
  int fine = 0;
  int up = 0;
};
BendValues bendValues(int bend, int rangeCents);

// What the kit plays for one key of the drum channel: the kit's key that
// sounds most like that drum, and a level change in dB applied to its
// velocity.
struct DrumSound {
  uint8_t key = 0;
  int8_t gainDb = 0;
};
using DrumMap = std::array<DrumSound, 128>;

// Every key plays itself at its own level.
DrumMap identityDrumMap();

// The sounds an import draws on: melodic programs by MIDI program number
// (a bank need not define all 128; a missing program falls back to another
// of its family of eight, then to the lowest defined one), the drum kit and
// the global parameter block.
struct Bank {
  std::vector<PatchEntry> programs;
  std::vector<uint8_t> drumKit;  // patch bytes; may be empty when no file uses channel 9
  std::vector<uint8_t> cymbals;  // hats and cymbals of the kit; may be empty
  DrumMap drumMap = identityDrumMap();
  std::vector<uint8_t> global;
};

// What an import kept, merged, added and dropped.
struct ImportSummary {
  int64_t notes = 0;  // note starts
  int channels = 0;   // channels with notes
  int tempoRecords = 0;
  int64_t programChanges = 0;
  int64_t controllerChanges = 0;   // synthesizer controller records kept
  int64_t controllerMessages = 0;  // the file's controllers turned into them or into note ends
  int64_t bends = 0;               // the file's pitch bends, turned into controllers
  int64_t lengthTicks = 0;
  // Where MIDI channel 15 plays: -1 when it has no notes.
  int channel15PlaysOn = -1;
  // The two MIDI channels that share the first's channel when the file uses
  // every channel (-1 when none do), and how well they fit: 0 the same
  // programs, 1 one after the other, 2 the second plays the first's programs.
  std::array<int, 2> sharedChannels{-1, -1};
  int sharingCost = 0;
  // The channel that the drum channel's hats and cymbals play on (-1: the
  // drum channel itself).
  int cymbalsPlayOn = -1;

  // Later values at the same tick replace earlier ones in one list: the
  // sequencer delivers one record per list and tick, and values that last no
  // time cannot be heard.
  int64_t merged = 0;
  // Controllers 1..6 given again after a program change, which clears them
  // in the synthesizer but not in MIDI.
  int64_t restoredControllers = 0;
  int64_t notesSustained = 0;       // note ends the sustain pedal put off
  int64_t notesClosedAtEnd = 0;     // notes still held at the file's end
  int64_t metresAdjusted = 0;       // time signatures a tune cannot hold as written
  int64_t programsSubstituted = 0;  // programs the bank lacks

  // Dropped.
  int64_t otherControllers = 0;  // controllers not turned into anything
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
