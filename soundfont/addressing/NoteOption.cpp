#include <soundfont/NoteOption.h>

#include <array>
#include <string_view>

namespace ox::soundfont {

int NoteOption::stringToInt(const std::string& text) {
    // Index = value; the whole word must match, so "fast " or "Fast" stay unknown.
    static constexpr std::array<std::string_view, 11> words{
        "none", "slow", "medium", "fast", "xfast", "shs", "shf", "mds", "mdf", "lns", "lnf",
    };
    for (std::size_t value = 1; value < words.size(); ++value) {
        if (text == words[value]) {
            return static_cast<int>(value);
        }
    }
    return None;
}

} // namespace ox::soundfont
