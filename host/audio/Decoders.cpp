#include <ox/audio/Decoders.h>

#include "LoopTags.h"
#include "OggPages.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ox::audio {

IDecoder::~IDecoder() = default;

namespace {

// Limits that keep a hostile header from making us allocate or loop without end.
constexpr int kMaxSampleRate = 384000;
constexpr int64_t kMaxSamples = int64_t(1) << 31; // frames x channels

enum class Format { Wav, Flac, OggVorbis };

bool hasMagic(const ox::stream::IStream& stream, Format format) {
    char head[12] = {};
    const int64_t got = stream.readAt(0, head, sizeof head);
    switch (format) {
    case Format::Wav:
        return got == 12 &&
               (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RIFX", 4) == 0 ||
                std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0) &&
               std::memcmp(head + 8, "WAVE", 4) == 0;
    case Format::Flac:
        return got >= 4 && (std::memcmp(head, "fLaC", 4) == 0 || std::memcmp(head, "ID3", 3) == 0);
    case Format::OggVorbis:
        return got >= 4 && std::memcmp(head, "OggS", 4) == 0 && detail::oggLooksIntact(stream);
    }
    return false;
}

bool isFormat(const SF_INFO& info, Format format) {
    const int major = info.format & SF_FORMAT_TYPEMASK;
    switch (format) {
    case Format::Wav:
        return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
    case Format::Flac:
        return major == SF_FORMAT_FLAC;
    case Format::OggVorbis:
        return major == SF_FORMAT_OGG && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS;
    }
    return false;
}

int integerBits(const SF_INFO& info) {
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
        return 32;
    default:
        return 0;
    }
}

/// One libsndfile handle reading through the virtual I/O callbacks from a view
/// of the caller's stream that belongs to this decoder alone.
class SndfileDecoder final : public IDecoder {
public:
    SndfileDecoder(std::shared_ptr<ox::stream::IStream> view, float gain)
        : m_view(std::move(view)), m_size(m_view->size()), m_gain(gain) {}

    ~SndfileDecoder() override {
        if (m_file) {
            sf_close(m_file);
        }
    }

    bool open(Format format, bool floatOutput) {
        SF_VIRTUAL_IO io{};
        io.get_filelen = &SndfileDecoder::length;
        io.seek = &SndfileDecoder::seek;
        io.read = &SndfileDecoder::read;
        io.write = &SndfileDecoder::write;
        io.tell = &SndfileDecoder::tell;
        m_file = sf_open_virtual(&io, SFM_READ, &m_info, this);
        if (!m_file || !isFormat(m_info, format)) {
            return false;
        }
        if (m_info.channels < 1 || m_info.channels > kMaxChannels || m_info.samplerate < 1 ||
            m_info.samplerate > kMaxSampleRate || m_info.frames < 0 ||
            m_info.frames > kMaxSamples / m_info.channels) {
            return false;
        }
        m_bits = floatOutput ? 0 : integerBits(m_info);
        if (format == Format::Wav) {
            readInstrumentLoop();
        } else {
            readTaggedLoop(format);
        }
        return true;
    }

    int channels() const override { return m_info.channels; }
    int sampleRate() const override { return m_info.samplerate; }
    int64_t frameCount() const override { return m_info.frames; }
    float gain() const override { return m_gain; }
    int bitsPerSample() const override { return m_bits; }

    bool loop(Loop& loop) const override {
        if (!m_hasLoop) {
            return false;
        }
        loop = m_loop;
        return true;
    }

    bool declaredLoop(Loop& loop) const override {
        if (!m_declaresLoop) {
            return false;
        }
        loop = m_declaredLoop;
        return true;
    }

    int64_t readFrames(float* out, int64_t frames) override {
        const int64_t total = readUntilEnd(out, frames, sf_readf_float);
        if (m_gain != 1.0f) {
            for (int64_t i = 0, n = total * m_info.channels; i < n; ++i) {
                out[i] *= m_gain;
            }
        }
        return total;
    }

    int64_t readFrames16(int16_t* out, int64_t frames) override {
        return readUntilEnd(out, frames, sf_readf_short);
    }

    bool seekFrame(int64_t frame) override {
        if (frame < 0 || frame > m_info.frames) {
            return false;
        }
        return sf_seek(m_file, frame, SEEK_SET) == frame;
    }

private:
    std::shared_ptr<ox::stream::IStream> m_view;
    int64_t m_size = 0;
    int64_t m_position = 0;
    float m_gain = 1.0f;
    SNDFILE* m_file = nullptr;
    SF_INFO m_info{};
    int m_bits = 0;
    bool m_hasLoop = false;
    Loop m_loop;
    bool m_declaresLoop = false;
    Loop m_declaredLoop;

    // libsndfile may hand out fewer frames than asked before the end: ask again
    // until it gives none.
    template <class Sample>
    int64_t readUntilEnd(Sample* out, int64_t frames,
                         sf_count_t (*read)(SNDFILE*, Sample*, sf_count_t)) {
        int64_t total = 0;
        while (total < frames) {
            const sf_count_t got = read(m_file, out + total * m_info.channels, frames - total);
            if (got <= 0) {
                break;
            }
            total += got;
        }
        return total;
    }

    void setLoop(int64_t start, int64_t end) {
        m_declaredLoop = {start, end};
        m_declaresLoop = true;
        if (start < 0 || end <= start || end > m_info.frames) {
            return;
        }
        m_loop = {start, end};
        m_hasLoop = true;
    }

    void readInstrumentLoop() {
        SF_INSTRUMENT instrument{};
        if (sf_command(m_file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) != SF_TRUE) {
            return;
        }
        if (instrument.loop_count < 1 || instrument.loops[0].mode == SF_LOOP_NONE) {
            return;
        }
        setLoop(instrument.loops[0].start, instrument.loops[0].end);
    }

    void readTaggedLoop(Format format) {
        detail::LoopTags tags;
        if (const char* comment = sf_get_string(m_file, SF_STR_COMMENT)) {
            detail::scanLoopTags(comment, tags);
        }
        // Many files carry the tags as separate comments, which libsndfile does not expose.
        if (!tags.complete()) {
            if (format == Format::Flac) {
                detail::readFlacLoopTags(*m_view, tags);
            } else {
                detail::readOggLoopTags(*m_view, tags);
            }
        }
        if (tags.complete()) { // tags hold at most 18 digits: the sum cannot overflow
            setLoop(*tags.start, *tags.start + *tags.length);
        }
    }

    static SndfileDecoder& self(void* user) { return *static_cast<SndfileDecoder*>(user); }

    static sf_count_t length(void* user) { return self(user).m_size; }

    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        SndfileDecoder& d = self(user);
        sf_count_t base = 0;
        switch (whence) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = d.m_position;
            break;
        case SEEK_END:
            base = d.m_size;
            break;
        default:
            return -1;
        }
        if ((offset < 0 && base + offset < 0) || (offset > 0 && offset > INT64_MAX - base)) {
            return -1;
        }
        d.m_position = base + offset;
        return d.m_position;
    }

    static sf_count_t read(void* buffer, sf_count_t count, void* user) {
        SndfileDecoder& d = self(user);
        if (count <= 0) {
            return 0;
        }
        const int64_t got = d.m_view->readAt(d.m_position, buffer, count);
        if (got > 0) {
            d.m_position += got;
        }
        return std::max<int64_t>(got, 0);
    }

    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }

    static sf_count_t tell(void* user) { return self(user).m_position; }
};

std::shared_ptr<IDecoder> makeDecoder(const std::shared_ptr<ox::stream::IStream>& stream,
                                      float gain, Format format, bool floatOutput) {
    if (!stream) {
        return {};
    }
    const int64_t size = stream->size();
    if (size <= 0 || !hasMagic(*stream, format)) {
        return {};
    }
    auto view = stream->make_view(0, static_cast<long>(std::min<int64_t>(size, INT32_MAX)));
    if (!view) {
        return {};
    }
    auto decoder = std::make_shared<SndfileDecoder>(std::move(view), gain);
    if (!decoder->open(format, floatOutput)) {
        return {};
    }
    return decoder;
}

} // namespace

std::shared_ptr<IDecoder> FlacDecoder::make(const std::shared_ptr<ox::stream::IStream>& stream,
                                            float gain) {
    return makeDecoder(stream, gain, Format::Flac, false);
}

std::shared_ptr<IDecoder> OggVorbisDecoder::make(const std::shared_ptr<ox::stream::IStream>& stream,
                                                 float gain) {
    return makeDecoder(stream, gain, Format::OggVorbis, false);
}

// With `floatOutput` the decoder reports no integer bit depth, so that an
// AudioStream holds its frames as float.
std::shared_ptr<IDecoder> WavDecoder::make(const std::shared_ptr<ox::stream::IStream>& stream,
                                           float gain, bool floatOutput) {
    return makeDecoder(stream, gain, Format::Wav, floatOutput);
}

} // namespace ox::audio
