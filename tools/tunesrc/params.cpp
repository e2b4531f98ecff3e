#include "tools/tunesrc/params.h"

#include <cerrno>
#include <cstdlib>

#include "synth/synth.h"

namespace tunesrc {

namespace {

using namespace patchlayout;

constexpr const char* kOscModes[] = {"off",    "trisaw", "pulse", "sine", "noise",
                                     "pmsine", "auxa",   "auxb",  nullptr};
constexpr const char* kFilterTypes[] = {"off",  "lowpass",  "bandpass",  "highpass", "notch",
                                        "peak", "lowpass4", "highpass4", nullptr};
// Modes 5..11 run the shaper's own filter as types 1..7.
constexpr const char* kDistModes[] = {"off",      "saturate",  "clip",     "crush", "decimate",
                                      "lowpass",  "bandpass",  "highpass", "notch", "peak",
                                      "lowpass4", "highpass4", nullptr};
constexpr const char* kLfoWaves[] = {"saw", "triangle", "square", "sine", "samplehold", nullptr};
constexpr const char* kPolarities[] = {"up", "down", "centred", nullptr};
constexpr const char* kRoutings[] = {"single", "serial", "parallel", nullptr};
constexpr const char* kRetriggers[] = {"free", "phase", "full", nullptr};
constexpr const char* kOrders[] = {"shaper_first", "delay_first", nullptr};
constexpr const char* kDetectors[] = {"off", "peak", "rms", nullptr};
constexpr const char* kLinks[] = {"linked", "split", nullptr};

constexpr uint8_t kCentre = 64;
constexpr long kCentredSpan = 64;

void addOscillator(std::vector<ParamInfo>& t, int number, int base, uint8_t mode) {
  static constexpr const char* const names[3][6] = {
      {"osc1.mode", "osc1.ring", "osc1.transpose", "osc1.fine", "osc1.colour", "osc1.level"},
      {"osc2.mode", "osc2.ring", "osc2.transpose", "osc2.fine", "osc2.colour", "osc2.level"},
      {"osc3.mode", "osc3.ring", "osc3.transpose", "osc3.fine", "osc3.colour", "osc3.level"}};
  const char* const* n = names[number];
  t.push_back({n[0], base + 0, ValueForm::Choice, mode, kOscModes});
  t.push_back({n[1], base + 1, ValueForm::Switch, 0, nullptr});
  t.push_back({n[2], base + 2, ValueForm::Centred, kCentre, nullptr});
  t.push_back({n[3], base + 3, ValueForm::Centred, kCentre, nullptr});
  t.push_back({n[4], base + 4, ValueForm::Plain, 64, nullptr});
  t.push_back({n[5], base + 5, ValueForm::Plain, 100, nullptr});
}

void addFilter(std::vector<ParamInfo>& t, const char* type, const char* cutoff,
               const char* resonance, int base) {
  t.push_back({type, base + 0, ValueForm::Choice, 0, kFilterTypes});
  t.push_back({cutoff, base + 1, ValueForm::Plain, 128, nullptr});
  t.push_back({resonance, base + 2, ValueForm::Plain, 0, nullptr});
}

// The fourth shaper byte is a bias for saturate and clip (centred) and the
// bit-flip mask for crush (plain); it has a name for each reading.
void addShaper(std::vector<ParamInfo>& t, const char* const (&n)[5], int base) {
  t.push_back({n[0], base + 0, ValueForm::Choice, 0, kDistModes});
  t.push_back({n[1], base + 1, ValueForm::Plain, 32, nullptr});  // drive 1.0
  t.push_back({n[2], base + 2, ValueForm::Plain, 128, nullptr});
  t.push_back({n[3], base + 3, ValueForm::Centred, kCentre, nullptr});
  t.push_back({n[4], base + 3, ValueForm::Plain, kCentre, nullptr});
}

void addEnvelope(std::vector<ParamInfo>& t, const char* const (&n)[6], int base) {
  t.push_back({n[0], base + 0, ValueForm::Plain, 0, nullptr});    // attack: one tick
  t.push_back({n[1], base + 1, ValueForm::Plain, 64, nullptr});   // decay
  t.push_back({n[2], base + 2, ValueForm::Plain, 128, nullptr});  // sustain
  t.push_back({n[3], base + 3, ValueForm::Centred, kCentre, nullptr});
  t.push_back({n[4], base + 4, ValueForm::Plain, 32, nullptr});   // release, about 0.25 s
  t.push_back({n[5], base + 5, ValueForm::Plain, 128, nullptr});  // gain
}

void addLfo(std::vector<ParamInfo>& t, const char* const (&n)[7], int base) {
  t.push_back({n[0], base + 0, ValueForm::Choice, 3, kLfoWaves});
  t.push_back({n[1], base + 1, ValueForm::Switch, 0, nullptr});
  t.push_back({n[2], base + 2, ValueForm::Switch, 0, nullptr});
  t.push_back({n[3], base + 3, ValueForm::Plain, 64, nullptr});
  t.push_back({n[4], base + 4, ValueForm::Plain, 0, nullptr});
  t.push_back({n[5], base + 5, ValueForm::Choice, 0, kPolarities});
  t.push_back({n[6], base + 6, ValueForm::Plain, 0, nullptr});
}

void addDelay(std::vector<ParamInfo>& t, const char* const (&n)[7], int base) {
  t.push_back({n[0], base + 0, ValueForm::Centred, kCentre, nullptr});  // mix: dry only
  t.push_back({n[1], base + 1, ValueForm::Centred, kCentre, nullptr});  // feedback
  t.push_back({n[2], base + 2, ValueForm::Plain, 0, nullptr});
  t.push_back({n[3], base + 3, ValueForm::Plain, 0, nullptr});
  t.push_back({n[4], base + 4, ValueForm::Plain, 0, nullptr});
  t.push_back({n[5], base + 5, ValueForm::Plain, 0, nullptr});
  t.push_back({n[6], base + 6, ValueForm::Centred, kCentre, nullptr});
}

void addCompressor(std::vector<ParamInfo>& t, const char* const (&n)[9], int base) {
  t.push_back({n[0], base + 0, ValueForm::Choice, 0, kDetectors});  // off bypasses
  t.push_back({n[1], base + 1, ValueForm::Choice, 0, kLinks});
  t.push_back({n[2], base + 2, ValueForm::Switch, 0, nullptr});
  t.push_back({n[3], base + 3, ValueForm::Plain, 0, nullptr});
  t.push_back({n[4], base + 4, ValueForm::Plain, 96, nullptr});
  t.push_back({n[5], base + 5, ValueForm::Plain, 64, nullptr});
  t.push_back({n[6], base + 6, ValueForm::Plain, 16, nullptr});
  t.push_back({n[7], base + 7, ValueForm::Plain, 16, nullptr});
  t.push_back({n[8], base + 8, ValueForm::Centred, kCentre, nullptr});
}

std::vector<ParamInfo> makePatchTable() {
  std::vector<ParamInfo> t;
  constexpr int ch = kChannelDestination;  // channel parameter i is patch byte ch + i
  t.push_back({"pan", kPan, ValueForm::Centred, kCentre, nullptr});
  t.push_back({"transpose", kTranspose, ValueForm::Centred, kCentre, nullptr});
  addOscillator(t, 0, kOsc[0], uint8_t(OscMode::Sine));
  addOscillator(t, 1, kOsc[1], uint8_t(OscMode::Off));
  addOscillator(t, 2, kOsc[2], uint8_t(OscMode::Off));
  addFilter(t, "filter1.type", "filter1.cutoff", "filter1.resonance", kFilter[0]);
  addFilter(t, "filter2.type", "filter2.cutoff", "filter2.resonance", kFilter[1]);
  t.push_back({"routing", kRouting, ValueForm::Choice, 1, kRoutings});
  t.push_back({"balance", kFilterBalance, ValueForm::Centred, kCentre, nullptr});
  addShaper(t, {"shaper.mode", "shaper.drive", "shaper.amount", "shaper.shape", "shaper.flips"},
            kVoiceShaper);
  addEnvelope(
      t, {"env1.attack", "env1.decay", "env1.sustain", "env1.slope", "env1.release", "env1.gain"},
      kEnv[0]);
  addEnvelope(
      t, {"env2.attack", "env2.decay", "env2.sustain", "env2.slope", "env2.release", "env2.gain"},
      kEnv[1]);
  addLfo(t,
         {"lfo1.wave", "lfo1.sync", "lfo1.oneshot", "lfo1.rate", "lfo1.start", "lfo1.polarity",
          "lfo1.depth"},
         kLfo[0]);
  addLfo(t,
         {"lfo2.wave", "lfo2.sync", "lfo2.oneshot", "lfo2.rate", "lfo2.start", "lfo2.polarity",
          "lfo2.depth"},
         kLfo[1]);
  t.push_back({"retrigger", kRetrigger, ValueForm::Choice, 0, kRetriggers});

  t.push_back({"volume", ch + kVolume, ValueForm::Plain, 100, nullptr});
  t.push_back({"return_a", ch + kAuxReturnA, ValueForm::Plain, 0, nullptr});
  t.push_back({"return_b", ch + kAuxReturnB, ValueForm::Plain, 0, nullptr});
  t.push_back({"send_a", ch + kAuxSendA, ValueForm::Plain, 0, nullptr});
  t.push_back({"send_b", ch + kAuxSendB, ValueForm::Plain, 0, nullptr});
  t.push_back({"reverb", ch + kReverbSend, ValueForm::Plain, 0, nullptr});
  t.push_back({"delay", ch + kDelaySend, ValueForm::Plain, 0, nullptr});
  t.push_back({"order", ch + kEffectOrder, ValueForm::Choice, 0, kOrders});
  t.push_back({"bassboost", ch + kBassBoost, ValueForm::Plain, 0, nullptr});
  addShaper(
      t, {"chshaper.mode", "chshaper.drive", "chshaper.amount", "chshaper.shape", "chshaper.flips"},
      kChannelShaper);
  addDelay(t,
           {"chdelay.mix", "chdelay.feedback", "chdelay.left", "chdelay.right", "chdelay.rate",
            "chdelay.depth", "chdelay.spread"},
           ch + kChannelDelay);
  addCompressor(t,
                {"comp.detector", "comp.link", "comp.makeup", "comp.lookahead", "comp.threshold",
                 "comp.ratio", "comp.attack", "comp.release", "comp.gain"},
                ch + kChannelCompressor);
  return t;
}

std::vector<ParamInfo> makeGlobalTable() {
  std::vector<ParamInfo> t;
  t.push_back({"reverb.decay", kReverb + 0, ValueForm::Plain, 64, nullptr});
  t.push_back({"reverb.damping", kReverb + 1, ValueForm::Plain, 64, nullptr});
  t.push_back({"reverb.lowcut", kReverb + 2, ValueForm::Plain, 8, nullptr});
  t.push_back({"reverb.level", kReverb + 3, ValueForm::Plain, 0, nullptr});
  addDelay(t,
           {"delay.mix", "delay.feedback", "delay.left", "delay.right", "delay.rate", "delay.depth",
            "delay.spread"},
           kGlobalDelay);
  t.push_back({"master.lowcut", kMasterLowCut, ValueForm::Plain, 0, nullptr});
  t.push_back({"master.highcut", kMasterHighCut, ValueForm::Plain, 127, nullptr});  // 127: off
  addCompressor(t,
                {"comp.detector", "comp.link", "comp.makeup", "comp.lookahead", "comp.threshold",
                 "comp.ratio", "comp.attack", "comp.release", "comp.gain"},
                kMasterCompressor);
  return t;
}

std::string choiceList(const char* const* choices) {
  std::string list;
  for (const char* const* c = choices; *c; ++c) {
    if (!list.empty()) list += ", ";
    list += *c;
  }
  return list;
}

}  // namespace

const std::vector<ParamInfo>& patchParams() {
  static const std::vector<ParamInfo> table = makePatchTable();
  return table;
}

const std::vector<ParamInfo>& globalParams() {
  static const std::vector<ParamInfo> table = makeGlobalTable();
  return table;
}

const ParamInfo* findParam(const std::vector<ParamInfo>& table, const std::string& name) {
  for (const ParamInfo& p : table)
    if (name == p.name) return &p;
  return nullptr;
}

bool isParamGroup(const std::vector<ParamInfo>& table, const std::string& group) {
  const std::string prefix = group + ".";
  for (const ParamInfo& p : table)
    if (std::string(p.name).compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

bool parseInteger(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

bool parseParamValue(const ParamInfo& param, const std::string& text, uint8_t& out,
                     std::string& error) {
  long v = 0;
  const bool numeric = parseInteger(text, v);
  switch (param.form) {
    case ValueForm::Plain:
      if (numeric && v >= 0 && v <= 255) {
        out = uint8_t(v);
        return true;
      }
      error = std::string(param.name) +
              " takes a number 0..255 (0..128 is the useful range), not '" + text + "'";
      return false;
    case ValueForm::Centred:
      if (numeric && v >= -kCentredSpan && v <= 255 - kCentre) {
        out = uint8_t(v + kCentre);
        return true;
      }
      error = std::string(param.name) + " takes a signed offset -64..+64 (0 = centre), not '" +
              text + "'";
      return false;
    case ValueForm::Switch:
      if (text == "on" || text == "off") {
        out = text == "on" ? 1 : 0;
        return true;
      }
      if (numeric && v >= 0 && v <= 255) {
        out = uint8_t(v);
        return true;
      }
      error = std::string(param.name) + " takes on or off, not '" + text + "'";
      return false;
    case ValueForm::Choice:
      for (int i = 0; param.choices[i]; ++i) {
        if (text == param.choices[i]) {
          out = uint8_t(i);
          return true;
        }
      }
      if (numeric && v >= 0 && v <= 255) {
        out = uint8_t(v);
        return true;
      }
      error = std::string(param.name) + " takes one of " + choiceList(param.choices) +
              " (or a number), not '" + text + "'";
      return false;
  }
  return false;
}

bool parseRouteSource(const std::string& text, uint8_t& out) {
  static const char* const names[] = {"velocity", "cc1",  "cc2",  "cc3",  "cc4",  "cc5", "cc6",
                                      "cc7",      "env1", "env2", "lfo1", "lfo2", "key"};
  for (int i = 0; i < int(sizeof names / sizeof names[0]); ++i) {
    if (text == names[i]) {
      out = uint8_t(i);
      return true;
    }
  }
  return false;
}

std::vector<uint8_t> defaultPatchBytes() {
  std::vector<uint8_t> bytes(kPatchHeaderSize, 0);
  for (const ParamInfo& p : patchParams()) bytes[size_t(p.index)] = p.fallback;
  bytes[kPatchPolyphony] = kDefaultPolyphony;
  bytes[kPatchRouteCount] = 0;
  return bytes;
}

std::vector<uint8_t> defaultGlobalBytes() {
  std::vector<uint8_t> bytes(kGlobalParamCount, 0);
  for (const ParamInfo& p : globalParams()) bytes[size_t(p.index)] = p.fallback;
  return bytes;
}

}  // namespace tunesrc
