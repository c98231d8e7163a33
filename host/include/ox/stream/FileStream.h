#pragma once

#include <ox/stream/IStream.h>

#include <memory>
#include <string>

/// \file
/// A stream over a file: FileStream.

namespace ox::stream {

/// A read-only file stream. A binary file ("rb") is memory-mapped, so views
/// never copy it; a text file ("r") is read through its descriptor straight
/// into the caller's buffer. Either way reads from several threads need no lock.
///
/// The stream holds the mapping (or the descriptor) until it and every view of it
/// are gone. A mapped file must not be truncated while it is read: touching the lost
/// part would fault. A text file that shrinks reads short.
///
/// Threads: open() is file I/O, not for an audio thread; reads of a mapped file
/// may still wait for the disk.
class FileStream final : public IStream {
public:
    /// Opens `path` for reading. Modes "r" and "rb" are accepted (they read the
    /// same bytes on this platform); any other mode, a missing or unreadable
    /// file, and anything but a regular file (a directory, a FIFO, a device)
    /// give an empty pointer, without blocking. The stream's name is `path`.
    static std::shared_ptr<FileStream> open(const std::string& path, const std::string& mode);

    ~FileStream() override;

    int64_t size() const override;
    int64_t readAt(int64_t offset, void* buffer, int64_t count) const override;
    /// Tells the kernel that reads from now on are random (sample entries), not sequential.
    void finishLoading() override;

    /// The mapped bytes of a binary file; nullptr for a text file or an empty file.
    const char* data() const { return m_data; }

private:
    FileStream(const char* data, int64_t size, int descriptor);

    /// Long reads of a mapped file, through the kernel; false when not possible.
    bool readDirect(int64_t offset, char* buffer, int64_t count) const;

    const char* m_data = nullptr; ///< the mapping ("rb")
    int64_t m_size = 0;
    int m_descriptor = -1; ///< the open file ("r")
    // The mapped file, for readDirect.
    std::string m_path;
    uint64_t m_device = 0;
    uint64_t m_inode = 0;
};

} // namespace ox::stream
