#pragma once

// Reading the archive packaging: a 25-byte header ("OXARCHIVE", entry count,
// index offset), then an index of (offset, size, name) records pointing at
// contiguous byte runs.

#include <ox/stream/IStream.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace ox::soundfont {

struct ArchiveEntry {
    uint32_t offset = 0; ///< low 32 bits of the stored offset
    uint32_t size = 0;
};

using ArchiveTable = std::unordered_map<std::string, ArchiveEntry>;

/// Reads the header and index of `stream` (positioned at 0). A stream that is
/// not an archive gives an empty table; a damaged index gives the records read
/// before the end of the stream. The first record of a name wins.
ArchiveTable loadArchiveIndex(ox::stream::IStream& stream);

/// A view over entry `name`, named "<archive name>/<name>"; empty when absent.
std::shared_ptr<ox::stream::IStream>
openArchiveEntry(const std::shared_ptr<ox::stream::IStream>& archive, const ArchiveTable& table,
                 const std::string& name);

} // namespace ox::soundfont
