#include <soundfont/SampleCoordinate.h>

#include <algorithm>
#include <array>

namespace ox::soundfont {

namespace {

constexpr std::array<const char*, kDynamicCount> kNames{
    "NONE", "PPPPPPP", "PPPPPP", "PPPPP", "PPPP", "PPP",   "PP",     "P",      "MP",
    "MF",   "F",       "FF",     "FFF",   "FFFF", "FFFFF", "FFFFFF", "FFFFFFF"};

// Nominal velocity of "NONE" to "FFF"; the louder dynamics share 127.
constexpr std::array<int, 13> kNominal{0, 1, 4, 8, 12, 16, 33, 49, 64, 80, 96, 112, 127};

} // namespace

const char* dynamicName(int dynamic) {
    return dynamic >= 0 && dynamic < kDynamicCount ? kNames[size_t(dynamic)] : nullptr;
}

int dynamicFromVelocity(int velocity) {
    if (velocity <= 0) {
        return 0;
    }
    velocity = std::min(velocity, 127);
    // The first dynamic whose upper half-way point lies above the velocity;
    // a velocity exactly half-way belongs to the louder one.
    for (size_t d = 1; d + 1 < kNominal.size(); ++d) {
        if (2 * velocity < kNominal[d] + kNominal[d + 1]) {
            return int(d);
        }
    }
    return int(kNominal.size()) - 1;
}

int velocityFromDynamic(int dynamic) {
    if (dynamic <= 0) {
        return 0;
    }
    return kNominal[size_t(std::min<int>(dynamic, int(kNominal.size()) - 1))];
}

float gainFromVelocity(int velocity) {
    if (velocity <= 0) {
        return 0.0f;
    }
    const float v = float(std::min(velocity, 127)) / 127.0f;
    return v * v;
}

} // namespace ox::soundfont
