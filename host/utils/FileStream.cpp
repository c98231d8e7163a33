#include <ox/stream/FileStream.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif

namespace ox::stream {

namespace {

// Reads at least this long (a whole description) map their pages in one call
// first: faulting them in one by one during the copy costs several times more.
constexpr int64_t kPopulateBytes = 256 * 1024;

// Best effort: a kernel without MADV_POPULATE_READ leaves the copy to fault.
void populate(const char* data, int64_t offset, int64_t count) {
    const int64_t page = ::sysconf(_SC_PAGESIZE);
    const int64_t start = offset / page * page;
    ::madvise(const_cast<char*>(data) + start, size_t(offset + count - start), MADV_POPULATE_READ);
}

// Reads the whole file into memory; returns null on a read error. A file that
// shrank since its size was taken gives what it still holds.
char* readWhole(int fd, int64_t& size) {
    auto* bytes = new char[size_t(size)];
    int64_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes + done, size_t(size - done), done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            delete[] bytes;
            return nullptr;
        }
        if (got == 0)
            break;
        done += got;
    }
    size = done;
    return bytes;
}

} // namespace

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
    int64_t size = info.st_size;
    const char* data = nullptr;
    // Text (a bank description) is read once from start to end: copying it out
    // of the kernel's cache costs far less than mapping every page and
    // unmapping it again. Binary files are mapped, so that views never copy.
    const bool mapped = mode == "rb";
    if (size > 0 && !mapped) {
        data = readWhole(fd, size);
        if (!data) {
            ::close(fd);
            return {};
        }
    } else if (size > 0) {
        void* mapping = ::mmap(nullptr, size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapping == MAP_FAILED) {
            ::close(fd);
            return {};
        }
        data = static_cast<const char*>(mapping);
    }
    ::close(fd); // the mapping stays valid without the descriptor
    std::shared_ptr<FileStream> stream(new FileStream(data, size, mapped));
    stream->setName(path);
    return stream;
}

FileStream::FileStream(const char* data, int64_t size, bool mapped)
    : m_data(data), m_size(size), m_mapped(mapped) {}

FileStream::~FileStream() {
    if (!m_data)
        return;
    if (m_mapped)
        ::munmap(const_cast<char*>(m_data), size_t(m_size));
    else
        delete[] m_data;
}

int64_t FileStream::size() const {
    return m_size;
}

int64_t FileStream::readAt(int64_t offset, void* buffer, int64_t count) const {
    if (offset < 0 || count <= 0 || offset >= m_size)
        return 0;
    const int64_t n = std::min(count, m_size - offset);
    if (n >= kPopulateBytes)
        populate(m_data, offset, n);
    std::memcpy(buffer, m_data + offset, size_t(n));
    return n;
}

void FileStream::finishLoading() {
    if (m_data)
        ::madvise(const_cast<char*>(m_data), size_t(m_size), MADV_RANDOM);
}

} // namespace ox::stream
