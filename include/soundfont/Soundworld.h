#pragma once

#include <soundfont/Export.h>

#include <cstdint>
#include <span>
#include <string>

/// \file
/// The words a bank description uses for how a note is played, and their
/// numbers. Every conversion gives -1 for a word it does not know; matching is
/// exact and case-sensitive.
///
/// The numbers are what SampleCoordinate carries and what the nodes of a sample tree
/// are keyed on: "Node" elements nest attack, technique, variation. A word means
/// something in one vocabulary only, chosen by the bank's type: "hit" is technique 3
/// of the pitched vocabulary but technique 0 of the unpitched one. The word lists
/// are static: nothing to own, nothing to free.
///
/// Threads: every conversion is thread-safe and may run on an audio thread once its
/// table is built (the first call of each builds it).

namespace ox::soundfont {

/// The words of one level of a vocabulary, in value order: word i has the value i.
using SoundworldWords = std::span<const char* const>;

/// The two kinds of instrument.
struct OXSF_EXPORT Soundworld {
    /// A kind of instrument.
    enum Type : int32_t {
        Unknown = -1, ///< any other word
        Pitched = 0,  ///< "pitched"
        Unpitched = 1 ///< "unpitched"
    };
    /// The kind a word names. Offered to the host: a bank's kind comes from its type
    /// instead, where every percussion type ("drum", "snare", ...) is unpitched.
    static Type typeFromString(const std::string& text);
};

/// The vocabulary of pitched instruments (every bank whose type is no percussion type).
struct OXSF_EXPORT PitchedSoundworld {
    /// The attack words, each with its value; -1 for any other.
    enum Attack : int32_t {
        UnknownAttack = -1, ///< any other word
        Pick = 0,           ///< "pick"
        Finger = 1,         ///< "finger"
        Harmonic = 2,       ///< "harmonic"
        Pop = 3,            ///< "pop"
        Slap = 4,           ///< "slap"
        Key = 5,            ///< "key"
        Blow = 6,           ///< "blow"
        Bow = 7,            ///< "bow"
        Mallet = 8,         ///< "mallet"
    };
    /// The technique words, each with its value; -1 for any other.
    enum Technique : int32_t {
        UnknownTechnique = -1, ///< any other word
        Sustain = 0,           ///< "sustain"
        Pizzicato = 1,         ///< "pizzicato"
        Natural = 2,           ///< "natural"
        HitTechnique = 3,      ///< "hit"
    };
    /// The variation words, each with its value; -1 for any other.
    enum Variation : int32_t {
        UnknownVariation = -1, ///< any other word
        Down = 0,              ///< "down"
        Up = 1,                ///< "up"
        Index = 2,             ///< "index"
        Thumb = 3,             ///< "thumb"
        Middle = 4,            ///< "middle"
        Fifth = 5,             ///< "5th"
        Seventh = 6,           ///< "7th"
        Ninth = 7,             ///< "9th"
        Twelfth = 8,           ///< "12th"
        FourFive = 9,          ///< "4:5"
        VariationA = 10,       ///< "variationa"
        VariationB = 11,       ///< "variationb"
        NoVibrato = 12,        ///< "novibrato"
        HitVariation = 13,     ///< "hit"
    };
    /// The value of the attack word `text`; UnknownAttack (-1) for any other.
    static Attack attackFromString(const std::string& text);
    /// The value of the technique word `text`; UnknownTechnique (-1) for any other.
    static Technique techniqueFromString(const std::string& text);
    /// The value of the variation word `text`; UnknownVariation (-1) for any other.
    static Variation variationFromString(const std::string& text);
    /// The words the conversions above know, in value order.
    ///@{
    static SoundworldWords attackWords();
    static SoundworldWords techniqueWords();
    static SoundworldWords variationWords();
    ///@}
};

/// The vocabulary of unpitched instruments (banks of a percussion type).
struct OXSF_EXPORT UnpitchedSoundworld {
    /// The attack words, each with its value; -1 for any other.
    enum Attack : int32_t {
        UnknownAttack = -1, ///< any other word
        Stick = 0,          ///< "stick"
        Brush = 1,          ///< "brush"
        Rod = 2,            ///< "rod"
        Pedal = 3,          ///< "pedal"
        Mallet = 4,         ///< "mallet"
        Hand = 5,           ///< "hand"
        Thumb = 6,          ///< "thumb"
        Finger4 = 7,        ///< "finger4"
        Blow = 8,           ///< "blow"
    };
    /// The technique words, each with its value; -1 for any other.
    enum Technique : int32_t {
        UnknownTechnique = -1, ///< any other word
        Hit = 0,               ///< "hit"
        Scrape = 1,            ///< "scrape"
    };
    /// The variation words, each with its value; -1 for any other.
    enum Variation : int32_t {
        UnknownVariation = -1, ///< any other word
        HitVariation = 0,      ///< "hit"
        PedalVariation = 1,    ///< "pedal"
        Return = 2,            ///< "return"
        HandHit = 3,           ///< "handhit"
        Roll = 4,              ///< "roll"
        Choke = 5,             ///< "choke"
        Edge = 6,              ///< "edge"
        Mid = 7,               ///< "mid"
        Bell = 8,              ///< "bell"
        Open = 9,              ///< "open"
        Half = 10,             ///< "half"
        Closed = 11,           ///< "closed"
        SlapVariation = 12,    ///< "slap"
        Mute = 13,             ///< "mute"
        Tip = 14,              ///< "tip"
        Rimshot = 15,          ///< "rimshot"
        Sidestick = 16,        ///< "sidestick"
        Body = 17,             ///< "body"
        None = 18,             ///< "none"
    };
    /// The value of the attack word `text`; UnknownAttack (-1) for any other.
    static Attack attackFromString(const std::string& text);
    /// The value of the technique word `text`; UnknownTechnique (-1) for any other.
    static Technique techniqueFromString(const std::string& text);
    /// The value of the variation word `text`; UnknownVariation (-1) for any other.
    static Variation variationFromString(const std::string& text);
    /// The words the conversions above know, in value order.
    ///@{
    static SoundworldWords attackWords();
    static SoundworldWords techniqueWords();
    static SoundworldWords variationWords();
    ///@}
};

} // namespace ox::soundfont
