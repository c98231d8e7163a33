#pragma once

#include <soundfont/Export.h>

#include <ox/audio/SoundCorrection.h>

#include <cstdint>
#include <functional>
#include <string>

namespace ox::soundfont {

/// The address of a sample: how it is played (attack, technique, variation),
/// five integer components (0 string from 0, 1 MIDI pitch, 2 dynamic, 3 option,
/// 4 fret) and a few free attributes. Nearness is distance().
class OXSF_EXPORT SampleCoordinate {
public:
    using FunctionFactory = std::function<std::function<float(int)>()>;

    /// How one component behaves: default value, weight in the distance, and
    /// optional amplitude and pitch functions offered to the host.
    struct SCDefinition {
        int32_t defaultValue;
        float weight;
        FunctionFactory amplitude;
        FunctionFactory pitch;
    };

    /// The component table, filled on the first default construction.
    static SCDefinition _SCDefinitions[5];

    SampleCoordinate();
    SampleCoordinate(const SampleCoordinate& other);
    SampleCoordinate(SampleCoordinate&& other) noexcept = default;
    SampleCoordinate& operator=(const SampleCoordinate& other);
    SampleCoordinate& operator=(SampleCoordinate&& other) noexcept = default;
    ~SampleCoordinate();

    /// Sets each of the three to its argument unless that argument is -1.
    void initialize(int attack, int technique, int variation);

    int attack() const { return m_attack; }
    int technique() const { return m_technique; }
    int variation() const { return m_variation; }
    void setAttack(int attack) { m_attack = attack; }
    void setTechnique(int technique) { m_technique = technique; }
    void setVariation(int variation) { m_variation = variation; }

    /// Component 0 to 4; no bounds check.
    int& operator[](int index) { return m_components[index]; }
    const int& operator[](int index) const { return m_components[index]; }
    unsigned int size() const { return 5; }

    float palmMuteStrength() const { return m_palmMuteStrength; }
    void setPalmMuteStrength(float strength) { m_palmMuteStrength = strength; }
    const std::string& pickup() const { return m_pickup; }
    void setPickup(const std::string& pickup);
    int tqStaffIndex() const { return m_tqStaffIndex; }
    int tqVoiceIndex() const { return m_tqVoiceIndex; }
    void setTQStaffIndex(int index) { m_tqStaffIndex = index; }
    void setTQVoiceIndex(int index) { m_tqVoiceIndex = index; }

    void setCorrection(ox::audio::SoundCorrection::Type type, float value);
    bool tryGetCorrection(ox::audio::SoundCorrection::Type type, float& value) const;
    const ox::audio::SoundCorrection& soundCorrection() const { return m_soundCorrection; }

    /// Weighted sum of squares of the component differences (single precision).
    /// Allocates nothing.
    float distance(const SampleCoordinate& other) const;
    /// A 32-bit hash of every field but the sound correction.
    unsigned int uniqueId() const;

    /// Equal in every field but fret and sound correction.
    bool operator==(const SampleCoordinate& other) const;
    /// Componentwise: every compared field strictly smaller.
    bool operator<(const SampleCoordinate& other) const;

    static const FunctionFactory& getAmplitude(unsigned int component);
    static const FunctionFactory& getPitch(unsigned int component);

private:
    static unsigned int initSCDefinitions();

    int32_t m_attack;
    int32_t m_technique;
    int32_t m_variation;
    int32_t m_components[5];
    float m_palmMuteStrength;
    ox::audio::SoundCorrection m_soundCorrection;
    std::string m_pickup;
    int32_t m_tqVoiceIndex;
    int32_t m_tqStaffIndex;
};

} // namespace ox::soundfont
