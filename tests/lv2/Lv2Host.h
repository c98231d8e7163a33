#pragma once

// A small LV2 host over lilv for the plugin's tests: URID map, a worker run
// synchronously after each run() (its responses delivered before the next),
// MIDI and patch messages in, the stereo output and notify messages back.

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oxtest {

/// One message of a run: MIDI bytes at a frame.
struct TimedMidi {
    uint32_t frame = 0;
    std::vector<uint8_t> bytes;
};

/// The lilv world with the build tree's bundle on LV2_PATH, and the URID map.
class Lv2World {
public:
    Lv2World();
    ~Lv2World();
    Lv2World(const Lv2World&) = delete;
    Lv2World& operator=(const Lv2World&) = delete;

    LilvWorld* world() const { return m_world; }
    /// The plugin, or null when lilv did not find it.
    const LilvPlugin* plugin() const { return m_plugin; }
    LV2_URID map(const std::string& uri);
    const char* unmap(LV2_URID urid) const;
    LV2_URID_Map* uridMap() { return &m_map; }
    LV2_URID_Unmap* uridUnmap() { return &m_unmap; }

private:
    LilvWorld* m_world = nullptr;
    const LilvPlugin* m_plugin = nullptr;
    std::map<std::string, LV2_URID> m_ids;
    std::vector<std::unique_ptr<std::string>> m_uris; ///< by URID - 1
    LV2_URID_Map m_map{};
    LV2_URID_Unmap m_unmap{};
};

/// One plugin instance with its ports connected.
class Lv2Instance {
public:
    Lv2Instance(Lv2World& world, double rate);
    ~Lv2Instance();
    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    bool ok() const { return m_instance != nullptr; }
    LilvInstance* instance() const { return m_instance; }
    const LV2_Feature* const* features() const { return m_features.data(); }

    /// Queues a patch:Set of the bank path, or of `value` as another atom type, for the next run.
    void setBank(const std::string& path, const std::string& type = LV2_ATOM__Path);
    /// Queues a patch:Get of the bank for the next run.
    void getBank();
    /// Runs `frames` frames with `midi` (and the queued messages, at frame 0),
    /// then the worker. Returns the stereo output, interleaved.
    std::vector<float> run(uint32_t frames, const std::vector<TimedMidi>& midi = {});
    /// The bank path of the last patch:Set the plugin sent, if any.
    std::optional<std::string> announcedBank() const { return m_announced; }
    float voices() const { return m_voices; }
    /// Counts what `counter` counts (allocations, say) inside the plugin's run() calls from now on.
    void countInRun(std::function<long()> counter) { m_counter = std::move(counter); }
    long countedInRun() const { return m_counted; }
    float missed() const { return m_missed; }

private:
    Lv2World& m_world;
    LilvInstance* m_instance = nullptr;
    const LV2_Worker_Interface* m_worker = nullptr;
    LV2_Worker_Schedule m_schedule{};
    LV2_Feature m_mapFeature{}, m_unmapFeature{}, m_scheduleFeature{};
    std::vector<const LV2_Feature*> m_features;
    std::deque<std::vector<uint8_t>> m_requests;
    std::deque<std::vector<uint8_t>> m_responses;
    struct Message {
        bool get;
        std::string path;
        std::string type;
    };
    std::vector<Message> m_messages;
    std::vector<uint64_t> m_control; ///< 8-byte aligned atom buffers
    std::vector<uint64_t> m_notify;
    std::vector<float> m_left, m_right;
    float m_voices = -1.0f, m_missed = -1.0f;
    std::optional<std::string> m_announced;
    std::function<long()> m_counter;
    long m_counted = 0;

    static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                      const void* data);
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                     const void* data);
    void runWorker();
    void readNotify();
};

} // namespace oxtest
