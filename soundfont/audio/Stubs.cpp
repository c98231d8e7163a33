// Temporary placeholder so the skeleton links; replaced by the real cache and players.
#include <soundfont/AudioCache.h>
#include <soundfont/SoundFont.h>
namespace ox::soundfont {
struct AudioCache::Impl {};
AudioCache::AudioCache() : d(new Impl) {}
AudioCache::~AudioCache() = default;
ox::audio::TQ7SamplePlayer AudioCache::loadSample(const SoundFont&, const std::string&) { return ox::audio::TQ7SamplePlayer({}); }
int AudioCache::memoryByteCount() const { return 0; }
void AudioCache::optimizeMemory() {}
int AudioCache::streamCount() const { return 0; }
std::pair<ox::audio::TQ7SamplePlayer, int> SoundFont::samplePlayer(int) const { return {ox::audio::TQ7SamplePlayer({}), 0}; }
} // namespace ox::soundfont
