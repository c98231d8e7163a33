#include "CountingBank.h"

#include <soundfont/AudioCache.h>

#include <oxprof/oxprof.h>

#include <gtest/gtest.h>

#include <thread>

using ox::soundfont::AudioCache;
using oxtest::CountingBank;

TEST(AudioCache, SharesOneStreamPerNameAndDropsOnlyThoseNobodyPlays) {
    CountingBank bank, other;
    bank.addTone("kept.wav", 500);
    bank.addTone("dropped.wav", 700);
    other.addTone("kept.wav", 500);
    AudioCache cache;
    EXPECT_EQ(cache.memoryByteCount(), 0);
    auto kept = cache.loadSample(bank, "kept.wav");
    ASSERT_TRUE(kept.stream());
    // The cache keys by file name alone, across banks.
    EXPECT_EQ(cache.loadSample(other, "kept.wav").stream(), kept.stream());
    EXPECT_EQ(other.opens("kept.wav"), 0);
    const auto keptBytes = kept.stream()->byteCount();
    const auto droppedBytes = cache.loadSample(bank, "dropped.wav").stream()->byteCount();
    EXPECT_EQ(cache.memoryByteCount(), int(keptBytes + droppedBytes));
    // An empty result is cached too, and weighs nothing.
    EXPECT_FALSE(cache.loadSample(bank, "missing.wav").stream());
    cache.loadSample(bank, "missing.wav");
    EXPECT_EQ(bank.opens("missing.wav"), 1);
    EXPECT_EQ(cache.streamCount(), 3);

    cache.optimizeMemory();
    EXPECT_EQ(cache.streamCount(), 1);
    EXPECT_EQ(cache.memoryByteCount(), int(keptBytes));
    auto again = cache.loadSample(bank, "kept.wav");
    EXPECT_EQ(again.stream(), kept.stream());
    EXPECT_EQ(bank.opens("kept.wav"), 1);

    kept = ox::audio::TQ7SamplePlayer(nullptr);
    cache.optimizeMemory();
    EXPECT_EQ(cache.streamCount(), 1) << "a player still holds the stream";
    again = ox::audio::TQ7SamplePlayer(nullptr);
    cache.optimizeMemory();
    EXPECT_EQ(cache.streamCount(), 0);

    cache.loadSample(bank, "kept.wav");
    EXPECT_EQ(bank.opens("kept.wav"), 2) << "an erased entry is opened afresh";
}

TEST(AudioCache, HousekeepingAndTriedLoadsNeverWaitForALoad) {
    CountingBank bank;
    bank.addTone("slow.wav");
    bank.addTone("other.wav");
    AudioCache cache;
    auto other = cache.loadSample(bank, "other.wav");

    bank.hold();
    std::thread loader([&] { cache.loadSample(bank, "slow.wav"); });
    bank.waitUntilEntered();
    // The loader holds the cache's lock inside audioStream: both calls give up at once.
    EXPECT_EQ(cache.memoryByteCount(), 0);
    cache.optimizeMemory();
    EXPECT_FALSE(cache.tryLoadSample("other.wav"));
    bank.release();
    loader.join();
    EXPECT_EQ(cache.streamCount(), 2) << "the skipped optimizeMemory changed nothing";
    // Free again: cached names are served, others are not opened.
    EXPECT_EQ(cache.tryLoadSample("other.wav")->stream(), other.stream());
    EXPECT_FALSE(cache.tryLoadSample("unloaded.wav"));
    EXPECT_EQ(bank.opens("unloaded.wav"), 0);
}

TEST(AudioCache, ReportsTheRemainingCountToTheProfiler) {
    std::vector<std::string> events;
    oxprof_set_sink(
        [](const char* category, const char* name, const char* args, void* user) {
            static_cast<std::vector<std::string>*>(user)->push_back(std::string(category) + "/" +
                                                                    name + " " + args);
        },
        &events);
    CountingBank bank;
    bank.addTone("a.wav");
    AudioCache cache;
    cache.optimizeMemory();
    auto player = cache.loadSample(bank, "a.wav");
    cache.optimizeMemory();
    oxprof_ignore_category("AudioCache");
    cache.optimizeMemory();
    oxprof_clear_ignored();
    oxprof_set_sink(nullptr, nullptr);

    EXPECT_EQ(events, (std::vector<std::string>{R"(AudioCache/Samples {"Count":0})",
                                                R"(AudioCache/Samples {"Count":1})"}));
}
