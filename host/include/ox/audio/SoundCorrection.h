#pragma once

#include <array>
#include <cstdint>

namespace ox::audio {

/// Per-sample corrections that a bank attaches to its recordings. Held in a
/// fixed array: copying one never allocates (coordinates are copied freely).
class SoundCorrection {
public:
    enum Type : int {
        Repitch = 0, ///< pitch correction, in semitones (a fraction of one)
        Ratio = 1,   ///< playback-rate ratio
    };
    static constexpr int TypeCount = 2;

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
