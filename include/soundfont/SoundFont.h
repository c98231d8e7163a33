#pragma once

#include <soundfont/Export.h>

#include <ox/audio/AudioStream.h>
#include <ox/audio/IDecoder.h>
#include <ox/audio/TQ7SamplePlayer.h>
#include <ox/stream/IStream.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ox::soundfont {

class SampleTree;

/// One "Wave" element of a bank description: one sample file.
struct OXSF_EXPORT Wav {
    std::string file;
    float repitch = 0.0f;
    float peak = 0.0f;
    int32_t velocity = -1;
    std::string pickup;
    float ratio = 1.0f;
    float gain = 1.0f; ///< linear factor (the description gives decibels)
};

/// One "Sample" element: a recorded note with its files.
struct OXSF_EXPORT Sample {
    int8_t midi = -1;
    int8_t string = -1;
    std::string dynamic;
    std::string option;
    std::vector<Wav> wavs;
};

/// One "SamplesTree" or "Node" element.
struct OXSF_EXPORT Layer {
    std::string className;
    std::vector<Sample> samples;
    std::vector<Layer> layers;

    /// The first Wav whose file is `file`: own samples first, then sub-layers
    /// depth first; null when none.
    const Wav* findWav(const std::string& file) const;
};

/// The deepest nesting of elements a bank description may have. A bank needs
/// eight levels (root, SamplesTree, three Node levels, Samples, Sample, Wave).
/// Reading takes a few hundred bytes of stack per level, so the deepest document
/// accepted needs well under 64 KiB of stack.
inline constexpr int kMaxDescriptionDepth = 128;
/// The most elements a bank description may hold: some twenty times what the
/// largest banks need (three or four per sample), few enough that reading,
/// filing and searching the largest document accepted takes seconds and a few
/// hundred megabytes.
inline constexpr int kMaxDescriptionElements = 1 << 20;

/// Throws rapidxml::parse_error when the zero-terminated XML text nests
/// elements deeper than kMaxDescriptionDepth ("elements nested deeper than 128
/// levels") or holds more than kMaxDescriptionElements ("more than 1048576
/// elements"), pointing at the first element past the limit; does nothing
/// otherwise (other faults are left to the parser). SoundFont::initialize() runs
/// it before parsing, so no description can exhaust the stack of the thread that
/// reads it; so should anyone who parses a description with rapidxml directly.
OXSF_EXPORT void checkDescriptionLimits(const char* text);

/// The abstract sound bank: identity, velocity and gain, tuning, the parsed
/// description and the sample tree. Subclasses supply the packaging.
class OXSF_EXPORT SoundFont {
public:
    SoundFont();
    virtual ~SoundFont();
    SoundFont(const SoundFont&) = delete;
    SoundFont& operator=(const SoundFont&) = delete;

    /// Reads the bank description through sampleXML(). Throws the XML parser's
    /// rapidxml::parse_error for a malformed document or one past the limits of
    /// checkDescriptionLimits(), and std::invalid_argument
    /// or std::out_of_range for a malformed "tuning".
    virtual void initialize();
    virtual std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const = 0;
    virtual std::shared_ptr<ox::stream::IStream> sampleXML() const = 0;
    virtual std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const = 0;

    const std::string& id() const;
    const std::string& name() const;
    const std::string& type() const;
    const std::string& description() const;
    const std::vector<int>& tuning() const;
    float velocity() const;
    void setVelocity(float velocity);
    /// The linear loudness factor derived from the velocity.
    float gain() const;
    void setId(const std::string& id);
    void setName(const std::string& name);
    const Layer& layer() const;

    /// The bank's sample tree, built on the first call.
    SampleTree& sampleTree() const;
    /// A player of the sample that best fits `midi` at dynamic "F", and the
    /// transposition in semitones to apply (midi minus the recorded pitch).
    std::pair<ox::audio::TQ7SamplePlayer, int> samplePlayer(int midi) const;

    struct Impl;

protected:
    /// The decoder for a sample stream, chosen by the extension of the stream's
    /// name, with the bank's gain times the matching wave's gain.
    std::shared_ptr<ox::audio::IDecoder>
    makeDecoder(const std::shared_ptr<ox::stream::IStream>& stream) const;

private:
    std::unique_ptr<Impl> d;
};

/// A bank packaged as a directory: D/Samples.xml and D/Samples/<file>.
class OXSF_EXPORT SoundFontV6 : public SoundFont {
public:
    explicit SoundFontV6(const std::string& path);
    ~SoundFontV6() override;

    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override;
    std::shared_ptr<ox::stream::IStream> sampleXML() const override;
    std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const override;

private:
    std::string m_path;
};

/// A bank packaged as one archive file (extensions "tq7bank" and "jux").
class OXSF_EXPORT SoundFontV7 : public SoundFont {
public:
    explicit SoundFontV7(const std::string& path);
    ~SoundFontV7() override;

    void initialize() override;
    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override;
    std::shared_ptr<ox::stream::IStream> sampleXML() const override;
    std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const override;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace ox::soundfont
