// Velocity changes on one thread while others read the bank and the catalogue.
#include "support/TestSupport.h"

#include <soundfont/SoundFontManager.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(CatalogueConcurrency, VelocityChangesWhileOthersRead) {
    oxtest::TempDir dir;
    oxtest::writeFile(dir.file("bank/Samples.xml"), R"(<Bank id="c" velocity="0.25"/>)");
    ox::soundfont::SoundFontManager manager;
    const auto bank = manager.addDirectory(dir.file("bank"));
    ASSERT_TRUE(bank);

    std::atomic<bool> done{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!done.load()) {
                const float v = bank->velocity();
                if (v != 0.25f && v != 0.5f && v != 0.75f) {
                    ++unexpected;
                }
                if (manager.soundFont(dir.file("bank")) != bank ||
                    manager.soundFontFromId("c") != bank) {
                    ++unexpected;
                }
            }
        });
    }
    for (int i = 0; i < 20000; ++i) {
        bank->setVelocity(i % 2 ? 0.5f : 0.75f);
    }
    done = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(unexpected.load(), 0);
    EXPECT_FLOAT_EQ(bank->velocity(), 0.5f);
}
