#include "Lv2Host.h"

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace oxtest {

namespace {

constexpr size_t kAtomBufferBytes = 128 * 1024;
constexpr uint32_t kMaxRunFrames = 8192;

} // namespace

Lv2World::Lv2World() {
    // The build tree's bundle first, then the system's LV2 specifications.
    const std::string path = std::string(OXSF_LV2_BUNDLE_PARENT) + ":/usr/lib/lv2";
    ::setenv("LV2_PATH", path.c_str(), 1);
    m_map = {this, [](LV2_URID_Map_Handle self, const char* uri) {
                 return static_cast<Lv2World*>(self)->map(uri);
             }};
    m_unmap = {this, [](LV2_URID_Unmap_Handle self, LV2_URID urid) {
                   return static_cast<Lv2World*>(self)->unmap(urid);
               }};
    m_world = lilv_world_new();
    lilv_world_load_all(m_world);
    LilvNode* uri = lilv_new_uri(m_world, OXSF_LV2_URI);
    m_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_world), uri);
    lilv_node_free(uri);
}

Lv2World::~Lv2World() {
    lilv_world_free(m_world);
}

LV2_URID Lv2World::map(const std::string& uri) {
    const auto [it, added] = m_ids.emplace(uri, LV2_URID(m_uris.size() + 1));
    if (added) {
        m_uris.push_back(std::make_unique<std::string>(uri));
    }
    return it->second;
}

const char* Lv2World::unmap(LV2_URID urid) const {
    return urid >= 1 && urid <= m_uris.size() ? m_uris[urid - 1]->c_str() : nullptr;
}

Lv2Instance::Lv2Instance(Lv2World& world, double rate)
    : m_world(world), m_control(kAtomBufferBytes / 8), m_notify(kAtomBufferBytes / 8),
      m_left(kMaxRunFrames), m_right(kMaxRunFrames) {
    m_schedule = {this, schedule};
    m_mapFeature = {LV2_URID__map, world.uridMap()};
    m_unmapFeature = {LV2_URID__unmap, world.uridUnmap()};
    m_scheduleFeature = {LV2_WORKER__schedule, &m_schedule};
    m_features = {&m_mapFeature, &m_unmapFeature, &m_scheduleFeature, nullptr};
    if (!world.plugin()) {
        return;
    }
    m_instance = lilv_plugin_instantiate(world.plugin(), rate, m_features.data());
    if (!m_instance) {
        return;
    }
    m_worker = static_cast<const LV2_Worker_Interface*>(
        lilv_instance_get_extension_data(m_instance, LV2_WORKER__interface));
    lilv_instance_connect_port(m_instance, 0, m_control.data());
    lilv_instance_connect_port(m_instance, 1, m_notify.data());
    lilv_instance_connect_port(m_instance, 2, m_left.data());
    lilv_instance_connect_port(m_instance, 3, m_right.data());
    lilv_instance_connect_port(m_instance, 4, &m_voices);
    lilv_instance_connect_port(m_instance, 5, &m_missed);
    lilv_instance_activate(m_instance);
}

Lv2Instance::~Lv2Instance() {
    if (m_instance) {
        lilv_instance_deactivate(m_instance);
        lilv_instance_free(m_instance);
    }
}

void Lv2Instance::setBank(const std::string& path, const std::string& type) {
    m_messages.push_back({false, path, type});
}

void Lv2Instance::getBank() {
    m_messages.push_back({true, {}, {}});
}

std::vector<float> Lv2Instance::run(uint32_t frames, const std::vector<TimedMidi>& midi) {
    EXPECT_LE(frames, kMaxRunFrames);
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, m_world.uridMap());
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(m_control.data()),
                              kAtomBufferBytes);
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    for (const Message& message : m_messages) {
        lv2_atom_forge_frame_time(&forge, 0);
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_object(&forge, &object, 0,
                              m_world.map(message.get ? LV2_PATCH__Get : LV2_PATCH__Set));
        lv2_atom_forge_key(&forge, m_world.map(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, m_world.map(OXSF_LV2_URI "#bank"));
        if (!message.get) {
            lv2_atom_forge_key(&forge, m_world.map(LV2_PATCH__value));
            lv2_atom_forge_atom(&forge, uint32_t(message.path.size() + 1),
                                m_world.map(message.type));
            lv2_atom_forge_write(&forge, message.path.c_str(), uint32_t(message.path.size() + 1));
        }
        lv2_atom_forge_pop(&forge, &object);
    }
    m_messages.clear();
    for (const TimedMidi& event : midi) {
        lv2_atom_forge_frame_time(&forge, event.frame);
        lv2_atom_forge_atom(&forge, uint32_t(event.bytes.size()), m_world.map(LV2_MIDI__MidiEvent));
        if (!event.bytes.empty()) {
            lv2_atom_forge_write(&forge, event.bytes.data(), uint32_t(event.bytes.size()));
        }
    }
    lv2_atom_forge_pop(&forge, &sequence);
    // The notify port's capacity, as the host gives it.
    auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(m_notify.data());
    notify->atom = {uint32_t(kAtomBufferBytes - sizeof(LV2_Atom)), m_world.map(LV2_ATOM__Chunk)};

    const long before = m_counter ? m_counter() : 0;
    lilv_instance_run(m_instance, frames);
    m_counted += m_counter ? m_counter() - before : 0;
    readNotify();
    runWorker();

    std::vector<float> out(size_t(frames) * 2);
    for (uint32_t i = 0; i < frames; ++i) {
        out[2 * i] = m_left[i];
        out[2 * i + 1] = m_right[i];
    }
    return out;
}

LV2_Worker_Status Lv2Instance::schedule(LV2_Worker_Schedule_Handle handle, uint32_t size,
                                        const void* data) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    static_cast<Lv2Instance*>(handle)->m_requests.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Lv2Instance::respond(LV2_Worker_Respond_Handle handle, uint32_t size,
                                       const void* data) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    static_cast<Lv2Instance*>(handle)->m_responses.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

void Lv2Instance::runWorker() {
    ASSERT_NE(m_worker, nullptr);
    LV2_Handle handle = lilv_instance_get_handle(m_instance);
    // Responses may schedule more work (freeing what they replaced): until both queues are empty.
    while (!m_requests.empty() || !m_responses.empty()) {
        while (!m_requests.empty()) {
            const std::vector<uint8_t> request = std::move(m_requests.front());
            m_requests.pop_front();
            m_worker->work(handle, respond, this, uint32_t(request.size()), request.data());
        }
        while (!m_responses.empty()) {
            const std::vector<uint8_t> response = std::move(m_responses.front());
            m_responses.pop_front();
            m_worker->work_response(handle, uint32_t(response.size()), response.data());
        }
    }
    if (m_worker->end_run) {
        m_worker->end_run(handle);
    }
}

void Lv2Instance::readNotify() {
    const auto* notify = reinterpret_cast<const LV2_Atom_Sequence*>(m_notify.data());
    ASSERT_EQ(notify->atom.type, m_world.map(LV2_ATOM__Sequence));
    LV2_ATOM_SEQUENCE_FOREACH(notify, event) {
        if (event->body.type != m_world.map(LV2_ATOM__Object)) {
            continue;
        }
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
        const LV2_Atom* property = nullptr;
        const LV2_Atom* value = nullptr;
        lv2_atom_object_get(object, m_world.map(LV2_PATCH__property), &property,
                            m_world.map(LV2_PATCH__value), &value, 0);
        if (object->body.otype == m_world.map(LV2_PATCH__Set) && property && value &&
            value->type == m_world.map(LV2_ATOM__Path)) {
            m_announced = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
        }
    }
}

} // namespace oxtest
