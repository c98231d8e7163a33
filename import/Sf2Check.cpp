#include "Sf2Check.h"

#include <ox/import/Import.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

namespace ox::import {

uint32_t littleEndian(const char* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = value << 8 | uint8_t(p[i]);
    }
    return value;
}

namespace {

// libinstpatch keeps 59 generators in a fixed array and indexes it with the
// file's operator numbers; larger ones write outside it.
constexpr uint32_t kGeneratorCount = 59;
constexpr uint32_t kInstrumentGen = 41;
constexpr uint32_t kSampleGen = 53;
constexpr uint32_t kMaxPdtaBytes = 64u << 20;

uint32_t le(const char* p, int bytes) {
    return littleEndian(p, bytes);
}

class Checker {
public:
    explicit Checker(const std::string& path) : m_path(path), m_in(path, std::ios::binary) {}

    void run() {
        if (!m_in) {
            fail("cannot read");
        }
        m_in.seekg(0, std::ios::end);
        const uint64_t size = uint64_t(m_in.tellg());
        char header[12];
        if (!read(0, header, 12) || std::memcmp(header, "RIFF", 4) != 0 ||
            std::memcmp(header + 8, "sfbk", 4) != 0) {
            fail("not a soundfont (no RIFF sfbk header)");
        }
        const uint64_t end = std::min<uint64_t>(size, 8 + uint64_t(le(header + 4, 4)));
        uint64_t smplBytes = 0;
        bool sdta = false;
        for (uint64_t at = 12; at + 12 <= end;) {
            char list[12];
            read(at, list, 12);
            const uint64_t listEnd = at + 8 + le(list + 4, 4);
            if (std::memcmp(list, "LIST", 4) == 0 && std::memcmp(list + 8, "sdta", 4) == 0) {
                sdta = true;
                for (uint64_t c = at + 12; c + 8 <= std::min(listEnd, end);) {
                    char chunk[8];
                    read(c, chunk, 8);
                    if (std::memcmp(chunk, "smpl", 4) == 0) {
                        smplBytes = le(chunk + 4, 4);
                    }
                    c += 8 + le(chunk + 4, 4) + (le(chunk + 4, 4) & 1);
                }
            } else if (std::memcmp(list, "LIST", 4) == 0 && std::memcmp(list + 8, "pdta", 4) == 0) {
                if (listEnd > end) {
                    fail("the preset data runs past the end of the file");
                }
                if (listEnd - at > kMaxPdtaBytes) {
                    fail("the preset data is implausibly large");
                }
                m_pdta.resize(size_t(listEnd - at - 12));
                read(at + 12, m_pdta.data(), std::streamsize(m_pdta.size()));
            }
            at = listEnd + (listEnd & 1);
        }
        if (!sdta || m_pdta.empty()) {
            fail("not a soundfont (no sample data or no preset data)");
        }
        checkPdta(smplBytes);
    }

private:
    [[noreturn]] void fail(const std::string& problem) const { throw ImportError(m_path, problem); }

    bool read(uint64_t at, char* buffer, std::streamsize count) {
        m_in.clear();
        m_in.seekg(std::streamoff(at));
        return bool(m_in.read(buffer, count));
    }

    /// The records of a preset-data chunk, each `size` bytes, at least the terminal one.
    std::pair<const char*, uint32_t> records(const char* id, uint32_t size) const {
        const auto found = m_chunks.find(id);
        if (found == m_chunks.end()) {
            fail(std::string("the preset data has no ") + id + " chunk");
        }
        const auto [data, bytes] = found->second;
        if (bytes % size != 0 || bytes < size) {
            fail(std::string("the ") + id + " chunk is not a whole number of records");
        }
        return {data, bytes / size};
    }

    /// Owners' (presets', instruments', zones') first indices into the next
    /// table must rise and stay inside it.
    void checkIndices(const char* id, const char* data, uint32_t count, uint32_t size,
                      uint32_t offset, uint32_t limit) const {
        uint32_t previous = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t index = le(data + i * size + offset, 2);
            if (index < previous || index >= limit) {
                fail(std::string("the ") + id + " chunk points outside the records it indexes");
            }
            previous = index;
        }
    }

    void checkGenerators(const char* id, const char* data, uint32_t count, uint32_t link,
                         uint32_t targets) const {
        for (uint32_t i = 0; i + 1 < count; ++i) {
            const uint32_t op = le(data + 4 * i, 2);
            const uint32_t amount = le(data + 4 * i + 2, 2);
            if (op >= kGeneratorCount) {
                fail(std::string("generator ") + std::to_string(op) + " in the " + id +
                     " chunk is not one SF2 defines");
            }
            if (op == link && amount + 1 >= targets) {
                fail(std::string("a zone in the ") + id + " chunk names a missing " +
                     (link == kSampleGen ? "sample" : "instrument"));
            }
        }
    }

    void checkPdta(uint64_t sampleBytes) {
        for (size_t at = 0; at + 8 <= m_pdta.size();) {
            const std::string id(m_pdta.data() + at, 4);
            const uint32_t bytes = le(m_pdta.data() + at + 4, 4);
            if (bytes > m_pdta.size() - at - 8) {
                fail("the " + id + " chunk runs past the preset data");
            }
            m_chunks[id] = {m_pdta.data() + at + 8, bytes};
            at += 8 + bytes + (bytes & 1);
        }
        const auto [phdr, presets] = records("phdr", 38);
        const auto [pbag, pbags] = records("pbag", 4);
        const auto [pmod, pmods] = records("pmod", 10);
        const auto [pgen, pgens] = records("pgen", 4);
        const auto [inst, instruments] = records("inst", 22);
        const auto [ibag, ibags] = records("ibag", 4);
        const auto [imod, imods] = records("imod", 10);
        const auto [igen, igens] = records("igen", 4);
        const auto [shdr, samples] = records("shdr", 46);
        (void)pmod;
        (void)imod;
        checkIndices("phdr", phdr, presets, 38, 24, pbags);
        checkIndices("pbag", pbag, pbags, 4, 0, pgens);
        checkIndices("pbag", pbag, pbags, 4, 2, pmods);
        checkIndices("inst", inst, instruments, 22, 20, ibags);
        checkIndices("ibag", ibag, ibags, 4, 0, igens);
        checkIndices("ibag", ibag, ibags, 4, 2, imods);
        checkGenerators("pgen", pgen, pgens, kInstrumentGen, instruments);
        checkGenerators("igen", igen, igens, kSampleGen, samples);
        for (uint32_t i = 0; i + 1 < samples; ++i) {
            const char* record = shdr + 46 * i;
            const uint32_t start = le(record + 20, 4);
            const uint32_t end = le(record + 24, 4);
            const uint32_t type = le(record + 44, 2);
            // An Ogg Vorbis sample (SF3) counts bytes of its stream, any other 16-bit frames.
            const uint64_t limit = (type & 0x0010) != 0 ? sampleBytes : sampleBytes / 2;
            if ((type & 0x8000) == 0 && (start > end || end > limit)) {
                fail("sample " + std::to_string(i) + " lies outside the sample data");
            }
            if ((type & 0x0006) != 0 && le(record + 42, 2) + 1 >= samples) {
                fail("sample " + std::to_string(i) + " is linked to a missing sample");
            }
        }
    }

    std::string m_path;
    std::ifstream m_in;
    std::vector<char> m_pdta;
    std::map<std::string, std::pair<const char*, uint32_t>> m_chunks;
};

} // namespace

void checkSf2Structure(const std::string& path) {
    Checker(path).run();
}

} // namespace ox::import
