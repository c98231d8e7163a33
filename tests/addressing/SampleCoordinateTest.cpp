#include <soundfont/SampleCoordinate.h>

#include <gtest/gtest.h>

using ox::audio::SoundCorrection;
using ox::soundfont::SampleCoordinate;

namespace {

enum { String = 0, Midi = 1, Dynamic = 2, Option = 3, Fret = 4 };

SampleCoordinate at(int string, int midi, int fret) {
    SampleCoordinate c;
    c[String] = string;
    c[Midi] = midi;
    c[Fret] = fret;
    return c;
}

} // namespace

TEST(SampleCoordinate, DefaultsAndTheirId) {
    const SampleCoordinate c;
    EXPECT_EQ(c.attack(), -1);
    EXPECT_EQ(c.technique(), -1);
    EXPECT_EQ(c.variation(), -1);
    ASSERT_EQ(c.size(), 5u);
    const int expected[5] = {-1, -1, 9, 0, -1};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(c[i], expected[i]) << "component " << i;
    EXPECT_EQ(c.palmMuteStrength(), 0.0f);
    EXPECT_TRUE(c.pickup().empty());
    EXPECT_EQ(c.tqVoiceIndex(), -1);
    EXPECT_EQ(c.tqStaffIndex(), -1);
    EXPECT_EQ(c.uniqueId(), 0xAEF85D16u);
}

TEST(SampleCoordinate, InitializeKeepsFieldsGivenMinusOne) {
    SampleCoordinate c;
    c.initialize(-1, 3, -1);
    EXPECT_EQ(c.attack(), -1);
    EXPECT_EQ(c.technique(), 3);
    EXPECT_EQ(c.variation(), -1);
    c.initialize(2, -1, 5);
    EXPECT_EQ(c.attack(), 2);
    EXPECT_EQ(c.technique(), 3);
    EXPECT_EQ(c.variation(), 5);
}

TEST(SampleCoordinate, CopiesCarryFretPickupAndCorrection) {
    SampleCoordinate c;
    c.initialize(1, 2, 3);
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

TEST(SampleCoordinate, DistanceWeighsMidiAndDynamicOnly) {
    SampleCoordinate a, b;
    a[Dynamic] = 9;
    b[Dynamic] = 11;
    EXPECT_EQ(a.distance(b), 80.0f);
    EXPECT_EQ(b.distance(a), 80.0f);

    SampleCoordinate c, d;
    c[Midi] = 60;
    d[Midi] = 63;
    EXPECT_EQ(c.distance(d), 90.0f);

    SampleCoordinate e, f;
    e[Option] = 0;
    f[Option] = 4;
    EXPECT_EQ(e.distance(f), 0.0f);
    f[Option] = 0;
    e[Fret] = 3; // string stays -1, so no string term either
    EXPECT_EQ(e.distance(f), 0.0f);
}

TEST(SampleCoordinate, StringTermComparesOpenStringPitches) {
    EXPECT_EQ(at(0, 64, 0).distance(at(1, 64, 5)), 2500.0f);
    EXPECT_EQ(at(1, 64, 5).distance(at(0, 64, 0)), 2500.0f);
    // Same open string: only the midi term remains.
    EXPECT_EQ(at(0, 40, 0).distance(at(0, 42, 2)), 40.0f);

    // Any -1 among both strings and frets drops the string term.
    EXPECT_EQ(at(-1, 64, 0).distance(at(1, 64, 5)), 0.0f);
    EXPECT_EQ(at(0, 64, -1).distance(at(1, 64, 5)), 0.0f);
    EXPECT_EQ(at(0, 64, 0).distance(at(-1, 64, 5)), 0.0f);
    EXPECT_EQ(at(0, 64, 0).distance(at(1, 64, -1)), 0.0f);
}

TEST(SampleCoordinate, DistanceOfExtremeValuesStaysDefined) {
    const SampleCoordinate low = at(0, INT32_MIN, 0);
    const SampleCoordinate high = at(3, INT32_MAX, INT32_MAX);
    EXPECT_GE(low.distance(high), 0.0f);
    EXPECT_EQ(low.distance(high), high.distance(low));
}

TEST(SampleCoordinate, UniqueIdIgnoresSignOfZeroButNotFret) {
    SampleCoordinate plus, minus;
    plus.setPalmMuteStrength(0.0f);
    minus.setPalmMuteStrength(-0.0f);
    EXPECT_EQ(plus.uniqueId(), minus.uniqueId());
    EXPECT_EQ(plus, minus);

    SampleCoordinate fretted;
    fretted[Fret] = 3;
    EXPECT_EQ(fretted, plus);
    EXPECT_NE(fretted.uniqueId(), plus.uniqueId());

    SampleCoordinate corrected;
    corrected.setCorrection(SoundCorrection::Repitch, 0.3f);
    EXPECT_EQ(corrected, plus);
    EXPECT_EQ(corrected.uniqueId(), plus.uniqueId());

    // Each remaining field reaches the id.
    SampleCoordinate picked, voiced, muted;
    picked.setPickup("neck");
    voiced.setTQVoiceIndex(0);
    muted.setPalmMuteStrength(0.5f);
    for (const SampleCoordinate* c : {&picked, &voiced, &muted}) {
        EXPECT_NE(c->uniqueId(), plus.uniqueId());
        EXPECT_FALSE(*c == plus);
    }
    SampleCoordinate pickedHigh;
    pickedHigh.setPickup("\xE9");
    EXPECT_NE(pickedHigh.uniqueId(), plus.uniqueId());
    EXPECT_NE(pickedHigh.uniqueId(), picked.uniqueId());
}

TEST(SampleCoordinate, LessThanNeedsEveryFieldSmaller) {
    auto filled = [](int base, const char* pickup) {
        SampleCoordinate c;
        c.initialize(base, base, base);
        for (int i = 0; i < 4; ++i)
            c[i] = base;
        c.setPalmMuteStrength(static_cast<float>(base));
        c.setPickup(pickup);
        c.setTQVoiceIndex(base);
        c.setTQStaffIndex(base);
        return c;
    };
    const SampleCoordinate small = filled(1, "a");
    SampleCoordinate large = filled(2, "\x80"); // high byte counts as unsigned
    EXPECT_FALSE(small < small);
    EXPECT_TRUE(small < large);
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
    const SampleCoordinate filler; // the table is filled by the first default construction
    (void)filler;
    const auto& amplitude = SampleCoordinate::getAmplitude(2);
    ASSERT_TRUE(amplitude);
    EXPECT_EQ(amplitude()(0), 1.0f);
    EXPECT_FLOAT_EQ(amplitude()(2), 4.6225f);
    const auto& pitch = SampleCoordinate::getPitch(1);
    ASSERT_TRUE(pitch);
    EXPECT_EQ(pitch()(60), 60.0f);
    EXPECT_FALSE(SampleCoordinate::getAmplitude(0));
    EXPECT_FALSE(SampleCoordinate::getPitch(2));
    EXPECT_EQ(SampleCoordinate::_SCDefinitions[0].weight, 100.0f);
}
