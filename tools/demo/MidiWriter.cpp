#include "MidiWriter.h"

#include <algorithm>

namespace oxsf::demo {

namespace {

void bigEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
    }
}

void variableLength(std::string& out, uint32_t value) {
    char groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value > 0);
    while (count > 1) {
        out.push_back(static_cast<char>(groups[--count] | 0x80));
    }
    out.push_back(groups[0]);
}

bool noteOff(const std::vector<uint8_t>& bytes) {
    return (bytes[0] & 0xF0) == 0x80;
}

} // namespace

void MidiWriter::event(uint32_t tick, std::initializer_list<uint8_t> bytes) {
    m_tracks.back().push_back(Event{tick, bytes});
}

void MidiWriter::tempo(uint32_t tick, uint32_t microseconds) {
    event(tick, {0xFF, 0x51, 3, uint8_t(microseconds >> 16), uint8_t(microseconds >> 8),
                 uint8_t(microseconds)});
}

void MidiWriter::note(int channel, uint32_t tick, uint32_t length, int key, int velocity) {
    event(tick, {uint8_t(0x90 | channel), uint8_t(key), uint8_t(velocity)});
    event(tick + length, {uint8_t(0x80 | channel), uint8_t(key), 0});
}

void MidiWriter::controller(int channel, uint32_t tick, int number, int value) {
    event(tick, {uint8_t(0xB0 | channel), uint8_t(number), uint8_t(value)});
}

void MidiWriter::program(int channel, uint32_t tick, int program) {
    event(tick, {uint8_t(0xC0 | channel), uint8_t(program)});
}

void MidiWriter::bend(int channel, uint32_t tick, int value) {
    const int raw = value + 8192;
    event(tick, {uint8_t(0xE0 | channel), uint8_t(raw & 0x7F), uint8_t(raw >> 7 & 0x7F)});
}

std::string MidiWriter::bytes() const {
    std::string out = "MThd";
    bigEndian(out, 6, 4);
    bigEndian(out, 1, 2);
    bigEndian(out, static_cast<uint32_t>(m_tracks.size()), 2);
    bigEndian(out, static_cast<uint32_t>(m_division), 2);
    for (std::vector<Event> events : m_tracks) {
        std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : noteOff(a.bytes) && !noteOff(b.bytes);
        });
        std::string track;
        uint32_t last = 0;
        for (const Event& e : events) {
            variableLength(track, e.tick - last);
            last = e.tick;
            track.append(e.bytes.begin(), e.bytes.end());
        }
        track += std::string("\x00\xFF\x2F\x00", 4);
        out += "MTrk";
        bigEndian(out, static_cast<uint32_t>(track.size()), 4);
        out += track;
    }
    return out;
}

} // namespace oxsf::demo
