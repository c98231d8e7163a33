// Path pieces. (exists and split are exercised through the manager's choice of
// packaging and the tuning attribute.)
#include <ox/utils/filesystem.h>

#include <gtest/gtest.h>

#include <tuple>

namespace fs = ox::utils::filesystem;

TEST(Utils, PathPieces) {
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"/banks/Piano.tq7bank", "tq7bank", "Piano.tq7bank"},
        {"a.b/c", "", "c"},
        {"x.tar.gz", "gz", "x.tar.gz"},
        {"dir/name.", "", "name."},
        {"", "", ""},
        {"x.OGG", "OGG", "x.OGG"},
        {"a/b/", "", ""}};
    for (const auto& [path, extension, filename] : rows) {
        EXPECT_EQ(fs::extension(path), extension) << path;
        EXPECT_EQ(fs::filename(path), filename) << path;
    }
}
