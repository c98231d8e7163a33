#pragma once

#include "Progress.h"

#include <cstdio>
#include <set>
#include <string>

namespace oxsf {

/// The warnings of one command, each printed once on stderr as
/// "oxsf: warning: <file>: <what>", clearing a progress line first.
class Warnings {
public:
    void setProgress(Progress* progress) { m_progress = progress; }

    /// Prints the warning unless the same one was printed already. After
    /// kMaxShown different ones, a hostile input's flood is only counted.
    void warn(const std::string& file, const std::string& what) {
        const std::string line = file.empty() ? what : file + ": " + what;
        if (m_printed.size() == kMaxShown) {
            if (m_more++ == 0) {
                print("more warnings follow, not shown");
            }
            return;
        }
        if (m_printed.insert(line).second) {
            print(line);
        }
    }

    /// Warnings given, those not shown included.
    size_t count() const { return m_printed.size() + m_more; }

private:
    static constexpr size_t kMaxShown = 100;
    std::set<std::string> m_printed;
    size_t m_more = 0;
    Progress* m_progress = nullptr;

    void print(const std::string& line) {
        if (m_progress) {
            m_progress->clear();
        }
        std::fprintf(stderr, "oxsf: warning: %s\n", line.c_str());
    }
};

} // namespace oxsf
