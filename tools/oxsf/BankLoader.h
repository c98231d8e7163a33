#pragma once

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

/// Opens the bank at `path` through `manager`. Throws ToolError with a one-line
/// reason for a missing path, something that is not a bank, an archive without
/// the archive header or description, and a malformed description (with the
/// parser's message and, where it can be found, the line and column).
OpenedBank openBank(ox::soundfont::SoundFontManager& manager, const std::string& path);

/// True when `path` names a file whose extension makes it an archive bank.
bool hasArchiveExtension(const std::string& path);

} // namespace oxsf
