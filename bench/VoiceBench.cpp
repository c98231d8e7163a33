// What one sounding voice costs, per output frame, against the floor of any
// voice: a plain loop converting 16-bit stereo to float and adding it into a
// mix buffer. Every iteration produces kVoiceFrames frames, so times compare
// directly. The source is the decoded 10-second stereo 16-bit tone. Also the
// interpolators' quality: signal to noise and distortion of a full-scale
// 16-bit sine rendered transposed, against the ideal sine.
#include "BenchBanks.h"

#include <ox/audio/Decoders.h>
#include <ox/audio/TQ7SamplePlayer.h>
#include <ox/audio/VoiceShape.h>
#include <ox/stream/FileStream.h>

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace oxsf::bench;
using ox::audio::AudioStream;
using ox::audio::Interpolation;
using ox::audio::TQ7SamplePlayer;

namespace {

constexpr int kBlockFrames = 512;
constexpr int64_t kVoiceFrames = 64 * kBlockFrames;

std::shared_ptr<AudioStream> decodedTone() {
    auto file = ox::stream::FileStream::open(benchBanks().toneFile(), "rb");
    auto stream = std::make_shared<AudioStream>(ox::audio::FlacDecoder::make(file, 1.0f), 0);
    stream->ensureDecoded(stream->frameCount());
    return stream;
}

/// One block of the floor on its own, where GCC vectorizes it.
[[gnu::noinline]] void addBlock(const int16_t* in, float* mix) {
    for (int i = 0; i < kBlockFrames * 2; ++i) {
        mix[i] += float(in[i]) * (1.0f / 32768.0f);
    }
}

/// The floor: 16-bit stereo converted and added into a mix buffer, block after
/// block. Written inline, as a plain loop, GCC -O3 joins pairs of blocks into one
/// scalar loop and vectorizes only the last block; `vectorized` calls addBlock().
void mixFloor(benchmark::State& state, bool vectorized) {
    SF_INFO info{};
    SNDFILE* file = sf_open(benchBanks().toneFile().c_str(), SFM_READ, &info);
    if (!file || info.channels != 2) {
        state.SkipWithError("cannot read the tone file");
        return;
    }
    std::vector<int16_t> samples(size_t(info.frames) * 2);
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    std::vector<float> mix(kBlockFrames * 2);
    int64_t at = 0;
    for (auto _ : state) {
        for (int64_t done = 0; done < kVoiceFrames; done += kBlockFrames) {
            if (at + kBlockFrames > info.frames) {
                at = 0;
            }
            const int16_t* in = samples.data() + at * 2;
            if (vectorized) {
                addBlock(in, mix.data());
            } else {
                for (int i = 0; i < kBlockFrames * 2; ++i) {
                    mix[size_t(i)] += float(in[i]) * (1.0f / 32768.0f);
                }
            }
            at += kBlockFrames;
        }
        benchmark::DoNotOptimize(mix.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames"] = double(kVoiceFrames);
}

void BM_MixFloor(benchmark::State& state) {
    mixFloor(state, false);
}

void BM_MixFloorVectorized(benchmark::State& state) {
    mixFloor(state, true);
}

/// One player of the tone rendering (or mixing) block after block, from the
/// start again when it ends.
void voice(benchmark::State& state, double transposition, bool mix,
           Interpolation interpolation = Interpolation::Cubic,
           const ox::audio::VoiceShape* shape = nullptr) {
    const auto stream = decodedTone();
    TQ7SamplePlayer player(stream);
    player.setTransposition(transposition);
    player.setInterpolation(interpolation);
    if (shape) {
        player.setShape(*shape);
        player.setVelocity(80);
    }
    std::vector<float> out(kBlockFrames * 2);
    const float gains[2] = {0.7f, 0.6f};
    for (auto _ : state) {
        for (int64_t done = 0; done < kVoiceFrames; done += kBlockFrames) {
            if (player.finished()) {
                player.reset();
            }
            if (mix) {
                player.mix(out.data(), kBlockFrames, 2, gains);
            } else {
                player.render(out.data(), kBlockFrames, 2);
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames"] = double(kVoiceFrames);
}

void BM_VoiceUntransposed(benchmark::State& state) {
    voice(state, 0.0, false);
}

// Two semitones up: a note between two recorded samples.
void BM_VoiceTransposed(benchmark::State& state) {
    voice(state, 2.0, false);
}

void BM_VoiceUntransposedMix(benchmark::State& state) {
    voice(state, 0.0, true);
}

void BM_VoiceTransposedMix(benchmark::State& state) {
    voice(state, 2.0, true);
}

void BM_VoiceTransposedSinc(benchmark::State& state) {
    voice(state, 2.0, false, Interpolation::Sinc);
}

/// A voice with everything that moves: a resonant filter opened by the
/// modulation envelope and swept by the modulation oscillator, vibrato, a
/// tremolo and a pan.
ox::audio::VoiceShape fullShape() {
    ox::audio::VoiceShape shape;
    shape.pan = 0.3f;
    shape.cutoff = 2500.0f;
    shape.resonance = 6.0f;
    shape.velocityToCutoff = -2400.0f;
    shape.modEnvelope = {.attack = 0.05f, .decay = 0.8f, .sustain = 0.3f, .release = 0.5f};
    shape.modEnvelopeToCutoff = 2400.0f;
    shape.modEnvelopeToPitch = 10.0f;
    shape.modLfo = {.delay = 0.0f, .frequency = 4.0f};
    shape.modLfoToCutoff = 300.0f;
    shape.modLfoToVolume = 1.5f;
    shape.vibratoLfo = {.delay = 0.0f, .frequency = 5.5f};
    shape.vibratoToPitch = 15.0f;
    return shape;
}

// The filtered, modulated voice, mixed as a song renderer mixes it.
void BM_VoiceShapedMix(benchmark::State& state) {
    const ox::audio::VoiceShape shape = fullShape();
    voice(state, 2.0, true, Interpolation::Cubic, &shape);
}

// A still filter alone: what the filter costs without moving pitch.
void BM_VoiceFilteredMix(benchmark::State& state) {
    ox::audio::VoiceShape shape;
    shape.cutoff = 2500.0f;
    shape.resonance = 6.0f;
    voice(state, 2.0, true, Interpolation::Cubic, &shape);
}

// Down: the tabulated kernel as it is; up (above), narrowed by the step.
void BM_VoiceTransposedDownSinc(benchmark::State& state) {
    voice(state, -2.0, false, Interpolation::Sinc);
}

/// A full-scale 16-bit mono sine at 44.1 kHz, as a decoder hands it over.
class SineDecoder : public ox::audio::IDecoder {
public:
    SineDecoder(double frequency, int64_t frames) : m_frequency(frequency), m_frames(frames) {}
    int channels() const override { return 1; }
    int sampleRate() const override { return 44100; }
    int64_t frameCount() const override { return m_frames; }
    float gain() const override { return 1.0f; }
    int bitsPerSample() const override { return 16; }
    bool loop(Loop&) const override { return false; }
    int64_t readFrames(float*, int64_t) override { return 0; } // 16-bit sources read below
    int64_t readFrames16(int16_t* out, int64_t frames) override {
        frames = std::min(frames, m_frames - m_at);
        for (int64_t i = 0; i < frames; ++i, ++m_at) {
            out[i] = int16_t(std::lround(32767.0 * ideal(double(m_at))));
        }
        return frames;
    }
    bool seekFrame(int64_t frame) override {
        m_at = frame;
        return true;
    }
    /// The sine at a position in frames, full scale being 1.
    double ideal(double position) const {
        return std::sin(2.0 * M_PI * m_frequency * position / 44100.0);
    }

private:
    double m_frequency;
    int64_t m_frames;
    int64_t m_at = 0;
};

/// Signal to noise and distortion, in dB, of the sine rendered at a
/// transposition, against the ideal sine at the same positions.
double sinad(double frequency, double transposition, Interpolation interpolation) {
    const auto decoder = std::make_shared<SineDecoder>(frequency, 2 * 44100);
    TQ7SamplePlayer player(std::make_shared<AudioStream>(decoder, 2 * 44100));
    player.setTransposition(transposition);
    player.setInterpolation(interpolation);
    std::vector<float> out(44100);
    player.render(out.data(), int64_t(out.size()), 1);
    const double step = std::exp2(transposition / 12.0);
    double signal = 0.0, noise = 0.0;
    for (size_t j = 64; j < out.size(); ++j) { // from where no neighbour lies before the sound
        const double ideal = 32767.0 / 32768.0 * decoder->ideal(double(j) * step);
        signal += ideal * ideal;
        noise += (out[j] - ideal) * (out[j] - ideal);
    }
    return 10.0 * std::log10(signal / noise);
}

// Counters named <interpolator>_<frequency>_<transposition>, e.g. sinc_1k_up7.
void BM_InterpolationQuality(benchmark::State& state) {
    for (auto _ : state) {
        for (auto [frequency, name] : {std::pair{1000.0, "1k"}, {10000.0, "10k"}}) {
            for (auto [transposition, shift] : {std::pair{7.0, "up7"}, {-12.0, "down12"}}) {
                for (auto [interpolation, kind] :
                     {std::pair{Interpolation::Cubic, "cubic"}, {Interpolation::Sinc, "sinc"}}) {
                    state.counters[std::string(kind) + "_" + name + "_" + shift] =
                        sinad(frequency, transposition, interpolation);
                }
            }
        }
    }
}

} // namespace

BENCHMARK(BM_MixFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MixFloorVectorized)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceUntransposed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceTransposed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceUntransposedMix)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceTransposedMix)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceTransposedSinc)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceShapedMix)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceFilteredMix)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceTransposedDownSinc)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InterpolationQuality)->Iterations(1)->Repetitions(1);
