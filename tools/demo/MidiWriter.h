#pragma once

// Standard MIDI Files written by our own code, for the tests and benchmarks.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace oxsf::demo {

/// A format 1 file: events are added to the current track at ticks from the
/// song's start, in any order; each track is sorted when the file is written
/// (at equal ticks note-offs first, the rest in the order added).
class MidiWriter {
public:
    explicit MidiWriter(int ticksPerQuarter = 480) : m_division(ticksPerQuarter) { track(); }

    /// Starts the next track.
    void track() { m_tracks.emplace_back(); }
    /// A message of `bytes` (status first; a meta event starts with 0xFF).
    void event(uint32_t tick, std::initializer_list<uint8_t> bytes);
    /// Microseconds per quarter note.
    void tempo(uint32_t tick, uint32_t microseconds);
    /// Note-on at `tick` and its note-off `length` ticks later; channels count from 0.
    void note(int channel, uint32_t tick, uint32_t length, int key, int velocity);
    void controller(int channel, uint32_t tick, int number, int value);
    void program(int channel, uint32_t tick, int program);
    /// -8192 to 8191.
    void bend(int channel, uint32_t tick, int value);

    std::string bytes() const;

private:
    struct Event {
        uint32_t tick;
        std::vector<uint8_t> bytes;
    };
    int m_division;
    std::vector<std::vector<Event>> m_tracks;
};

} // namespace oxsf::demo
