#include "archive/Archive.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

namespace ox::soundfont {

namespace {

constexpr char kMagic[] = "OXARCHIVE";
constexpr int kHeaderSize = 25;

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

    IndexWindow(const ox::stream::IStream& stream, int64_t start)
        : m_stream(stream), m_next(start), m_bytes(kWindowBytes) {}

    /// The next `count` bytes, or null when the stream ends first.
    const unsigned char* take(size_t count) {
        if (!fill(count))
            return nullptr;
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
            if (!fill(available + 1))
                return nullptr;
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
        if (m_end - m_begin >= count)
            return true;
        std::memmove(m_bytes.data(), m_bytes.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
        if (m_bytes.size() < count)
            m_bytes.resize(std::max(count, m_bytes.size() * 2));
        while (m_end < count) {
            const int64_t got =
                m_stream.readAt(m_next, m_bytes.data() + m_end, int64_t(m_bytes.size() - m_end));
            if (got <= 0)
                return false;
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

size_t ArchiveTable::probe(std::string_view name, uint32_t hash) const {
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (slot.record == 0)
            return i;
        if (slot.hash == hash) {
            const Record& record = m_records[slot.record - 1];
            if (std::string_view(m_names).substr(record.nameOffset, record.nameLength) == name)
                return i;
        }
    }
}

void ArchiveTable::rehash(size_t slots) {
    const std::vector<Slot> old = std::exchange(m_slots, std::vector<Slot>(slots));
    const size_t mask = slots - 1;
    for (const Slot& slot : old) {
        if (slot.record == 0)
            continue;
        size_t i = slot.hash & mask;
        while (m_slots[i].record != 0)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

void ArchiveTable::reserve(size_t count) {
    size_t slots = 16;
    while (slots < 2 * count)
        slots *= 2;
    if (slots > m_slots.size())
        rehash(slots);
    m_records.reserve(count);
}

void ArchiveTable::insert(std::string_view name, ArchiveEntry entry) {
    if (2 * (m_records.size() + 1) > m_slots.size())
        rehash(std::max<size_t>(16, 2 * m_slots.size()));
    const uint32_t hash = hashOf(name);
    Slot& slot = m_slots[probe(name, hash)];
    if (slot.record != 0)
        return;
    m_records.push_back(Record{m_names.size(), name.size(), entry});
    m_names.append(name);
    slot = Slot{hash, uint32_t(m_records.size())};
}

const ArchiveEntry* ArchiveTable::find(std::string_view name) const {
    if (m_slots.empty())
        return nullptr;
    const Slot& slot = m_slots[probe(name, hashOf(name))];
    return slot.record != 0 ? &m_records[slot.record - 1].entry : nullptr;
}

ArchiveTable loadArchiveIndex(ox::stream::IStream& stream) {
    ArchiveTable table;
    unsigned char header[kHeaderSize];
    if (stream.read(header, kHeaderSize) < kHeaderSize)
        return table;
    if (std::memcmp(header, kMagic, 9) != 0)
        return table;
    const uint32_t count = littleEndian32(header + 13);
    const uint32_t indexOffset = littleEndian32(header + 21);
    if (!stream.seek(indexOffset, 0))
        return table;

    // The count comes from the file and may be anything: read records until the
    // stream runs out rather than trusting it, and size nothing by it beyond
    // what the bytes left could hold (a record takes at least 13).
    const int64_t left = std::max<int64_t>(stream.size() - int64_t(indexOffset), 0);
    table.reserve(size_t(std::min<int64_t>(count, left / 13)));
    IndexWindow index(stream, indexOffset);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* record = index.take(12);
        if (!record)
            break;
        const uint64_t offset = littleEndian64(record);
        const uint32_t size = littleEndian32(record + 8);
        size_t length = 0;
        const char* name = index.takeCString(length);
        if (!name)
            break; // the name ran into the end of the stream without its NUL
        table.insert(std::string_view(name, length), ArchiveEntry{uint32_t(offset), size});
    }
    stream.seek(index.position(), 0);
    return table;
}

std::shared_ptr<ox::stream::IStream>
openArchiveEntry(const std::shared_ptr<ox::stream::IStream>& archive, const ArchiveTable& table,
                 const std::string& name) {
    if (!archive)
        return {};
    const ArchiveEntry* found = table.find(name);
    if (!found)
        return {};
    // Both values go to the view as signed 32-bit numbers; the view clips them.
    auto view = archive->make_view(long(int32_t(found->offset)), long(int32_t(found->size)));
    if (!view)
        return {};
    view->setName(view->name() + "/" + name);
    return view;
}

} // namespace ox::soundfont
