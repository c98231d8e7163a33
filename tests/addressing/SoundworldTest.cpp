#include <soundfont/NoteOption.h>
#include <soundfont/Soundworld.h>

#include <gtest/gtest.h>

using namespace ox::soundfont;
using P = PitchedSoundworld;
using U = UnpitchedSoundworld;

namespace {

template <auto F> int lookup(const std::string& word) {
    return int(F(word));
}

} // namespace

// Words match whole and case-sensitively; a word shared by tables means something
// different (or nothing) in each. Unknown note options give 0.
TEST(Vocabulary, WordsMapToTheirTablesValues) {
    using Lookup = int (*)(const std::string&);
    const Lookup type = lookup<&Soundworld::typeFromString>, pa = lookup<&P::attackFromString>,
                 pt = lookup<&P::techniqueFromString>, pv = lookup<&P::variationFromString>,
                 ua = lookup<&U::attackFromString>, ut = lookup<&U::techniqueFromString>,
                 uv = lookup<&U::variationFromString>, option = lookup<&NoteOption::stringToInt>;
    const struct {
        Lookup lookup;
        std::string word;
        int expected;
    } rows[] = {{type, "pitched", 0},    {type, "unpitched", 1}, {type, "", -1},
                {type, "Pitched", -1},   {type, "pitched ", -1}, {type, "pitch", -1},
                {type, "UNPITCHED", -1}, {type, "pitchedx", -1}, {pa, "pick", 0},
                {pa, "pIck", -1},        {pa, " pick", -1},      {pa, "pick ", -1},
                {pa, "pic", -1},         {pa, "picks", -1},      {pa, "", -1},
                {pv, "4:5", 9},          {pv, "12th", 8},        {pv, "novibrato", 12},
                {uv, "sidestick", 16},   {uv, "Sidestick", -1},  {pt, "hit", 3},
                {pv, "hit", 13},         {ut, "hit", 0},         {uv, "hit", 0},
                {pa, "hit", -1},         {ua, "hit", -1},        {pv, "thumb", 3},
                {ua, "thumb", 6},        {pa, "slap", 4},        {uv, "slap", 12},
                {ua, "slap", -1},        {uv, "none", 18},       {pa, "none", -1},
                {pt, "none", -1},        {pv, "none", -1},       {ua, "finger4", 7},
                {pa, "finger4", -1},     {pa, "finger", 1},      {ua, "finger", -1},
                {option, "xfast", 4},    {option, "fast", 3},    {option, "slow", 1},
                {option, "mdf", 8},      {option, "lnf", 10},    {option, "lns", 9},
                {option, "Fast", 0},     {option, "fast ", 0},   {option, " fast", 0},
                {option, "xfas", 0},     {option, "ln", 0},      {option, "lnx", 0},
                {option, "lnF", 0},      {option, "", 0},        {option, "none", 0}};
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i << " \"" << rows[i].word << '"');
        EXPECT_EQ(rows[i].lookup(rows[i].word), rows[i].expected);
    }
    EXPECT_EQ(P::attackFromString(std::string("pick\0", 5)), -1);
}

TEST(NoteOption, EqualityFollowsTheValue) {
    EXPECT_EQ(NoteOption(), NoteOption(NoteOption::None));
    EXPECT_FALSE(NoteOption() == NoteOption(NoteOption::Fast));
}

// The exported word lists are the vocabularies themselves: word i converts to i,
// and the lists are as long as the enumerations.
TEST(Vocabulary, WordListsConvertToTheirPositions) {
    const std::pair<SoundworldWords, int (*)(const std::string&)> levels[] = {
        {P::attackWords(), lookup<&P::attackFromString>},
        {P::techniqueWords(), lookup<&P::techniqueFromString>},
        {P::variationWords(), lookup<&P::variationFromString>},
        {U::attackWords(), lookup<&U::attackFromString>},
        {U::techniqueWords(), lookup<&U::techniqueFromString>},
        {U::variationWords(), lookup<&U::variationFromString>}};
    const size_t sizes[] = {9, 4, 14, 9, 2, 19};
    for (size_t level = 0; level < std::size(levels); ++level) {
        const auto [words, convert] = levels[level];
        ASSERT_EQ(words.size(), sizes[level]);
        for (size_t i = 0; i < words.size(); ++i) {
            EXPECT_EQ(convert(words[i]), int(i)) << words[i];
        }
    }
}
