#pragma once

#include <array>
#include <cstdint>

/// \file
/// Per-sample corrections a bank attaches to its recordings: SoundCorrection.

namespace ox::audio {

/// Per-sample corrections that a bank attaches to its recordings. Held in a
/// fixed array: copying one never allocates (coordinates are copied freely).
/// A value is either set or absent; nothing throws.
///
/// Threads: plain data; every call may run on an audio thread.
class SoundCorrection {
public:
    /// What a value corrects, and in which unit. The Amp types are the parts of the
    /// sample's amplitude envelope (Envelope.h).
    enum Type : int {
        Repitch = 0,    ///< pitch correction, in semitones (a fraction of one)
        Ratio = 1,      ///< playback-rate ratio
        AmpDelay = 2,   ///< envelope delay, seconds
        AmpAttack = 3,  ///< envelope attack, seconds
        AmpHold = 4,    ///< envelope hold, seconds
        AmpDecay = 5,   ///< envelope decay, seconds
        AmpSustain = 6, ///< envelope sustain level, linear (1 is full level)
        AmpRelease = 7, ///< envelope release, seconds
    };
    /// The number of types.
    static constexpr int TypeCount = 8;

    /// No value set.
    SoundCorrection() = default;
    /// Copies every value and which are set.
    ///@{
    SoundCorrection(const SoundCorrection&) = default;
    SoundCorrection& operator=(const SoundCorrection&) = default;
    ///@}
    ~SoundCorrection() = default;

    /// Stores `value` under `type`; an unknown type is ignored.
    void setSoundCorrection(Type type, float value);
    /// True, with the value, when `type` has been set.
    bool tryGetSoundCorrection(Type type, float& value) const;

private:
    std::array<float, TypeCount> m_values{};
    uint8_t m_setMask = 0;
};

} // namespace ox::audio
