#include "Mixer.h"

#include "Errors.h"
#include "Report.h"
#include "SoundWriter.h"

#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include <algorithm>
#include <cmath>

namespace oxsf {

using namespace ox::soundfont;

namespace {

constexpr int64_t BlockFrames = 4096;

// Releases longer than this are cut, so that a bank cannot make a render endless.
constexpr double kMaxReleaseSeconds = 30.0;

/// Adds one note into `mix`, growing it as needed: the player sounds until the
/// note's end, is released then, and runs until it finishes. Returns the frame
/// where its sound ends.
int64_t renderVoice(ox::audio::TQ7SamplePlayer& player, const Note& note,
                    const MixSettings& settings, std::vector<float>& mix) {
    const double rate = settings.sampleRate;
    const int64_t start = std::llround(std::max(0.0, note.start) * rate);
    const int64_t noteOff = start + std::max<int64_t>(1, std::llround(note.length * rate));
    const ox::audio::Envelope* envelope = player.envelope();
    const double release =
        std::min(envelope ? envelope->release : settings.release, kMaxReleaseSeconds);

    int64_t end = 0;
    for (int64_t position = start; !player.finished();) {
        if (position == noteOff) {
            player.release(release);
        }
        const int64_t count =
            position < noteOff ? std::min(BlockFrames, noteOff - position) : BlockFrames;
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
    for (const Note& note : notes) {
        NoteReport report;
        report.note = note;
        const SampleTreeNodeSample* sample =
            note.bank ? note.bank->sampleTree().findSampleByMidi(note.midi, note.dynamic) : nullptr;
        if (sample && !sample->files.empty()) {
            // The same search samplePlayer makes, to say which file serves the note.
            report.found = true;
            report.file = firstFile(*sample);
            report.recordedMidi = (*sample)[SampleCoordinate::Midi];
            auto [player, transposition] = note.bank->samplePlayer(note.midi, note.dynamic);
            report.transposition = transposition;
            player.setOutputSampleRate(settings.sampleRate);
            player.setGain(note.gain);
            player.setInterpolation(settings.highQuality ? ox::audio::Interpolation::Sinc
                                                         : ox::audio::Interpolation::Cubic);
            soundEnd = std::max(soundEnd, renderVoice(player, note, settings, mix.samples));
        }
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
