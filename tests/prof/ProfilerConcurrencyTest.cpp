#include "support/TestSupport.h"

#include <oxprof/oxprof.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

TEST(ProfilerConcurrency, EventsFromManyThreadsAllArrive) {
    oxtest::TempDir dir;
    const std::string path = dir.file("trace.json");
    ASSERT_TRUE(oxprof_start_trace(path.c_str()));
    std::atomic<int> sunk{0};
    oxprof_set_sink([](const char*, const char*, const char*,
                       void* user) { ++*static_cast<std::atomic<int>*>(user); },
                    &sunk);

    constexpr int kThreads = 4;
    constexpr int kEvents = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEvents; ++i) {
                if (oxprof_should_ignore("Load")) {
                    continue;
                }
                oxprof_value* args = oxprof_json_make_object();
                oxprof_json_object_add_value(args, "Thread", oxprof_json_make_int(t));
                oxprof_json_object_add_value(args, "Index", oxprof_json_make_int(i));
                oxprof_counter_event("Load", "Events", args);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    oxprof_set_sink(nullptr, nullptr);
    oxprof_stop_trace();

    EXPECT_EQ(sunk.load(), kThreads * kEvents);
    const nlohmann::json trace = nlohmann::json::parse(oxtest::readFile(path));
    ASSERT_EQ(trace.size(), size_t(kThreads * kEvents));
    std::set<int> tids;
    for (const auto& event : trace) {
        tids.insert(event["tid"].get<int>());
    }
    EXPECT_EQ(tids.size(), size_t(kThreads));
}
