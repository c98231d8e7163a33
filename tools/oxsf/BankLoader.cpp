#include "BankLoader.h"

#include "Errors.h"

#include <ox/stream/FileStream.h>

#include <fmt/format.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace oxsf {

using namespace ox::soundfont;

bool hasArchiveExtension(const std::string& path) {
    return bankPackaging(path) == BankPackaging::Archive;
}

namespace {

bool startsWithArchiveMagic(const std::string& path) {
    const auto stream = ox::stream::FileStream::open(path, "rb");
    char magic[kArchiveMagic.size()] = {};
    return stream && stream->read(magic, sizeof magic) == sizeof magic &&
           std::string_view(magic, sizeof magic) == kArchiveMagic;
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
            throw ToolError(path, fmt::format("not an archive bank: the file does not start with "
                                              "\"{}\"",
                                              kArchiveMagic));
        }
    }

    const std::string description = opened.archive ? "Samples.xml entry" : "Samples.xml";
    try {
        opened.bank = manager.addDirectory(path);
    } catch (const std::exception& e) {
        // The library tells what went wrong, and where, by reading the description again.
        const auto problem = describeDescriptionProblem(path);
        if (!problem) {
            throw ToolError(path, e.what());
        }
        if (problem->kind == DescriptionProblem::Tuning) {
            throw ToolError(path, fmt::format("malformed \"tuning\" in {} ({})", description,
                                              problem->message));
        }
        throw DescriptionError(path, description, problem->message, size_t(problem->line),
                               size_t(problem->column));
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
