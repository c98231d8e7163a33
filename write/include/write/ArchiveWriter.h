#pragma once

// Writing and inspecting archive banks, for bank authors and tests. The
// library only reads archives; this is the other half.
//
// Layout written: "OXARCHIVE", a zero word, the entry count, a zero word and
// the index offset (little-endian 32-bit), then every entry's bytes in order,
// then the index: per entry a little-endian 64-bit offset, a 32-bit size and
// the NUL-terminated name.

#include <cstdint>
#include <string>
#include <vector>

namespace oxsf::archive {

/// One entry to write: its name and either bytes held in memory or a file to copy.
struct ArchiveInput {
    std::string name;
    std::string bytes; ///< the content, when `path` is empty
    std::string path;  ///< a file whose content is the entry, when not empty

    static ArchiveInput fromBytes(std::string name, std::string bytes);
    static ArchiveInput fromFile(std::string name, std::string path);
};

/// One index record as stored.
struct ArchiveRecord {
    std::string name;
    int64_t offset = 0;
    uint32_t size = 0;
};

/// Archives must stay below 2^31 bytes: readers hold offsets and sizes as
/// signed 32-bit numbers.
constexpr int64_t kArchiveSizeLimit = int64_t(1) << 31;

/// Writes `entries` in the given order to `target`. The archive is written to a
/// temporary file beside `target` and renamed into place once complete, so a
/// failure never leaves a partial archive under `target`. Throws
/// std::runtime_error naming the offending file for an empty name or one with
/// a NUL byte, an archive that would reach the size limit, or an I/O failure.
void writeArchive(const std::string& target, const std::vector<ArchiveInput>& entries);

/// Packs a directory bank: `bankDir`/Samples.xml and every regular file of
/// `bankDir`/Samples (by file name, sorted) into the archive `target`.
/// Throws std::runtime_error when the bank has no Samples.xml, and as writeArchive.
void packDirectoryBank(const std::string& bankDir, const std::string& target);

/// The index records of the archive at `path`, in stored order (duplicates
/// included). Throws std::runtime_error when the file cannot be opened, is not
/// an archive, or its index runs past the end of the file.
std::vector<ArchiveRecord> readArchiveIndex(const std::string& path);

} // namespace oxsf::archive
