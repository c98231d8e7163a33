// Runs in a process of its own, so that the threads below are the first users of
// the coordinate table and of every vocabulary table.
#include <soundfont/NoteOption.h>
#include <soundfont/SampleCoordinate.h>
#include <soundfont/Soundworld.h>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

using namespace ox::soundfont;

TEST(AddressingFirstUse, ManyThreadsAtOnce) {
    constexpr int kThreads = 16;
    std::latch start(kThreads);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            const SampleCoordinate c;
            bool ok = c[2] == 9 && c[0] == -1 && c.uniqueId() == 0xAEF85D16u;
            SampleCoordinate other = c;
            other[2] = 11;
            ok = ok && c.distance(other) == 80.0f;
            ok = ok && PitchedSoundworld::attackFromString("harmonic") == 2;
            ok = ok && PitchedSoundworld::techniqueFromString("hit") == 3;
            ok = ok && PitchedSoundworld::variationFromString("4:5") == 9;
            ok = ok && UnpitchedSoundworld::attackFromString("finger4") == 7;
            ok = ok && UnpitchedSoundworld::techniqueFromString("scrape") == 1;
            ok = ok && UnpitchedSoundworld::variationFromString("none") == 18;
            ok = ok && Soundworld::typeFromString("unpitched") == 1;
            ok = ok && NoteOption::stringToInt("lnf") == 10;
            ok = ok && SampleCoordinate::getAmplitude(2)()(0) == 1.0f;
            if (!ok) {
                failures.fetch_add(1);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}
