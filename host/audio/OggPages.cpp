#include "OggPages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace ox::audio::detail {

namespace {

constexpr int64_t kHeaderBytes = 27;
constexpr int64_t kMaxPage = kHeaderBytes + 255 + 255 * 255;
// Header packets beyond this size (rare) are left to the decoder to judge.
constexpr int64_t kMaxHeaderScan = 1 << 20;

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit) {
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
            }
            t[i] = r;
        }
        return t;
    }();
    return table;
}

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

/// The length of the page at the start of `data` when it is whole and its
/// checksum matches; 0 otherwise.
int64_t checkedPageLength(const unsigned char* data, int64_t available) {
    if (available < kHeaderBytes || std::memcmp(data, "OggS", 4) != 0) {
        return 0;
    }
    const int segments = data[26];
    if (available < kHeaderBytes + segments) {
        return 0;
    }
    int64_t length = kHeaderBytes + segments;
    for (int i = 0; i < segments; ++i) {
        length += data[kHeaderBytes + i];
    }
    if (available < length) {
        return 0;
    }
    const auto& table = crcTable();
    uint32_t crc = 0;
    for (int64_t i = 0; i < length; ++i) {
        const unsigned char byte = (i >= 22 && i < 26) ? 0 : data[i];
        crc = (crc << 8) ^ table[((crc >> 24) ^ byte) & 0xff];
    }
    return crc == le32(data + 22) ? length : 0;
}

bool headerPagesIntact(const ox::stream::IStream& stream) {
    std::vector<unsigned char> page;
    unsigned char head[kHeaderBytes + 255];
    int64_t at = 0;
    int packets = 0;
    uint32_t serial = 0;
    while (packets < 3) {
        if (at >= kMaxHeaderScan) {
            return true;
        }
        // Read the header and lacing first, then exactly the page.
        const int64_t got = stream.readAt(at, head, sizeof head);
        if (got < kHeaderBytes || got < kHeaderBytes + head[26]) {
            return false;
        }
        int64_t length = kHeaderBytes + head[26];
        for (int i = 0; i < head[26]; ++i) {
            length += head[kHeaderBytes + i];
        }
        page.resize(static_cast<size_t>(length));
        if (stream.readAt(at, page.data(), length) != length ||
            checkedPageLength(page.data(), length) != length) {
            return false;
        }
        if (at == 0) {
            serial = le32(page.data() + 14);
        }
        if (le32(page.data() + 14) == serial) {
            for (int i = 0; i < page[26]; ++i) {
                if (page[size_t(kHeaderBytes + i)] < 255) {
                    ++packets;
                }
            }
        }
        at += length;
    }
    return true;
}

bool lastPageIntact(const ox::stream::IStream& stream) {
    const int64_t size = stream.size();
    const int64_t start = std::max<int64_t>(0, size - kMaxPage);
    std::vector<unsigned char> tail(static_cast<size_t>(size - start));
    if (stream.readAt(start, tail.data(), int64_t(tail.size())) != int64_t(tail.size())) {
        return false;
    }
    for (int64_t at = int64_t(tail.size()) - kHeaderBytes; at >= 0; --at) {
        const int64_t available = int64_t(tail.size()) - at;
        if (tail[size_t(at)] == 'O' &&
            checkedPageLength(tail.data() + at, available) == available) {
            return true;
        }
    }
    return false;
}

} // namespace

bool oggLooksIntact(const ox::stream::IStream& stream) {
    return headerPagesIntact(stream) && lastPageIntact(stream);
}

} // namespace ox::audio::detail
