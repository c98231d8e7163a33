// Each exported header compiles on its own; this file includes them all in one
// translation unit and checks the library loads.
#include <soundfont/AudioCache.h>
#include <soundfont/NoteOption.h>
#include <soundfont/SampleCoordinate.h>
#include <soundfont/SampleTree.h>
#include <soundfont/SoundBankParser.h>
#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>
#include <soundfont/Soundworld.h>

#include <gtest/gtest.h>

TEST(Library, Loads) {
    ox::soundfont::SoundFontManager manager;
    EXPECT_FALSE(manager.soundFont("nowhere"));
}
