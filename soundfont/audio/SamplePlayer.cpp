#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include "audio/ProcessCache.h"

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

/// `player` set up for `midi` played on `sample`: its envelope and its
/// transposition, the wave's repitch included.
std::pair<TQ7SamplePlayer, double> notePlayer(TQ7SamplePlayer player,
                                              const SampleTreeNodeSample& sample, int midi) {
    float repitch = 0.0f;
    sample.tryGetCorrection(SoundCorrection::Repitch, repitch);
    const double transposition = double(midi - sample[SampleCoordinate::Midi]) + double(repitch);
    if (const auto envelope = envelopeOf(sample)) {
        player.setEnvelope(*envelope);
    }
    player.setTransposition(transposition);
    return {std::move(player), transposition};
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
    return notePlayer(processAudioCache().loadSample(*this, *file), *sample, midi);
}

VelocityPlayer SoundFont::samplePlayerForVelocity(int midi, int velocity) const {
    const int dynamic = dynamicFromVelocity(velocity);
    auto [player, transposition] = samplePlayer(midi, dynamic);
    player.setGain(gainFromVelocity(velocity));
    return {std::move(player), transposition, dynamic};
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
    return notePlayer(std::move(*player), *sample, midi);
}

} // namespace ox::soundfont
