#pragma once

#include <soundfont/Export.h>

#include <cstdint>
#include <span>
#include <string>

namespace ox::soundfont {

// The words a bank description uses for how a note is played, and their
// numbers. Every conversion gives -1 for a word it does not know; matching is
// exact and case-sensitive. Threads: every conversion is thread-safe and may run
// on an audio thread once its table is built (the first call of each builds it).

/// The words of one level of a vocabulary, in value order: word i has the value i.
using SoundworldWords = std::span<const char* const>;

struct OXSF_EXPORT Soundworld {
    enum Type : int32_t { Unknown = -1, Pitched = 0, Unpitched = 1 };
    static Type typeFromString(const std::string& text);
};

struct OXSF_EXPORT PitchedSoundworld {
    enum Attack : int32_t {
        UnknownAttack = -1,
        Pick = 0,
        Finger = 1,
        Harmonic = 2,
        Pop = 3,
        Slap = 4,
        Key = 5,
        Blow = 6,
        Bow = 7,
        Mallet = 8,
    };
    enum Technique : int32_t {
        UnknownTechnique = -1,
        Sustain = 0,
        Pizzicato = 1,
        Natural = 2,
        HitTechnique = 3,
    };
    enum Variation : int32_t {
        UnknownVariation = -1,
        Down = 0,
        Up = 1,
        Index = 2,
        Thumb = 3,
        Middle = 4,
        Fifth = 5,
        Seventh = 6,
        Ninth = 7,
        Twelfth = 8,
        FourFive = 9,
        VariationA = 10,
        VariationB = 11,
        NoVibrato = 12,
        HitVariation = 13,
    };
    static Attack attackFromString(const std::string& text);
    static Technique techniqueFromString(const std::string& text);
    static Variation variationFromString(const std::string& text);
    /// The words the conversions above know, in value order.
    static SoundworldWords attackWords();
    static SoundworldWords techniqueWords();
    static SoundworldWords variationWords();
};

struct OXSF_EXPORT UnpitchedSoundworld {
    enum Attack : int32_t {
        UnknownAttack = -1,
        Stick = 0,
        Brush = 1,
        Rod = 2,
        Pedal = 3,
        Mallet = 4,
        Hand = 5,
        Thumb = 6,
        Finger4 = 7,
        Blow = 8,
    };
    enum Technique : int32_t {
        UnknownTechnique = -1,
        Hit = 0,
        Scrape = 1,
    };
    enum Variation : int32_t {
        UnknownVariation = -1,
        HitVariation = 0,
        PedalVariation = 1,
        Return = 2,
        HandHit = 3,
        Roll = 4,
        Choke = 5,
        Edge = 6,
        Mid = 7,
        Bell = 8,
        Open = 9,
        Half = 10,
        Closed = 11,
        SlapVariation = 12,
        Mute = 13,
        Tip = 14,
        Rimshot = 15,
        Sidestick = 16,
        Body = 17,
        None = 18,
    };
    static Attack attackFromString(const std::string& text);
    static Technique techniqueFromString(const std::string& text);
    static Variation variationFromString(const std::string& text);
    /// The words the conversions above know, in value order.
    static SoundworldWords attackWords();
    static SoundworldWords techniqueWords();
    static SoundworldWords variationWords();
};

} // namespace ox::soundfont
