#pragma once

// SF2 soundfonts written by our own code: a small RIFF writer and a demo
// soundfont synthesized here, for the import tests, fuzz seeds and benchmarks.

#include <cstdint>
#include <string>
#include <vector>

namespace oxsf::demo {

/// SF2 generator numbers used here.
enum Sf2Gen : uint16_t {
    StartOffset = 0,
    LoopStartOffset = 2,
    ModLfoToPitch = 5,
    VibLfoToPitch = 6,
    FilterCutoff = 8,
    FilterQ = 9,
    ModEnvToFilterFc = 11,
    ModLfoToVolume = 13,
    Pan = 17,
    Reverb = 16,
    ModLfoFreq = 22,
    VibLfoFreq = 24,
    ModEnvAttack = 26,
    VolEnvAttack = 34,
    VolEnvDecay = 36,
    VolEnvSustain = 37,
    VolEnvRelease = 38,
    Instrument = 41,
    KeyRange = 43,
    VelRange = 44,
    Attenuation = 48,
    CoarseTune = 51,
    FineTune = 52,
    SampleId = 53,
    SampleModes = 54,
    ScaleTuning = 56,
    ExclusiveClass = 57,
    RootKey = 58,
};

struct Sf2Generator {
    uint16_t op;
    uint16_t amount; ///< ranges: low | high << 8; signed values as their 16 bits
};
Sf2Generator sf2Value(Sf2Gen op, int value);
Sf2Generator sf2Range(Sf2Gen op, int low, int high);

/// One SF2 modulator: sources as SF2 encodes them (index, CC flag, direction,
/// polarity, curve type).
struct Sf2Modulator {
    uint16_t source;
    uint16_t destination; ///< a generator number
    int16_t amount;
    uint16_t amountSource = 0;
    uint16_t transform = 0;
};

struct Sf2Zone {
    std::vector<Sf2Generator> generators;
    int link = -1; ///< instrument (preset zone) or sample (instrument zone); -1: global zone
    std::vector<Sf2Modulator> modulators = {};
};

struct Sf2Instrument {
    std::string name;
    std::vector<Sf2Zone> zones;
};

struct Sf2Preset {
    std::string name;
    int bank = 0;
    int program = 0;
    std::vector<Sf2Zone> zones;
};

struct Sf2Sample {
    std::string name;
    std::vector<int16_t> frames;
    int rate = 44100;
    int root = 60;
    int correction = 0;     ///< cents
    uint32_t loopStart = 0; ///< frames of this sample; the end is exclusive, as in SF2
    uint32_t loopEnd = 0;
    int type = 1; ///< 1 mono, 2 right, 4 left
    int link = 0; ///< the other side of a stereo pair
};

struct Sf2Font {
    std::string name = "Demo";
    std::vector<Sf2Sample> samples;
    std::vector<Sf2Instrument> instruments;
    std::vector<Sf2Preset> presets;
};

/// The bytes of an SF2 (2.01) file holding `font`. Key and velocity ranges go
/// first in each zone, the instrument or sample link last, as SF2 asks.
std::string sf2Bytes(const Sf2Font& font);
/// The same as an SF3 file: every sample an Ogg Vorbis stream (type bit 0x10).
std::string sf3Bytes(const Sf2Font& font);

/// A small General MIDI-like soundfont of plucked strings and drums.
///  - Instrument "Pluck": samples "Pluck E2/E3/E4/E5 soft|loud" rooted at 40, 52,
///    64, 76, each playing the keys up to halfway to the next root, that key
///    included (0-46, 47-58, 59-70, 71-127), soft for velocities 1-79 and loud
///    for 80-127; looped; a decay to -12 dB and a release in the global zone.
///  - Instrument "Stereo Pluck": "Pluck A3 L" and "Pluck A3 R", a stereo pair
///    rooted at 57 over all keys; the right side loops at other frames.
///  - Instrument "Kit": kick (35, 36), side stick (37), snare (38: "Snare soft"
///    for velocities 1-90, "Snare loud" above; 40: loud), closed hi-hat (42, 44,
///    exclusive class 1), open hi-hat (46, class 1), crash (49), and toms at 41,
///    43, 45, 47, 48, 50 from one sample "Tom" recorded at 60, each key with its
///    own overriding root key and fine tuning.
///  - Presets 0:0 .. 0:(programs - 1): even programs "Pluck <n>" (Pluck with a
///    reverb send), odd ones "Stereo Pluck <n>"; and 128:0 "Demo Kit".
Sf2Font demoSoundFont(int programs = 2);

} // namespace oxsf::demo
