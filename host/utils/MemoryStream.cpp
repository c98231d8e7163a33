#include <ox/stream/MemoryStream.h>

#include <algorithm>
#include <cstring>

namespace ox::stream {

MemoryStream::MemoryStream(std::vector<char> bytes, std::string name) : m_bytes(std::move(bytes)) {
    setName(name);
}

MemoryStream::~MemoryStream() = default;

int64_t MemoryStream::size() const {
    return int64_t(m_bytes.size());
}

int64_t MemoryStream::readAt(int64_t offset, void* buffer, int64_t count) const {
    const int64_t total = size();
    if (offset < 0 || count <= 0 || offset >= total) {
        return 0;
    }
    const int64_t n = std::min(count, total - offset);
    std::memcpy(buffer, m_bytes.data() + offset, size_t(n));
    return n;
}

} // namespace ox::stream
