#include "support/TestSupport.h"

#include <oxprof/oxprof.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

/// Keeps "category/name args" of every event.
void record(const char* category, const char* name, const char* args, void* user) {
    static_cast<std::vector<std::string>*>(user)->push_back(std::string(category) + "/" + name +
                                                            " " + args);
}

oxprof_value* countArgs(int count) {
    oxprof_value* object = oxprof_json_make_object();
    oxprof_json_object_add_value(object, "Count", oxprof_json_make_int(count));
    return object;
}

/// Leaves the process-wide profiler as a test found it: no sink, no trace, nothing ignored.
struct ProfilerTest : testing::Test {
    ~ProfilerTest() override {
        oxprof_set_sink(nullptr, nullptr);
        oxprof_stop_trace();
        oxprof_clear_ignored();
    }
};

} // namespace

TEST_F(ProfilerTest, SinkSeesEventsThatAreNotIgnored) {
    EXPECT_TRUE(oxprof_should_ignore("AudioCache") && oxprof_should_ignore(nullptr));
    // With nowhere to go, an event is simply released.
    oxprof_counter_event("AudioCache", "Samples", countArgs(1));

    std::vector<std::string> seen;
    oxprof_set_sink(&record, &seen);
    EXPECT_FALSE(oxprof_should_ignore("AudioCache"));

    oxprof_value* args = oxprof_json_make_object();
    oxprof_json_object_add_value(args, "b", oxprof_json_make_int(-2));
    oxprof_json_object_add_value(args, "a", oxprof_json_make_int(1));
    oxprof_value* inner = oxprof_json_make_object();
    oxprof_json_object_add_value(inner, "x\"y", oxprof_json_make_int(3));
    oxprof_json_object_add_value(args, "inner", inner);
    oxprof_json_object_add_value(args, "b", oxprof_json_make_int(7)); // replaces, keeps its place
    // Misuse is ignored: no key, no value, the object itself, a number as the object.
    oxprof_json_object_add_value(args, nullptr, oxprof_json_make_int(2));
    oxprof_json_object_add_value(args, "none", nullptr);
    oxprof_json_object_add_value(args, "self", args);
    oxprof_value* number = oxprof_json_make_int(1);
    oxprof_json_object_add_value(number, "k", oxprof_json_make_int(2));
    oxprof_json_object_add_value(nullptr, "k", number);
    oxprof_counter_event("AudioCache", "Samples", args);
    oxprof_counter_event("Other", "Nothing", nullptr);

    oxprof_ignore_category("Other");
    EXPECT_TRUE(oxprof_should_ignore("Other"));
    EXPECT_FALSE(oxprof_should_ignore("AudioCache"));
    oxprof_counter_event("Other", "Dropped", countArgs(5));
    oxprof_clear_ignored();
    EXPECT_FALSE(oxprof_should_ignore("Other"));

    EXPECT_EQ(seen,
              (std::vector<std::string>{R"(AudioCache/Samples {"b":7,"a":1,"inner":{"x\"y":3}})",
                                        "Other/Nothing {}"}));

    oxprof_set_sink(nullptr, nullptr);
    EXPECT_TRUE(oxprof_should_ignore("AudioCache"));
}

TEST_F(ProfilerTest, TraceFileIsValidTraceEventJson) {
    oxtest::TempDir dir;
    const std::string path = dir.file("trace.json");
    EXPECT_FALSE(oxprof_start_trace(dir.file("missing/folder/trace.json").c_str()));
    EXPECT_FALSE(oxprof_start_trace(nullptr));

    // An empty trace is valid too.
    ASSERT_TRUE(oxprof_start_trace(path.c_str()));
    oxprof_stop_trace();
    EXPECT_TRUE(nlohmann::json::parse(oxtest::readFile(path)).empty());

    ASSERT_TRUE(oxprof_start_trace(path.c_str()));
    EXPECT_FALSE(oxprof_should_ignore("AudioCache"));
    oxprof_counter_event("AudioCache", "Samples", countArgs(3));
    oxprof_counter_event("Cat\n", "Name\\", countArgs(4));
    oxprof_ignore_category("Cat\n");
    oxprof_counter_event("Cat\n", "Dropped", countArgs(5));
    oxprof_stop_trace();
    oxprof_stop_trace(); // twice is harmless

    const nlohmann::json trace = nlohmann::json::parse(oxtest::readFile(path));
    ASSERT_TRUE(trace.is_array());
    ASSERT_EQ(trace.size(), 2u);
    const auto& first = trace[0];
    EXPECT_EQ(first["ph"], "C");
    EXPECT_EQ(first["args"]["Count"], 3);
    EXPECT_TRUE(first["ts"].is_number() && first["pid"].is_number_integer());
    EXPECT_EQ(trace[1]["cat"], "Cat\n"); // escaped in the file
    EXPECT_EQ(trace[1]["name"], "Name\\");
    EXPECT_GE(trace[1]["ts"].get<double>(), first["ts"].get<double>());
}
