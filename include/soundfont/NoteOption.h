#pragma once

#include <soundfont/Export.h>

#include <cstdint>
#include <string>

/// \file
/// Note options: the further playing attribute of a sample ("slow", "shs", ...).

namespace ox::soundfont {

/// A further playing attribute of a sample ("slow", "shs", ...); 0 when none. A bank
/// names it in a Sample's "option" attribute; the tree keeps its number as component
/// SampleCoordinate::Option, which searches give no weight.
///
/// Plain value: copies own nothing. Nothing throws: an unknown word is None.
///
/// Threads: plain data; every call may run on an audio thread (stringToInt
/// compares text and allocates nothing).
class OXSF_EXPORT NoteOption {
public:
    /// The option numbers; each is the number of the word in its comment.
    enum Value : int32_t {
        None = 0,   ///< "none", and every word not listed here
        Slow = 1,   ///< "slow"
        Medium = 2, ///< "medium"
        Fast = 3,   ///< "fast"
        XFast = 4,  ///< "xfast"
        Shs = 5,    ///< "shs"
        Shf = 6,    ///< "shf"
        Mds = 7,    ///< "mds"
        Mdf = 8,    ///< "mdf"
        Lns = 9,    ///< "lns"
        Lnf = 10,   ///< "lnf"
    };

    /// Holds `value`; implicit, so a Value converts to a NoteOption.
    NoteOption(Value value = None) : m_value(value) {}
    /// Copies the value.
    ///@{
    NoteOption(const NoteOption&) = default;
    NoteOption(NoteOption&&) = default;
    NoteOption& operator=(const NoteOption&) = default;
    NoteOption& operator=(NoteOption&&) = default;
    ///@}

    /// Whether both hold the same value.
    bool operator==(const NoteOption& other) const { return m_value == other.m_value; }
    /// Replaces the value.
    void setValue(Value value) { m_value = value; }
    /// The value held; None unless one was given.
    Value value() const { return m_value; }

    /// The number of an option keyword (exact, case-sensitive); 0 for anything else.
    static int stringToInt(const std::string& text);

private:
    Value m_value;
};

} // namespace ox::soundfont
