#include <soundfont/SampleTree.h>
#include <soundfont/SoundFont.h>

#include "audio/ProcessCache.h"

namespace ox::soundfont {

namespace {

// The dynamic of every player request: "F".
constexpr int kPlayerDynamic = 10;

const std::shared_ptr<ox::audio::AudioStream>& emptyStream() {
    static const auto stream = std::make_shared<ox::audio::AudioStream>(nullptr, 0);
    return stream;
}

} // namespace

std::pair<ox::audio::TQ7SamplePlayer, int> SoundFont::samplePlayer(int midi) const {
    const SampleTreeNodeSample* sample = sampleTree().findSampleByMidi(midi, kPlayerDynamic);
    // Nothing to play (no fitting sample, or one without files): a silent player.
    if (!sample || sample->files.empty())
        return {ox::audio::TQ7SamplePlayer(emptyStream()), 0};
    // The files map is ordered by pickup name: the first entry is the smallest name.
    const std::string& file = sample->files.begin()->second;
    const int transposition = midi - (*sample)[1];
    return {processAudioCache().loadSample(*this, file), transposition};
}

} // namespace ox::soundfont
