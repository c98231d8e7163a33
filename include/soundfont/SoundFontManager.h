#pragma once

#include <soundfont/Export.h>
#include <soundfont/SoundFont.h>

#include <memory>
#include <string>

namespace ox::soundfont {

/// The catalogue of opened banks, keyed by the path they were opened with.
/// Threads: not for an audio thread (addDirectory reads files); adding banks
/// must not overlap any other call on the same manager, lookups may run together.
class OXSF_EXPORT SoundFontManager {
public:
    SoundFontManager();
    virtual ~SoundFontManager();
    SoundFontManager(const SoundFontManager&) = delete;
    SoundFontManager& operator=(const SoundFontManager&) = delete;

    /// Opens the bank at `path`: a directory holding "Samples.xml", else an
    /// archive with the extension "tq7bank" or "jux". Empty for anything else.
    /// Exceptions of the bank's description pass out and nothing is stored.
    std::shared_ptr<SoundFont> addDirectory(const std::string& path);
    /// The bank stored under exactly `path`, or empty.
    std::shared_ptr<SoundFont> soundFont(const std::string& path) const;
    /// A stored bank whose id() is `id`, or empty.
    std::shared_ptr<SoundFont> soundFontFromId(const std::string& id) const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace ox::soundfont
