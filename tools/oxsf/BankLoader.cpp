#include "BankLoader.h"

#include "Errors.h"

#include <fmt/format.h>
#include <rapidxml/rapidxml.hpp>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace oxsf {

using namespace ox::soundfont;

bool hasArchiveExtension(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    return ext == ".tq7bank" || ext == ".jux";
}

namespace {

bool startsWithArchiveMagic(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[9] = {};
    in.read(magic, sizeof magic);
    return in.gcount() == 9 && std::string(magic, 9) == "OXARCHIVE";
}

/// The library's parse error points into a buffer that died with the bank, so
/// parse a fresh copy of the description here to find where it stopped.
std::string locateParseError(const std::string& path, bool archive) {
    std::shared_ptr<ox::stream::IStream> stream;
    if (archive) {
        stream = SoundFontV7(path).sampleXML();
    } else {
        stream = SoundFontV6(path).sampleXML();
    }
    if (!stream) {
        return {};
    }
    std::vector<char> text = stream->readAll();
    text.push_back('\0');
    size_t start = 0;
    if (text.size() >= 4 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB &&
        static_cast<unsigned char>(text[2]) == 0xBF) {
        start = 3;
    }
    try {
        rapidxml::xml_document<> document;
        document.parse<0>(text.data() + start);
    } catch (const rapidxml::parse_error& e) {
        const char* where = e.where<char>();
        if (where < text.data() || where >= text.data() + text.size()) {
            return {};
        }
        const size_t offset = static_cast<size_t>(where - text.data());
        size_t line = 1;
        size_t column = 1;
        for (size_t i = 0; i < offset; ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return fmt::format(" at line {}, column {}", line, column);
    } catch (const std::exception&) {
    }
    return {};
}

} // namespace

OpenedBank openBank(SoundFontManager& manager, const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
        throw ToolError(path, "no such file or directory");
    }
    const bool directory = fs::is_directory(status);
    const bool hasDescription = directory && fs::exists(fs::path(path) / "Samples.xml", ec);
    OpenedBank opened;
    opened.path = path;
    opened.archive = !hasDescription;
    if (directory && !hasDescription) {
        throw ToolError(path, "not a sound bank: the folder has no Samples.xml");
    }
    if (!directory) {
        if (fs::path(path).filename() == "Samples.xml") {
            throw ToolError(path, "give the folder that holds Samples.xml, not the file itself");
        }
        if (!hasArchiveExtension(path)) {
            throw ToolError(path, "not a sound bank: expected a folder holding Samples.xml or "
                                  "an archive named *.tq7bank or *.jux");
        }
        if (!startsWithArchiveMagic(path)) {
            throw ToolError(path, "not an archive bank: the file does not start with "
                                  "\"OXARCHIVE\"");
        }
    }

    const std::string description = opened.archive ? "Samples.xml entry" : "Samples.xml";
    try {
        opened.bank = manager.addDirectory(path);
    } catch (const rapidxml::parse_error& e) {
        throw ToolError(path, fmt::format("malformed {}: {}{}", description, e.what(),
                                          locateParseError(path, opened.archive)));
    } catch (const std::invalid_argument& e) {
        throw ToolError(path,
                        fmt::format("malformed \"tuning\" in {} ({})", description, e.what()));
    } catch (const std::out_of_range& e) {
        throw ToolError(path,
                        fmt::format("\"tuning\" out of range in {} ({})", description, e.what()));
    }
    if (!opened.bank) {
        throw ToolError(path, "not a sound bank");
    }
    if (opened.archive && !opened.bank->sampleXML()) {
        throw ToolError(path, "not a usable archive bank: it has no Samples.xml entry");
    }
    const Layer& top = opened.bank->layer();
    if (opened.bank->id().empty() && opened.bank->name().empty() && top.layers.empty() &&
        top.samples.empty()) {
        throw ToolError(path, fmt::format("empty description: {} has no identity and no "
                                          "SamplesTree",
                                          description));
    }
    return opened;
}

} // namespace oxsf
