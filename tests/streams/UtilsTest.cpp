// Path pieces. (exists and split are exercised through the manager's choice of
// packaging and the tuning attribute.)
#include <ox/utils/filesystem.h>

#include <gtest/gtest.h>

namespace fs = ox::utils::filesystem;

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
}
