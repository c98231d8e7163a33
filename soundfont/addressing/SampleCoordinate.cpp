#include <soundfont/SampleCoordinate.h>

#include <bit>
#include <cmath>

namespace ox::soundfont {

// Empty until the first default construction fills it (see initSCDefinitions).
// Its (zeroing) initialiser runs ahead of the library's other static initialisers,
// so a coordinate built during static initialisation cannot have its fill undone.
SampleCoordinate::SCDefinition SampleCoordinate::_SCDefinitions[5]
    __attribute__((init_priority(101)));

namespace {

constexpr uint64_t kHashMultiplier = 0xC6A4A7935BD1E995ULL;

inline void combine(uint64_t& hash, uint64_t value) {
    value *= kHashMultiplier;
    value ^= value >> 47;
    value *= kHashMultiplier;
    hash ^= value;
    hash *= kHashMultiplier;
    hash += 0xE6546B64;
}

inline uint64_t zeroExtended(int32_t value) {
    return static_cast<uint32_t>(value);
}
inline uint64_t signExtended(int32_t value) {
    return static_cast<uint64_t>(int64_t{value});
}

// Component values come straight from bank descriptions and may be anything;
// wrap on overflow instead of invoking undefined behaviour.
inline int32_t wrappingSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t wrappingAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

enum Component { String = 0, Midi = 1, Dynamic = 2, Option = 3, Fret = 4 };

} // namespace

unsigned int SampleCoordinate::initSCDefinitions() {
    const FunctionFactory none;
    const FunctionFactory midiToPitch = [] {
        return std::function<float(int)>([](int x) { return static_cast<float>(x); });
    };
    const FunctionFactory dynamicToAmplitude = [] {
        return std::function<float(int)>([](int x) { return powf(2.15f, static_cast<float>(x)); });
    };
    _SCDefinitions[String] = SCDefinition{-1, 100.0f, none, none};
    _SCDefinitions[Midi] = SCDefinition{-1, 10.0f, none, midiToPitch};
    _SCDefinitions[Dynamic] = SCDefinition{9, 20.0f, dynamicToAmplitude, none};
    _SCDefinitions[Option] = SCDefinition{0, 0.0f, none, none};
    _SCDefinitions[Fret] = SCDefinition{-1, 0.0f, none, none};
    return 5;
}

SampleCoordinate::SampleCoordinate()
    : m_attack(-1), m_technique(-1), m_variation(-1), m_components{}, m_palmMuteStrength(0.0f),
      m_tqVoiceIndex(-1), m_tqStaffIndex(-1) {
    // Thread-safe one-time fill of the shared table.
    static const unsigned int componentCount = initSCDefinitions();
    for (unsigned int i = 0; i < componentCount; ++i) {
        m_components[i] = _SCDefinitions[i].defaultValue;
    }
}

SampleCoordinate::SampleCoordinate(const SampleCoordinate& other) = default;
SampleCoordinate& SampleCoordinate::operator=(const SampleCoordinate& other) = default;
SampleCoordinate::~SampleCoordinate() = default;

void SampleCoordinate::initialize(int attack, int technique, int variation) {
    if (attack != -1) {
        m_attack = attack;
    }
    if (technique != -1) {
        m_technique = technique;
    }
    if (variation != -1) {
        m_variation = variation;
    }
}

void SampleCoordinate::setPickup(const std::string& pickup) {
    if (&pickup != &m_pickup) {
        m_pickup = pickup;
    }
}

void SampleCoordinate::setCorrection(ox::audio::SoundCorrection::Type type, float value) {
    m_soundCorrection.setSoundCorrection(type, value);
}

bool SampleCoordinate::tryGetCorrection(ox::audio::SoundCorrection::Type type, float& value) const {
    return m_soundCorrection.tryGetSoundCorrection(type, value);
}

float SampleCoordinate::distance(const SampleCoordinate& other) const {
    const int32_t* a = m_components;
    const int32_t* b = other.m_components;
    float sum = 0.0f;
    // String numbers are not compared directly: what matters is how far apart the
    // two strings' open pitches are, which needs both frets and both strings.
    if (a[String] >= 0 && a[Fret] >= 0 && b[String] >= 0 && b[Fret] >= 0) {
        const int32_t openDiff =
            wrappingAdd(wrappingSub(wrappingSub(b[Fret], a[Fret]), b[Midi]), a[Midi]);
        const float x = static_cast<float>(openDiff);
        sum += x * _SCDefinitions[String].weight * x;
    }
    for (int i = Midi; i <= Fret; ++i) {
        const float d = static_cast<float>(wrappingSub(a[i], b[i]));
        sum += d * _SCDefinitions[i].weight * d;
    }
    return sum;
}

unsigned int SampleCoordinate::uniqueId() const {
    uint64_t hash = 0;
    combine(hash, zeroExtended(m_attack));
    combine(hash, zeroExtended(m_technique));
    combine(hash, zeroExtended(m_variation));
    for (int32_t component : m_components) {
        combine(hash, zeroExtended(component));
    }
    // +0.0 and -0.0 must hash alike.
    combine(hash, m_palmMuteStrength == 0.0f ? 0 : std::bit_cast<uint32_t>(m_palmMuteStrength));
    uint64_t pickupHash = 0;
    for (char c : m_pickup) {
        combine(pickupHash, static_cast<uint64_t>(int64_t{static_cast<signed char>(c)}));
    }
    combine(hash, pickupHash);
    combine(hash, signExtended(m_tqVoiceIndex));
    combine(hash, signExtended(m_tqStaffIndex));
    return static_cast<unsigned int>(hash);
}

bool SampleCoordinate::operator==(const SampleCoordinate& other) const {
    return m_attack == other.m_attack && m_technique == other.m_technique &&
           m_variation == other.m_variation && m_components[String] == other.m_components[String] &&
           m_components[Midi] == other.m_components[Midi] &&
           m_components[Dynamic] == other.m_components[Dynamic] &&
           m_components[Option] == other.m_components[Option] &&
           m_palmMuteStrength == other.m_palmMuteStrength && m_pickup == other.m_pickup &&
           m_tqVoiceIndex == other.m_tqVoiceIndex && m_tqStaffIndex == other.m_tqStaffIndex;
}

bool SampleCoordinate::operator<(const SampleCoordinate& other) const {
    // Componentwise: every compared field must be strictly smaller. std::string
    // compares its bytes as unsigned, a proper prefix first.
    return m_attack < other.m_attack && m_technique < other.m_technique &&
           m_variation < other.m_variation && m_components[String] < other.m_components[String] &&
           m_components[Midi] < other.m_components[Midi] &&
           m_components[Dynamic] < other.m_components[Dynamic] &&
           m_components[Option] < other.m_components[Option] &&
           m_palmMuteStrength < other.m_palmMuteStrength && m_pickup < other.m_pickup &&
           m_tqVoiceIndex < other.m_tqVoiceIndex && m_tqStaffIndex < other.m_tqStaffIndex;
}

const SampleCoordinate::FunctionFactory& SampleCoordinate::getAmplitude(unsigned int component) {
    return _SCDefinitions[component].amplitude;
}

const SampleCoordinate::FunctionFactory& SampleCoordinate::getPitch(unsigned int component) {
    return _SCDefinitions[component].pitch;
}

} // namespace ox::soundfont
