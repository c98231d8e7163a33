#include "SongBanks.h"

#include "Errors.h"
#include "Report.h"
#include "Vocabulary.h"

#include <soundfont/SampleCoordinate.h>
#include <soundfont/SampleTree.h>

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

namespace oxsf {

using namespace ox::soundfont;
using ox::synth::Bank;

namespace {

// Notes further than this from the nearest sample lie outside the bank's range:
// imported banks play an octave and more from one sample by design.
constexpr int kFarOff = 24;

int parseChannel(const std::string& text, const std::string& list) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 1 || value > 16) {
        throw UsageError(fmt::format("'{}' is not a list of MIDI channels 1-16 like 10 or "
                                     "1-9,11-16",
                                     list));
    }
    return static_cast<int>(value);
}

/// "C2 (36), D2 (38)" for the first few notes of `notes`, then how many more.
std::string noteList(const std::map<int, int>& notes) {
    std::string text;
    int shown = 0;
    for (const auto& [midi, count] : notes) {
        if (++shown > 6) {
            return text + fmt::format(" and {} more", notes.size() - 6);
        }
        text += fmt::format("{}{} ({})", text.empty() ? "" : ", ", pitchName(midi), midi);
    }
    return text;
}

int total(const std::map<int, int>& notes) {
    int sum = 0;
    for (const auto& entry : notes) {
        sum += entry.second;
    }
    return sum;
}

} // namespace

Channels parseChannels(const std::string& text) {
    Channels channels;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        const size_t dash = part.find('-');
        const int low = parseChannel(part.substr(0, dash), text);
        const int high =
            dash == std::string::npos ? low : parseChannel(part.substr(dash + 1), text);
        if (high < low) {
            throw UsageError(fmt::format("'{}': the range {} runs backwards", text, part));
        }
        for (int c = low; c <= high; ++c) {
            channels.set(c - 1);
        }
        start = comma + 1;
    }
    return channels;
}

SongSurvey::SongSurvey(ox::synth::Synth& synth, Warnings& warnings)
    : m_synth(synth), m_warnings(warnings) {}

void SongSurvey::handle(const ox::synth::MidiEvent& event) {
    Channel& channel = m_channels[static_cast<size_t>(event.channel())];
    switch (event.type()) {
    case 0x90:
        if (event.data2 > 0) {
            noteOn(event.channel(), event.data1, event.data2);
        }
        break;
    case 0xB0:
        if (event.data1 == 0) {
            channel.msb = event.data2;
        } else if (event.data1 == 32) {
            channel.lsb = event.data2;
        }
        break;
    case 0xC0:
        channel.program = event.data1;
        channel.programMsb = channel.msb;
        channel.programLsb = channel.lsb;
        channel.chosen = false;
        break;
    default:
        break;
    }
}

void SongSurvey::noteOn(int ch, int key, int velocity) {
    Channel& channel = m_channels[static_cast<size_t>(ch)];
    if (!channel.chosen) {
        channel.bank = m_synth.prepare(ch, channel.programMsb, channel.programLsb, channel.program);
        channel.chosen = true;
    }
    const Bank* bank = channel.bank;
    if (!bank) {
        return;
    }
    const SampleTreeNodeSample* sample = bank->sample(key, velocity);
    // A kit plays a piece at its own note only, never a neighbour transposed.
    if (!sample || (bank->kit() && (*sample)[SampleCoordinate::Midi] != key)) {
        ++m_missing[bank][key];
        return;
    }
    if (!bank->kit() && std::abs(key - (*sample)[SampleCoordinate::Midi]) > kFarOff) {
        ++m_farOff[bank][key];
    }
    ++m_played[{ch, channel.program, bank}];
    checkFiles(*bank, *sample, key, velocity);
}

void SongSurvey::checkFiles(const Bank& bank, const SampleTreeNodeSample& sample, int key,
                            int velocity) {
    if (!m_checkedSamples.insert(&sample).second) {
        return;
    }
    for (const VelocityPlayer& played :
         bank.bank().samplePlayersForVelocity(key, velocity, kEveryAlternate)) {
        const auto& stream = played.player.stream();
        if (played.sample && !played.sample->files.empty() && (!stream || stream->empty())) {
            m_warnings.warn(bank.path(), fmt::format("sample file {} cannot be opened or decoded; "
                                                     "the notes it plays are silent",
                                                     firstFile(*played.sample)));
        }
    }
}

void SongSurvey::warnAboutNotes(const ox::synth::BankChooser& banks) {
    for (const auto& [path, bank] : banks.banks()) {
        if (!bank) {
            continue;
        }
        const std::map<int, int>& missing = m_missing[bank.get()];
        const std::map<int, int>& farOff = m_farOff[bank.get()];
        if (!missing.empty()) {
            const int count = total(missing);
            m_warnings.warn(path, fmt::format("the {} has no {} for {} note{}: {}; {} silent",
                                              bank->kit() ? "kit" : "bank",
                                              bank->kit() ? "piece" : "sample", count,
                                              count == 1 ? "" : "s", noteList(missing),
                                              count == 1 ? "it stays" : "they stay"));
        }
        if (!farOff.empty()) {
            m_warnings.warn(path, fmt::format("{} note{} outside its range, more than two "
                                              "octaves from the nearest sample, played "
                                              "transposed: {}",
                                              total(farOff), total(farOff) == 1 ? " lies" : "s lie",
                                              noteList(farOff)));
        }
    }
}

} // namespace oxsf
