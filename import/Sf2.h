#pragma once

// SF2 soundfonts through libinstpatch: each preset becomes the plan of one bank.

#include "Plan.h"

#include <memory>
#include <string>
#include <vector>

namespace ox::import {

struct Sf2Preset {
    int bank = 0;
    int program = 0;
    std::string name;
};

/// An opened soundfont. Its presets are planned one at a time; their audio is
/// read from the file when the bank writer asks, so the planner must outlive
/// the writing of its plans.
class Sf2File {
public:
    /// Reads the file's structure. Throws ImportError naming the file when it
    /// is not a soundfont libinstpatch reads. libinstpatch's own log messages
    /// reach stderr only when `verbose`.
    Sf2File(const std::string& path, bool verbose);
    ~Sf2File();
    Sf2File(const Sf2File&) = delete;
    Sf2File& operator=(const Sf2File&) = delete;

    const std::vector<Sf2Preset>& presets() const;
    /// The zones of preset `index` (presets() order): every instrument zone
    /// that the preset plays, left/right pairs joined, bad zones skipped with
    /// a warning. Drum presets (bank 128) are unpitched.
    BankPlan plan(size_t index) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace ox::import
