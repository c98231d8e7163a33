// Runs in a process of its own: nothing may construct a coordinate before it.
#include <soundfont/SampleCoordinate.h>

#include <gtest/gtest.h>

using ox::soundfont::SampleCoordinate;

TEST(SampleCoordinateTable, EmptyUntilFirstDefaultConstruction) {
    for (unsigned int i = 0; i < 5; ++i) {
        EXPECT_FALSE(SampleCoordinate::getAmplitude(i));
        EXPECT_FALSE(SampleCoordinate::getPitch(i));
        EXPECT_EQ(SampleCoordinate::_SCDefinitions[i].weight, 0.0f);
    }
    const SampleCoordinate first;
    EXPECT_EQ(first[2], 9);
    EXPECT_TRUE(SampleCoordinate::getAmplitude(2));
    EXPECT_TRUE(SampleCoordinate::getPitch(1));
    EXPECT_EQ(SampleCoordinate::_SCDefinitions[1].weight, 10.0f);
}
