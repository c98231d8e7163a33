#include "BankLoader.h"

#include "Errors.h"

#include <ox/stream/FileStream.h>

#include <fmt/format.h>
#include <rapidxml/rapidxml.hpp>

#include <filesystem>
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
    const auto stream = ox::stream::FileStream::open(path, "rb");
    char magic[9] = {};
    return stream && stream->read(magic, sizeof magic) == 9 && std::string(magic, 9) == "OXARCHIVE";
}

struct Place {
    size_t line = 0;
    size_t column = 0;
};

/// The library's parse error points into a buffer that died with the bank, so
/// parse a fresh copy of the description here to find where it stopped, with
/// the library's own limits first: the parser must not run into a document
/// the library refused for its depth.
Place locateParseError(const std::string& path, bool archive) {
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
        checkDescriptionLimits(text.data() + start);
        rapidxml::xml_document<> document;
        document.parse<0>(text.data() + start);
    } catch (const rapidxml::parse_error& e) {
        const char* where = e.where<char>();
        if (where < text.data() || where >= text.data() + text.size()) {
            return {};
        }
        Place place{1, 1};
        for (const char* c = text.data(); c < where; ++c) {
            if (*c == '\n') {
                ++place.line;
                place.column = 1;
            } else {
                ++place.column;
            }
        }
        return place;
    } catch (const std::exception&) {
    }
    return {};
}

} // namespace

DescriptionError::DescriptionError(const std::string& bank, const std::string& document,
                                   const std::string& parserMessage, size_t line, size_t column)
    : ToolError(bank, fmt::format("malformed {}: {}{}", document, parserMessage,
                                  line > 0 ? fmt::format(" at line {}, column {}", line, column)
                                           : std::string())),
      m_document(document),
      m_problem(reason().substr(fmt::format("malformed {}: ", document).size())), m_line(line),
      m_column(column) {}

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
        if (!fs::is_regular_file(status)) {
            throw ToolError(path, "not a sound bank: neither a folder nor a regular file");
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
        const Place place = locateParseError(path, opened.archive);
        throw DescriptionError(path, description, e.what(), place.line, place.column);
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
