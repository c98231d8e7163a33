#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include "audio/ProcessCache.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace ox::soundfont {

namespace {

using ox::audio::SoundCorrection;
using ox::audio::TQ7SamplePlayer;

// The dynamic of every player request by pitch alone: "F".
constexpr int kPlayerDynamic = 10;

const std::shared_ptr<ox::audio::AudioStream>& emptyStream() {
    static const auto stream = std::make_shared<ox::audio::AudioStream>(nullptr, 0);
    return stream;
}

/// The file a player of `sample` plays; null when it has none. The files map is
/// ordered by pickup name: the first entry is the smallest name.
const std::string* playedFile(const SampleTreeNodeSample* sample) {
    return sample && !sample->files.empty() ? &sample->files.begin()->second : nullptr;
}

/// The envelope the bank gives `sample`, if any.
std::optional<ox::audio::Envelope> envelopeOf(const SampleCoordinate& sample) {
    ox::audio::Envelope envelope;
    bool given = false;
    const std::pair<SoundCorrection::Type, float*> parts[] = {
        {SoundCorrection::AmpDelay, &envelope.delay},
        {SoundCorrection::AmpAttack, &envelope.attack},
        {SoundCorrection::AmpHold, &envelope.hold},
        {SoundCorrection::AmpDecay, &envelope.decay},
        {SoundCorrection::AmpSustain, &envelope.sustain},
        {SoundCorrection::AmpRelease, &envelope.release}};
    for (const auto& [type, value] : parts) {
        given = sample.tryGetCorrection(type, *value) || given;
    }
    return given ? std::optional(envelope) : std::nullopt;
}

/// `player` set up for `midi` at `velocity` played on `sounding` (a sample, or
/// a layer of one) recorded at `recorded`: its envelope, its voice shape and
/// its transposition, the wave's repitch included.
std::pair<TQ7SamplePlayer, double> notePlayer(TQ7SamplePlayer player,
                                              const SampleTreeNodeSample& sounding, int recorded,
                                              int midi, int velocity) {
    float repitch = 0.0f;
    sounding.tryGetCorrection(SoundCorrection::Repitch, repitch);
    const double transposition = double(midi - recorded) + double(repitch);
    if (auto envelope = envelopeOf(sounding)) {
        envelope->releaseFromFull = sounding.trigger.releaseFromFull;
        player.setEnvelope(*envelope);
    }
    if (sounding.shape) {
        player.setShape(*sounding.shape);
        player.setVelocity(velocity);
    }
    player.setLoopsThroughRelease(sounding.trigger.loopRelease);
    player.setTransposition(transposition);
    return {std::move(player), transposition};
}

std::pair<TQ7SamplePlayer, double>
notePlayer(TQ7SamplePlayer player, const SampleTreeNodeSample& sample, int midi, int dynamic) {
    return notePlayer(std::move(player), sample, sample[SampleCoordinate::Midi], midi,
                      velocityFromDynamic(dynamic));
}

/// A note's player of `sounding`, `sample` itself or one of its layers, with
/// `gain` times the layer's own.
VelocityPlayer velocityPlayer(TQ7SamplePlayer player, const SampleTreeNodeSample& sample,
                              const SampleTreeNodeSample& sounding, int midi, int velocity,
                              int dynamic, float gain) {
    auto [note, transposition] =
        notePlayer(std::move(player), sounding, sample[SampleCoordinate::Midi], midi, velocity);
    note.setGain(gain * sounding.gain);
    return {std::move(note), transposition, dynamic, &sounding, sounding.trigger.chokeGroup};
}

/// Every player of a note on `sample` at `velocity` and `strike`: the sample's,
/// then its layers' that answer the velocity, each unless its turn is another
/// strike's. `load` gives the player of a file, or nothing; the first it
/// refuses ends the note there and returns false.
template <class Load>
bool notePlayers(const SampleTreeNodeSample& sample, int midi, int velocity, int dynamic,
                 float gain, const Strike& strike, Load&& load, std::vector<VelocityPlayer>& out) {
    std::optional<TQ7SamplePlayer> player;
    if (sample.trigger.answers(strike)) {
        player = load(sample);
        if (!player) {
            return false;
        }
        out.push_back(
            velocityPlayer(std::move(*player), sample, sample, midi, velocity, dynamic, gain));
    }
    for (const SampleTreeNodeSample& layer : sample.layers) {
        if (!layer.trigger.answers(velocity) || !layer.trigger.answers(strike)) {
            continue;
        }
        player = load(layer);
        if (!player) {
            return false;
        }
        out.push_back(
            velocityPlayer(std::move(*player), sample, layer, midi, velocity, dynamic, gain));
    }
    return true;
}

} // namespace

std::pair<TQ7SamplePlayer, int> SoundFont::samplePlayer(int midi) const {
    const SampleTreeNodeSample* sample = sampleTree().findSampleByMidi(midi, kPlayerDynamic);
    // Nothing to play (no fitting sample, or one without files): a silent player.
    const std::string* file = playedFile(sample);
    if (!file) {
        return {TQ7SamplePlayer(emptyStream()), 0};
    }
    const int transposition = midi - (*sample)[SampleCoordinate::Midi];
    return {processAudioCache().loadSample(*this, *file), transposition};
}

std::pair<TQ7SamplePlayer, double> SoundFont::samplePlayer(int midi, int dynamic) const {
    const SampleTreeNodeSample* sample = sampleTree().findSampleByMidi(midi, dynamic);
    const std::string* file = playedFile(sample);
    if (!file) {
        return {TQ7SamplePlayer(emptyStream()), 0.0};
    }
    return notePlayer(processAudioCache().loadSample(*this, *file), *sample, midi, dynamic);
}

VelocityPlayer SoundFont::samplePlayerForVelocity(int midi, int velocity) const {
    const int dynamic = dynamicFromVelocity(velocity);
    const SampleTreeNodeSample* sample = sampleTree().findSampleForVelocity(midi, velocity);
    const std::string* file = playedFile(sample);
    if (!file) {
        TQ7SamplePlayer silent(emptyStream());
        silent.setGain(gainFromVelocity(velocity));
        return {std::move(silent), 0.0, dynamic, nullptr, 0};
    }
    return velocityPlayer(processAudioCache().loadSample(*this, *file), *sample, *sample, midi,
                          std::clamp(velocity, 1, 127), dynamic, gainFromVelocity(velocity));
}

namespace {

/// The player of a loaded file, or a silent one for a layer without a file.
std::optional<TQ7SamplePlayer> loadedPlayer(const SoundFont& bank,
                                            const SampleTreeNodeSample& sounding) {
    const std::string* file = playedFile(&sounding);
    return file ? processAudioCache().loadSample(bank, *file) : TQ7SamplePlayer(emptyStream());
}

} // namespace

std::vector<VelocityPlayer> SoundFont::samplePlayersForVelocity(int midi, int velocity) const {
    return samplePlayersForVelocity(midi, velocity, Strike{});
}

std::vector<VelocityPlayer> SoundFont::samplePlayersForVelocity(int midi, int velocity,
                                                                const Strike& strike) const {
    std::vector<VelocityPlayer> out;
    const SampleTreeNodeSample* sample = sampleTree().findSampleForVelocity(midi, velocity);
    if (sample && playedFile(sample)) {
        const auto load = [this](const SampleTreeNodeSample& s) { return loadedPlayer(*this, s); };
        notePlayers(*sample, midi, std::min(velocity, 127), dynamicFromVelocity(velocity),
                    gainFromVelocity(velocity), strike, load, out);
    }
    return out;
}

bool SoundFont::trySamplePlayersForVelocity(int midi, int velocity,
                                            std::vector<VelocityPlayer>& out) const {
    return trySamplePlayersForVelocity(midi, velocity, Strike{}, out);
}

bool SoundFont::trySamplePlayersForVelocity(int midi, int velocity, const Strike& strike,
                                            std::vector<VelocityPlayer>& out) const {
    out.clear();
    const SampleTreeNodeSample* sample = sampleTree().findSampleForVelocity(midi, velocity);
    if (!sample || !playedFile(sample)) {
        return true;
    }
    const auto load = [](const SampleTreeNodeSample& s) -> std::optional<TQ7SamplePlayer> {
        const std::string* file = playedFile(&s);
        return file ? processAudioCache().tryLoadSample(*file) : TQ7SamplePlayer(emptyStream());
    };
    if (!notePlayers(*sample, midi, std::min(velocity, 127), dynamicFromVelocity(velocity),
                     gainFromVelocity(velocity), strike, load, out)) {
        out.clear();
        return false;
    }
    return true;
}

std::vector<VelocityPlayer> SoundFont::samplePlayers(int midi, int dynamic) const {
    return samplePlayers(midi, dynamic, Strike{});
}

std::vector<VelocityPlayer> SoundFont::samplePlayers(int midi, int dynamic,
                                                     const Strike& strike) const {
    std::vector<VelocityPlayer> out;
    const SampleTreeNodeSample* sample = sampleTree().findSampleByMidi(midi, dynamic);
    if (sample && playedFile(sample)) {
        const auto load = [this](const SampleTreeNodeSample& s) { return loadedPlayer(*this, s); };
        notePlayers(*sample, midi, velocityFromDynamic(dynamic), dynamic, 1.0f, strike, load, out);
    }
    return out;
}

std::optional<std::pair<TQ7SamplePlayer, double>> SoundFont::trySamplePlayer(int midi,
                                                                             int dynamic) const {
    const SampleTreeNodeSample* sample = sampleTree().findSampleByMidi(midi, dynamic);
    const std::string* file = playedFile(sample);
    if (!file) {
        return std::pair{TQ7SamplePlayer(emptyStream()), 0.0};
    }
    auto player = processAudioCache().tryLoadSample(*file);
    if (!player) {
        return std::nullopt;
    }
    return notePlayer(std::move(*player), *sample, midi, dynamic);
}

} // namespace ox::soundfont
