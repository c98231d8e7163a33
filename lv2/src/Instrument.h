#pragma once

// The plugin instance: MIDI and patch messages in, stereo out, the bank path as
// its one parameter. Loading runs on the host's worker; the audio thread only
// swaps in what the worker built and hands the old one back to be freed.

#include "Loader.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/log/logger.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace oxlv2 {

enum Port : uint32_t { kControl, kNotify, kLeft, kRight, kVoices, kMissed, kPortCount };

/// The bank path URI: the plugin's own URI with "#bank".
std::string bankUri();

class Instrument {
public:
    /// Null when the host lacks urid:map or work:schedule, or the rate is absurd.
    static Instrument* create(double sampleRate, const LV2_Feature* const* features);
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    void connect(uint32_t port, void* data);
    /// After a deactivate: no note held from before sounds on.
    void activate();
    void run(uint32_t frames);

    // Worker: off the audio thread.
    LV2_Worker_Status work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                           uint32_t size, const void* data);
    // Audio thread, between runs.
    LV2_Worker_Status workResponse(uint32_t size, const void* data);

    // State: not concurrent with run().
    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle,
                          const LV2_Feature* const* features);
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                             const LV2_Feature* const* features);

    /// Longest bank path a patch:Set or a restore takes, terminator included.
    static constexpr uint32_t kMaxPath = 4096;
    /// MIDI events one Synth::process call takes; more in a run split the call.
    static constexpr size_t kMaxEvents = 1024;

private:
    struct Urids {
        LV2_URID atomPath, atomString, atomUrid, midiEvent;
        LV2_URID patchSet, patchGet, patchProperty, patchValue, bank;
    };

    Instrument(int sampleRate, LV2_URID_Map* map, const LV2_Worker_Schedule* schedule,
               LV2_Log_Log* log);

    void handleMessage(const LV2_Atom_Object& message);
    /// Queues a MIDI channel message at `frame` (of this run), rendering first
    /// when the queue is full.
    void addMidi(uint32_t frame, const uint8_t* bytes, uint32_t size);
    /// Renders this run up to `end`, with the queued events before it.
    void renderUntil(uint32_t end);
    /// patch:Set of the current path on the notify port.
    void announce();
    void report(const std::string& what) const;
    /// Takes in a loaded bank, returning the one it replaces.
    std::unique_ptr<Loaded> swap(std::unique_ptr<Loaded> loaded);
    /// Hands a replaced bank to the worker to free (audio thread).
    void retire(std::unique_ptr<Loaded> old);
    void setStatePath(const std::string& path);

    int m_rate;
    LV2_URID_Map* m_map;
    const LV2_Worker_Schedule* m_schedule;
    LV2_Log_Logger m_logger{};
    Urids m_urids{};
    LV2_Atom_Forge m_forge{};

    const LV2_Atom_Sequence* m_control = nullptr;
    LV2_Atom_Sequence* m_notify = nullptr;
    float* m_out[2] = {nullptr, nullptr};
    float* m_voices = nullptr;
    float* m_missed = nullptr;

    std::unique_ptr<Loaded> m_loaded;  ///< owned by the audio thread
    std::unique_ptr<Loaded> m_retired; ///< replaced, its free not scheduled yet
    bool m_announce = false;           ///< the path changed: say so at the next run
    bool m_answer = false;             ///< a patch:Get waits for its answer

    // This run's rendering: preallocated, the audio thread allocates nothing.
    std::array<ox::synth::MidiEvent, kMaxEvents> m_events{};
    size_t m_eventCount = 0;
    uint32_t m_rendered = 0; ///< frames of this run done
    std::array<float, 2 * ox::synth::Synth::kMaxBlockFrames> m_block{};

    // The path a state save stores: the last one loaded, kept apart from the
    // audio thread's, since saving may run beside run().
    std::mutex m_stateMutex;
    std::string m_statePath;
};

} // namespace oxlv2
