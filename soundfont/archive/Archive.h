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
/// Records are kept in index order in one array with their names in one
/// block. The slots, filled once all records are read, hold only a hash and a
/// record number; they are filled in the order of their positions, so that
/// building the table of an index of many thousand entries walks its slots
/// front to back instead of jumping around them.
class ArchiveTable {
public:
    /// Adds a record; it can be found once index() has run.
    void add(std::string_view name, ArchiveEntry entry);
    /// Makes the records added so far searchable: the first record of a name wins.
    void index();
    /// The entry of exactly `name`, or null.
    const ArchiveEntry* find(std::string_view name) const;
    /// Room for `count` records holding `nameBytes` bytes of names.
    void reserve(size_t count, size_t nameBytes);

private:
    struct Record {
        size_t nameOffset;
        uint32_t nameLength;
        uint32_t hash;
        ArchiveEntry entry;
    };
    struct Slot {
        uint32_t hash = 0;
        uint32_t record = 0; ///< record number + 1; 0 for a free slot
    };

    std::string m_names;
    std::vector<Record> m_records;
    std::vector<Slot> m_slots; ///< power-of-two size, at most half full
    int m_shift = 32;          ///< a hash's top bits pick its first slot

    std::string_view nameOf(const Record& record) const;
    /// The slot holding `name`, or the free slot where it belongs.
    size_t probe(std::string_view name, uint32_t hash) const;
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
