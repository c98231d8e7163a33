// An import killed part-way leaves a folder whose listing names exactly the
// banks in it, and the next import into that folder clears what the killed one
// left half done.

#include "support/TestSupport.h"

#include <demo/SoundFontWriter.h>
#include <ox/import/Import.h>
#include <soundfont/SoundFontManager.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <set>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace oxtest;

namespace {

std::set<std::string> listedPaths(const fs::path& outDir) {
    std::set<std::string> paths;
    const auto listing = nlohmann::json::parse(readFile((outDir / "instruments.json").string()));
    for (const auto& bank : listing["banks"]) {
        paths.insert(bank["path"].get<std::string>());
    }
    return paths;
}

/// Every entry of the folder but the listing.
std::set<std::string> entries(const fs::path& outDir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(outDir)) {
        if (entry.path().filename() != "instruments.json") {
            names.insert(entry.path().filename().string());
        }
    }
    return names;
}

/// Imports `font` into `outDir` in a child process that stops for good once
/// `banks` banks are done, then kills it there.
void importAndKillAfter(const std::string& font, const std::string& outDir, int banks) {
    int ready[2];
    int never[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(never), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ox::import::ImportOptions options;
        options.progress = [&](int done, int) {
            if (done == banks) {
                char byte = 1;
                (void)!::write(ready[1], &byte, 1);
                (void)!::read(never[0], &byte, 1); // the parent never writes: wait for the kill
            }
        };
        try {
            ox::import::importSource(font, outDir, options);
        } catch (...) {
        }
        ::_exit(1); // only reached when the import ended before the kill
    }
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1) << "the import never reached bank " << banks;
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    for (int fd : {ready[0], ready[1], never[0], never[1]}) {
        ::close(fd);
    }
}

} // namespace

TEST(InterruptedImport, KilledImportIsListedExactlyAndTheNextOneClearsItsLeftovers) {
    TempDir dir;
    const std::string font = dir.file("font.sf2");
    writeFile(font, oxsf::demo::sf2Bytes(oxsf::demo::demoSoundFont(5)));
    const fs::path out = dir.path() / "banks";

    importAndKillAfter(font, out.string(), 2);
    const std::set<std::string> listed = listedPaths(out);
    EXPECT_EQ(listed.size(), 2u);
    EXPECT_EQ(entries(out), listed);
    ox::soundfont::SoundFontManager manager;
    for (const std::string& path : listed) {
        EXPECT_TRUE(manager.addDirectory((out / path).string())) << path;
    }

    // What a kill at any other moment leaves: a bank half staged, one set aside
    // for replacement whose replacement never came, a listing half written.
    const std::string setAside = *listed.begin();
    fs::rename(out / setAside, out / (setAside + ".old-0123abcd"));
    writeFile((out / ".005-000-x.tmp-Ab12Cd" / "Samples" / "a.flac").string(), "half");
    writeFile((out / "instruments.json.tmp").string(), "{\"ver");

    const auto result = ox::import::importSource(font, out.string(), {});
    EXPECT_EQ(result.banks.size(), 6u); // five programs and the kit
    EXPECT_EQ(listedPaths(out).size(), 6u);
    EXPECT_EQ(entries(out), listedPaths(out));
    EXPECT_TRUE(listedPaths(out).count(setAside));
}
