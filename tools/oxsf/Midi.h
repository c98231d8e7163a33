#pragma once

#include <ox/synth/Synth.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oxsf {

/// One channel message of a Standard MIDI File, at its time in the song.
struct SongEvent : ox::synth::MidiEvent {
    double seconds = 0.0; ///< after the file's tempo map
};

/// A Standard MIDI File read event by event: the tracks merged in time order
/// (equal times in track order), tempo changes applied as they come. It holds
/// the file's bytes and one cursor per track, nothing per event, so a long song
/// costs no more memory than its file. System exclusive and meta events other
/// than tempo and end of track are skipped.
///
/// Throws ToolError, naming the file, for a file that cannot be read or is not a
/// Standard MIDI File (at construction) and for a track that breaks off in the
/// middle of an event or holds a byte no event starts with (from next()).
class MidiReader {
public:
    explicit MidiReader(const std::string& path);

    /// The next channel message, or nothing once every track has ended.
    std::optional<SongEvent> next();
    /// Back to the start of the song.
    void rewind();
    /// The time of the last event read, meta events included: after the last
    /// next(), the song's length.
    double seconds() const { return m_seconds; }

private:
    struct Track {
        size_t begin = 0;
        size_t end = 0;
        size_t position = 0;
        uint64_t tick = 0; ///< of the event at `position`
        uint8_t running = 0;
    };

    std::string m_path;
    std::vector<uint8_t> m_bytes;
    std::vector<Track> m_tracks;
    std::vector<std::pair<uint64_t, size_t>> m_queue; ///< (tick, track) heap, earliest first
    double m_secondsPerTick = 0.0;                    ///< at the current tempo
    bool m_smpte = false;                             ///< ticks are fixed fractions of a second
    int m_division = 0;
    uint64_t m_tempoTick = 0; ///< the tick and time the current tempo started at
    double m_tempoSeconds = 0.0;
    double m_seconds = 0.0;

    [[noreturn]] void fail(size_t track, const std::string& what) const;
    /// Reads a variable-length quantity of `track`.
    uint32_t readNumber(size_t track);
    /// Reads the delta time before the track's next event and queues the track;
    /// a track at its end is left out.
    void queue(size_t track);
    double secondsAt(uint64_t tick) const;
};

} // namespace oxsf
