#include <write/ArchiveWriter.h>

#include <ox/stream/FileStream.h>
#include <soundfont/SoundFontManager.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oxsf::archive {

namespace {

using ox::soundfont::kArchiveMagic;
constexpr int64_t kHeaderSize = 25;

[[noreturn]] void fail(const std::string& file, const std::string& what) {
    throw std::runtime_error(file + ": " + what);
}

void putLittleEndian(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(char((value >> (8 * i)) & 0xff));
    }
}

// A temporary file beside the target; removed unless committed by rename.
class TempFile {
    // What a failure leaves: the target as it was, never half an archive.
    static constexpr const char* kRemoved = "; the unfinished archive was removed";

public:
    explicit TempFile(const std::string& target) : m_target(target) {
        std::string pattern = target + ".tmp-XXXXXX";
        m_fd = ::mkstemp(pattern.data());
        if (m_fd < 0) {
            fail(target, std::string("cannot create a temporary file: ") + std::strerror(errno));
        }
        m_path = pattern;
        ::fchmod(m_fd, 0644);
    }
    ~TempFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    void write(const char* data, int64_t size) {
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size_t(std::min<int64_t>(size, 1 << 30)));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                fail(m_target, std::string("write failed: ") + std::strerror(errno) + kRemoved);
            }
            data += n;
            size -= n;
        }
    }
    void write(const std::string& bytes) { write(bytes.data(), int64_t(bytes.size())); }

    void commit() {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) {
            fail(m_target, std::string("write failed: ") + std::strerror(errno) + kRemoved);
        }
        if (::rename(m_path.c_str(), m_target.c_str()) != 0) {
            fail(m_target,
                 std::string("cannot rename into place: ") + std::strerror(errno) + kRemoved);
        }
        m_path.clear();
    }

private:
    std::string m_target;
    std::string m_path;
    int m_fd = -1;
};

int64_t entrySize(const ArchiveInput& entry) {
    if (entry.path.empty()) {
        return int64_t(entry.bytes.size());
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(entry.path, error);
    if (error) {
        fail(entry.path, "cannot read: " + error.message());
    }
    return int64_t(size);
}

void copyEntry(TempFile& out, const ArchiveInput& entry, int64_t expected) {
    if (entry.path.empty()) {
        out.write(entry.bytes);
        return;
    }
    auto file = ox::stream::FileStream::open(entry.path, "rb");
    if (!file) {
        fail(entry.path, "cannot open");
    }
    if (file->size() != expected) {
        fail(entry.path, "changed size while being packed");
    }
    out.write(file->data(), file->size());
}

} // namespace

ArchiveInput ArchiveInput::fromBytes(std::string name, std::string bytes) {
    return ArchiveInput{std::move(name), std::move(bytes), {}};
}

ArchiveInput ArchiveInput::fromFile(std::string name, std::string path) {
    return ArchiveInput{std::move(name), {}, std::move(path)};
}

void writeArchive(const std::string& target, const std::vector<ArchiveInput>& entries) {
    // Plan the whole layout first, so every refusal happens before anything is written.
    std::vector<int64_t> sizes;
    std::string index;
    int64_t offset = kHeaderSize;
    for (const ArchiveInput& entry : entries) {
        if (entry.name.empty()) {
            fail(target, "an entry name is empty");
        }
        if (entry.name.find('\0') != std::string::npos) {
            fail(target, "entry name \"" + entry.name.substr(0, entry.name.find('\0')) +
                             "...\" contains a NUL byte");
        }
        const int64_t size = entrySize(entry);
        if (size >= kArchiveSizeLimit) {
            fail(entry.path.empty() ? target : entry.path, "entry is too large for an archive");
        }
        sizes.push_back(size);
        putLittleEndian(index, uint64_t(offset), 8);
        putLittleEndian(index, uint64_t(size), 4);
        index += entry.name;
        index.push_back('\0');
        offset += size;
        if (offset >= kArchiveSizeLimit) {
            break; // reported below
        }
    }
    const int64_t indexOffset = offset;
    if (indexOffset + int64_t(index.size()) >= kArchiveSizeLimit || entries.size() > UINT32_MAX) {
        fail(target, "archive would reach 2^31 bytes, the format's limit");
    }

    std::string header(kArchiveMagic);
    putLittleEndian(header, 0, 4);
    putLittleEndian(header, entries.size(), 4);
    putLittleEndian(header, 0, 4);
    putLittleEndian(header, uint64_t(indexOffset), 4);

    TempFile out(target);
    out.write(header);
    for (size_t i = 0; i < entries.size(); ++i) {
        copyEntry(out, entries[i], sizes[i]);
    }
    out.write(index);
    out.commit();
}

void packDirectoryBank(const std::string& bankDir, const std::string& target) {
    namespace fs = std::filesystem;
    const std::string xml = bankDir + "/Samples.xml";
    if (!fs::is_regular_file(xml)) {
        fail(xml, "not found; a directory bank needs a Samples.xml");
    }

    std::vector<ArchiveInput> samples;
    const fs::path folder = fs::path(bankDir) / "Samples";
    std::error_code error;
    if (fs::is_directory(folder, error)) {
        for (const auto& item : fs::directory_iterator(folder)) {
            if (item.is_regular_file()) {
                samples.push_back(
                    ArchiveInput::fromFile(item.path().filename().string(), item.path().string()));
            }
        }
    }
    std::sort(samples.begin(), samples.end(),
              [](const ArchiveInput& a, const ArchiveInput& b) { return a.name < b.name; });

    std::vector<ArchiveInput> entries;
    entries.reserve(samples.size() + 1);
    entries.push_back(ArchiveInput::fromFile("Samples.xml", xml));
    for (auto& sample : samples) {
        entries.push_back(std::move(sample));
    }
    writeArchive(target, entries);
}

std::vector<ArchiveRecord> readArchiveIndex(const std::string& path) {
    auto stream = ox::stream::FileStream::open(path, "rb");
    if (!stream) {
        fail(path, "cannot open");
    }
    unsigned char header[kHeaderSize];
    if (stream->read(header, kHeaderSize) < kHeaderSize ||
        std::memcmp(header, kArchiveMagic.data(), kArchiveMagic.size()) != 0) {
        fail(path, "not an archive: it does not start with \"" + std::string(kArchiveMagic) + "\"");
    }
    auto word = [&](int at) {
        return uint32_t(header[at]) | uint32_t(header[at + 1]) << 8 |
               uint32_t(header[at + 2]) << 16 | uint32_t(header[at + 3]) << 24;
    };
    const uint32_t count = word(13);
    stream->seek(word(21), 0);

    std::vector<ArchiveRecord> records;
    for (uint32_t i = 0; i < count; ++i) {
        bool offsetOk = false;
        bool sizeOk = false;
        ArchiveRecord record;
        record.offset = stream->readInt64(&offsetOk);
        record.size = stream->readUInt32(&sizeOk);
        const int64_t nameStart = stream->tell();
        record.name = stream->readCString();
        if (!offsetOk || !sizeOk || stream->tell() - nameStart != int64_t(record.name.size()) + 1) {
            fail(path, "the index is cut short after " + std::to_string(i) + " of " +
                           std::to_string(count) + " records");
        }
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace oxsf::archive
