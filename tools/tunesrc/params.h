#pragma once
// The named parameters of a patch and of the global block: where each one
// lies, how its value is written in the source, and its default.
//
// Values are written in one of four forms:
//   plain    0..255 as stored (the synthesizer's meaningful range is 0..128)
//   centred  a signed offset from 64: -64..+64 (pan, transposes, fine tune,
//            envelope slope, delay mix and feedback, ...)
//   choice   a name from the parameter's list, or its number
//   switch   on / off (1 / 0), or a number
#include <cstdint>
#include <string>
#include <vector>

#include "synth/patch_layout.h"

namespace tunesrc {

enum class ValueForm { Plain, Centred, Choice, Switch };

struct ParamInfo {
  const char* name;  // "osc1.level", "pan", "chdelay.mix"
  int index;         // byte offset in the patch (or the global block)
  ValueForm form;
  uint8_t fallback;            // stored byte when the source does not name it
  const char* const* choices;  // null-terminated names for ValueForm::Choice
};

// Patch bytes of the two shapers (mode, drive, amount, shape).
constexpr int kVoiceShaper = patchlayout::kDistortion;
constexpr int kChannelShaper = patchlayout::kChannelDestination + patchlayout::kChannelDistortion;
constexpr int kShaperShape = 3;

// Every voice and channel parameter of a patch (bytes 0..87), by name.
const std::vector<ParamInfo>& patchParams();
// The 22 global parameters, by name.
const std::vector<ParamInfo>& globalParams();

const ParamInfo* findParam(const std::vector<ParamInfo>& table, const std::string& name);

// Group names that may open a line of key=value pairs ("osc1", "env2",
// "comp", ...): every parameter named "<group>.<key>".
bool isParamGroup(const std::vector<ParamInfo>& table, const std::string& group);

// Turns a written value into the stored byte. False with a reason that names
// the accepted forms.
bool parseParamValue(const ParamInfo& param, const std::string& text, uint8_t& out,
                     std::string& error);

// Modulation route sources: velocity, cc1..cc7, env1, env2, lfo1, lfo2, key.
bool parseRouteSource(const std::string& text, uint8_t& out);

// The patch every definition starts from (88 parameter bytes, polyphony 8,
// no routes): one sine oscillator, filters and shapers off, envelopes that
// open at once, hold and release in about a quarter second, channel volume
// 100, every effect off.
std::vector<uint8_t> defaultPatchBytes();
constexpr uint8_t kDefaultPolyphony = 8;

// Reverb quiet, global delay dry, high cut off, master compressor off.
std::vector<uint8_t> defaultGlobalBytes();

// Parses a whole decimal integer with an optional sign.
bool parseInteger(const std::string& text, long& out);

}  // namespace tunesrc
