// SFZ text through the parser, and through a whole import whose samples are
// two small files beside it: a bank, or an ImportError naming the problem.
#include "FuzzSupport.h"

#include "Sfz.h"

#include <ox/import/Import.h>

#include <QtGlobal>

#include <sndfile.h>

#include <filesystem>
#include <fstream>

namespace {

void writeSample(const std::string& path, bool loop) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (loop) {
        SF_INSTRUMENT instrument{};
        instrument.loop_count = 1;
        instrument.loops[0] = {SF_LOOP_FORWARD, 8, 40, 0};
        sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
    }
    short frames[64] = {0, 1000, -1000, 2000};
    sf_writef_short(file, frames, 64);
    sf_close(file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = [] {
        // The manager logs a line per bank the import checks; keep the output readable.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        const std::string dir = oxfuzz::scratchDir() + "/sfz";
        std::filesystem::create_directories(dir + "/s");
        writeSample(dir + "/a.wav", false);
        writeSample(dir + "/s/b.wav", true);
        return dir;
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    ox::import::parseSfz(text, [&](const std::string&) { return std::optional(text); });
    if (text.find("sample") == std::string::npos) {
        return 0; // nothing an import would write
    }
    std::ofstream(root + "/in.sfz", std::ios::binary) << text;
    try {
        ox::import::importSource(root + "/in.sfz", root + "/out");
    } catch (const ox::import::ImportError&) {
    }
    std::filesystem::remove_all(root + "/out");
    return 0;
}
