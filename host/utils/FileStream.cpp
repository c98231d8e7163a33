#include <ox/stream/FileStream.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ox::stream {

namespace {

// Reads at least this long (a description or an index inside an archive, a
// decoder's larger requests) go through the kernel instead of the mapping:
// faulting in eight or more freshly mapped pages costs more than reopening
// the file and copying the bytes out of the kernel's cache.
constexpr int64_t kDirectReadBytes = 32 * 1024;

// pread until `count` bytes or the end of the file; -1 on an error.
int64_t readFully(int fd, char* out, int64_t count, int64_t offset) {
    int64_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, out + done, size_t(count - done), offset + done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

} // namespace

std::shared_ptr<FileStream> FileStream::open(const std::string& path, const std::string& mode) {
    if (mode != "r" && mode != "rb") {
        return {};
    }
    // Non-blocking, so that a FIFO without a writer cannot hold the open; the
    // check below then turns away everything but regular files (FIFOs,
    // devices such as /dev/zero that never end, directories). Reads of a
    // regular file ignore the flag.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return {};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return {};
    }
    const int64_t size = info.st_size;
    // Text (a bank description) is read once from start to end, straight into
    // the reader's buffer: copying it out of the kernel's cache costs far less
    // than mapping every page, and keeping no copy of our own saves a second
    // pass over it. Binary files are mapped, so that views never copy.
    if (mode == "r") {
        std::shared_ptr<FileStream> stream(new FileStream(nullptr, size, fd));
        stream->setName(path);
        return stream;
    }
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
    std::shared_ptr<FileStream> stream(new FileStream(data, size, -1));
    stream->setName(path);
    stream->m_path = path;
    stream->m_device = uint64_t(info.st_dev);
    stream->m_inode = uint64_t(info.st_ino);
    return stream;
}

FileStream::FileStream(const char* data, int64_t size, int descriptor)
    : m_data(data), m_size(size), m_descriptor(descriptor) {}

FileStream::~FileStream() {
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
    if (m_data) {
        ::munmap(const_cast<char*>(m_data), size_t(m_size));
    }
}

int64_t FileStream::size() const {
    return m_size;
}

int64_t FileStream::readAt(int64_t offset, void* buffer, int64_t count) const {
    if (offset < 0 || count <= 0 || offset >= m_size) {
        return 0;
    }
    const int64_t n = std::min(count, m_size - offset);
    if (m_descriptor >= 0) { // a file that shrank since it was opened gives what it holds
        return std::max<int64_t>(readFully(m_descriptor, static_cast<char*>(buffer), n, offset), 0);
    }
    if (n >= kDirectReadBytes && readDirect(offset, static_cast<char*>(buffer), n)) {
        return n;
    }
    std::memcpy(buffer, m_data + offset, size_t(n));
    return n;
}

// Reads through a descriptor of its own, and only from the very file that is
// mapped (same device and inode), so the bytes are the mapping's bytes; any
// doubt leaves the read to the mapping.
bool FileStream::readDirect(int64_t offset, char* buffer, int64_t count) const {
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    const bool same = ::fstat(fd, &info) == 0 && uint64_t(info.st_dev) == m_device &&
                      uint64_t(info.st_ino) == m_inode;
    const bool read = same && readFully(fd, buffer, count, offset) == count;
    ::close(fd);
    return read;
}

void FileStream::finishLoading() {
    if (m_data) {
        ::madvise(const_cast<char*>(m_data), size_t(m_size), MADV_RANDOM);
    }
}

} // namespace ox::stream
