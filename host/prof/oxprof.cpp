#include <oxprof/oxprof.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

// A JSON value: an integer or an object whose members keep their insertion order.
struct oxprof_value {
    enum class Kind { Int, Object };
    Kind kind = Kind::Int;
    long long number = 0;
    std::vector<std::pair<std::string, std::unique_ptr<oxprof_value>>> members;
};

namespace {

void appendString(std::string& out, const char* text) {
    out += '"';
    for (const char* c = text ? text : ""; *c; ++c) {
        const unsigned char ch = static_cast<unsigned char>(*c);
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (ch < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
                out += escaped;
            } else {
                out += static_cast<char>(ch);
            }
        }
    }
    out += '"';
}

void appendValue(std::string& out, const oxprof_value& value) {
    if (value.kind == oxprof_value::Kind::Int) {
        out += std::to_string(value.number);
        return;
    }
    out += '{';
    bool first = true;
    for (const auto& [key, member] : value.members) {
        if (!first) {
            out += ',';
        }
        first = false;
        appendString(out, key.c_str());
        out += ':';
        appendValue(out, *member);
    }
    out += '}';
}

/// Process-wide profiler state; all of it guarded by `mutex`. The sink is called
/// with the mutex held, so it must not call back into the profiler.
struct Profiler {
    std::mutex mutex;
    std::FILE* trace = nullptr;
    bool firstEvent = true;
    std::set<std::string> ignored;
    oxprof_sink sink = nullptr;
    void* sinkUser = nullptr;
    const std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();

    bool ignores(const char* category) const {
        return (!trace && !sink) || ignored.count(category ? category : "") > 0;
    }

    // The trace is a JSON array of events, closed when the trace stops; viewers
    // also accept an array left open by a process that died.
    void stopTrace() {
        if (!trace) {
            return;
        }
        std::fputs("\n]\n", trace);
        std::fclose(trace);
        trace = nullptr;
    }

    void writeEvent(const char* category, const char* name, const std::string& args) {
        const double micros =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - epoch)
                .count();
        std::string line = firstEvent ? "\n" : ",\n";
        firstEvent = false;
        line += "{\"ph\":\"C\",\"name\":";
        appendString(line, name);
        line += ",\"cat\":";
        appendString(line, category);
        char numbers[96];
        std::snprintf(numbers, sizeof numbers,
                      ",\"ts\":%.3f,\"pid\":%ld,\"tid\":%d,\"args\":", micros,
                      static_cast<long>(::getpid()), threadId());
        line += numbers;
        line += args;
        line += '}';
        std::fputs(line.c_str(), trace);
        std::fflush(trace);
    }

    static int threadId() {
        static std::atomic<int> next{1};
        thread_local const int id = next++;
        return id;
    }
};

// Never destroyed, so that events sent from other static destructors stay safe;
// the trace itself is finished when the library unloads.
Profiler& profiler() {
    static Profiler* instance = new Profiler;
    return *instance;
}

struct TraceFinisher {
    ~TraceFinisher() {
        Profiler& p = profiler();
        std::lock_guard lock(p.mutex);
        p.stopTrace();
    }
} traceFinisher;

} // namespace

extern "C" {

bool oxprof_should_ignore(const char* category) {
    Profiler& p = profiler();
    std::lock_guard lock(p.mutex);
    return p.ignores(category);
}

oxprof_value* oxprof_json_make_object(void) {
    auto* value = new oxprof_value;
    value->kind = oxprof_value::Kind::Object;
    return value;
}

oxprof_value* oxprof_json_make_int(int number) {
    auto* value = new oxprof_value;
    value->number = number;
    return value;
}

void oxprof_json_object_add_value(oxprof_value* object, const char* key, oxprof_value* value) {
    std::unique_ptr<oxprof_value> owned(value == object ? nullptr : value);
    if (!object || object->kind != oxprof_value::Kind::Object || !key || !owned) {
        return;
    }
    // A repeated key replaces the earlier value so the object stays valid JSON.
    for (auto& [existing, member] : object->members) {
        if (existing == key) {
            member = std::move(owned);
            return;
        }
    }
    object->members.emplace_back(key, std::move(owned));
}

void oxprof_counter_event(const char* category, const char* name, oxprof_value* args) {
    std::unique_ptr<oxprof_value> owned(args);
    Profiler& p = profiler();
    std::lock_guard lock(p.mutex);
    if (p.ignores(category)) {
        return;
    }
    std::string json;
    if (owned) {
        appendValue(json, *owned);
    } else {
        json = "{}";
    }
    if (p.trace) {
        p.writeEvent(category, name, json);
    }
    if (p.sink) {
        p.sink(category ? category : "", name ? name : "", json.c_str(), p.sinkUser);
    }
}

bool oxprof_start_trace(const char* path) {
    Profiler& p = profiler();
    std::lock_guard lock(p.mutex);
    p.stopTrace();
    if (!path) {
        return false;
    }
    p.trace = std::fopen(path, "w");
    if (!p.trace) {
        return false;
    }
    p.firstEvent = true;
    std::fputs("[", p.trace);
    std::fflush(p.trace);
    return true;
}

void oxprof_stop_trace(void) {
    Profiler& p = profiler();
    std::lock_guard lock(p.mutex);
    p.stopTrace();
}

void oxprof_ignore_category(const char* category) {
    Profiler& p = profiler();
    std::lock_guard lock(p.mutex);
    p.ignored.insert(category ? category : "");
}

void oxprof_clear_ignored(void) {
    Profiler& p = profiler();
    std::lock_guard lock(p.mutex);
    p.ignored.clear();
}

void oxprof_set_sink(oxprof_sink sink, void* user) {
    Profiler& p = profiler();
    std::lock_guard lock(p.mutex);
    p.sink = sink;
    p.sinkUser = sink ? user : nullptr;
}

} // extern "C"
