#include "Sf3.h"

#include "Sf2Check.h"

#include <ox/import/Import.h>

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace ox::import {

namespace {

constexpr uint32_t kCompressed = 0x0010; // sample type bit: Ogg Vorbis data
constexpr uint32_t kRom = 0x8000;
constexpr size_t kHeaderBytes = 46;
constexpr int kPadFrames = 46; // zero frames SF2 wants after every sample

uint32_t le(const char* p, int bytes) {
    return littleEndian(p, bytes);
}

void putLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += char((value >> (8 * i)) & 0xff);
    }
}

void setLe(char* p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = char((value >> (8 * i)) & 0xff);
    }
}

struct Chunk {
    std::string id;
    const char* data;
    uint32_t size;
};

/// The chunks of a RIFF list body (the structure check has bounded them all).
std::vector<Chunk> chunksOf(const char* data, uint64_t size) {
    std::vector<Chunk> chunks;
    for (uint64_t at = 0; at + 8 <= size;) {
        const uint32_t bytes = le(data + at + 4, 4);
        if (at + 8 + bytes > size) {
            break;
        }
        chunks.push_back({std::string(data + at, 4), data + at + 8, bytes});
        at += 8 + uint64_t(bytes) + (bytes & 1);
    }
    return chunks;
}

std::string chunk(const std::string& id, const std::string& body) {
    std::string out = id;
    putLe(out, uint32_t(body.size()), 4);
    out += body;
    if (body.size() & 1) {
        out += '\0';
    }
    return out;
}

/// An Ogg Vorbis stream in memory, read through libsndfile.
struct Memory {
    const char* data;
    sf_count_t size;
    sf_count_t at = 0;
};

sf_count_t memoryLength(void* user) {
    return static_cast<Memory*>(user)->size;
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<Memory*>(user);
    const sf_count_t base = whence == SEEK_CUR ? m->at : whence == SEEK_END ? m->size : 0;
    m->at = std::clamp<sf_count_t>(base + offset, 0, m->size);
    return m->at;
}

sf_count_t memoryRead(void* out, sf_count_t count, void* user) {
    auto* m = static_cast<Memory*>(user);
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, m->size - m->at);
    std::memcpy(out, m->data + m->at, size_t(n));
    m->at += n;
    return n;
}

sf_count_t memoryWrite(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t memoryTell(void* user) {
    return static_cast<Memory*>(user)->at;
}

/// The decoded 16-bit frames of one Ogg Vorbis sample (its first channel);
/// false when it does not decode.
bool decodeVorbis(const char* data, uint32_t size, std::vector<int16_t>& frames) {
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    Memory memory{data, sf_count_t(size)};
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &memory);
    if (!file) {
        return false;
    }
    const bool vorbis = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS;
    std::vector<int16_t> block(size_t(4096) * size_t(std::max(info.channels, 1)));
    frames.clear();
    sf_count_t got = 0;
    while (vorbis && (got = sf_readf_short(file, block.data(), 4096)) > 0) {
        for (sf_count_t i = 0; i < got; ++i) {
            frames.push_back(block[size_t(i * info.channels)]);
        }
    }
    sf_close(file);
    return vorbis;
}

std::string temporaryPath() {
    static std::atomic<int> count{0};
    return (fs::temp_directory_path() /
            ("oxsf-sf3-" + std::to_string(getpid()) + "-" + std::to_string(count++) + ".sf2"))
        .string();
}

} // namespace

ExpandedFont::~ExpandedFont() {
    std::error_code ignored;
    fs::remove(m_path, ignored);
}

std::unique_ptr<ExpandedFont> expandCompressedSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (file.size() < 12) {
        return nullptr;
    }
    std::string info;
    const char* smpl = nullptr;
    uint32_t smplBytes = 0;
    std::vector<Chunk> pdta;
    for (const Chunk& list : chunksOf(file.data() + 12, file.size() - 12)) {
        if (list.id != "LIST" || list.size < 4) {
            continue;
        }
        const std::string type(list.data, 4);
        const auto parts = chunksOf(list.data + 4, list.size - 4);
        if (type == "INFO") {
            info.assign(list.data, list.size);
        } else if (type == "sdta") {
            for (const Chunk& c : parts) {
                if (c.id == "smpl") {
                    smpl = c.data;
                    smplBytes = c.size;
                }
            }
        } else if (type == "pdta") {
            pdta = parts;
        }
    }
    std::string headers;
    for (const Chunk& c : pdta) {
        if (c.id == "shdr") {
            headers.assign(c.data, c.size);
        }
    }
    const size_t samples = headers.size() / kHeaderBytes;
    bool compressed = false;
    for (size_t i = 0; i + 1 < samples; ++i) {
        compressed = compressed || (le(&headers[i * kHeaderBytes + 44], 2) & kCompressed) != 0;
    }
    if (!compressed) {
        return nullptr;
    }

    // The new sample data: every sample decoded (or copied) in turn, its
    // header moved to where it now lies, its loop from its own start.
    std::string pcm;
    std::vector<int16_t> frames;
    for (size_t i = 0; i + 1 < samples; ++i) {
        char* header = &headers[i * kHeaderBytes];
        const uint32_t type = le(header + 44, 2);
        if (type & kRom) {
            continue;
        }
        const uint32_t start = le(header + 20, 4);
        const uint32_t end = le(header + 24, 4);
        uint32_t loopStart = le(header + 28, 4);
        uint32_t loopEnd = le(header + 32, 4);
        if (type & kCompressed) {
            if (!smpl || end > smplBytes || !decodeVorbis(smpl + start, end - start, frames)) {
                throw ImportError(path, "sample " + std::to_string(i) +
                                            ": its Ogg Vorbis data does not decode");
            }
        } else {
            if (!smpl || uint64_t(end) * 2 > smplBytes || start > end) {
                throw ImportError(path,
                                  "sample " + std::to_string(i) + " lies outside the sample data");
            }
            frames.assign(reinterpret_cast<const int16_t*>(smpl) + start,
                          reinterpret_cast<const int16_t*>(smpl) + end);
            loopStart -= start;
            loopEnd -= start;
        }
        const uint32_t at = uint32_t(pcm.size() / 2);
        for (const int16_t frame : frames) {
            putLe(pcm, uint16_t(frame), 2);
        }
        pcm.append(size_t(kPadFrames) * 2, '\0');
        setLe(header + 20, at, 4);
        setLe(header + 24, at + uint32_t(frames.size()), 4);
        setLe(header + 28, at + loopStart, 4);
        setLe(header + 32, at + loopEnd, 4);
        setLe(header + 44, type & ~kCompressed, 2);
    }

    // INFO as it was but for the version, which says 2.04 now.
    std::string infoBody = "INFO";
    for (const Chunk& c : chunksOf(info.data() + 4, info.size() >= 4 ? info.size() - 4 : 0)) {
        std::string body(c.data, c.size);
        if (c.id == "ifil" && body.size() == 4) {
            body = std::string("\x02\x00\x04\x00", 4);
        }
        infoBody += chunk(c.id, body);
    }
    std::string pdtaBody = "pdta";
    for (const Chunk& c : pdta) {
        pdtaBody += chunk(c.id, c.id == "shdr" ? headers : std::string(c.data, c.size));
    }
    const std::string body = "sfbk" + chunk("LIST", infoBody) +
                             chunk("LIST", "sdta" + chunk("smpl", pcm)) + chunk("LIST", pdtaBody);
    auto expanded = std::make_unique<ExpandedFont>(temporaryPath());
    std::ofstream out(expanded->path(), std::ios::binary);
    out << chunk("RIFF", body);
    if (!out.flush()) {
        throw ImportError(path, "cannot write its expanded samples to " + expanded->path());
    }
    return expanded;
}

} // namespace ox::import
