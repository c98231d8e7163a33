#include <ox/utils/filesystem.h>
#include <ox/utils/split.h>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace fs = ox::utils::filesystem;
using Pieces = std::vector<std::string>;

TEST(Utils, PathPieces) {
    const struct {
        const char* path;
        const char* extension;
        const char* filename;
    } rows[] = {{"/banks/Piano.tq7bank", "tq7bank", "Piano.tq7bank"},
                {"a.b/c", "", "c"},
                {"x.tar.gz", "gz", "x.tar.gz"},
                {"dir/name.", "", "name."},
                {"", "", ""},
                {"x.OGG", "OGG", "x.OGG"},
                {"a/b/", "", ""}};
    for (const auto& row : rows) {
        EXPECT_EQ(fs::extension(row.path), row.extension) << row.path;
        EXPECT_EQ(fs::filename(row.path), row.filename) << row.path;
    }

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
