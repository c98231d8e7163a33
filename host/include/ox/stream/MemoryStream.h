#pragma once

#include <ox/stream/IStream.h>

#include <string>
#include <vector>

/// \file
/// A stream over bytes in memory: MemoryStream.

namespace ox::stream {

/// A stream over bytes held in memory; views share the bytes without copying.
/// The stream owns its bytes; views keep the stream, and so the bytes, alive.
///
/// Threads: as IStream; readAt() copies memory and takes no lock.
class MemoryStream final : public IStream {
public:
    /// A stream over `bytes`, taken over, named `name`.
    MemoryStream(std::vector<char> bytes, std::string name);
    ~MemoryStream() override;

    int64_t size() const override;
    int64_t readAt(int64_t offset, void* buffer, int64_t count) const override;

    /// The bytes the stream reads.
    const std::vector<char>& bytes() const { return m_bytes; }

private:
    std::vector<char> m_bytes;
};

} // namespace ox::stream
