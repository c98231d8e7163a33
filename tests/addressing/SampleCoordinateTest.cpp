#include <soundfont/SampleCoordinate.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using ox::audio::SoundCorrection;
using ox::soundfont::SampleCoordinate;

namespace {

using enum SampleCoordinate::Component;

SampleCoordinate at(int string, int midi, int fret, int dynamic = 9, int option = 0) {
    SampleCoordinate c;
    c[String] = string;
    c[Midi] = midi;
    c[Fret] = fret;
    c[Dynamic] = dynamic;
    c[Option] = option;
    return c;
}

} // namespace

TEST(SampleCoordinate, DefaultsInitializeAndCopies) {
    SampleCoordinate c;
    ASSERT_EQ(c.size(), 5u);
    const int expected[5] = {-1, -1, 9, 0, -1};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(c[i], expected[i]) << "component " << i;
    }
    // The id covers every other default (attack to staff index).
    EXPECT_EQ(c.uniqueId(), 0xAEF85D16u);

    c.initialize(-1, 3, -1);
    EXPECT_EQ((std::vector<int>{c.attack(), c.technique(), c.variation()}),
              (std::vector<int>{-1, 3, -1}));
    c.initialize(2, -1, 5);
    EXPECT_EQ((std::vector<int>{c.attack(), c.technique(), c.variation()}),
              (std::vector<int>{2, 3, 5}));

    c[Fret] = 7;
    c.setPickup("bridge");
    c.setPickup(c.pickup());
    c.setCorrection(SoundCorrection::Ratio, 1.25f);
    SampleCoordinate assigned;
    assigned = c;
    for (const SampleCoordinate& other : {SampleCoordinate(c), assigned}) {
        EXPECT_EQ(other.uniqueId(), c.uniqueId()); // covers fret and pickup
        float ratio = 0;
        EXPECT_TRUE(other.tryGetCorrection(SoundCorrection::Ratio, ratio));
        EXPECT_EQ(ratio, 1.25f);
        EXPECT_FALSE(other.tryGetCorrection(SoundCorrection::Repitch, ratio));
    }
}

// Midi and dynamic weigh in directly; strings only through their open-string
// pitches, and only when both strings and both frets are given.
TEST(SampleCoordinate, Distance) {
    const struct {
        SampleCoordinate a, b;
        float expected;
    } rows[] = {{at(-1, -1, -1, 9), at(-1, -1, -1, 11), 80.0f},
                {at(-1, 60, -1), at(-1, 63, -1), 90.0f},
                {at(-1, -1, -1, 9, 0), at(-1, -1, -1, 9, 4), 0.0f},
                {at(-1, -1, 3), at(-1, -1, -1), 0.0f},
                {at(0, 64, 0), at(1, 64, 5), 2500.0f},
                {at(0, 40, 0), at(0, 42, 2), 40.0f},
                {at(-1, 64, 0), at(1, 64, 5), 0.0f},
                {at(0, 64, -1), at(1, 64, 5), 0.0f},
                {at(0, 64, 0), at(-1, 64, 5), 0.0f},
                {at(0, 64, 0), at(1, 64, -1), 0.0f}};
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].a.distance(rows[i].b), rows[i].expected);
        EXPECT_EQ(rows[i].b.distance(rows[i].a), rows[i].expected);
    }
    const SampleCoordinate low = at(0, INT32_MIN, 0), high = at(3, INT32_MAX, INT32_MAX);
    EXPECT_GE(low.distance(high), 0.0f);
    EXPECT_EQ(low.distance(high), high.distance(low));
}

TEST(SampleCoordinate, EqualityAndUniqueId) {
    SampleCoordinate plus, minus;
    plus.setPalmMuteStrength(0.0f);
    minus.setPalmMuteStrength(-0.0f);
    EXPECT_EQ(plus.uniqueId(), minus.uniqueId());
    EXPECT_EQ(plus, minus);

    // Fret and sound correction are left out of equality; only fret reaches the id.
    SampleCoordinate fretted, corrected;
    fretted[Fret] = 3;
    corrected.setCorrection(SoundCorrection::Repitch, 0.3f);
    EXPECT_EQ(fretted, plus);
    EXPECT_NE(fretted.uniqueId(), plus.uniqueId());
    EXPECT_EQ(corrected, plus);
    EXPECT_EQ(corrected.uniqueId(), plus.uniqueId());

    SampleCoordinate picked, pickedHigh, voiced, muted;
    picked.setPickup("neck");
    pickedHigh.setPickup("\xE9");
    voiced.setTQVoiceIndex(0);
    muted.setPalmMuteStrength(0.5f);
    for (const SampleCoordinate* c : {&picked, &pickedHigh, &voiced, &muted}) {
        EXPECT_NE(c->uniqueId(), plus.uniqueId());
        EXPECT_FALSE(*c == plus);
    }
    EXPECT_NE(pickedHigh.uniqueId(), picked.uniqueId());
}

TEST(SampleCoordinate, LessThanNeedsEveryFieldSmaller) {
    auto filled = [](int base, const char* pickup) {
        SampleCoordinate c;
        c.initialize(base, base, base);
        for (int i = 0; i < 4; ++i) {
            c[i] = base;
        }
        c.setPalmMuteStrength(static_cast<float>(base));
        c.setPickup(pickup);
        c.setTQVoiceIndex(base);
        c.setTQStaffIndex(base);
        return c;
    };
    const SampleCoordinate small = filled(1, "a");
    SampleCoordinate large = filled(2, "\x80"); // high byte counts as unsigned
    EXPECT_FALSE(small < small);
    EXPECT_FALSE(large < small);
    large[Fret] = -5; // fret is not compared
    EXPECT_TRUE(small < large);

    SampleCoordinate partly = large;
    partly.setTQStaffIndex(1);
    EXPECT_FALSE(small < partly);
    partly = large;
    partly.setPickup("a");
    EXPECT_FALSE(small < partly);
    partly.setPickup("ab"); // "a" is a proper prefix, so smaller
    EXPECT_TRUE(small < partly);
}

TEST(SampleCoordinate, TableFunctions) {
    // The table is filled by the first default construction; calling an empty
    // function throws, which fails the test.
    [[maybe_unused]] const SampleCoordinate filler;
    EXPECT_EQ(SampleCoordinate::getAmplitude(2)()(0), 1.0f);
    EXPECT_FLOAT_EQ(SampleCoordinate::getAmplitude(2)()(2), 4.6225f);
    EXPECT_EQ(SampleCoordinate::getPitch(1)()(60), 60.0f);
    EXPECT_FALSE(SampleCoordinate::getAmplitude(0));
    EXPECT_FALSE(SampleCoordinate::getPitch(2));
}

TEST(Dynamics, VelocityCurveBothWays) {
    using namespace ox::soundfont;
    EXPECT_STREQ(dynamicName(0), "NONE");
    EXPECT_STREQ(dynamicName(10), "F");
    EXPECT_STREQ(dynamicName(16), "FFFFFFF");
    EXPECT_EQ(dynamicName(17), nullptr);
    EXPECT_EQ(dynamicName(-1), nullptr);

    // Every velocity's dynamic, as the header's bins state them.
    const std::vector<std::pair<int, int>> firstOfBin{{1, 1},  {3, 2},   {6, 3},    {10, 4},
                                                      {14, 5}, {25, 6},  {41, 7},   {57, 8},
                                                      {72, 9}, {88, 10}, {104, 11}, {120, 12}};
    for (size_t i = 0; i < firstOfBin.size(); ++i) {
        const auto [first, dynamic] = firstOfBin[i];
        const int last = i + 1 < firstOfBin.size() ? firstOfBin[i + 1].first - 1 : 127;
        for (int v = first; v <= last; ++v) {
            ASSERT_EQ(dynamicFromVelocity(v), dynamic) << "velocity " << v;
        }
        // The nominal velocity of a dynamic lies in its own bin.
        EXPECT_EQ(dynamicFromVelocity(velocityFromDynamic(dynamic)), dynamic);
    }
    EXPECT_EQ(dynamicFromVelocity(0), 0);
    EXPECT_EQ(dynamicFromVelocity(-5), 0);
    EXPECT_EQ(dynamicFromVelocity(300), 12);
    EXPECT_EQ(velocityFromDynamic(0), 0);
    EXPECT_EQ(velocityFromDynamic(10), 96);
    EXPECT_EQ(velocityFromDynamic(16), 127);

    EXPECT_EQ(gainFromVelocity(127), 1.0f);
    EXPECT_NEAR(20 * std::log10(gainFromVelocity(64)), -11.9, 0.01);
    EXPECT_EQ(gainFromVelocity(0), 0.0f);
    EXPECT_EQ(gainFromVelocity(200), 1.0f);
}
