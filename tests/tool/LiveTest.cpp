// oxsf live on a JACK server of the test's own (the dummy driver: no sound
// card, and never a user's server): a phrase sent to its MIDI input comes back
// from its outputs at the frames it was sent, at small and large server
// blocks, and it ends as asked, or in one line when the server goes or is not there.

#include "ToneBanks.h"
#include "ToolRunner.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace oxtest;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 44100;

std::string findJackd() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/jackd";
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

/// A name no other test, run or user has: the server's, and the one oxsf finds
/// through JACK_DEFAULT_SERVER, which the test's own clients read too.
std::string uniqueServerName() {
    static int count = 0;
    return "oxsf-test-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
}

/// A child process with its output in files, killed at the end if it still runs.
class Child {
public:
    Child(std::vector<std::string> args, const TempDir& dir, const std::string& name)
        : m_outPath(dir.file(name + ".out")), m_errPath(dir.file(name + ".err")) {
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::dup2(::open(m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            ::dup2(::open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Child() {
        if (wait(0ms) < 0) {
            signal(SIGKILL);
            wait(5s);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void signal(int number) const {
        if (m_pid > 0 && !m_exitCode) {
            ::kill(m_pid, number);
        }
    }
    /// The exit code (128 + the signal that ended it), or -1 while it runs on after `timeout`.
    int wait(std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (!m_exitCode && m_pid > 0) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() >= until) {
                break;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return m_exitCode.value_or(-1);
    }
    std::string out() const { return readFile(m_outPath); }
    std::string err() const { return readFile(m_errPath); }

    /// Waits until stdout holds `text`, for `timeout` at most, or the child ends.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (out().find(text) == std::string::npos) {
            if (wait(0ms) >= 0 || std::chrono::steady_clock::now() >= until) {
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

private:
    std::string m_outPath;
    std::string m_errPath;
    pid_t m_pid = -1;
    std::optional<int> m_exitCode;
};

void ignoreJackLine(const char*) {}

jack_client_t* openClient(const char* name) {
    // Probing a server still starting fails by design; libjack need not say so.
    jack_set_error_function(ignoreJackLine);
    jack_set_info_function(ignoreJackLine);
    jack_status_t status{};
    return jack_client_open(name, JackNoStartServer, &status);
}

/// jackd with the dummy driver at 44.1 kHz under a name of its own, made the
/// default server of this process and its children.
class JackServer {
public:
    JackServer(const TempDir& dir, int blockFrames) : m_name(uniqueServerName()) {
        ::setenv("JACK_DEFAULT_SERVER", m_name.c_str(), 1);
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        m_jackd.emplace(std::vector<std::string>{findJackd(), "--no-realtime", "-n", m_name, "-d",
                                                 "dummy", "-r", std::to_string(kRate), "-p",
                                                 std::to_string(blockFrames)},
                        dir, "jackd");
    }
    ~JackServer() {
        m_jackd->signal(SIGTERM);
        m_jackd->wait(5s);
        m_jackd.reset();
        removeLeftovers();
    }

    /// True once a client can connect, within a few seconds.
    bool waitUntilUp() {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < until && m_jackd->wait(0ms) < 0) {
            if (jack_client_t* probe = openClient("probe")) {
                jack_client_close(probe);
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "jackd did not start: " << m_jackd->err();
        return false;
    }
    /// Stops the server while clients run. SIGTERM, since a killed server keeps
    /// its slot in libjack's registry of servers, which has a few slots only.
    void stop() {
        m_jackd->signal(SIGTERM);
        m_jackd->wait(5s);
    }

private:
    std::string m_name;
    std::optional<Child> m_jackd;

    /// The semaphores of clients that outlived the server, which carry its name.
    void removeLeftovers() const {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
            if (entry.path().filename().string().find("_" + m_name + "_") != std::string::npos) {
                std::filesystem::remove(entry.path(), ec);
            }
        }
    }
};

struct Note {
    int key;
    double on; ///< seconds into the recording
    double off;
    double frequency; ///< of the bank's sample at `key`
};

/// Two clients of the test: one sends a phrase, the other records oxsf's outputs.
/// Both place frames on the server's clock, so that a note is found where it
/// was sent whatever the blocks, and no feedback loop delays either.
class Probe {
public:
    /// `burst` controller messages go with the second note-on, at its frame.
    Probe(const std::vector<Note>& phrase, double seconds, int burst)
        : m_left(size_t(seconds * kRate)), m_right(m_left.size()) {
        for (const Note& note : phrase) {
            for (int i = 0; &note == &phrase[1] && i < burst; ++i) {
                m_messages.push_back({uint32_t(note.on * kRate), {0xB0, 1, uint8_t(i % 128)}});
            }
            m_messages.push_back({uint32_t(note.on * kRate), {0x90, uint8_t(note.key), 100}});
            m_messages.push_back({uint32_t(note.off * kRate), {0x80, uint8_t(note.key), 0}});
        }
        m_sender = openClient("sender");
        m_recorder = openClient("recorder");
        if (!m_sender || !m_recorder) {
            return;
        }
        m_midiOut =
            jack_port_register(m_sender, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        m_inLeft =
            jack_port_register(m_recorder, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        m_inRight =
            jack_port_register(m_recorder, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(m_sender, sendCycle, this);
        jack_set_process_callback(m_recorder, recordCycle, this);
        jack_set_xrun_callback(m_recorder, countXrun, this);
        m_ready = m_midiOut && m_inLeft && m_inRight && jack_activate(m_sender) == 0 &&
                  jack_activate(m_recorder) == 0;
    }
    ~Probe() {
        for (jack_client_t* client : {m_sender, m_recorder}) {
            if (client) {
                jack_client_close(client);
            }
        }
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    /// Connects to the ports of the JACK client `name`, and starts the phrase a
    /// little later; true when all went well.
    bool start(const std::string& name) {
        const bool connected =
            m_ready &&
            jack_connect(m_sender, jack_port_name(m_midiOut), (name + ":midi_in").c_str()) == 0 &&
            jack_connect(m_recorder, (name + ":out_left").c_str(), jack_port_name(m_inLeft)) == 0 &&
            jack_connect(m_recorder, (name + ":out_right").c_str(), jack_port_name(m_inRight)) == 0;
        if (connected) {
            const jack_nframes_t lead = 2 * jack_get_buffer_size(m_sender) + kRate / 10;
            m_start = int64_t(jack_frame_time(m_sender) + lead);
        }
        return connected;
    }
    /// Waits until the recording is complete, for `timeout` at most.
    bool waitForRecording(std::chrono::milliseconds timeout) const {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (m_recorded.load(std::memory_order_acquire) < m_left.size()) {
            if (std::chrono::steady_clock::now() >= until) {
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
    const std::vector<float>& channel(int which) const { return which == 0 ? m_left : m_right; }
    int xruns() const { return m_xruns; }

private:
    struct Message {
        uint32_t frame; ///< after the start
        uint8_t bytes[3];
    };
    std::vector<Message> m_messages;
    std::vector<float> m_left;
    std::vector<float> m_right;
    jack_client_t* m_sender = nullptr;
    jack_client_t* m_recorder = nullptr;
    jack_port_t* m_midiOut = nullptr;
    jack_port_t* m_inLeft = nullptr;
    jack_port_t* m_inRight = nullptr;
    bool m_ready = false;
    std::atomic<int64_t> m_start{-1}; ///< the server's frame the recording starts at
    std::atomic<size_t> m_recorded{0};
    std::atomic<int> m_xruns{0};

    /// Frames from the start to the first of this cycle, wrapping with the clock.
    static int64_t sinceStart(jack_client_t* client, int64_t start) {
        return int32_t(jack_last_frame_time(client) - uint32_t(start));
    }

    static int sendCycle(jack_nframes_t frames, void* arg) {
        auto& self = *static_cast<Probe*>(arg);
        void* buffer = jack_port_get_buffer(self.m_midiOut, frames);
        jack_midi_clear_buffer(buffer);
        const int64_t start = self.m_start.load();
        if (start < 0) {
            return 0;
        }
        const int64_t cycle = sinceStart(self.m_sender, start);
        for (const Message& message : self.m_messages) {
            const int64_t at = int64_t(message.frame) - cycle;
            if (at >= 0 && at < int64_t(frames)) {
                jack_midi_event_write(buffer, jack_nframes_t(at), message.bytes, 3);
            }
        }
        return 0;
    }

    static int recordCycle(jack_nframes_t frames, void* arg) {
        auto& self = *static_cast<Probe*>(arg);
        const int64_t start = self.m_start.load();
        if (start < 0) {
            return 0;
        }
        const auto* left = static_cast<const float*>(jack_port_get_buffer(self.m_inLeft, frames));
        const auto* right = static_cast<const float*>(jack_port_get_buffer(self.m_inRight, frames));
        const int64_t cycle = sinceStart(self.m_recorder, start);
        for (jack_nframes_t i = 0; i < frames; ++i) {
            const int64_t at = cycle + i;
            if (at >= 0 && at < int64_t(self.m_left.size())) {
                self.m_left[size_t(at)] = left[i];
                self.m_right[size_t(at)] = right[i];
                self.m_recorded.store(size_t(at) + 1, std::memory_order_release);
            }
        }
        return 0;
    }

    static int countXrun(void* arg) {
        ++static_cast<Probe*>(arg)->m_xruns;
        return 0;
    }
};

/// The first frame from `from` on louder than a whisper, or `to`.
size_t firstSound(const std::vector<float>& samples, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (std::abs(samples[i]) > 0.01f) {
            return i;
        }
    }
    return to;
}

float peak(const std::vector<float>& samples, size_t from, size_t to) {
    float loudest = 0.0f;
    for (size_t i = from; i < to; ++i) {
        loudest = std::max(loudest, std::abs(samples[i]));
    }
    return loudest;
}

/// From the rising zero crossings.
double frequency(const std::vector<float>& samples, size_t from, size_t to) {
    int crossings = 0;
    for (size_t i = from; i + 1 < to; ++i) {
        crossings += samples[i] < 0.0f && samples[i + 1] >= 0.0f;
    }
    return crossings * double(kRate) / double(to - from);
}

size_t frameAt(double seconds) {
    return size_t(std::llround(seconds * kRate));
}

class LiveOnJack : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (findJackd().empty()) {
            GTEST_SKIP() << "jackd is not installed (scripts/install-deps.sh installs it)";
        }
    }
};

INSTANTIATE_TEST_SUITE_P(Blocks, LiveOnJack, testing::Values(256, 8192),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "Frames";
                         });

TEST_P(LiveOnJack, PlaysThePhraseSentToItWhereItWasSentAndEndsOnSigint) {
    TempDir dir;
    const std::string bank =
        writeBank(dir, "Tones", false, {{60, 441.0}, {64, 525.0}, {67, 630.0}});
    JackServer server(dir, GetParam());
    ASSERT_TRUE(server.waitUntilUp());
    const std::vector<Note> phrase{
        {60, 0.3, 0.5, 441.0}, {64, 0.8, 1.0, 525.0}, {67, 1.3, 1.5, 630.0}};
    // More events in one block than oxsf takes in one synth call, where the
    // server's MIDI buffer holds that many.
    const int burst = GetParam() >= 4096 ? 700 : 0;
    // Before oxsf: every xrun oxsf is told about, the probe is told about too.
    Probe probe(phrase, 1.8, burst);
    Child oxsf({OXSF_BINARY, "live", bank, "--name", "player"}, dir, "oxsf");
    ASSERT_TRUE(oxsf.waitForOutput("playing MIDI", 10s)) << oxsf.err();
    ASSERT_TRUE(probe.start("player"));
    ASSERT_TRUE(probe.waitForRecording(10s));

    // Dummy-driver timing is loose, but a note must not sound before it is
    // sent, nor much later; between notes, the release has died away.
    const size_t tolerance = frameAt(0.030);
    for (int side = 0; side < 2; ++side) {
        const std::vector<float>& samples = probe.channel(side);
        size_t quietFrom = 0;
        for (const Note& note : phrase) {
            SCOPED_TRACE(testing::Message() << "note " << note.key << ", channel " << side);
            const size_t on = frameAt(note.on), off = frameAt(note.off);
            EXPECT_LT(peak(samples, quietFrom, on), 1e-4f);
            EXPECT_LT(firstSound(samples, on, off), on + tolerance);
            EXPECT_NEAR(frequency(samples, on + tolerance, off), note.frequency,
                        note.frequency * 0.02);
            quietFrom = off + frameAt(0.2);
        }
    }

    oxsf.signal(SIGINT);
    EXPECT_EQ(oxsf.wait(5s), 0) << oxsf.err();
    const std::string out = oxsf.out();
    EXPECT_NE(out.find("loaded " + bank), std::string::npos) << out;
    EXPECT_NE(out.find("player:midi_in"), std::string::npos) << out;
    EXPECT_NE(out.find("player:out_left"), std::string::npos) << out;
    EXPECT_NE(out.find("3 notes played"), std::string::npos) << out;
    EXPECT_NE(out.find("0 missed"), std::string::npos) << out;
    if (probe.xruns() == 0) { // the server's xruns reach every client
        EXPECT_NE(out.find(" 0 xruns"), std::string::npos) << out;
    }
    EXPECT_EQ(oxsf.err(), "");
}

TEST_P(LiveOnJack, EndsInOneErrorLineWhenTheServerGoes) {
    TempDir dir;
    const std::string bank = writeBank(dir, "Tones", false, {{60, 441.0}});
    JackServer server(dir, GetParam());
    ASSERT_TRUE(server.waitUntilUp());
    Child oxsf({OXSF_BINARY, "live", bank}, dir, "oxsf");
    ASSERT_TRUE(oxsf.waitForOutput("playing MIDI", 10s)) << oxsf.err();

    server.stop();
    EXPECT_EQ(oxsf.wait(10s), 1);
    EXPECT_EQ(oxsf.err(), "oxsf: error: the JACK server shut down\n");
}

TEST(LiveCommand, RefusesInOneLineWithoutAServerOrABank) {
    TempDir dir;
    const std::string bank = writeBank(dir, "Tones", false, {{60, 441.0}});
    const std::string absent = uniqueServerName();
    ::setenv("JACK_DEFAULT_SERVER", absent.c_str(), 1);
    expectOneLineError(runTool({"live", bank}), 1, {"no JACK server", absent});
    expectOneLineError(runTool({"live", "--name", "x"}), 2, {"no bank"});
}

} // namespace
