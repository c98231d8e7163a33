#pragma once

#include <cstdint>
#include <string>

namespace oxsf {

/// A one-line progress display on stderr, shown only when stderr is a terminal.
class Progress {
public:
    Progress(std::string label, int64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(int64_t done);
    /// Clears the line for other output; the next update draws it again.
    void clear();
    /// Clears the line.
    void finish();

private:
    std::string m_label;
    int64_t m_total;
    int m_lastPercent = -1;
    bool m_enabled;
};

} // namespace oxsf
