// The catalogue's choice of packaging by path. The input names a path inside a
// scratch folder that holds a directory bank, an archive and decoys; whatever
// the name, opening must give a bank, an empty pointer or a documented error.
#include "FuzzSupport.h"

#include <soundfont/SoundFontManager.h>

#include <QtGlobal>

#include <filesystem>
#include <fstream>

namespace {

void prepare(const std::string& root) {
    namespace fs = std::filesystem;
    fs::create_directories(root + "/bank/Samples");
    fs::create_directories(root + "/dir.tq7bank");
    fs::create_directories(root + "/both.jux/Samples");
    std::ofstream(root + "/bank/Samples.xml") << "<Bank id=\"b\"><SamplesTree/></Bank>";
    std::ofstream(root + "/both.jux/Samples.xml") << "<Bank id=\"j\"/>";
    std::ofstream(root + "/file.tq7bank") << "OXARCHIVE";
    // A well-formed archive with no entries: magic, count 0, index at 25.
    std::ofstream(root + "/empty.jux", std::ios::binary)
        .write("OXARCHIVE\0\0\0\0\0\0\0\0\0\0\0\0\x19\0\0\0", 25);
    std::ofstream(root + "/broken/Samples.xml") << "<Bank";
}

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

// The manager logs one debug line per opened bank; keep the fuzzer's output readable.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    qInstallMessageHandler(dropMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = [] {
        std::string dir = oxfuzz::scratchDir() + "/catalogue";
        std::filesystem::create_directories(dir + "/broken");
        prepare(dir);
        return dir;
    }();
    std::string name(reinterpret_cast<const char*>(data), size);
    // Stay inside the scratch folder: no parent steps, no NULs.
    if (name.find("..") != std::string::npos || name.find('\0') != std::string::npos) {
        return 0;
    }
    ox::soundfont::SoundFontManager manager;
    const std::string path = root + "/" + name;
    std::shared_ptr<ox::soundfont::SoundFont> bank;
    oxfuzz::expectingDocumentedErrors([&] { bank = manager.addDirectory(path); });
    if (bank && manager.soundFont(path) == nullptr) {
        __builtin_trap(); // an opened bank is always stored under its path
    }
    manager.soundFontFromId(name);
    return 0;
}
