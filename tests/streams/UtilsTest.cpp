#include <ox/utils/filesystem.h>
#include <ox/utils/split.h>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace fs = ox::utils::filesystem;
using Pieces = std::vector<std::string>;

TEST(Utils, ExtensionAndFilename) {
    EXPECT_EQ(fs::extension("/banks/Piano.tq7bank"), "tq7bank");
    EXPECT_EQ(fs::extension("a.b/c"), "");
    EXPECT_EQ(fs::extension("x.tar.gz"), "gz");
    EXPECT_EQ(fs::extension("dir/name."), "");
    EXPECT_EQ(fs::extension(""), "");
    EXPECT_EQ(fs::extension("x.OGG"), "OGG");
    EXPECT_EQ(fs::filename("a/b/c.ogg"), "c.ogg");
    EXPECT_EQ(fs::filename("c.ogg"), "c.ogg");
    EXPECT_EQ(fs::filename("a/b/"), "");
}

TEST(Utils, Exists) {
    oxtest::TempDir dir;
    oxtest::writeFile(dir.file("f"), "x");
    EXPECT_TRUE(fs::exists(dir.file("f")));
    EXPECT_TRUE(fs::exists(dir.path().string()));
    EXPECT_FALSE(fs::exists(dir.file("g")));
    EXPECT_FALSE(fs::exists(""));
}

TEST(Utils, SplitKeepsEmptyPieces) {
    EXPECT_EQ(ox::utils::split("a  b", ' '), (Pieces{"a", "", "b"}));
    EXPECT_EQ(ox::utils::split("", ' '), (Pieces{""}));
    EXPECT_EQ(ox::utils::split(" a ", ' '), (Pieces{"", "a", ""}));
    EXPECT_EQ(ox::utils::split("E A D", ' '), (Pieces{"E", "A", "D"}));
}
