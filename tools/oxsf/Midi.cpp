#include "Midi.h"

#include "Errors.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace oxsf {

namespace {

constexpr double kDefaultTempo = 500000.0; // microseconds per quarter note: 120 bpm
// Larger files are refused before anything is read into memory; songs are far smaller.
constexpr uintmax_t kMaxFileBytes = 64u << 20;
constexpr size_t kMaxTracks = 65535; // what the header can count

uint32_t bigEndian(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = value << 8 | p[i];
    }
    return value;
}

/// Data bytes that follow a channel message's status.
int dataBytes(uint8_t status) {
    const int type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 1 : 2;
}

} // namespace

MidiReader::MidiReader(const std::string& path) : m_path(path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw ToolError(path, std::filesystem::exists(path, ec) ? "not a file"
                                                                : "no such file or directory");
    }
    if (std::filesystem::file_size(path, ec) > kMaxFileBytes) {
        throw ToolError(path, "not a Standard MIDI File (larger than 64 MB)");
    }
    std::ifstream in(path, std::ios::binary);
    m_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        throw ToolError(path, "cannot read the file");
    }
    const auto notMidi = [&path](const std::string& why) {
        return ToolError(path, "not a Standard MIDI File (" + why + ")");
    };
    if (m_bytes.size() < 14 || std::string(m_bytes.begin(), m_bytes.begin() + 4) != "MThd") {
        throw notMidi("it does not start with an \"MThd\" header");
    }
    const uint32_t headerLength = bigEndian(&m_bytes[4], 4);
    if (headerLength < 6 || headerLength > m_bytes.size() - 8) {
        throw notMidi("the header is too short");
    }
    const uint32_t division = bigEndian(&m_bytes[12], 2);
    if (division & 0x8000) {
        // SMPTE: frames per second (a negative byte; 29 stands for 29.97) times ticks per frame.
        const int fps = -static_cast<int8_t>(division >> 8);
        const int ticks = division & 0xFF;
        if (fps <= 0 || ticks == 0) {
            throw notMidi("the time division is 0");
        }
        m_smpte = true;
        m_secondsPerTick = 1.0 / ((fps == 29 ? 29.97 : fps) * ticks);
    } else if (division == 0) {
        throw notMidi("the time division is 0");
    }
    m_division = static_cast<int>(division);

    // Every "MTrk" chunk is a track, whatever the header counts; other chunks are skipped.
    for (size_t at = 8 + headerLength; at + 8 <= m_bytes.size();) {
        const uint32_t length = bigEndian(&m_bytes[at + 4], 4);
        if (length > m_bytes.size() - at - 8) {
            throw notMidi(fmt::format("a chunk at byte {} runs past the end of the file", at));
        }
        if (std::equal(m_bytes.begin() + at, m_bytes.begin() + at + 4, "MTrk")) {
            if (m_tracks.size() == kMaxTracks) {
                throw notMidi("more than 65535 tracks");
            }
            m_tracks.push_back(Track{at + 8, at + 8 + length});
        }
        at += 8 + length;
    }
    if (m_tracks.empty()) {
        throw notMidi("it holds no track");
    }
    rewind();
}

void MidiReader::fail(size_t track, const std::string& what) const {
    throw ToolError(m_path, fmt::format("track {}: {}", track + 1, what));
}

uint32_t MidiReader::readNumber(size_t index) {
    Track& track = m_tracks[index];
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if (track.position >= track.end) {
            fail(index, "the track breaks off in the middle of an event");
        }
        const uint8_t byte = m_bytes[track.position++];
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) {
            return value;
        }
    }
    fail(index, "a number longer than 4 bytes");
}

void MidiReader::queue(size_t index) {
    Track& track = m_tracks[index];
    if (track.position >= track.end) {
        return;
    }
    track.tick += readNumber(index);
    m_queue.emplace_back(track.tick, index);
    std::push_heap(m_queue.begin(), m_queue.end(), std::greater<>());
}

void MidiReader::rewind() {
    m_queue.clear();
    m_secondsPerTick = m_smpte ? m_secondsPerTick : kDefaultTempo / 1e6 / m_division;
    m_tempoTick = 0;
    m_tempoSeconds = 0.0;
    m_seconds = 0.0;
    for (size_t i = 0; i < m_tracks.size(); ++i) {
        m_tracks[i].position = m_tracks[i].begin;
        m_tracks[i].tick = 0;
        m_tracks[i].running = 0;
        queue(i);
    }
}

double MidiReader::secondsAt(uint64_t tick) const {
    return m_tempoSeconds + static_cast<double>(tick - m_tempoTick) * m_secondsPerTick;
}

std::optional<SongEvent> MidiReader::next() {
    while (!m_queue.empty()) {
        std::pop_heap(m_queue.begin(), m_queue.end(), std::greater<>());
        const auto [tick, index] = m_queue.back();
        m_queue.pop_back();
        Track& track = m_tracks[index];
        m_seconds = secondsAt(tick);
        const auto byte = [&]() -> uint8_t {
            if (track.position >= track.end) {
                fail(index, "the track breaks off in the middle of an event");
            }
            return m_bytes[track.position++];
        };

        uint8_t status = byte();
        if (status == 0xFF || status == 0xF0 || status == 0xF7) {
            const uint8_t meta = status == 0xFF ? byte() : 0;
            const uint32_t length = readNumber(index);
            if (length > track.end - track.position) {
                fail(index, "the track breaks off in the middle of an event");
            }
            const uint8_t* data = &m_bytes[track.position];
            track.position += length;
            if (status == 0xFF && meta == 0x2F) {
                track.position = track.end; // end of track: what follows is not part of it
            } else if (status == 0xFF && meta == 0x51 && length == 3 && !m_smpte) {
                const uint32_t tempo = bigEndian(data, 3);
                if (tempo > 0) {
                    m_tempoSeconds = m_seconds;
                    m_tempoTick = tick;
                    m_secondsPerTick = tempo / 1e6 / m_division;
                }
            }
            queue(index);
            continue;
        }
        SongEvent event;
        event.seconds = m_seconds;
        if (status < 0x80) { // running status: the byte is the first data byte
            if (track.running == 0) {
                fail(index,
                     fmt::format("a data byte (0x{:02X}) where an event should start", status));
            }
            event.data1 = status;
            status = track.running;
        } else if (status >= 0xF0) {
            fail(index, fmt::format("a system message (0x{:02X}) a MIDI file cannot hold", status));
        } else {
            event.data1 = byte() & 0x7F;
        }
        track.running = status;
        event.status = status;
        if (dataBytes(status) == 2) {
            event.data2 = byte() & 0x7F;
        }
        event.data1 &= 0x7F;
        queue(index);
        return event;
    }
    return std::nullopt;
}

} // namespace oxsf
