#include <ox/stream/FileStream.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ox::stream {

std::shared_ptr<FileStream> FileStream::open(const std::string& path, const std::string& mode) {
    if (mode != "r" && mode != "rb")
        return {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {};
    }
    const int64_t size = info.st_size;
    const char* data = nullptr;
    if (size > 0) {
        void* mapping = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapping == MAP_FAILED) {
            ::close(fd);
            return {};
        }
        data = static_cast<const char*>(mapping);
    }
    ::close(fd); // the mapping stays valid without the descriptor
    std::shared_ptr<FileStream> stream(new FileStream(data, size));
    stream->setName(path);
    return stream;
}

FileStream::FileStream(const char* data, int64_t size) : m_data(data), m_size(size) {}

FileStream::~FileStream() {
    if (m_data)
        ::munmap(const_cast<char*>(m_data), size_t(m_size));
}

int64_t FileStream::size() const {
    return m_size;
}

int64_t FileStream::readAt(int64_t offset, void* buffer, int64_t count) const {
    if (offset < 0 || count <= 0 || offset >= m_size)
        return 0;
    const int64_t n = std::min(count, m_size - offset);
    std::memcpy(buffer, m_data + offset, size_t(n));
    return n;
}

void FileStream::finishLoading() {
    if (m_data)
        ::madvise(const_cast<char*>(m_data), size_t(m_size), MADV_RANDOM);
}

} // namespace ox::stream
