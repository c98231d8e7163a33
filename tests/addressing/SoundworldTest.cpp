#include <soundfont/NoteOption.h>
#include <soundfont/Soundworld.h>

#include <gtest/gtest.h>

using namespace ox::soundfont;
using P = PitchedSoundworld;
using U = UnpitchedSoundworld;

TEST(Soundworld, TypeMatchesWholeLowerCaseWordsOnly) {
    EXPECT_EQ(Soundworld::typeFromString("pitched"), 0);
    EXPECT_EQ(Soundworld::typeFromString("unpitched"), 1);
    for (const char* odd : {"", "Pitched", "pitched ", "pitch", "UNPITCHED", "pitchedx"})
        EXPECT_EQ(Soundworld::typeFromString(odd), -1) << '"' << odd << '"';
}

TEST(Soundworld, MatchingIsExactAndCaseSensitive) {
    EXPECT_EQ(P::attackFromString("pick"), 0);
    for (const char* odd : {"Pick", "pIck", "PICK", " pick", "pick ", "pic", "picks", ""})
        EXPECT_EQ(P::attackFromString(odd), -1) << '"' << odd << '"';
    EXPECT_EQ(P::attackFromString(std::string("pick\0", 5)), -1);
    EXPECT_EQ(P::variationFromString("4:5"), 9);
    EXPECT_EQ(P::variationFromString("12th"), 8);
    EXPECT_EQ(P::variationFromString("novibrato"), 12);
    EXPECT_EQ(U::variationFromString("sidestick"), 16);
    EXPECT_EQ(U::variationFromString("Sidestick"), -1);
}

TEST(Soundworld, SharedWordsDependOnTheVocabulary) {
    // "hit" names different things in four tables and no attack.
    EXPECT_EQ(P::techniqueFromString("hit"), 3);
    EXPECT_EQ(P::variationFromString("hit"), 13);
    EXPECT_EQ(U::techniqueFromString("hit"), 0);
    EXPECT_EQ(U::variationFromString("hit"), 0);
    EXPECT_EQ(P::attackFromString("hit"), -1);
    EXPECT_EQ(U::attackFromString("hit"), -1);

    EXPECT_EQ(P::variationFromString("thumb"), 3);
    EXPECT_EQ(U::attackFromString("thumb"), 6);
    EXPECT_EQ(P::attackFromString("slap"), 4);
    EXPECT_EQ(U::variationFromString("slap"), 12);
    EXPECT_EQ(U::attackFromString("slap"), -1);

    EXPECT_EQ(U::variationFromString("none"), 18);
    EXPECT_EQ(P::attackFromString("none"), -1);
    EXPECT_EQ(P::techniqueFromString("none"), -1);
    EXPECT_EQ(P::variationFromString("none"), -1);

    EXPECT_EQ(U::attackFromString("finger4"), 7);
    EXPECT_EQ(P::attackFromString("finger4"), -1);
    EXPECT_EQ(P::attackFromString("finger"), 1);
    EXPECT_EQ(U::attackFromString("finger"), -1);
}

TEST(NoteOption, KeywordsMatchWholeAndExactly) {
    EXPECT_EQ(NoteOption::stringToInt("xfast"), 4);
    EXPECT_EQ(NoteOption::stringToInt("fast"), 3);
    EXPECT_EQ(NoteOption::stringToInt("slow"), 1);
    EXPECT_EQ(NoteOption::stringToInt("mdf"), 8);
    EXPECT_EQ(NoteOption::stringToInt("lnf"), 10);
    EXPECT_EQ(NoteOption::stringToInt("lns"), 9);
    for (const char* odd : {"Fast", "fast ", " fast", "xfas", "ln", "lnx", "lnF", "", "none"})
        EXPECT_EQ(NoteOption::stringToInt(odd), 0) << '"' << odd << '"';
}

TEST(NoteOption, EqualityFollowsTheValue) {
    EXPECT_EQ(NoteOption(), NoteOption(NoteOption::None));
    EXPECT_FALSE(NoteOption() == NoteOption(NoteOption::Fast));
    NoteOption option;
    option.setValue(NoteOption::Lnf);
    EXPECT_EQ(option.value(), 10);
}
