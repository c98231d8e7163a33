#include "Midi.h"

#include "Errors.h"

#include <glib.h>
#include <smf.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <utility>

namespace oxsf {

namespace {

// libsmf reports problems through glib's logger; keep the last message for
// our own one-line error instead of letting it print.
void captureLog(const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
    *static_cast<std::string*>(data) = message ? message : "";
}

struct LogCapture {
    std::string last;
    GLogFunc previous;
    gpointer previousData = nullptr;
    LogCapture() { previous = g_log_set_default_handler(captureLog, &last); }
    ~LogCapture() { g_log_set_default_handler(previous, previousData); }
};

} // namespace

std::vector<MidiNote> readMidiFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw ToolError(path, std::filesystem::exists(path, ec) ? "not a file"
                                                                : "no such file or directory");
    }
    LogCapture log;
    std::unique_ptr<smf_t, void (*)(smf_t*)> smf(smf_load(path.c_str()), smf_delete);
    if (!smf) {
        throw ToolError(path, "not a Standard MIDI File" +
                                  (log.last.empty() ? std::string() : " (" + log.last + ")"));
    }

    std::vector<MidiNote> notes;
    std::map<std::pair<int, int>, std::deque<size_t>> sounding; // (channel, key) -> notes
    double lastTime = 0.0;
    smf_rewind(smf.get());
    while (smf_event_t* event = smf_get_next_event(smf.get())) {
        lastTime = std::max(lastTime, event->time_seconds);
        if (smf_event_is_metadata(event) || event->midi_buffer_length < 3) {
            continue;
        }
        const int status = event->midi_buffer[0];
        const int type = status & 0xF0;
        const int channel = status & 0x0F;
        const int key = event->midi_buffer[1] & 0x7F;
        const int velocity = event->midi_buffer[2] & 0x7F;
        auto& open = sounding[{channel, key}];
        if (type == 0x90 && velocity > 0) {
            // A key struck again while it sounds ends the earlier note.
            for (size_t index : open) {
                notes[index].end = event->time_seconds;
            }
            open.clear();
            MidiNote note;
            note.channel = channel;
            note.midi = key;
            note.velocity = velocity;
            note.start = event->time_seconds;
            note.end = -1.0;
            open.push_back(notes.size());
            notes.push_back(note);
        } else if ((type == 0x80 || type == 0x90) && !open.empty()) {
            notes[open.front()].end = event->time_seconds;
            open.pop_front();
        }
    }
    for (MidiNote& note : notes) {
        if (note.end < note.start) {
            note.end = std::max(lastTime, note.start + 0.5);
        }
    }
    std::stable_sort(notes.begin(), notes.end(),
                     [](const MidiNote& a, const MidiNote& b) { return a.start < b.start; });
    return notes;
}

} // namespace oxsf
