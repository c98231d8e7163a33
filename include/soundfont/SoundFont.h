#pragma once

#include <soundfont/Export.h>

#include <ox/audio/AudioStream.h>
#include <ox/audio/IDecoder.h>
#include <ox/audio/TQ7SamplePlayer.h>
#include <ox/stream/IStream.h>

#include <cstdint>
#include <memory>
#include <optional>
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
    /// From the "amp..." attributes; none when the Wave gives none of them.
    std::optional<ox::audio::Envelope> envelope;
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

/// A player for a note played at a MIDI velocity, and what chose it.
struct OXSF_EXPORT VelocityPlayer {
    ox::audio::TQ7SamplePlayer player; ///< transposition, envelope and gain already set
    double transposition;              ///< semitones, the wave's repitch included
    int dynamic;                       ///< the dynamic the velocity stands for
};

/// The abstract sound bank: identity, velocity and gain, tuning, the parsed
/// description and the sample tree. Subclasses supply the packaging.
///
/// Threads: initialize() must not overlap any other use of the bank; the first
/// sampleTree() must not overlap another call on the same bank; after that the
/// getters, sampleTree() and the searches of the tree may run on any thread. On
/// an audio thread: the getters, setVelocity(), sampleTree() once built, and
/// trySamplePlayer(), which never waits and allocates nothing. samplePlayer()
/// and samplePlayerForVelocity() are not for an audio thread: the first player
/// of a file opens and starts decoding it under the cache's lock, and any other
/// thread's load waits behind it.
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
    /// A player of the sample that best fits `midi` at `dynamic` (0 to 16, see
    /// dynamicName), with the sample's envelope and the transposition set, and
    /// that transposition: midi minus the recorded pitch plus the wave's repitch,
    /// in semitones. A bank without a fitting sample gives a silent player and 0.
    std::pair<ox::audio::TQ7SamplePlayer, double> samplePlayer(int midi, int dynamic) const;
    /// samplePlayer(midi, dynamicFromVelocity(velocity)), with the player's gain
    /// set to gainFromVelocity(velocity) (SampleCoordinate.h).
    VelocityPlayer samplePlayerForVelocity(int midi, int velocity) const;
    /// samplePlayer(midi, dynamic) when the sample's file is in the audio cache
    /// already and nobody holds the cache's lock; otherwise nothing, at once. It
    /// opens no file and allocates nothing (the tree must have been built).
    std::optional<std::pair<ox::audio::TQ7SamplePlayer, double>> trySamplePlayer(int midi,
                                                                                 int dynamic) const;

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
