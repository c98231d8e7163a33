// Bytes as an SF2 file through a whole import (libinstpatch's reading, our
// zones, the FLAC files, the check through the library's search): banks, or
// an ImportError naming the file.
#include "FuzzSupport.h"

#include <ox/import/Import.h>

#include <QtGlobal>

#include <filesystem>
#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = [] {
        // The manager logs a line per bank the import checks; keep the output readable.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
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
