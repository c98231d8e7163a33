#pragma once

// The demo banks: a plucked-string guitar as a directory bank and a small drum
// kit as an archive bank, both synthesized here, and a phrase for each.

#include <string>
#include <vector>

namespace oxsf::demo {

struct PhraseNote {
    int midi;
    double start;  ///< seconds
    double length; ///< seconds
    float gain;
};

struct DemoBanks {
    std::string guitar; ///< directory bank
    std::string drums;  ///< archive bank (.tq7bank)
    int guitarSamples = 0;
    int drumSamples = 0;
};

/// Writes the guitar bank into the folder `dir` (Samples.xml and Samples/);
/// returns the number of samples. Throws std::runtime_error on a write failure.
int writeGuitarBank(const std::string& dir);
/// Writes the drum kit as a directory bank into `dir`; returns the number of samples.
int writeDrumKit(const std::string& dir);
/// Writes both banks under `outDir`: outDir/DemoGuitar and outDir/DemoDrums.tq7bank
/// (the kit is packed with the archive writer from a scratch folder that is removed).
DemoBanks writeDemoBanks(const std::string& outDir);

/// The phrases `oxsf demo` plays; they start together.
const std::vector<PhraseNote>& guitarPhrase();
const std::vector<PhraseNote>& drumPhrase();

} // namespace oxsf::demo
