#include <ox/synth/Synth.h>

#include "Choices.h"
#include "Engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace ox::synth {

namespace {

// How often an idle loader looks for work: bank loading takes far longer.
constexpr auto kLoaderPoll = std::chrono::milliseconds(2);

} // namespace

struct Synth::Impl {
    Impl(BankChooser& chooser, const SynthSettings& settings)
        : chooser(chooser), engine(choices, settings) {}

    BankChooser& chooser;
    Choices choices;
    Engine engine;
    std::mutex chooserMutex; ///< between prepare() and the loader, never the audio thread
    std::thread loader;
    std::atomic<bool> stopping{false};
    std::atomic<bool> loading{false}; ///< a request is taken and not published yet

    /// Chooses and prepares under the chooser's lock.
    const Bank* ready(uint32_t key) {
        std::lock_guard lock(chooserMutex);
        Bank* bank = chooser.choose(Choices::channel(key), Choices::msb(key), Choices::lsb(key),
                                    Choices::program(key));
        if (bank) {
            bank->prepare();
        }
        return bank;
    }

    void load() {
        while (!stopping.load(std::memory_order_acquire)) {
            uint32_t key = 0;
            loading.store(true, std::memory_order_release);
            if (!choices.asked.pop(key)) {
                loading.store(false, std::memory_order_release);
                std::this_thread::sleep_for(kLoaderPoll);
                continue;
            }
            const Bank* bank = nullptr;
            try {
                bank = ready(key);
            } catch (const std::exception&) {
                // A bank that fails now stays silent, as one that failed to open does.
            }
            while (!choices.ready.push({key, bank}) && !stopping.load()) {
                std::this_thread::sleep_for(kLoaderPoll);
            }
            loading.store(false, std::memory_order_release);
        }
    }

    /// The loader's results, taken in before a block.
    void collect() {
        ChoiceResult result;
        while (choices.ready.pop(result)) {
            Choices::Slot& slot = choices.slot(result.key);
            slot.state = Choices::State::Ready;
            slot.bank = result.bank;
        }
    }
};

Synth::Synth(BankChooser& banks, const SynthSettings& settings)
    : m_impl(std::make_unique<Impl>(banks, settings)) {}

Synth::~Synth() {
    if (m_impl->loader.joinable()) {
        m_impl->stopping.store(true, std::memory_order_release);
        m_impl->loader.join();
    }
}

const Bank* Synth::prepare(int channel, int msb, int lsb, int program) {
    if (channel < 0 || channel > 15) {
        return nullptr;
    }
    const uint32_t key = Choices::key(channel, msb, lsb, program);
    const Bank* bank = m_impl->ready(key);
    Choices::Slot& slot = m_impl->choices.slot(key);
    slot.state = Choices::State::Ready;
    slot.bank = bank;
    return bank;
}

void Synth::startLoader() {
    if (!m_impl->loader.joinable()) {
        m_impl->loader = std::thread([impl = m_impl.get()] { impl->load(); });
    }
}

void Synth::waitForLoader() const {
    // The flag is raised before a request is taken, so once the queue is seen
    // empty, the flag down means every request taken is published. In this order:
    // the flag read first could be one from before the last request was taken.
    while (m_impl->loader.joinable() &&
           (!m_impl->choices.asked.empty() || m_impl->loading.load(std::memory_order_acquire))) {
        std::this_thread::sleep_for(kLoaderPoll);
    }
}

int Synth::process(float* out, int frames, const MidiEvent* events, size_t eventCount) {
    frames = out ? std::clamp(frames, 0, kMaxBlockFrames) : 0;
    m_impl->collect();
    Engine& engine = m_impl->engine;
    int done = 0;
    int sounded = 0;
    // Renders up to `end` in chunks, so that events land on their frames.
    const auto renderUntil = [&](int end) {
        while (done < end) {
            const int count = std::min(Engine::kChunkFrames, end - done);
            const int heard = engine.render(out + 2 * done, count);
            if (heard > 0) {
                sounded = done + heard;
            }
            done += count;
        }
    };
    const int last = std::max(frames - 1, 0);
    for (size_t i = 0; events && i < eventCount; ++i) {
        renderUntil(events[i].frame > uint32_t(last) ? last : int(events[i].frame));
        engine.handle(events[i]);
    }
    renderUntil(frames);
    return sounded;
}

void Synth::releaseAll() {
    m_impl->engine.releaseAll();
}

bool Synth::sounding() const {
    return m_impl->engine.sounding();
}

int64_t Synth::missedNotes() const {
    return m_impl->engine.missed();
}

int64_t Synth::stolenNotes() const {
    return m_impl->engine.stolen();
}

size_t Synth::peakVoices() const {
    return m_impl->engine.peakVoices();
}

size_t Synth::voices() const {
    return m_impl->engine.voices();
}

} // namespace ox::synth
