#pragma once

#include <soundfont/Export.h>

#include <ox/audio/SoundCorrection.h>

#include <cstdint>
#include <functional>
#include <string>

/// \file
/// Where a sample lies and how near two samples are (SampleCoordinate), and the
/// dynamics scale with its one curve to and from MIDI velocity.
///
/// Units: pitches are MIDI note numbers (60 is C4); dynamics are steps of the scale,
/// 0 ("NONE") to 16 ("FFFFFFF"); velocities are MIDI velocities, 1 to 127; gains are
/// linear factors. Nothing here throws, and nothing checks an index: components are
/// 0 to 4.

namespace ox::soundfont {

/// The address of a sample: how it is played (attack, technique, variation),
/// five integer components (0 string from 0, 1 MIDI pitch, 2 dynamic, 3 option,
/// 4 fret) and a few free attributes. Nearness is distance().
///
/// Every sample of a tree carries the coordinate it was recorded at; every request is
/// a coordinate too, usually made by SampleTreeBuilder::coordinate(). A coordinate
/// owns its pickup name and its corrections and points at nothing else.
///
/// Threads: the first default construction in the process fills the component
/// table (thread-safe). After that a coordinate is plain data: every call may
/// run on an audio thread, except that setPickup() and copying a coordinate with
/// a pickup name may allocate. The dynamics functions below are free functions of
/// tables and may run anywhere.
class OXSF_EXPORT SampleCoordinate {
public:
    /// Makes a function from a component's value to a float; empty when the
    /// component offers none.
    using FunctionFactory = std::function<std::function<float(int)>()>;

    /// How one component behaves: default value, weight in the distance, and
    /// optional amplitude and pitch functions offered to the host.
    struct SCDefinition {
        int32_t defaultValue;      ///< what a default-constructed coordinate holds
        float weight;              ///< factor of the squared difference in distance()
        FunctionFactory amplitude; ///< dynamic: 2.15 raised to the value; empty for the others
        FunctionFactory pitch;     ///< MIDI pitch: the value as a float; empty for the others
    };

    /// The component table, filled on the first default construction, indexed by
    /// Component. As (default, weight): string (-1, 100), MIDI pitch (-1, 10),
    /// dynamic (9, 20), option (0, 0), fret (-1, 0). All zero and empty before the
    /// fill, read-only after it.
    static SCDefinition _SCDefinitions[5];

    /// No articulation (-1 each); string -1, MIDI pitch -1, dynamic 9 ("MF"), option 0,
    /// fret -1; palm-mute strength 0, no pickup, staff and voice -1, no corrections.
    /// The first one in the process fills _SCDefinitions.
    SampleCoordinate();
    /// Copies or moves every field (copying a pickup name may allocate).
    ///@{
    SampleCoordinate(const SampleCoordinate& other);
    SampleCoordinate(SampleCoordinate&& other) noexcept = default;
    SampleCoordinate& operator=(const SampleCoordinate& other);
    SampleCoordinate& operator=(SampleCoordinate&& other) noexcept = default;
    ///@}
    ~SampleCoordinate();

    /// Sets each of the three to its argument unless that argument is -1.
    void initialize(int attack, int technique, int variation);

    /// How the note is played: values of the bank's vocabulary (PitchedSoundworld or
    /// UnpitchedSoundworld), -1 when not set. A sample in a tree has those of the
    /// nodes it is filed under; searches match them by walking the tree, not by
    /// distance().
    ///@{
    int attack() const { return m_attack; }
    int technique() const { return m_technique; }
    int variation() const { return m_variation; }
    void setAttack(int attack) { m_attack = attack; }
    void setTechnique(int technique) { m_technique = technique; }
    void setVariation(int variation) { m_variation = variation; }
    ///@}

    /// The five integer components, by index.
    enum Component : int {
        String = 0,  ///< string, counted from 0; -1 when none
        Midi = 1,    ///< MIDI pitch; -1 when none
        Dynamic = 2, ///< dynamics scale, 0 ("NONE") to 16 ("FFFFFFF"); 9 ("MF") by default
        Option = 3,  ///< note option (NoteOption), 0 when none
        Fret = 4,    ///< fret: semitones above the string's open pitch; -1 when none
    };

    /// Component 0 to 4 (see Component); no bounds check.
    ///@{
    int& operator[](int index) { return m_components[index]; }
    const int& operator[](int index) const { return m_components[index]; }
    ///@}

    /// The number of components: always 5.
    unsigned int size() const { return 5; }

    /// How strongly the note is palm-muted; 0 by default. Compared and hashed, never
    /// searched by.
    ///@{
    float palmMuteStrength() const { return m_palmMuteStrength; }
    void setPalmMuteStrength(float strength) { m_palmMuteStrength = strength; }
    ///@}

    /// A pickup name; empty by default (a tree keeps a sample's pickups in its files
    /// instead). Compared and hashed, never searched by; setPickup() copies the name.
    ///@{
    const std::string& pickup() const { return m_pickup; }
    void setPickup(const std::string& pickup);
    ///@}

    /// The staff and voice of the note in the host's score; -1 by default. Compared
    /// and hashed, never searched by.
    ///@{
    int tqStaffIndex() const { return m_tqStaffIndex; }
    int tqVoiceIndex() const { return m_tqVoiceIndex; }
    void setTQStaffIndex(int index) { m_tqStaffIndex = index; }
    void setTQVoiceIndex(int index) { m_tqVoiceIndex = index; }
    ///@}

    /// Stores `value` under `type` (units in SoundCorrection::Type); an unknown type
    /// is ignored. The parser stores each Wave's repitch and ratio and, when the Wave
    /// gives one, its envelope.
    void setCorrection(ox::audio::SoundCorrection::Type type, float value);
    /// True, with the value in `value`, when `type` has been set; `value` is left
    /// alone otherwise.
    bool tryGetCorrection(ox::audio::SoundCorrection::Type type, float& value) const;
    /// Every correction set; not part of ==, < or uniqueId().
    const ox::audio::SoundCorrection& soundCorrection() const { return m_soundCorrection; }

    /// Weighted sum of squares of the component differences (single precision):
    /// 10 per squared semitone of MIDI pitch, 20 per squared dynamic step, and, only
    /// when both sides have a string and a fret, 100 per squared semitone between the
    /// two strings' open pitches (each MIDI pitch minus fret). Option and fret weigh 0.
    /// Symmetric and never negative; differences wrap instead of overflowing.
    /// Allocates nothing.
    float distance(const SampleCoordinate& other) const;
    /// A 32-bit hash of every field but the sound correction.
    unsigned int uniqueId() const;

    /// Equal in every field but fret and sound correction.
    bool operator==(const SampleCoordinate& other) const;
    /// Componentwise: every compared field strictly smaller.
    bool operator<(const SampleCoordinate& other) const;

    /// The amplitude or pitch function maker of `component` (0 to 4, not checked;
    /// see SCDefinition); empty before the first default construction and for a
    /// component without one. Offered to the host; the library calls neither.
    ///@{
    static const FunctionFactory& getAmplitude(unsigned int component);
    static const FunctionFactory& getPitch(unsigned int component);
    ///@}

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

/// Which strike of its key a note is, for samples that take turns: round-robin
/// alternates answer one strike in every few, random ones a part of the draw.
/// A player keeps a count per key (0 for the first strike) and draws `random`
/// anew for each note. Plain data.
struct OXSF_EXPORT Strike {
    uint32_t count = 0;  ///< strikes of this key before this one
    float random = 0.0f; ///< a draw in [0, 1)
    /// Answered by every alternate, for a caller that prepares the audio of all
    /// of them rather than playing one.
    bool everyAlternate = false;
};
/// The strike every alternate answers.
inline constexpr Strike kEveryAlternate{0, 0.0f, true};

/// When a sample or one of its layers sounds, and what its note silences: the
/// optional "velLo", "velHi", "chokeGroup", "loopRelease", "releaseFromFull",
/// "seqLength" and "seqPosition" attributes of a Sample or Layer element, read as whole numbers
/// like "velocity" (a malformed number is its numeric prefix or 0), and
/// "randLo" and "randHi", read as decimals like "gain". The defaults answer
/// every velocity and every strike, and choke nothing.
/// Plain data; thread-safe, allocation-free.
struct OXSF_EXPORT Trigger {
    int32_t velLo = 1;      ///< lowest MIDI velocity it answers, inclusive
    int32_t velHi = 127;    ///< highest, inclusive; below velLo the range answers none
    int32_t chokeGroup = 0; ///< exclusive group: a new note of it fades this one; 0 or less none
    /// "loopRelease" (a whole number, not 0): its players keep looping through
    /// the release, for a sound whose source loops on after note-off and holds
    /// no tail to play (TQ7SamplePlayer::setLoopsThroughRelease).
    bool loopRelease = false;
    /// "releaseFromFull" (a whole number, not 0): its envelope's release time is
    /// that of a fall from full level, so a note released lower takes less
    /// (ox::audio::Envelope::releaseFromFull), as soundfonts time their releases.
    bool releaseFromFull = false;
    /// Round robin: one of `seqLength` alternates, the one strike `seqPosition`
    /// (counted from 1) of every `seqLength` plays. A length of 1 or less plays
    /// at every strike; a position past the length at none.
    int32_t seqLength = 1;
    int32_t seqPosition = 1; ///< see seqLength
    /// Random alternates: it plays when a strike's draw lies in randLo to
    /// randHi (randLo included; randHi excluded unless it is 1 or more).
    float randLo = 0.0f;
    float randHi = 1.0f; ///< see randLo

    /// True when `velocity` lies in velLo..velHi.
    bool answers(int velocity) const { return velLo <= velocity && velocity <= velHi; }
    /// True when it plays at `strike` (see seqLength and randLo).
    bool answers(const Strike& strike) const {
        if (strike.everyAlternate) {
            return true;
        }
        const bool turn =
            seqLength <= 1 || int64_t(strike.count % uint32_t(seqLength)) + 1 == seqPosition;
        const bool drawn = randLo <= strike.random && (strike.random < randHi || randHi >= 1.0f);
        return turn && drawn;
    }
    /// True when some strikes skip it: it is one of several alternates.
    bool alternates() const { return seqLength > 1 || randLo > 0.0f || randHi < 1.0f; }
    /// True when the range is narrower than 1..127 (or out of it).
    bool ranged() const { return velLo != 1 || velHi != 127; }
};

} // namespace ox::soundfont
