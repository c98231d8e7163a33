#pragma once

#include <array>
#include <cstdint>

namespace ox::audio {

/// Per-sample corrections that a bank attaches to its recordings. Held in a
/// fixed array: copying one never allocates (coordinates are copied freely).
/// Threads: plain data; every call may run on an audio thread.
class SoundCorrection {
public:
    enum Type : int {
        Repitch = 0, ///< pitch correction, in semitones (a fraction of one)
        Ratio = 1,   ///< playback-rate ratio
        // The parts of the sample's amplitude envelope (Envelope.h): times in
        // seconds, the sustain level linear.
        AmpDelay = 2,
        AmpAttack = 3,
        AmpHold = 4,
        AmpDecay = 5,
        AmpSustain = 6,
        AmpRelease = 7,
    };
    static constexpr int TypeCount = 8;

    SoundCorrection() = default;
    SoundCorrection(const SoundCorrection&) = default;
    SoundCorrection& operator=(const SoundCorrection&) = default;
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
