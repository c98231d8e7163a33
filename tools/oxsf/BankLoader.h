#pragma once

#include "Errors.h"

#include <soundfont/SoundFont.h>
#include <soundfont/SoundFontManager.h>

#include <memory>
#include <string>

namespace oxsf {

/// A bank opened through the library's manager, with what the tool reports about it.
struct OpenedBank {
    std::shared_ptr<ox::soundfont::SoundFont> bank;
    std::string path;
    bool archive = false;
};

/// A description the XML parser refused, and where it stopped.
class DescriptionError : public ToolError {
public:
    /// `document`: "Samples.xml" or "Samples.xml entry"; line and column 0 when unknown.
    DescriptionError(const std::string& bank, const std::string& document,
                     const std::string& parserMessage, size_t line, size_t column);

    const std::string& document() const { return m_document; }
    /// The parser's message with the line and column.
    const std::string& problem() const { return m_problem; }
    size_t line() const { return m_line; }
    size_t column() const { return m_column; }

private:
    std::string m_document;
    std::string m_problem;
    size_t m_line;
    size_t m_column;
};

/// Opens the bank at `path` through `manager`. Throws ToolError with a one-line
/// reason for a missing path, something that is not a bank, an archive without
/// the archive header or description, and a malformed description
/// (DescriptionError, with the parser's message and, where it can be found,
/// the line and column).
OpenedBank openBank(ox::soundfont::SoundFontManager& manager, const std::string& path);

/// True when `path` names a file whose extension makes it an archive bank.
bool hasArchiveExtension(const std::string& path);

} // namespace oxsf
