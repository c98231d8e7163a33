#include "archive/Archive.h"

#include <soundfont/SoundFontManager.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace ox::soundfont {

namespace {

constexpr int kHeaderSize = 25;
// Names of a real index take a few dozen bytes each; what a damaged header's
// count may claim beyond this is left to grow as names are actually read.
constexpr int64_t kMaxNameReserve = 64 << 20;

uint32_t littleEndian32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

uint64_t littleEndian64(const unsigned char* bytes) {
    return uint64_t(littleEndian32(bytes)) | uint64_t(littleEndian32(bytes + 4)) << 32;
}

/// Reads the index through a window of the stream that is refilled as records
/// cross its end: one read per few thousand records instead of three per record.
class IndexWindow {
public:
    // Long enough that a file stream copies it through the kernel rather than
    // touching its mapping page by page.
    static constexpr size_t kWindowBytes = 256 * 1024;

    // No longer than what is left of the stream: a small archive's index
    // needs no quarter megabyte cleared for it.
    IndexWindow(const ox::stream::IStream& stream, int64_t start)
        : m_stream(stream), m_next(start),
          m_bytes(size_t(std::clamp<int64_t>(stream.size() - start, 64, kWindowBytes))) {}

    /// The next `count` bytes, or null when the stream ends first.
    const unsigned char* take(size_t count) {
        if (!fill(count)) {
            return nullptr;
        }
        const char* at = m_bytes.data() + m_begin;
        m_begin += count;
        return reinterpret_cast<const unsigned char*>(at);
    }

    /// The bytes up to the next NUL (which is consumed), or null when the
    /// stream ends without one.
    const char* takeCString(size_t& length) {
        size_t searched = 0;
        for (;;) {
            const char* start = m_bytes.data() + m_begin;
            const size_t available = m_end - m_begin;
            if (const void* nul = std::memchr(start + searched, '\0', available - searched)) {
                length = size_t(static_cast<const char*>(nul) - start);
                m_begin += length + 1;
                return start;
            }
            searched = available;
            if (!fill(available + 1)) {
                return nullptr;
            }
        }
    }

    /// Stream position just after the bytes taken.
    int64_t position() const { return m_next - int64_t(m_end - m_begin); }

private:
    const ox::stream::IStream& m_stream;
    int64_t m_next; ///< stream position of the byte after the window
    std::vector<char> m_bytes;
    size_t m_begin = 0;
    size_t m_end = 0;

    // Makes at least `count` bytes available from m_begin, moving what is left to
    // the front and growing the window for a long name.
    bool fill(size_t count) {
        if (m_end - m_begin >= count) {
            return true;
        }
        std::memmove(m_bytes.data(), m_bytes.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
        if (m_bytes.size() < count) {
            m_bytes.resize(std::max(count, m_bytes.size() * 2));
        }
        while (m_end < count) {
            const int64_t got =
                m_stream.readAt(m_next, m_bytes.data() + m_end, int64_t(m_bytes.size() - m_end));
            if (got <= 0) {
                return false;
            }
            m_end += size_t(got);
            m_next += got;
        }
        return true;
    }
};

} // namespace

namespace {

uint32_t hashOf(std::string_view name) {
    const size_t hash = std::hash<std::string_view>{}(name);
    return uint32_t(hash ^ (uint64_t(hash) >> 32));
}

} // namespace

std::string_view ArchiveTable::nameOf(const Record& record) const {
    return std::string_view(m_names.data() + record.nameOffset, record.nameLength);
}

// Inline: building the table probes once for every record of the index.
inline size_t ArchiveTable::probe(std::string_view name, uint32_t hash) const {
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash >> m_shift;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.record == 0 || (slot.hash == hash && nameOf(m_records[slot.record - 1]) == name)) {
            return i;
        }
    }
}

void ArchiveTable::reserve(size_t count, size_t nameBytes) {
    m_records.reserve(count);
    m_names.reserve(nameBytes);
}

void ArchiveTable::add(std::string_view name, ArchiveEntry entry) {
    m_records.push_back(Record{m_names.size(), uint32_t(name.size()), hashOf(name), entry});
    m_names.append(name);
}

void ArchiveTable::index() {
    int bits = 4;
    while ((size_t(1) << bits) < 2 * m_records.size()) {
        ++bits;
    }
    m_shift = 32 - bits;
    m_slots.assign(size_t(1) << bits, Slot{});

    // Records sorted by their first slot (a counting sort on the hash's top
    // byte, which keeps index order among equal bytes, so that a name's first
    // record still comes first).
    std::vector<uint32_t> starts(257, 0);
    for (const Record& record : m_records) {
        ++starts[(record.hash >> 24) + 1];
    }
    for (size_t i = 1; i < starts.size(); ++i) {
        starts[i] += starts[i - 1];
    }
    std::vector<uint32_t> order(m_records.size());
    for (uint32_t i = 0; i < m_records.size(); ++i) {
        order[starts[m_records[i].hash >> 24]++] = i;
    }

    for (const uint32_t number : order) {
        const Record& record = m_records[number];
        Slot& slot = m_slots[probe(nameOf(record), record.hash)];
        if (slot.record == 0) { // else a later record of a name already there
            slot = Slot{record.hash, number + 1};
        }
    }
}

const ArchiveEntry* ArchiveTable::find(std::string_view name) const {
    if (m_slots.empty()) {
        return nullptr;
    }
    const Slot& slot = m_slots[probe(name, hashOf(name))];
    return slot.record != 0 ? &m_records[slot.record - 1].entry : nullptr;
}

ArchiveTable loadArchiveIndex(ox::stream::IStream& stream) {
    ArchiveTable table;
    unsigned char header[kHeaderSize];
    if (stream.read(header, kHeaderSize) < kHeaderSize) {
        return table;
    }
    if (std::memcmp(header, kArchiveMagic.data(), kArchiveMagic.size()) != 0) {
        return table;
    }
    const uint32_t count = littleEndian32(header + 13);
    const uint32_t indexOffset = littleEndian32(header + 21);
    if (!stream.seek(indexOffset, 0)) {
        return table;
    }

    // The count comes from the file and may be anything: read records until the
    // stream runs out rather than trusting it, and size nothing by it beyond
    // what the bytes left could hold (a record takes at least 13).
    const int64_t left = std::max<int64_t>(stream.size() - int64_t(indexOffset), 0);
    table.reserve(size_t(std::min<int64_t>(count, left / 13)),
                  size_t(std::min<int64_t>({left, int64_t(count) * 64, kMaxNameReserve})));
    IndexWindow index(stream, indexOffset);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* record = index.take(12);
        if (!record) {
            break;
        }
        const uint64_t offset = littleEndian64(record);
        const uint32_t size = littleEndian32(record + 8);
        size_t length = 0;
        const char* name = index.takeCString(length);
        if (!name) {
            break; // the name ran into the end of the stream without its NUL
        }
        table.add(std::string_view(name, length), ArchiveEntry{uint32_t(offset), size});
    }
    table.index();
    stream.seek(index.position(), 0);
    return table;
}

std::shared_ptr<ox::stream::IStream>
openArchiveEntry(const std::shared_ptr<ox::stream::IStream>& archive, const ArchiveTable& table,
                 const std::string& name) {
    if (!archive) {
        return {};
    }
    const ArchiveEntry* found = table.find(name);
    if (!found) {
        return {};
    }
    // Both values go to the view as signed 32-bit numbers; the view clips them.
    auto view = archive->make_view(long(int32_t(found->offset)), long(int32_t(found->size)));
    if (!view) {
        return {};
    }
    view->setName(view->name() + "/" + name);
    return view;
}

} // namespace ox::soundfont
