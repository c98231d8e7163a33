#pragma once

// The checks of `oxsf check`: the mistakes of a bank's author that the library,
// by design, answers quietly (silence, another sample, another bank's file),
// each finding naming the element or file it concerns.

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace ox::soundfont {
class SoundFont;
}

namespace oxsf {

struct Finding {
    enum class Severity { Error, Warning };
    Severity severity = Severity::Warning;
    std::string check;   ///< what kind of fault: "missing-file", "coverage", ...
    std::string subject; ///< the element or file it concerns
    std::string message;
    nlohmann::json details = nlohmann::json::object();
};

struct CheckOptions {
    bool decode = false;  ///< decode every file whole
    int maxTranspose = 2; ///< semitones a pitch-only request may be transposed
};

/// Every finding about one opened bank. `samplesFolder` is a directory bank's
/// Samples folder, so that a missing file can be told from one that is no
/// regular file; empty for other banks.
std::vector<Finding> checkBank(const ox::soundfont::SoundFont& bank,
                               const std::string& samplesFolder, const CheckOptions& options);

/// The sample file names the bank's description gives, in order of first mention.
std::vector<std::string> describedFiles(const ox::soundfont::SoundFont& bank);

} // namespace oxsf
