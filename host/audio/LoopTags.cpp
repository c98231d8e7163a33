#include "LoopTags.h"

#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace ox::audio::detail {

namespace {

// Comment blocks larger than this (cover art, usually) are not worth reading for a loop.
constexpr int64_t kMaxCommentBytes = 1 << 20;

bool equalsIgnoringCase(std::string_view text, std::string_view key) {
    if (text.size() != key.size()) {
        return false;
    }
    for (size_t i = 0; i < key.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != key[i]) {
            return false;
        }
    }
    return true;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// The value of the first well-formed "<key> = <digits>" in `text`.
std::optional<int64_t> findTag(std::string_view text, std::string_view key) {
    for (size_t at = 0; at + key.size() <= text.size(); ++at) {
        if (!equalsIgnoringCase(text.substr(at, key.size()), key)) {
            continue;
        }
        size_t i = at + key.size();
        while (i < text.size() && isSpace(text[i])) {
            ++i;
        }
        if (i >= text.size() || (text[i] != '=' && text[i] != ':')) {
            continue;
        }
        ++i;
        while (i < text.size() && isSpace(text[i])) {
            ++i;
        }
        int64_t value = 0;
        int digits = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) &&
               digits <= 18) {
            value = value * 10 + (text[i] - '0');
            ++digits;
            ++i;
        }
        // More than 18 digits cannot be a frame position; keep looking.
        if (digits > 0 && digits <= 18) {
            return value;
        }
    }
    return std::nullopt;
}

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

/// Scans the entries of a Vorbis comment structure (vendor, count, entries).
void scanVorbisComment(const unsigned char* data, size_t size, LoopTags& tags) {
    size_t at = 0;
    auto take32 = [&](uint32_t& value) {
        if (size - at < 4) {
            return false;
        }
        value = le32(data + at);
        at += 4;
        return true;
    };
    uint32_t vendorLength = 0;
    if (!take32(vendorLength) || vendorLength > size - at) {
        return;
    }
    at += vendorLength;
    uint32_t count = 0;
    if (!take32(count)) {
        return;
    }
    for (uint32_t i = 0; i < count && !tags.complete(); ++i) {
        uint32_t length = 0;
        if (!take32(length) || length > size - at) {
            return;
        }
        scanLoopTags(std::string_view(reinterpret_cast<const char*>(data + at), length), tags);
        at += length;
    }
}

bool readExactly(const ox::stream::IStream& stream, int64_t offset, void* buffer, int64_t count) {
    return stream.readAt(offset, buffer, count) == count;
}

} // namespace

void scanLoopTags(std::string_view text, LoopTags& tags) {
    if (!tags.start) {
        tags.start = findTag(text, "LOOPSTART");
    }
    if (!tags.length) {
        tags.length = findTag(text, "LOOPLENGTH");
    }
}

void readFlacLoopTags(const ox::stream::IStream& stream, LoopTags& tags) {
    std::array<unsigned char, 10> head{};
    int64_t at = 0;
    if (!readExactly(stream, 0, head.data(), 10)) {
        return;
    }
    if (std::memcmp(head.data(), "ID3", 3) == 0) {
        // An ID3v2 tag may precede the stream; its size is stored 7 bits per byte.
        at = 10 + (int64_t(head[6] & 0x7f) << 21 | int64_t(head[7] & 0x7f) << 14 |
                   int64_t(head[8] & 0x7f) << 7 | int64_t(head[9] & 0x7f));
        if (head[5] & 0x10) {
            at += 10;
        }
        if (!readExactly(stream, at, head.data(), 4)) {
            return;
        }
    }
    if (std::memcmp(head.data(), "fLaC", 4) != 0) {
        return;
    }
    at += 4;
    for (int block = 0; block < 128; ++block) {
        if (!readExactly(stream, at, head.data(), 4)) {
            return;
        }
        const int type = head[0] & 0x7f;
        const bool last = head[0] & 0x80;
        const int64_t length = int64_t(head[1]) << 16 | int64_t(head[2]) << 8 | head[3];
        at += 4;
        if (type == 4 && length <= kMaxCommentBytes) {
            std::vector<unsigned char> body(static_cast<size_t>(length));
            if (!readExactly(stream, at, body.data(), length)) {
                return;
            }
            scanVorbisComment(body.data(), body.size(), tags);
            return;
        }
        if (last) {
            return;
        }
        at += length;
    }
}

void readOggLoopTags(const ox::stream::IStream& stream, LoopTags& tags) {
    // Reassemble the first two packets of the first logical stream from its pages;
    // the second packet of a Vorbis stream is its comment header.
    std::vector<unsigned char> packet;
    int packetsDone = 0;
    int64_t at = 0;
    uint32_t serial = 0;
    bool haveSerial = false;
    std::array<unsigned char, 27> header{};
    std::array<unsigned char, 255> lacing{};
    while (packetsDone < 2 && at < 4 * kMaxCommentBytes) {
        if (!readExactly(stream, at, header.data(), 27) ||
            std::memcmp(header.data(), "OggS", 4) != 0) {
            return;
        }
        const int segments = header[26];
        if (!readExactly(stream, at + 27, lacing.data(), segments)) {
            return;
        }
        int64_t payload = at + 27 + segments;
        int64_t payloadSize = 0;
        for (int s = 0; s < segments; ++s) {
            payloadSize += lacing[s];
        }
        const uint32_t pageSerial = le32(header.data() + 14);
        if (!haveSerial) {
            serial = pageSerial;
            haveSerial = true;
        }
        if (pageSerial == serial) {
            for (int s = 0; s < segments && packetsDone < 2; ++s) {
                if (packetsDone == 1) {
                    if (int64_t(packet.size()) + lacing[s] > kMaxCommentBytes) {
                        return;
                    }
                    const size_t old = packet.size();
                    packet.resize(old + lacing[s]);
                    if (!readExactly(stream, payload, packet.data() + old, lacing[s])) {
                        return;
                    }
                }
                payload += lacing[s];
                if (lacing[s] < 255) {
                    ++packetsDone;
                }
            }
        }
        at += 27 + segments + payloadSize;
    }
    if (packetsDone < 2 || packet.size() < 7 || std::memcmp(packet.data(), "\x03vorbis", 7) != 0) {
        return;
    }
    scanVorbisComment(packet.data() + 7, packet.size() - 7, tags);
}

} // namespace ox::audio::detail
