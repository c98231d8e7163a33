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
///
/// Threads: the first default construction in the process fills the component
/// table (thread-safe). After that a coordinate is plain data: every call may
/// run on an audio thread, except that setPickup() and copying a coordinate with
/// a pickup name may allocate. The dynamics functions below are free functions of
/// tables and may run anywhere.
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

    /// The five integer components, by index.
    enum Component : int {
        String = 0,  ///< string, counted from 0; -1 when none
        Midi = 1,    ///< MIDI pitch
        Dynamic = 2, ///< dynamics scale, 0 ("NONE") to 16 ("FFFFFFF")
        Option = 3,  ///< note option (NoteOption)
        Fret = 4,    ///< fret; -1 when none
    };

    /// Component 0 to 4 (see Component); no bounds check.
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

/// The dynamics scale of component 2: 17 steps, "NONE" (0), "PPPPPPP" (1) to "P" (7),
/// "MP" (8), "MF" (9), "F" (10) to "FFFFFFF" (16). Player requests by pitch alone ask for "F".
inline constexpr int kDynamicCount = 17;

/// The name of a dynamic on the scale ("NONE" ... "FFFFFFF"); null outside 0 to 16.
OXSF_EXPORT const char* dynamicName(int dynamic);

/// MIDI velocity and the dynamics scale, one curve both ways. The dynamics from
/// "PPPPPPP" to "FFF" each stand for one nominal velocity:
///
///     PPPPPPP 1, PPPPPP 4, PPPPP 8, PPPP 12, PPP 16, PP 33,
///     P 49, MP 64, MF 80, F 96, FF 112, FFF 127
///
/// A velocity (1 to 127) is the dynamic whose nominal velocity is nearest, halfway
/// going to the louder: 1-2 PPPPPPP, 3-5 PPPPPP, 6-9 PPPPP, 10-13 PPPP, 14-24 PPP,
/// 25-40 PP, 41-56 P, 57-71 MP, 72-87 MF, 88-103 F, 104-119 FF, 120-127 FFF.
/// Velocity 0 or less is "NONE"; above 127 counts as 127. Thread-safe, allocation-free.
OXSF_EXPORT int dynamicFromVelocity(int velocity);
/// The nominal velocity of a dynamic: the table above; 0 for "NONE" and below,
/// 127 for the dynamics above "FFF" (no velocity is louder).
OXSF_EXPORT int velocityFromDynamic(int dynamic);
/// The linear gain a velocity plays at: (velocity / 127) squared, so 127 is 0 dB,
/// 90 about -6 dB, 64 about -11.9 dB and 1 about -42 dB; 0 or less is silent.
OXSF_EXPORT float gainFromVelocity(int velocity);

} // namespace ox::soundfont
