#include "CountingBank.h"

#include <soundfont/AudioCache.h>

#include <oxprof/oxprof.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using ox::soundfont::AudioCache;
using oxtest::CountingBank;

TEST(AudioCache, LoadsEachNameOnceAndShares) {
    CountingBank bank;
    bank.addTone("a.wav");
    AudioCache cache;
    auto first = cache.loadSample(bank, "a.wav");
    auto second = cache.loadSample(bank, "a.wav");
    ASSERT_TRUE(first.stream());
    EXPECT_EQ(first.stream(), second.stream());
    EXPECT_EQ(bank.opens("a.wav"), 1);
    EXPECT_EQ(cache.streamCount(), 1);
}

TEST(AudioCache, OptimizeMemoryDropsOnlyStreamsNobodyPlays) {
    CountingBank bank;
    bank.addTone("kept.wav");
    bank.addTone("dropped.wav");
    AudioCache cache;
    auto kept = cache.loadSample(bank, "kept.wav");
    cache.loadSample(bank, "dropped.wav"); // player destroyed at once

    cache.optimizeMemory();
    EXPECT_EQ(cache.streamCount(), 1);
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

TEST(AudioCache, KeepsAnEmptyResultUntilOptimized) {
    CountingBank bank;
    AudioCache cache;
    auto player = cache.loadSample(bank, "missing.wav");
    EXPECT_FALSE(player.stream());
    cache.loadSample(bank, "missing.wav");
    EXPECT_EQ(bank.opens("missing.wav"), 1) << "an empty result is cached too";
    EXPECT_EQ(cache.streamCount(), 1);
    EXPECT_EQ(cache.memoryByteCount(), 0);
    cache.optimizeMemory();
    EXPECT_EQ(cache.streamCount(), 0);
}

TEST(AudioCache, CountsTheBytesOfLiveStreams) {
    CountingBank bank;
    bank.addTone("a.wav", 500);
    bank.addTone("b.wav", 700);
    AudioCache cache;
    EXPECT_EQ(cache.memoryByteCount(), 0);
    auto a = cache.loadSample(bank, "a.wav");
    auto b = cache.loadSample(bank, "b.wav");
    const auto expected = a.stream()->byteCount() + b.stream()->byteCount();
    EXPECT_GT(expected, 0u);
    EXPECT_EQ(cache.memoryByteCount(), static_cast<int>(expected));
}

TEST(AudioCache, SecondBankWithTheSameFileNameGetsTheFirstStream) {
    CountingBank first, second;
    first.addTone("same.wav");
    second.addTone("same.wav");
    AudioCache cache;
    auto a = cache.loadSample(first, "same.wav");
    auto b = cache.loadSample(second, "same.wav");
    EXPECT_EQ(a.stream(), b.stream());
    EXPECT_EQ(second.opens("same.wav"), 0);
}

TEST(AudioCache, HousekeepingNeverWaitsForALoad) {
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
    bank.release();
    loader.join();
    EXPECT_EQ(cache.streamCount(), 2) << "the skipped optimizeMemory changed nothing";
}

namespace {

struct SeenEvent {
    std::string category, name, args;
};

void collect(const char* category, const char* name, const char* args, void* user) {
    static_cast<std::vector<SeenEvent>*>(user)->push_back({category, name, args ? args : ""});
}

} // namespace

TEST(AudioCache, ReportsTheRemainingCountToTheProfiler) {
    std::vector<SeenEvent> events;
    oxprof_set_sink(collect, &events);
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

    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].category, "AudioCache");
    EXPECT_EQ(events[0].name, "Samples");
    EXPECT_EQ(events[0].args, R"({"Count":0})");
    EXPECT_EQ(events[1].args, R"({"Count":1})");
}
