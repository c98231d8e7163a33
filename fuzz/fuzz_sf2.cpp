// Bytes as an SF2 file through a whole import (libinstpatch's reading, our
// zones, the FLAC files, the check through the library's search): banks, or
// an ImportError naming the file.
#include "FuzzSupport.h"

#include <ox/import/Import.h>

#include <QtGlobal>

#include <filesystem>
#include <fstream>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(dropMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = [] {
        const std::string dir = oxfuzz::scratchDir() + "/sf2";
        std::filesystem::create_directories(dir);
        return dir;
    }();
    std::ofstream(root + "/in.sf2", std::ios::binary)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    try {
        ox::import::importSource(root + "/in.sf2", root + "/out");
    } catch (const ox::import::ImportError&) {
    }
    std::filesystem::remove_all(root + "/out");
    return 0;
}
