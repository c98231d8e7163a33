#pragma once

// Hand-made archive bytes, for archives the writer would never produce.

#include <cstdint>
#include <string>

namespace archivetest {

inline std::string le(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(char((value >> (8 * i)) & 0xff));
    }
    return out;
}

inline std::string header(uint32_t count, uint32_t indexOffset, uint32_t word9 = 0,
                          uint32_t word17 = 0, const std::string& magic = "OXARCHIVE") {
    return magic + le(word9, 4) + le(count, 4) + le(word17, 4) + le(indexOffset, 4);
}

inline std::string record(int64_t offset, uint32_t size, const std::string& name) {
    return le(uint64_t(offset), 8) + le(size, 4) + name + '\0';
}

} // namespace archivetest
