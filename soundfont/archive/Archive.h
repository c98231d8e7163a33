#pragma once

// Reading the archive packaging: a 25-byte header ("OXARCHIVE", entry count,
// index offset), then an index of (offset, size, name) records pointing at
// contiguous byte runs.

#include <ox/stream/IStream.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ox::soundfont {

struct ArchiveEntry {
    uint32_t offset = 0; ///< low 32 bits of the stored offset
    uint32_t size = 0;
};

/// The entry table: a hash map from the whole entry name to its byte run.
/// Entries are kept in index order in one array with their names in one block;
/// the hash slots hold only a hash and an entry number, so that the slots of
/// an index of many thousand entries stay in the processor's cache while it
/// is read.
class ArchiveTable {
public:
    /// Adds `name` unless it is already there: the first record of a name wins.
    void insert(std::string_view name, ArchiveEntry entry);
    /// The entry of exactly `name`, or null.
    const ArchiveEntry* find(std::string_view name) const;
    size_t size() const { return m_records.size(); }
    /// Room for `count` entries without rehashing.
    void reserve(size_t count);

private:
    struct Record {
        size_t nameOffset;
        size_t nameLength;
        ArchiveEntry entry;
    };
    struct Slot {
        uint32_t hash = 0;
        uint32_t record = 0; ///< record number + 1; 0 for a free slot
    };

    std::string m_names;
    std::vector<Record> m_records;
    std::vector<Slot> m_slots; ///< power-of-two size, at most half full

    /// The slot holding `name`, or the free slot where it belongs.
    size_t probe(std::string_view name, uint32_t hash) const;
    void rehash(size_t slots);
};

/// Reads the header and index of `stream` (positioned at 0). A stream that is
/// not an archive gives an empty table; a damaged index gives the records read
/// before the end of the stream. The first record of a name wins.
ArchiveTable loadArchiveIndex(ox::stream::IStream& stream);

/// A view over entry `name`, named "<archive name>/<name>"; empty when absent.
std::shared_ptr<ox::stream::IStream>
openArchiveEntry(const std::shared_ptr<ox::stream::IStream>& archive, const ArchiveTable& table,
                 const std::string& name);

} // namespace ox::soundfont
