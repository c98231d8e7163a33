#include "ToneBanks.h"

namespace oxtest {

std::string writeBank(const TempDir& dir, const std::string& name, bool kit,
                      const std::vector<std::pair<int, double>>& notes) {
    return writeSineBank(dir.file("banks/" + name), name, kit, notes);
}

} // namespace oxtest
