#include "Progress.h"

#include <cstdio>
#include <unistd.h>

namespace oxsf {

Progress::Progress(std::string label, int64_t total)
    : m_label(std::move(label)), m_total(total), m_enabled(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
    finish();
}

void Progress::update(int64_t done) {
    if (!m_enabled) {
        return;
    }
    if (m_total <= 0) { // no count to show: just say what is going on
        if (m_lastPercent < 0) {
            m_lastPercent = 0;
            std::fprintf(stderr, "\r%s ...", m_label.c_str());
            std::fflush(stderr);
        }
        return;
    }
    const int percent = static_cast<int>(done * 100 / m_total);
    if (percent == m_lastPercent) {
        return;
    }
    m_lastPercent = percent;
    std::fprintf(stderr, "\r%s %3d%% (%lld/%lld)", m_label.c_str(), percent,
                 static_cast<long long>(done), static_cast<long long>(m_total));
    std::fflush(stderr);
}

void Progress::clear() {
    if (m_enabled && m_lastPercent >= 0) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    m_lastPercent = -1;
}

void Progress::finish() {
    clear();
    m_enabled = false;
}

} // namespace oxsf
