#pragma once

#include <ox/stream/IStream.h>

#include <string>
#include <vector>

namespace ox::stream {

/// A stream over bytes held in memory; views share the bytes without copying.
/// Threads: as IStream; readAt() copies memory and takes no lock.
class MemoryStream final : public IStream {
public:
    MemoryStream(std::vector<char> bytes, std::string name);
    ~MemoryStream() override;

    int64_t size() const override;
    int64_t readAt(int64_t offset, void* buffer, int64_t count) const override;

    const std::vector<char>& bytes() const { return m_bytes; }

private:
    std::vector<char> m_bytes;
};

} // namespace ox::stream
