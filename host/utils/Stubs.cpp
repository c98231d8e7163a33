// Temporary placeholder so the skeleton links; replaced by the real stream library.
#include <ox/stream/FileStream.h>
#include <ox/stream/MemoryStream.h>
#include <ox/utils/filesystem.h>
#include <ox/utils/split.h>
namespace ox::stream {
IStream::~IStream() = default;
bool IStream::seek(int64_t, int) { return false; }
int64_t IStream::tell() const { return m_position; }
int64_t IStream::read(void*, int64_t) { return 0; }
std::vector<char> IStream::readAll() { return {}; }
void IStream::finishLoading() {}
void IStream::setName(const std::string& name) { m_name = name; }
std::shared_ptr<IStream> IStream::make_view(long, long) { return {}; }
uint32_t IStream::readUInt32(bool*) { return 0; }
int64_t IStream::readInt64(bool*) { return 0; }
std::string IStream::readCString() { return {}; }
std::shared_ptr<FileStream> FileStream::open(const std::string&, const std::string&) { return {}; }
FileStream::~FileStream() = default;
int64_t FileStream::size() const { return 0; }
int64_t FileStream::readAt(int64_t, void*, int64_t) const { return 0; }
void FileStream::finishLoading() {}
MemoryStream::MemoryStream(std::vector<char> bytes, std::string name) : m_bytes(std::move(bytes)) { setName(name); }
MemoryStream::~MemoryStream() = default;
int64_t MemoryStream::size() const { return 0; }
int64_t MemoryStream::readAt(int64_t, void*, int64_t) const { return 0; }
} // namespace ox::stream
namespace ox::utils {
std::vector<std::string> split(const std::string&, char) { return {}; }
namespace filesystem {
bool exists(const std::string&) { return false; }
std::string extension(const std::string&) { return {}; }
std::string filename(const std::string&) { return {}; }
} // namespace filesystem
} // namespace ox::utils
