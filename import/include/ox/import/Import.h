#pragma once

/// \file
/// Bringing instruments in: SF2 soundfonts, SFZ instruments and Hydrogen drum
/// kits become banks (a directory bank, or an archive bank) in an output folder,
/// listed in that folder's instruments.json.
///
/// Errors: importSource() throws ImportError for a source it cannot read or a
/// folder it cannot write, and std::invalid_argument for options that do not fit the
/// source; a bad zone in an otherwise good source is skipped with a warning.
///
/// Threads: an import reads and writes files: not for an audio thread. Run one import
/// at a time: two into one folder would both rewrite its instruments.json, and an SF2
/// import without `verbose` silences GLib's log of the whole process while it reads.
///
/// Interruption: instruments.json is rewritten after each bank is in place, so a killed
/// import leaves a folder whose listing names exactly its finished banks; the next
/// import into the folder removes the staging folders and files a killed one left.

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

/// The importers (library OX::Import).
namespace ox::import {

/// A failure that stops an import. what() reads `<file>: <problem>`.
class ImportError : public std::runtime_error {
public:
    /// A failure of `file` (a source, output folder or listing); what() is `problem`
    /// alone when `file` is empty.
    ImportError(const std::string& file, const std::string& problem)
        : std::runtime_error(file.empty() ? problem : file + ": " + problem) {}
};

/// The kinds of source an import reads.
enum class SourceKind {
    Sf2,     ///< an SF2 soundfont: one bank per preset
    Sfz,     ///< an SFZ instrument: one bank
    Hydrogen ///< a Hydrogen drum kit: one unpitched bank
};

/// What `path` is by its name: an .sf2 or .sfz file, or a Hydrogen kit (a
/// folder holding drumkit.xml, or that file itself). Empty for anything else.
/// Extensions match in any case; nothing is opened but the folder test.
std::optional<SourceKind> sourceKind(const std::string& path);

/// A MIDI bank and program, each 0 to 16383 and 0 to 127.
using BankProgram = std::pair<int, int>;

/// What to import and how to write it; the defaults import everything as directory
/// banks.
struct ImportOptions {
    /// SF2: the presets to import; all when empty.
    std::vector<BankProgram> presets;
    /// SFZ and Hydrogen: the bank:program recorded in instruments.json.
    std::optional<BankProgram> program;
    /// Write archive banks (.tq7bank) instead of directory banks.
    bool archive = false;
    /// SFZ: file the instrument as a drum kit, every key its own piece.
    bool drums = false;
    /// Let libinstpatch's own log messages through to stderr.
    bool verbose = false;
    /// Called after each bank is written: banks done, banks in all; may be empty.
    std::function<void(int done, int total)> progress;
};

/// One bank written.
struct BankReport {
    std::string path;                  ///< relative to the output folder
    std::string id;                    ///< the bank's id; for SF2 presets `<source stem>-BBB-PPP`
    std::string name;                  ///< display name: the preset's, instrument's or kit's name
    std::string kind;                  ///< "pitched" or "unpitched"
    std::string source;                ///< the source's file (or kit folder) name
    int bank = -1;                     ///< General MIDI bank, -1 when none
    int program = -1;                  ///< General MIDI program, -1 when none
    int samples = 0;                   ///< Sample elements in the description
    int files = 0;                     ///< audio files written
    std::vector<std::string> dropped;  ///< what the bank format could not hold
    std::vector<std::string> warnings; ///< zones skipped, notes served imperfectly
    std::vector<std::pair<int, std::string>> pieces; ///< kits: MIDI note and piece name
};

/// What an import wrote.
struct ImportResult {
    std::vector<BankReport> banks;     ///< every bank written, in the order written
    std::vector<std::string> warnings; ///< about the source as a whole
};

/// Imports `source` into `outDir` (created when missing) and merges the banks
/// into outDir/instruments.json. Each bank is written under a temporary name,
/// checked through the library's own search and renamed into place, replacing a
/// bank of the same name. Throws ImportError for a source that cannot be read
/// (nothing is left under a bank's final name), std::invalid_argument for
/// options that do not fit the source.
ImportResult importSource(const std::string& source, const std::string& outDir,
                          const ImportOptions& options = {});

} // namespace ox::import
