#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// \file
/// The byte stream every bank reads through: IStream, and its views.

/// The host's streams (part of OXUtils): files, memory and views of either.
namespace ox::stream {

/// A readable byte stream with a cursor. Streams are shared through
/// std::shared_ptr; views made with make_view() keep their parent alive.
///
/// Every stream reads through readAt(), a positional read that leaves the
/// cursor alone and is safe to call from several threads at once. That is what
/// lets views of one stream read independently, each with its own cursor.
///
/// At or past the end nothing fails into garbage: read() returns what there is
/// (possibly 0 bytes), the integer readers return 0 and clear *ok, and atEnd()
/// tells that the cursor has reached the end.
///
/// Threads: readAt() may run on several threads at once; the cursor calls (seek,
/// read and the readers) belong to one thread at a time. A stream reads a file or
/// memory and readAll()/make_view() allocate: not for an audio thread.
///
/// Sizes, offsets and counts are in bytes. Nothing throws but allocation.
class IStream : public std::enable_shared_from_this<IStream> {
public:
    IStream() = default;
    IStream(const IStream&) = delete;
    IStream& operator=(const IStream&) = delete;

    virtual ~IStream();

    /// Moves the cursor. origin 0: from the start, 1: from the cursor, 2: from the end.
    /// The cursor may be placed past the end (reads there return nothing); a
    /// negative target or an unknown origin fails and leaves the cursor alone.
    virtual bool seek(int64_t offset, int origin);
    /// The cursor position.
    virtual int64_t tell() const;
    /// Total size in bytes.
    virtual int64_t size() const = 0;
    /// Copies up to `count` bytes at `offset` into `buffer` without moving the
    /// cursor; returns the number copied (0 outside the stream). Thread-safe.
    virtual int64_t readAt(int64_t offset, void* buffer, int64_t count) const = 0;
    /// Reads up to `count` bytes at the cursor and advances; returns the number read.
    virtual int64_t read(void* buffer, int64_t count);
    /// The rest of the stream from the cursor, which moves to the end.
    virtual std::vector<char> readAll();
    /// Called once when the owner has finished its start-up reads; views made
    /// afterwards still read. The default does nothing.
    virtual void finishLoading();

    /// The stream's name: a file stream's path; a view starts with its parent's.
    /// Decoders are chosen by its extension.
    const std::string& name() const { return m_name; }
    /// Replaces the name.
    void setName(const std::string& name);

    /// A stream over `size` bytes of this one starting at `offset`, with its own
    /// cursor, named like this stream. The range is clipped to this stream, so a
    /// range outside it gives a view that reads short or nothing. Keeps this
    /// stream alive. Offsets and sizes are taken as 32-bit signed values.
    /// A negative offset or size gives an empty view. Empty when this stream is not
    /// held by a std::shared_ptr (a view could not keep it alive).
    std::shared_ptr<IStream> make_view(long offset, long size);

    /// Little-endian integers at the cursor. On a short read: return 0, *ok = false.
    /// `ok` may be null; on success *ok is set true. The cursor moves by the bytes read.
    ///@{
    uint32_t readUInt32(bool* ok = nullptr);
    int64_t readInt64(bool* ok = nullptr);
    ///@}

    /// Bytes up to and including a NUL, returned without it. Stops at the end of
    /// the stream when no NUL follows.
    std::string readCString();

    /// Whether the cursor is at or past the end.
    bool atEnd() const { return tell() >= size(); }

protected:
    /// The cursor, in bytes from the start; seek(), read(), readAll() and the
    /// readers move it; a subclass that overrides them keeps it up to date.
    int64_t m_position = 0;

private:
    std::string m_name;
};

} // namespace ox::stream
