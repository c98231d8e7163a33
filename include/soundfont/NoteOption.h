#pragma once

#include <soundfont/Export.h>

#include <cstdint>
#include <string>

namespace ox::soundfont {

/// A further playing attribute of a sample ("slow", "shs", ...); 0 when none.
/// Threads: plain data; every call may run on an audio thread (stringToInt
/// compares text and allocates nothing).
class OXSF_EXPORT NoteOption {
public:
    enum Value : int32_t {
        None = 0,
        Slow = 1,
        Medium = 2,
        Fast = 3,
        XFast = 4,
        Shs = 5,
        Shf = 6,
        Mds = 7,
        Mdf = 8,
        Lns = 9,
        Lnf = 10,
    };

    NoteOption(Value value = None) : value_(value) {}
    NoteOption(const NoteOption&) = default;
    NoteOption(NoteOption&&) = default;
    NoteOption& operator=(const NoteOption&) = default;
    NoteOption& operator=(NoteOption&&) = default;

    bool operator==(const NoteOption& other) const { return value_ == other.value_; }
    void setValue(Value value) { value_ = value; }
    Value value() const { return value_; }

    /// The number of an option keyword (exact, case-sensitive); 0 for anything else.
    static int stringToInt(const std::string& text);

private:
    Value value_;
};

} // namespace ox::soundfont
