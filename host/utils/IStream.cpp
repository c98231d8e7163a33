#include <ox/stream/IStream.h>

#include <algorithm>
#include <cstring>

namespace ox::stream {

namespace {

// A window onto another stream. It reads through the parent's positional
// readAt, so any number of views of one stream read independently and in
// parallel; each holds a share of the parent to keep it alive.
class ViewStream final : public IStream {
public:
    ViewStream(std::shared_ptr<IStream> parent, int64_t base, int64_t length)
        : m_parent(std::move(parent)), m_base(base), m_length(length) {}

    int64_t size() const override { return m_length; }

    int64_t readAt(int64_t offset, void* buffer, int64_t count) const override {
        if (offset < 0 || count <= 0 || offset >= m_length) {
            return 0;
        }
        return m_parent->readAt(m_base + offset, buffer, std::min(count, m_length - offset));
    }

    const std::shared_ptr<IStream>& parent() const { return m_parent; }
    int64_t base() const { return m_base; }

private:
    std::shared_ptr<IStream> m_parent;
    int64_t m_base;
    int64_t m_length;
};

template <typename T> T readLittleEndian(IStream& stream, bool* ok) {
    unsigned char bytes[sizeof(T)];
    const bool complete = stream.read(bytes, sizeof(T)) == int64_t(sizeof(T));
    if (ok) {
        *ok = complete;
    }
    if (!complete) {
        return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        value |= uint64_t(bytes[i]) << (8 * i);
    }
    return T(value);
}

} // namespace

IStream::~IStream() = default;

bool IStream::seek(int64_t offset, int origin) {
    int64_t from = 0;
    switch (origin) {
    case 0:
        from = 0;
        break;
    case 1:
        from = m_position;
        break;
    case 2:
        from = size();
        break;
    default:
        return false;
    }
    int64_t target = 0;
    if (__builtin_add_overflow(from, offset, &target) || target < 0) {
        return false;
    }
    m_position = target;
    return true;
}

int64_t IStream::tell() const {
    return m_position;
}

int64_t IStream::read(void* buffer, int64_t count) {
    if (count <= 0) {
        return 0;
    }
    const int64_t got = readAt(m_position, buffer, count);
    if (got > 0) {
        m_position += got;
    }
    return std::max<int64_t>(got, 0);
}

std::vector<char> IStream::readAll() {
    const int64_t total = size();
    if (m_position >= total) {
        return {};
    }
    // One spare byte of capacity: callers that parse text terminate it with a
    // zero, which would otherwise copy the whole content into a larger block.
    std::vector<char> bytes;
    bytes.reserve(size_t(total - m_position) + 1);
    bytes.resize(size_t(total - m_position));
    const int64_t got = readAt(m_position, bytes.data(), int64_t(bytes.size()));
    bytes.resize(size_t(std::max<int64_t>(got, 0)));
    m_position = total;
    return bytes;
}

void IStream::finishLoading() {}

void IStream::setName(const std::string& name) {
    m_name = name;
}

std::shared_ptr<IStream> IStream::make_view(long offset, long size) {
    std::shared_ptr<IStream> self = weak_from_this().lock();
    if (!self) {
        return {}; // not owned by a shared_ptr: a view could not keep it alive
    }
    // Offsets and sizes are 32-bit quantities by contract.
    const int64_t start = int32_t(offset);
    const int64_t length = int32_t(size);
    int64_t base = 0;
    int64_t clipped = 0;
    if (start >= 0 && length >= 0) {
        const int64_t available = std::max<int64_t>(self->size() - start, 0);
        base = start;
        clipped = std::min(length, available);
    }
    // A view of a view reads straight from the root stream: one hop per read.
    if (auto* inner = dynamic_cast<ViewStream*>(self.get())) {
        base += inner->base();
        self = inner->parent();
    }
    auto view = std::make_shared<ViewStream>(std::move(self), base, clipped);
    view->setName(name());
    return view;
}

// The integer readers advance the cursor by the bytes actually read, so a
// short read at the end leaves the cursor at the end (atEnd() is then true).
uint32_t IStream::readUInt32(bool* ok) {
    return readLittleEndian<uint32_t>(*this, ok);
}

int64_t IStream::readInt64(bool* ok) {
    return readLittleEndian<int64_t>(*this, ok);
}

std::string IStream::readCString() {
    std::string text;
    char chunk[256];
    for (;;) {
        const int64_t got = readAt(m_position, chunk, sizeof(chunk));
        if (got <= 0) {
            return text; // end of stream without a NUL
        }
        const void* nul = std::memchr(chunk, '\0', size_t(got));
        if (nul) {
            const int64_t length = static_cast<const char*>(nul) - chunk;
            text.append(chunk, size_t(length));
            m_position += length + 1;
            return text;
        }
        text.append(chunk, size_t(got));
        m_position += got;
    }
}

} // namespace ox::stream
