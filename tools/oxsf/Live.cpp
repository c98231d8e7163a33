// oxsf live: a JACK client that plays its MIDI input through banks chosen per
// channel and program, into two audio outputs, until interrupted.

#include "BankOptions.h"
#include "Commands.h"
#include "Errors.h"
#include "Warnings.h"

#include <ox/synth/Synth.h>
#include <soundfont/SoundFont.h>

#include <CLI/CLI.hpp>
#include <QtGlobal>
#include <fmt/format.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace oxsf {

using ox::synth::MidiEvent;
using ox::synth::Synth;

namespace {

// Events one synth call takes; a block with more is rendered in pieces.
constexpr size_t kMaxEvents = 512;
constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr int kPollsPerStatus = 5; // the status line four times a second

struct LiveOptions {
    std::string bank;
    BankOptions banks;
    std::string name = "oxsf";
    bool connect = false;
    bool highQuality = false;
};

// Set by SIGINT and SIGTERM; a lock-free atomic is safe in a signal handler.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void requestStop(int) {
    g_stopRequested = true;
}

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

/// stderr, shared by the loader thread's warnings and the status line, which
/// is drawn only on a terminal and cleared before each warning.
class Console {
public:
    Console() : m_terminal(isatty(STDERR_FILENO) == 1) {}

    void warn(const std::string& path, const std::string& what) {
        std::lock_guard lock(m_mutex);
        clearLine();
        m_warnings.warn(path, what);
    }
    void status(const std::string& text) {
        std::lock_guard lock(m_mutex);
        if (m_terminal) {
            std::fprintf(stderr, "\r%s\033[K", text.c_str());
            std::fflush(stderr);
            m_shown = true;
        }
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        clearLine();
    }

private:
    std::mutex m_mutex;
    Warnings m_warnings;
    bool m_terminal;
    bool m_shown = false;

    void clearLine() {
        if (m_shown) {
            std::fputs("\r\033[K", stderr);
            m_shown = false;
        }
    }
};

/// A channel message from a JACK MIDI event at `frame`; false for anything
/// else (system messages, sysex, a truncated message).
bool toMidiEvent(const jack_midi_event_t& in, uint32_t frame, MidiEvent& out) {
    if (in.size < 1 || in.buffer[0] < 0x80 || in.buffer[0] >= 0xF0) {
        return false;
    }
    const int type = in.buffer[0] & 0xF0;
    const size_t length = type == 0xC0 || type == 0xD0 ? 2 : 3;
    if (in.size < length) {
        return false;
    }
    out.frame = frame;
    out.status = in.buffer[0];
    out.data1 = in.buffer[1] & 0x7F;
    out.data2 = length == 3 ? in.buffer[2] & 0x7F : 0;
    return true;
}

/// What the audio thread tells the others.
struct Counters {
    std::atomic<int64_t> notes{0};
    std::atomic<int64_t> missed{0};
    std::atomic<int64_t> xruns{0};
    std::atomic<size_t> voices{0};
    std::atomic<size_t> peakVoices{0};
    std::atomic<bool> serverGone{false};
};

/// The JACK callbacks' state: the synth, its ports, and buffers allocated up front.
class LiveEngine {
public:
    LiveEngine(Synth& synth, Counters& counters)
        : m_synth(synth), m_counters(counters),
          m_block(static_cast<size_t>(Synth::kMaxBlockFrames) * 2) {}

    void setPorts(jack_port_t* midi, jack_port_t* left, jack_port_t* right) {
        m_midi = midi;
        m_left = left;
        m_right = right;
    }

    /// Real-time: this cycle's MIDI in, its audio out.
    void process(jack_nframes_t frames);

private:
    Synth& m_synth;
    Counters& m_counters;
    jack_port_t* m_midi = nullptr;
    jack_port_t* m_left = nullptr;
    jack_port_t* m_right = nullptr;
    std::vector<float> m_block; ///< one synth call's interleaved frames
    std::array<MidiEvent, kMaxEvents> m_events;

    /// Gathers the events from `next` on that fall before `end` (at most
    /// kMaxEvents), at frames relative to `start`; returns how many, and lowers
    /// `end` to the first event left over when they are more.
    size_t gather(void* midi, uint32_t count, uint32_t& next, jack_nframes_t start,
                  jack_nframes_t& end);
};

size_t LiveEngine::gather(void* midi, uint32_t count, uint32_t& next, jack_nframes_t start,
                          jack_nframes_t& end) {
    size_t gathered = 0;
    for (; next < count; ++next) {
        jack_midi_event_t in;
        if (jack_midi_event_get(&in, midi, next) != 0) {
            continue;
        }
        const jack_nframes_t at = std::max(in.time, start); // out of order: as soon as can be
        if (at >= end) {
            break;
        }
        if (gathered == m_events.size()) {
            end = at;
            break;
        }
        if (toMidiEvent(in, at - start, m_events[gathered])) {
            const MidiEvent& event = m_events[gathered++];
            if (event.type() == 0x90 && event.data2 > 0) {
                m_counters.notes.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }
    return gathered;
}

void LiveEngine::process(jack_nframes_t frames) {
    void* midi = jack_port_get_buffer(m_midi, frames);
    auto* left = static_cast<float*>(jack_port_get_buffer(m_left, frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(m_right, frames));
    const uint32_t count = jack_midi_get_event_count(midi);
    uint32_t next = 0;
    jack_nframes_t done = 0;
    // A server block larger than the synth's is played in the synth's pieces.
    while (done < frames) {
        jack_nframes_t end = std::min<jack_nframes_t>(frames, done + Synth::kMaxBlockFrames);
        const size_t events = gather(midi, count, next, done, end);
        const int length = static_cast<int>(end - done);
        m_synth.process(length > 0 ? m_block.data() : nullptr, length, m_events.data(), events);
        for (int i = 0; i < length; ++i) {
            left[done + i] = m_block[2 * size_t(i)];
            right[done + i] = m_block[2 * size_t(i) + 1];
        }
        done = end;
    }
    m_counters.missed.store(m_synth.missedNotes(), std::memory_order_relaxed);
    m_counters.voices.store(m_synth.voices(), std::memory_order_relaxed);
    m_counters.peakVoices.store(m_synth.peakVoices(), std::memory_order_relaxed);
}

int onProcess(jack_nframes_t frames, void* engine) {
    static_cast<LiveEngine*>(engine)->process(frames);
    return 0;
}

int onXrun(void* counters) {
    static_cast<Counters*>(counters)->xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void onShutdown(void* counters) {
    static_cast<Counters*>(counters)->serverGone = true;
}

// libjack prints its own errors; the tool says what went wrong in one line,
// and shows libjack's lines with --log.
void jackLog(const char* message) {
    qDebug("jack: %s", message);
}

struct ClientCloser {
    void operator()(jack_client_t* client) const { jack_client_close(client); }
};
using Client = std::unique_ptr<jack_client_t, ClientCloser>;

/// Deactivates the client before the callbacks' state goes; not once the
/// server is gone, when there is nothing left to stop.
class Activation {
public:
    Activation(jack_client_t* client, const Counters& counters)
        : m_client(client), m_counters(counters) {
        if (jack_activate(client) != 0) {
            throw ToolError("", "cannot activate the JACK client");
        }
    }
    ~Activation() {
        if (!m_counters.serverGone) {
            jack_deactivate(m_client);
        }
    }
    Activation(const Activation&) = delete;
    Activation& operator=(const Activation&) = delete;

private:
    jack_client_t* m_client;
    const Counters& m_counters;
};

Client openClient(const std::string& name) {
    jack_set_error_function(jackLog);
    jack_set_info_function(jackLog);
    jack_status_t status{};
    // Never start a server of our own: the user chooses the server.
    Client client(jack_client_open(name.c_str(), JackNoStartServer, &status));
    if (client) {
        return client;
    }
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    const std::string which = server && *server ? fmt::format(" '{}'", server) : "";
    if (status & JackServerFailed) {
        throw ToolError("", fmt::format("no JACK server{} is running (start one, or run oxsf "
                                        "under pw-jack)",
                                        which));
    }
    throw ToolError("", fmt::format("cannot open a JACK client on the server{} (status 0x{:x})",
                                    which, unsigned(status)));
}

jack_port_t* registerPort(jack_client_t* client, const char* name, const char* type,
                          unsigned long flags) {
    jack_port_t* port = jack_port_register(client, name, type, flags, 0);
    if (!port) {
        throw ToolError("", fmt::format("cannot register the JACK port {}", name));
    }
    return port;
}

void connect(jack_client_t* client, const char* from, const char* to, Console& console) {
    const int result = jack_connect(client, from, to);
    if (result != 0 && result != EEXIST) {
        console.warn("", fmt::format("cannot connect {} to {}", from, to));
    }
}

/// The outputs to the first two physical playback ports, and every physical
/// MIDI source to the input.
void connectPhysical(jack_client_t* client, jack_port_t* midi, jack_port_t* left,
                     jack_port_t* right, Console& console) {
    const char** playback = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                           JackPortIsPhysical | JackPortIsInput);
    if (playback && playback[0]) {
        connect(client, jack_port_name(left), playback[0], console);
        connect(client, jack_port_name(right), playback[1] ? playback[1] : playback[0], console);
    } else {
        console.warn("", "no physical playback ports to connect to");
    }
    jack_free(playback);
    const char** sources = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                          JackPortIsPhysical | JackPortIsOutput);
    for (const char** source = sources; source && *source; ++source) {
        connect(client, *source, jack_port_name(midi), console);
    }
    jack_free(sources);
}

/// Chooses and prepares the bank of program 0 on every channel (the kit on the
/// drum channels), so that the first notes play at once.
void prepareDefaults(Synth& synth, const ox::synth::BankChooser& banks) {
    for (int channel = 0; channel < 16; ++channel) {
        synth.prepare(channel, 0, 0, 0);
    }
    for (const auto& [path, bank] : banks.banks()) {
        if (bank) {
            fmt::print("loaded {} (\"{}\"){}\n", path, bank->bank().name(),
                       bank->kit() ? ", a kit" : "");
        }
    }
}

std::string statusLine(const Counters& counters) {
    return fmt::format("voices {:>3} (peak {})  missed notes {}  xruns {}", counters.voices.load(),
                       counters.peakVoices.load(), counters.missed.load(), counters.xruns.load());
}

/// Waits for a stop signal or the server's end, drawing the status line; true
/// when the server went away.
bool waitForEnd(const Counters& counters, Console& console) {
    for (int poll = 0; !g_stopRequested && !counters.serverGone; ++poll) {
        if (poll % kPollsPerStatus == 0) {
            console.status(statusLine(counters));
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    console.clear();
    return counters.serverGone;
}

void runLive(const LiveOptions& options) {
    Console console;
    ox::soundfont::SoundFontManager manager;
    ox::synth::BankChooser banks(
        bankRules(options.banks, options.bank, "a BANK"),
        [&console](const std::string& path, const std::string& what) { console.warn(path, what); },
        bankOpener(manager));
    catchStopSignals();
    Client client = openClient(options.name);

    ox::synth::SynthSettings settings;
    settings.sampleRate = static_cast<int>(jack_get_sample_rate(client.get()));
    settings.highQuality = options.highQuality;
    Synth synth(banks, settings);
    prepareDefaults(synth, banks);
    synth.startLoader(); // other programs are opened as they are asked for

    Counters counters;
    LiveEngine engine(synth, counters);
    jack_port_t* midi =
        registerPort(client.get(), "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
    jack_port_t* left =
        registerPort(client.get(), "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    jack_port_t* right =
        registerPort(client.get(), "out_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    engine.setPorts(midi, left, right);
    jack_set_process_callback(client.get(), onProcess, &engine);
    jack_set_xrun_callback(client.get(), onXrun, &counters);
    jack_on_shutdown(client.get(), onShutdown, &counters);
    Activation activation(client.get(), counters);
    if (options.connect) {
        connectPhysical(client.get(), midi, left, right, console);
    }
    fmt::print("playing MIDI from {} to {} and {} ({} Hz, {} frames a block); Ctrl-C ends\n",
               jack_port_name(midi), jack_port_name(left), jack_port_name(right),
               settings.sampleRate, jack_get_buffer_size(client.get()));
    std::fflush(stdout);

    const bool serverGone = waitForEnd(counters, console);
    if (serverGone) {
        throw ToolError("", "the JACK server shut down");
    }
    fmt::print("{} notes played, up to {} voices at once, {} missed, {} xruns\n",
               counters.notes.load(), counters.peakVoices.load(), counters.missed.load(),
               counters.xruns.load());
}

} // namespace

void addLiveCommand(CLI::App& app) {
    auto options = std::make_shared<LiveOptions>();
    CLI::App* cmd =
        app.add_subcommand("live", "Play MIDI live through banks as a JACK client, until Ctrl-C");
    cmd->add_option("BANK", options->bank,
                    "Bank that plays every channel not given another (folder or archive)");
    addBankOptions(cmd, options->banks);
    cmd->add_flag("--connect", options->connect,
                  "Connect the outputs to the system's playback ports and its MIDI sources to "
                  "the input");
    cmd->add_option("--name", options->name, "JACK client name")->capture_default_str();
    addQualityOption(cmd, options->highQuality);
    cmd->callback([options] { runLive(*options); });
}

} // namespace oxsf
