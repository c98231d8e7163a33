#pragma once

#include <soundfont/Export.h>
#include <soundfont/SoundFont.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

/// How SoundFontManager::addDirectory packages the bank at `path`, decided the
/// same way and opening nothing: a directory bank when `path` + "/Samples.xml"
/// exists, else an archive bank for the extensions "tq7bank" and "jux"
/// (case-sensitive), else none. Thread-safe.
enum class BankPackaging { None, Directory, Archive };
OXSF_EXPORT BankPackaging bankPackaging(const std::string& path);

/// The first nine bytes of every archive bank.
inline constexpr std::string_view kArchiveMagic{"OXARCHIVE", 9};

/// Why the description of a bank cannot be read, and where.
struct OXSF_EXPORT DescriptionProblem {
    enum Kind {
        Malformed, ///< rapidxml::parse_error: not well-formed, or past the description limits
        Tuning,    ///< std::invalid_argument or std::out_of_range from the "tuning" attribute
    };
    Kind kind = Malformed;
    std::string message; ///< the exception's own message
    int line = 0;        ///< 1-based place in the description; 0 when unknown
    int column = 0;
    /// The message, followed by " at line L, column C" when the place is known.
    std::string text() const;
};

/// Reads the description of the bank at `path` the way addDirectory does and
/// says what its reading throws, with the line and column of a parse error
/// (a parse_error caught from addDirectory points into text that is already
/// freed). Nothing when it reads without error or `path` is no bank. Not for
/// an audio thread: it reads the description.
OXSF_EXPORT std::optional<DescriptionProblem> describeDescriptionProblem(const std::string& path);

} // namespace ox::soundfont
