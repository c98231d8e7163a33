// Temporary placeholder so the skeleton links; replaced by the real audio library.
#include <ox/audio/AudioStream.h>
#include <ox/audio/Decoders.h>
#include <ox/audio/TQ7SamplePlayer.h>
namespace ox::audio {
IDecoder::~IDecoder() = default;
std::shared_ptr<IDecoder> FlacDecoder::make(const std::shared_ptr<ox::stream::IStream>&, float) { return {}; }
std::shared_ptr<IDecoder> OggVorbisDecoder::make(const std::shared_ptr<ox::stream::IStream>&, float) { return {}; }
std::shared_ptr<IDecoder> WavDecoder::make(const std::shared_ptr<ox::stream::IStream>&, float, bool) { return {}; }
struct AudioStream::Impl { std::shared_ptr<IDecoder> decoder; };
AudioStream::AudioStream(const std::shared_ptr<IDecoder>& decoder, long long) : d(new Impl{decoder}) {}
AudioStream::~AudioStream() = default;
void AudioStream::disableLoop() const {}
bool AudioStream::looping() const { return false; }
unsigned long long AudioStream::byteCount() const { return 0; }
const std::shared_ptr<IDecoder>& AudioStream::decoder() const { return d->decoder; }
bool AudioStream::empty() const { return true; }
int AudioStream::channels() const { return 0; }
int AudioStream::sampleRate() const { return 0; }
int64_t AudioStream::frameCount() const { return 0; }
float AudioStream::gain() const { return 1; }
int64_t AudioStream::loopStart() const { return 0; }
int64_t AudioStream::loopEnd() const { return 0; }
int64_t AudioStream::readFrames(int64_t, float*, int64_t) const { return 0; }
int64_t AudioStream::ensureDecoded(int64_t) const { return 0; }
int64_t AudioStream::decodedFrames() const { return 0; }
TQ7SamplePlayer::TQ7SamplePlayer(const std::shared_ptr<AudioStream>& stream) : m_stream(stream) {}
TQ7SamplePlayer::TQ7SamplePlayer(TQ7SamplePlayer&&) noexcept = default;
TQ7SamplePlayer& TQ7SamplePlayer::operator=(TQ7SamplePlayer&&) noexcept = default;
TQ7SamplePlayer::~TQ7SamplePlayer() = default;
const std::shared_ptr<AudioStream>& TQ7SamplePlayer::stream() const { return m_stream; }
void TQ7SamplePlayer::setOutputSampleRate(int rate) { m_outputRate = rate; }
int TQ7SamplePlayer::outputSampleRate() const { return m_outputRate; }
void TQ7SamplePlayer::setTransposition(double s) { m_transposition = s; }
double TQ7SamplePlayer::transposition() const { return m_transposition; }
void TQ7SamplePlayer::setGain(float g) { m_gain = g; }
float TQ7SamplePlayer::gain() const { return m_gain; }
int64_t TQ7SamplePlayer::render(float*, int64_t, int) { return 0; }
bool TQ7SamplePlayer::finished() const { return true; }
void TQ7SamplePlayer::reset() {}
void TQ7SamplePlayer::updateStep() {}
} // namespace ox::audio
