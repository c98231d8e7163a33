#pragma once

#include <soundfont/Export.h>
#include <soundfont/SoundFont.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

/// \file
/// Where a host starts: SoundFontManager opens banks and finds them again;
/// bankPackaging() tells how a path would open, and describeDescriptionProblem() says
/// where a description that does not read goes wrong.

/// \mainpage
/// A host opens banks with ox::soundfont::SoundFontManager::addDirectory() and gets a
/// ready player for a note from ox::soundfont::SoundFont::samplePlayerForVelocity() or
/// ox::soundfont::SoundFont::samplePlayer(); on an audio thread it asks
/// ox::soundfont::SoundFont::trySamplePlayer() instead. The searches behind them are
/// ox::soundfont::SampleTree::findSample() and ox::soundfont::SampleTree::findSampleByMidi().
/// Each header's page says who owns what, in which units, what passes out as an error and
/// which calls may run on an audio thread.
///
/// - The library (CMake target OX::SoundFont, `include/soundfont/`): namespace
///   ox::soundfont.
/// - The host libraries (`host/include/`): streams and path helpers (OX::Utils,
///   ox::stream and ox::utils), decoders and per-sample corrections (OX::Audio,
///   ox::audio), the profiler (OX::Prof, oxprof.h).
/// - The importers (OX::Import, `import/include/`): ox::import::importSource().

/// \namespace ox
/// Everything of OXSoundFont and of the host libraries it drives.

/// The sound bank library: the catalogue, the banks, the audio cache, the playing
/// vocabulary, sample coordinates and the sample tree.
namespace ox::soundfont {

/// The catalogue of opened banks, keyed by the path they were opened with.
///
/// Banks are shared: the catalogue keeps a share of every bank it stores and never
/// drops or replaces one while the manager lives; banks the host holds outlive the
/// manager. Each bank opened writes one debug line, its id, through Qt's logger. A
/// bank named exactly "Knock" plays at velocity 0.5, whatever its description says.
///
/// Threads: not for an audio thread (addDirectory reads files); adding banks
/// must not overlap any other call on the same manager, lookups may run together.
class OXSF_EXPORT SoundFontManager {
public:
    /// An empty catalogue.
    SoundFontManager();
    virtual ~SoundFontManager();
    SoundFontManager(const SoundFontManager&) = delete;
    SoundFontManager& operator=(const SoundFontManager&) = delete;

    /// Opens the bank at `path`: a directory holding "Samples.xml", else an
    /// archive with the extension "tq7bank" or "jux". Empty for anything else.
    /// Exceptions of the bank's description pass out and nothing is stored.
    /// The bank returned is initialized. Opening a path again makes and returns a new
    /// bank, but the catalogue keeps the first.
    std::shared_ptr<SoundFont> addDirectory(const std::string& path);
    /// The bank stored under exactly `path`, or empty.
    /// Byte for byte: a different case or a trailing "/" finds nothing.
    std::shared_ptr<SoundFont> soundFont(const std::string& path) const;
    /// A stored bank whose id() is `id`, or empty.
    /// When several share the id, which one is unspecified.
    std::shared_ptr<SoundFont> soundFontFromId(const std::string& id) const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

/// How a bank is packaged.
enum class BankPackaging {
    None,      ///< no bank: SoundFontManager::addDirectory() returns empty
    Directory, ///< a folder holding "Samples.xml": SoundFontV6
    Archive    ///< an archive file: SoundFontV7
};
/// How SoundFontManager::addDirectory packages the bank at `path`, decided the
/// same way and opening nothing: a directory bank when `path` + "/Samples.xml"
/// exists, else an archive bank for the extensions "tq7bank" and "jux"
/// (case-sensitive), else none. Thread-safe.
OXSF_EXPORT BankPackaging bankPackaging(const std::string& path);

/// The first nine bytes of every archive bank.
inline constexpr std::string_view kArchiveMagic{"OXARCHIVE", 9};

/// Why the description of a bank cannot be read, and where.
struct OXSF_EXPORT DescriptionProblem {
    /// What reading the description threw.
    enum Kind {
        Malformed, ///< rapidxml::parse_error: not well-formed, or past the description limits
        Tuning,    ///< std::invalid_argument or std::out_of_range from the "tuning" attribute
    };
    Kind kind = Malformed; ///< what was thrown
    std::string message;   ///< the exception's own message
    int line = 0;          ///< 1-based place in the description; 0 when unknown
    int column = 0;        ///< 1-based byte on that line; 0 when unknown
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
