#include "Mixer.h"

#include "Errors.h"
#include "Report.h"
#include "SoundWriter.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace oxsf {

using namespace ox::soundfont;

namespace {

constexpr int64_t BlockFrames = 4096;

// Releases longer than this are cut, so that a bank cannot make a render endless.
constexpr double kMaxReleaseSeconds = 30.0;

int64_t startFrame(const Note& note, double rate) {
    return std::llround(std::max(0.0, note.start) * rate);
}

/// Adds one voice of a note into `mix`, growing it as needed: the player sounds
/// until the note's end, is released then, and runs until it finishes; a later
/// note of its choke group (at frame `chokedAt`, -1 for none) fades it out
/// sooner. Returns the frame where its sound ends.
int64_t renderVoice(ox::audio::TQ7SamplePlayer& player, const Note& note, int64_t chokedAt,
                    const MixSettings& settings, std::vector<float>& mix) {
    const double rate = settings.sampleRate;
    const int64_t start = startFrame(note, rate);
    const int64_t noteOff = start + std::max<int64_t>(1, std::llround(note.length * rate));
    const ox::audio::Envelope* envelope = player.envelope();
    const double release =
        std::min(envelope ? envelope->release : settings.release, kMaxReleaseSeconds);

    int64_t end = 0;
    for (int64_t position = start; !player.finished();) {
        // A choke cuts the note, or its release, short; the earlier of the two starts the fade.
        if (position == chokedAt && (position < noteOff || release > kChokeSeconds)) {
            player.release(kChokeSeconds);
        } else if (position == noteOff && !player.released()) {
            player.release(envelope ? std::min(player.releaseTime(), kMaxReleaseSeconds) : release);
        }
        int64_t stop = position + BlockFrames;
        for (const int64_t event : {noteOff, chokedAt}) {
            if (event > position) {
                stop = std::min(stop, event);
            }
        }
        const int64_t count = stop - position;
        const size_t needed = static_cast<size_t>(position + count) * 2;
        if (mix.size() < needed) {
            mix.resize(needed, 0.0f);
        }
        const int64_t sounding =
            player.mix(mix.data() + static_cast<size_t>(position) * 2, count, 2, nullptr);
        if (sounding > 0) {
            end = position + sounding;
        }
        position += count;
    }
    return end;
}

} // namespace

Mix renderNotes(const std::vector<Note>& notes, const MixSettings& settings,
                std::vector<NoteReport>* reports) {
    Mix mix;
    mix.sampleRate = settings.sampleRate;
    int64_t soundEnd = 0;
    // Every layer of every note first, so that a voice knows the later notes of its group.
    std::vector<std::vector<VelocityPlayer>> players(notes.size());
    // Alternates take turns by strike of each key, in the order the notes start.
    std::vector<size_t> order(notes.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return notes[a].start < notes[b].start; });
    std::map<std::pair<const SoundFont*, int>, uint32_t> strikes;
    uint32_t draw = 0x9E3779B9u;
    for (const size_t i : order) {
        if (notes[i].bank) {
            draw = draw * 1664525u + 1013904223u;
            const Strike strike{strikes[{notes[i].bank, notes[i].midi}]++,
                                float(draw >> 8) * 0x1p-24f};
            players[i] = notes[i].bank->samplePlayers(notes[i].midi, notes[i].dynamic, strike);
        }
    }
    // The first frame after a voice's start where another note of `group` starts.
    const auto chokedAt = [&](size_t i, int group) {
        int64_t at = -1;
        const int64_t start = startFrame(notes[i], settings.sampleRate);
        for (size_t j = 0; j < notes.size() && group > 0; ++j) {
            const int64_t other = startFrame(notes[j], settings.sampleRate);
            const bool later = other > start || (other == start && j > i);
            const bool sameGroup =
                std::any_of(players[j].begin(), players[j].end(),
                            [group](const VelocityPlayer& p) { return p.chokeGroup == group; });
            if (j != i && later && sameGroup && (at < 0 || other < at)) {
                at = other;
            }
        }
        return at;
    };
    for (size_t i = 0; i < notes.size(); ++i) {
        const Note& note = notes[i];
        NoteReport report;
        report.note = note;
        if (!players[i].empty()) {
            // The first player is samplePlayer()'s: it says which file serves the note.
            const SampleTreeNodeSample& sample = *players[i].front().sample;
            report.found = true;
            report.file = firstFile(sample);
            report.recordedMidi = sample[SampleCoordinate::Midi];
            report.transposition = players[i].front().transposition;
            report.layers = static_cast<int>(players[i].size()) - 1;
        }
        for (VelocityPlayer& voice : players[i]) {
            ox::audio::TQ7SamplePlayer& player = voice.player;
            player.setOutputSampleRate(settings.sampleRate);
            player.setGain(note.gain * player.gain());
            player.setInterpolation(settings.highQuality ? ox::audio::Interpolation::Sinc
                                                         : ox::audio::Interpolation::Cubic);
            soundEnd = std::max(soundEnd, renderVoice(player, note, chokedAt(i, voice.chokeGroup),
                                                      settings, mix.samples));
        }
        players[i].clear();
        if (reports) {
            reports->push_back(report);
        }
    }
    // The last block of each voice is whole; the mix ends where the last sound does.
    mix.samples.resize(static_cast<size_t>(soundEnd) * 2);

    for (float s : mix.samples) {
        mix.peak = std::max(mix.peak, std::fabs(s));
    }
    const float ceiling = settings.normalize ? 0.891f : 0.99f; // -1 dBFS when normalising
    if (mix.peak > 0.0f && (settings.normalize || mix.peak > ceiling)) {
        mix.scale = ceiling / mix.peak;
        for (float& s : mix.samples) {
            s *= mix.scale;
        }
    }
    return mix;
}

void writeMix(const std::string& path, const Mix& mix, bool floatSamples) {
    SoundWriter writer(path, outputFormat(path, 16, floatSamples), mix.sampleRate);
    std::vector<float> block;
    for (int64_t frame = 0; frame < mix.frames(); frame += BlockFrames) {
        const int64_t count = std::min(BlockFrames, mix.frames() - frame);
        block.assign(mix.samples.begin() + frame * 2, mix.samples.begin() + (frame + count) * 2);
        writer.write(block.data(), count);
    }
    writer.close();
}

} // namespace oxsf
