// Each public header compiling on its own is checked at build time (one
// generated translation unit per header, see CMakeLists.txt); this checks that
// the libraries load.
#include <soundfont/SoundFontManager.h>

#include <gtest/gtest.h>

TEST(Library, Loads) {
    ox::soundfont::SoundFontManager manager;
    EXPECT_FALSE(manager.soundFont("nowhere"));
}
