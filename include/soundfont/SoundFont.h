#pragma once

#include <soundfont/Export.h>
#include <soundfont/SampleCoordinate.h>

#include <ox/audio/AudioStream.h>
#include <ox/audio/IDecoder.h>
#include <ox/audio/TQ7SamplePlayer.h>
#include <ox/audio/VoiceShape.h>
#include <ox/stream/IStream.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/// \file
/// The sound bank: SoundFont (identity, loudness, tuning, description, sample tree and
/// players) with its packagings SoundFontV6 (a folder) and SoundFontV7 (an archive
/// file), the records of a read description (Layer, Sample, Wav) and its limits.
///
/// Ownership: banks are shared (std::shared_ptr) by the manager's catalogue and the
/// host. A bank owns its description records and its sample tree; references to the
/// records stay valid until the next initialize(), pointers into the tree as long as
/// the bank lives. Players share their audio with the process-wide audio cache.
///
/// Units: pitches are MIDI note numbers, dynamics steps 0 to 16 (SampleCoordinate.h),
/// transpositions semitones, velocity() 0.0 to 1.0, gains linear factors.
///
/// Errors: reading a description throws rapidxml::parse_error (malformed, or past
/// kMaxDescriptionDepth or kMaxDescriptionElements) or, for a bad "tuning",
/// std::invalid_argument or std::out_of_range. Everything else reports absence: an
/// empty pointer for a missing file or entry, a silent player for a note nothing fits.

namespace ox::soundfont {

class SampleTree;

/// One "Wave" element of a bank description: one sample file.
struct OXSF_EXPORT Wav {
    /// The sample file: its name inside the bank's Samples folder, or the archive
    /// entry's name.
    std::string file;
    /// Pitch correction in cents, sign inverted for a bank whose id ends in "+";
    /// added to the transposition of SoundFont::samplePlayer(int, int) const.
    float repitch = 0.0f;
    float peak = 0.0f;     ///< peak level of the recording, as the description gives it
    int32_t velocity = -1; ///< recorded MIDI velocity; -1 when not given
    std::string pickup;    ///< pickup name; empty when none
    float ratio = 1.0f;    ///< playback-rate ratio, kept with the sample; players ignore it
    float gain = 1.0f;     ///< linear factor (the description gives decibels)
    /// From the "amp..." attributes; none when the Wave gives none of them.
    /// Times in seconds, the sustain level linear (the description gives decibels).
    std::optional<ox::audio::Envelope> envelope;
    /// From the voice attributes ("pan", "cutoff", "resonance", "velToCutoff",
    /// "mod...", "modLfo...", "vibLfo..."); null when the Wave gives none of them.
    /// Shared with the samples filed from it: most Waves have none, and a record
    /// stays small.
    std::shared_ptr<const ox::audio::VoiceShape> shape;
};

/// One "Layer" element of a Sample: a further file that sounds with the sample's
/// own Wave, with its own gain, envelope and trigger (a hammer over a string, the
/// other half of a stereo pair, a pad over a piano).
///
/// Layers are child elements of a Sample beside its Waves, because a reader
/// that knows only Waves skips elements it does not know: such a reader (and
/// every search, which never sees a layer) reads a layered bank exactly as
/// the same bank without its Layer elements.
struct OXSF_EXPORT SampleLayer {
    /// Its Wave attributes, read by the same code as a Wave's, so a layer takes
    /// every attribute a Wave takes. Its gain is applied by its player, not by
    /// the decoder (which knows the gains of Waves alone).
    Wav wave;
    /// Its "velLo", "velHi" and "chokeGroup"; a group of 0 is the sample's.
    Trigger trigger;
};

/// One "Sample" element: a recorded note with its files.
struct OXSF_EXPORT Sample {
    int8_t midi = -1;      ///< recorded pitch ("midi" read like atoi, cut to 8 bits); -1 if absent
    int8_t string = -1;    ///< string counted from 1, read like midi; -1 when absent
    std::string dynamic;   ///< the "dynamic" text as written; matched in any case when filed
    std::string option;    ///< the "option" text as written (NoteOption::stringToInt())
    std::vector<Wav> wavs; ///< its Wave elements, in document order
    /// Its "velLo", "velHi" and "chokeGroup": the velocities a request by velocity
    /// finds it for, and its exclusive group. Requests by dynamic ignore it.
    Trigger trigger;
    std::vector<SampleLayer> layers; ///< its Layer elements, in document order
};

/// One "SamplesTree" or "Node" element: the word of its level, its samples and the
/// layers nested in it.
struct OXSF_EXPORT Layer {
    std::string className;       ///< the "class" attribute: a vocabulary word; empty if none
    std::vector<Sample> samples; ///< the Samples of its last "Samples" element, in order
    std::vector<Layer> layers;   ///< its "Node" elements, in document order

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

/// Refuses a description past the limits before a parser reads it. Throws
/// rapidxml::parse_error when the zero-terminated XML `text` nests elements
/// deeper than kMaxDescriptionDepth ("elements nested deeper than 128 levels") or
/// holds more than kMaxDescriptionElements ("more than 1048576 elements"),
/// pointing at the first element past the limit; does nothing otherwise (other
/// faults are left to the parser). SoundFont::initialize() runs
/// it before parsing, so no description can exhaust the stack of the thread that
/// reads it; so should anyone who parses a description with rapidxml directly.
OXSF_EXPORT void checkDescriptionLimits(const char* text);

struct SampleTreeNodeSample;

/// A player for a note played at a MIDI velocity, and what chose it.
struct OXSF_EXPORT VelocityPlayer {
    ox::audio::TQ7SamplePlayer player; ///< transposition, envelope and gain already set
    double transposition;              ///< semitones, the wave's repitch included
    int dynamic;                       ///< the dynamic the velocity stands for
    /// The sample (or, from samplePlayersForVelocity(), the layer) it plays; null
    /// when nothing fits. Owned by the bank's tree.
    const SampleTreeNodeSample* sample = nullptr;
    /// Its exclusive group (Trigger::chokeGroup); 0 for none.
    int chokeGroup = 0;
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
    /// Empty identity and description, velocity 0.72, gain 1, no tree. A subclass's
    /// constructor opens its packaging; initialize() reads the description.
    SoundFont();
    virtual ~SoundFont();
    SoundFont(const SoundFont&) = delete;
    SoundFont& operator=(const SoundFont&) = delete;

    /// Reads the bank description through sampleXML(). Throws the XML parser's
    /// rapidxml::parse_error for a malformed document or one past the limits of
    /// checkDescriptionLimits(), and std::invalid_argument
    /// or std::out_of_range for a malformed "tuning".
    ///
    /// Root attributes the description lacks leave their fields as they were;
    /// layer() is always replaced, and gain() recomputed from velocity(). A bank
    /// without description (sampleXML() empty) keeps its fields: no error.
    virtual void initialize();
    /// The audio of sample file `name` (as a Wave's "file" names it): sample(name),
    /// decoded by makeDecoder(), in a new AudioStream. Empty when the bank has no
    /// such file; a file its decoder refuses gives an empty stream, which plays
    /// silence. The audio cache calls it; hosts ask for players instead.
    virtual std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const = 0;
    /// A new stream over the bank's description, at its start; empty when there is none.
    virtual std::shared_ptr<ox::stream::IStream> sampleXML() const = 0;
    /// A new stream over the bytes of sample file `name` (matched exactly), with a
    /// name that ends in `name`; empty when there is no such file.
    virtual std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const = 0;

    /// The identifier (root attribute "id"; empty when none). Hosts find banks by it.
    const std::string& id() const;
    /// The display name (root attribute "name"); empty when none.
    const std::string& name() const;
    /// The instrument type (root attribute "type"). A percussion type such as "drum"
    /// or "snare" makes the bank unpitched; any other, or none, pitched.
    const std::string& type() const;
    /// The display description (root attribute "description"); empty when none.
    const std::string& description() const;
    /// Open-string pitches as MIDI numbers, the description's string 1 first; empty
    /// when the description gives none or a single number.
    const std::vector<int>& tuning() const;
    /// Playback loudness, 0.0 to 1.0 (root attribute "velocity"; 0.72 by default).
    float velocity() const;
    /// Stores the velocity and recomputes gain(). Decoders made later use the new
    /// gain; streams already in the audio cache keep the one they were made with.
    void setVelocity(float velocity);
    /// The linear loudness factor derived from the velocity.
    /// +10 dB at 1.0, about -1.7 dB at 0.72, -10 dB at 0.52, -200 dB at 0.
    float gain() const;
    /// Replaces the identifier.
    void setId(const std::string& id);
    /// Replaces the display name.
    void setName(const std::string& name);
    /// The description's top layer (its "SamplesTree"); empty when there is none.
    const Layer& layer() const;

    /// The bank's sample tree, built on the first call.
    /// The tree lives as long as the bank; initialize() does not rebuild it.
    SampleTree& sampleTree() const;
    /// A player of the sample that best fits `midi` at dynamic "F", and the
    /// transposition in semitones to apply (midi minus the recorded pitch).
    /// Unlike samplePlayer(int, int) const, the player has no envelope and no
    /// transposition set, and the wave's repitch is left out. A bank without a
    /// fitting sample gives a silent player and 0.
    std::pair<ox::audio::TQ7SamplePlayer, int> samplePlayer(int midi) const;
    /// A player of the sample that best fits `midi` at `dynamic` (0 to 16, see
    /// dynamicName), with the sample's envelope and the transposition set, and
    /// that transposition: midi minus the recorded pitch plus the wave's repitch,
    /// in semitones. A bank without a fitting sample gives a silent player and 0.
    std::pair<ox::audio::TQ7SamplePlayer, double> samplePlayer(int midi, int dynamic) const;
    /// The player of SampleTree::findSampleForVelocity(midi, velocity), set up as
    /// samplePlayer(midi, dynamic) sets it, with its gain set to
    /// gainFromVelocity(velocity) (SampleCoordinate.h). In a bank without velocity
    /// ranges that is samplePlayer(midi, dynamicFromVelocity(velocity)).
    VelocityPlayer samplePlayerForVelocity(int midi, int velocity) const;
    /// Every player a note at `midi` struck at `velocity` sounds: first
    /// samplePlayerForVelocity(midi, velocity), then one for each of that sample's
    /// layers whose range answers `velocity`, in document order. A layer's player
    /// has its own envelope and the gain gainFromVelocity(velocity) times the
    /// layer's gain, and is transposed as its sample's, with its own repitch. Empty
    /// when nothing fits. Not for an audio thread (see trySamplePlayersForVelocity()).
    /// The first strike of the key: samplePlayersForVelocity(midi, velocity, Strike{}).
    std::vector<VelocityPlayer> samplePlayersForVelocity(int midi, int velocity) const;
    /// As above, for the strike `strike` of the key: the sample and the layers
    /// whose turn it is not (Trigger::answers(const Strike&)) are left out, so the
    /// sample's own player may be missing when an alternate layer plays instead.
    std::vector<VelocityPlayer> samplePlayersForVelocity(int midi, int velocity,
                                                         const Strike& strike) const;
    /// As samplePlayersForVelocity(), for an audio thread: clears `out` and fills
    /// it when every file of the note is in the audio cache already and nobody
    /// holds the cache's lock; otherwise leaves it empty and returns false, at once.
    /// It opens no file and allocates nothing once `out` has the capacity (the
    /// tree must have been built). Nothing fits: true, and `out` empty.
    bool trySamplePlayersForVelocity(int midi, int velocity,
                                     std::vector<VelocityPlayer>& out) const;
    /// As above, for the strike `strike` of the key.
    bool trySamplePlayersForVelocity(int midi, int velocity, const Strike& strike,
                                     std::vector<VelocityPlayer>& out) const;
    /// Every player a note at `midi` at `dynamic` sounds: samplePlayer(midi,
    /// dynamic) (its gain left at 1), then a player for each layer of that sample
    /// whose range answers velocityFromDynamic(dynamic), with the layer's gain.
    /// Empty when nothing fits. The first strike of the key.
    std::vector<VelocityPlayer> samplePlayers(int midi, int dynamic) const;
    /// As above, for the strike `strike` of the key.
    std::vector<VelocityPlayer> samplePlayers(int midi, int dynamic, const Strike& strike) const;
    /// samplePlayer(midi, dynamic) when the sample's file is in the audio cache
    /// already and nobody holds the cache's lock; otherwise nothing, at once. It
    /// opens no file and allocates nothing (the tree must have been built).
    /// A bank without a fitting sample gives the silent player and 0.
    std::optional<std::pair<ox::audio::TQ7SamplePlayer, double>> trySamplePlayer(int midi,
                                                                                 int dynamic) const;

    struct Impl;

protected:
    /// The decoder for a sample stream, chosen by the extension of the stream's
    /// name, with the bank's gain times the matching wave's gain.
    /// "ogg" is Ogg Vorbis, "wav" WAV and anything else FLAC (case-sensitive); the
    /// wave is the first whose file is the name's last component. Empty when the
    /// stream is no audio of that format. For the subclasses' audioStream().
    std::shared_ptr<ox::audio::IDecoder>
    makeDecoder(const std::shared_ptr<ox::stream::IStream>& stream) const;

private:
    std::unique_ptr<Impl> m_impl;
};

/// A bank packaged as a directory `D`: the description `D/Samples.xml` and each
/// sample file `f` at `D/Samples/f`.
///
/// Paths are joined as given, nothing normalised: a file name holding "/" or ".."
/// reaches the file system as such. Every call opens the file anew.
class OXSF_EXPORT SoundFontV6 : public SoundFont {
public:
    /// A bank at folder `path`; reads nothing until initialize().
    explicit SoundFontV6(const std::string& path);
    ~SoundFontV6() override;

    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override;
    /// Opens `D/Samples.xml`; empty when it is missing or not a regular file.
    std::shared_ptr<ox::stream::IStream> sampleXML() const override;
    /// Opens `D/Samples/name`, memory-mapped; empty when it is missing or not a
    /// regular file.
    std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const override;

private:
    std::string m_path;
};

/// A bank packaged as one archive file (extensions "tq7bank" and "jux").
///
/// The constructor maps the file and reads its index; the file stays mapped while
/// the bank or any stream of it lives. A file that cannot be opened, or is no archive
/// (it must start with kArchiveMagic), gives a bank without description or samples,
/// not an error.
class OXSF_EXPORT SoundFontV7 : public SoundFont {
public:
    /// Opens the archive at `path` and reads its index; nothing more.
    explicit SoundFontV7(const std::string& path);
    ~SoundFontV7() override;

    /// SoundFont::initialize(), then tells the archive that its start-up reads are
    /// over (later reads are random access).
    void initialize() override;
    /// As SoundFont::audioStream(); a fixed list of sample names of one shipped
    /// piano plays once, without the loop its files carry.
    std::shared_ptr<ox::audio::AudioStream> audioStream(const std::string& name) const override;
    /// The entry "Samples.xml"; empty when the archive has none.
    std::shared_ptr<ox::stream::IStream> sampleXML() const override;
    /// A view of entry `name` (exact, without folder: "x.ogg", not "Samples/x.ogg"),
    /// named after the archive's path, "/" and `name`; empty when there is no such
    /// entry. When two entries share a name, the first in the index counts.
    std::shared_ptr<ox::stream::IStream> sample(const std::string& name) const override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace ox::soundfont
