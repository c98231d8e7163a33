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

    /// Prints the warning unless the same one was printed already.
    void warn(const std::string& file, const std::string& what) {
        const std::string line = file.empty() ? what : file + ": " + what;
        if (!m_printed.insert(line).second) {
            return;
        }
        if (m_progress) {
            m_progress->clear();
        }
        std::fprintf(stderr, "oxsf: warning: %s\n", line.c_str());
    }

    size_t count() const { return m_printed.size(); }

private:
    std::set<std::string> m_printed;
    Progress* m_progress = nullptr;
};

} // namespace oxsf
