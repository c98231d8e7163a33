#include "archive/Archive.h"

#include <cstring>

namespace ox::soundfont {

namespace {

constexpr char kMagic[] = "OXARCHIVE";
constexpr int kHeaderSize = 25;

uint32_t littleEndian32(const unsigned char* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

} // namespace

ArchiveTable loadArchiveIndex(ox::stream::IStream& stream) {
    ArchiveTable table;
    unsigned char header[kHeaderSize];
    if (stream.read(header, kHeaderSize) < kHeaderSize)
        return table;
    if (std::memcmp(header, kMagic, 9) != 0)
        return table;
    const uint32_t count = littleEndian32(header + 13);
    const uint32_t indexOffset = littleEndian32(header + 21);
    if (!stream.seek(indexOffset, 0))
        return table;

    // The count comes from the file and may be anything: read records until the
    // stream runs out rather than trusting it, and size nothing by it.
    for (uint32_t i = 0; i < count && !stream.atEnd(); ++i) {
        bool offsetOk = false;
        bool sizeOk = false;
        const int64_t offset = stream.readInt64(&offsetOk);
        const uint32_t size = stream.readUInt32(&sizeOk);
        if (!offsetOk || !sizeOk)
            break;
        const int64_t nameStart = stream.tell();
        std::string name = stream.readCString();
        if (stream.tell() - nameStart != int64_t(name.size()) + 1)
            break; // the name ran into the end of the stream without its NUL
        table.emplace(std::move(name), ArchiveEntry{uint32_t(uint64_t(offset)), size});
    }
    return table;
}

std::shared_ptr<ox::stream::IStream>
openArchiveEntry(const std::shared_ptr<ox::stream::IStream>& archive, const ArchiveTable& table,
                 const std::string& name) {
    if (!archive)
        return {};
    const auto found = table.find(name);
    if (found == table.end())
        return {};
    // Both values go to the view as signed 32-bit numbers; the view clips them.
    auto view =
        archive->make_view(long(int32_t(found->second.offset)), long(int32_t(found->second.size)));
    if (!view)
        return {};
    view->setName(view->name() + "/" + name);
    return view;
}

} // namespace ox::soundfont
