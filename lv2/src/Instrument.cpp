#include "Instrument.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/patch/patch.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace oxlv2 {

namespace {

using ox::synth::Synth;

// The worker's requests: a bank path to load, or a replaced Loaded to free.
enum class Request : uint32_t { Load = 1, Free = 2 };

struct FreeRequest {
    Request kind;
    Loaded* loaded;
};

const void* feature(const LV2_Feature* const* features, const char* uri) {
    for (size_t i = 0; features && features[i]; ++i) {
        if (std::strcmp(features[i]->URI, uri) == 0) {
            return features[i]->data;
        }
    }
    return nullptr;
}

/// Data bytes a channel message of this status byte takes, or -1 for anything else.
int dataBytes(uint8_t status) {
    if (status < 0x80 || status >= 0xF0) {
        return -1;
    }
    const int type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 1 : 2;
}

/// The string of a path or string atom, up to its terminator or its end.
std::string atomText(const void* body, uint32_t size) {
    const char* text = static_cast<const char*>(body);
    return std::string(text, strnlen(text, size));
}

} // namespace

std::string bankUri() {
    return std::string(OXSF_LV2_URI) + "#bank";
}

Instrument* Instrument::create(double sampleRate, const LV2_Feature* const* features) {
    auto* map = static_cast<LV2_URID_Map*>(const_cast<void*>(feature(features, LV2_URID__map)));
    const auto* schedule =
        static_cast<const LV2_Worker_Schedule*>(feature(features, LV2_WORKER__schedule));
    auto* log = static_cast<LV2_Log_Log*>(const_cast<void*>(feature(features, LV2_LOG__log)));
    if (!map || !schedule || !(sampleRate >= 1000.0 && sampleRate <= 768000.0)) {
        return nullptr;
    }
    return new Instrument(static_cast<int>(std::lround(sampleRate)), map, schedule, log);
}

Instrument::Instrument(int sampleRate, LV2_URID_Map* map, const LV2_Worker_Schedule* schedule,
                       LV2_Log_Log* log)
    : m_rate(sampleRate), m_map(map), m_schedule(schedule) {
    lv2_log_logger_init(&m_logger, map, log);
    lv2_atom_forge_init(&m_forge, map);
    const auto id = [map](const char* uri) { return map->map(map->handle, uri); };
    m_urids = {.atomPath = id(LV2_ATOM__Path),
               .atomString = id(LV2_ATOM__String),
               .atomUrid = id(LV2_ATOM__URID),
               .midiEvent = id(LV2_MIDI__MidiEvent),
               .patchSet = id(LV2_PATCH__Set),
               .patchGet = id(LV2_PATCH__Get),
               .patchProperty = id(LV2_PATCH__property),
               .patchValue = id(LV2_PATCH__value),
               .bank = id(bankUri().c_str())};
}

Instrument::~Instrument() = default;

void Instrument::connect(uint32_t port, void* data) {
    switch (port) {
    case kControl:
        m_control = static_cast<const LV2_Atom_Sequence*>(data);
        break;
    case kNotify:
        m_notify = static_cast<LV2_Atom_Sequence*>(data);
        break;
    case kLeft:
    case kRight:
        m_out[port - kLeft] = static_cast<float*>(data);
        break;
    case kVoices:
        m_voices = static_cast<float*>(data);
        break;
    case kMissed:
        m_missed = static_cast<float*>(data);
        break;
    default:
        break;
    }
}

void Instrument::activate() {
    if (m_loaded && m_loaded->synth) {
        m_loaded->synth->releaseAll();
    }
}

void Instrument::run(uint32_t frames) {
    m_rendered = 0;
    m_eventCount = 0;
    if (m_retired) {
        retire(std::move(m_retired));
    }
    LV2_Atom_Forge_Frame sequence{};
    if (m_notify) {
        lv2_atom_forge_set_buffer(&m_forge, reinterpret_cast<uint8_t*>(m_notify),
                                  m_notify->atom.size);
        lv2_atom_forge_sequence_head(&m_forge, &sequence, 0);
    }
    if (m_control) {
        uint32_t last = 0;
        LV2_ATOM_SEQUENCE_FOREACH(m_control, event) {
            // Out of order or past the run's end counts as the latest frame possible.
            const int64_t time = event->time.frames;
            const uint32_t frame =
                frames == 0
                    ? 0
                    : static_cast<uint32_t>(std::clamp<int64_t>(time, last, int64_t(frames) - 1));
            last = frame;
            if (event->body.type == m_urids.midiEvent) {
                addMidi(frame, static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&event->body)),
                        event->body.size);
            } else if (lv2_atom_forge_is_object_type(&m_forge, event->body.type) &&
                       event->body.size >= sizeof(LV2_Atom_Object_Body)) {
                handleMessage(*reinterpret_cast<const LV2_Atom_Object*>(&event->body));
            }
        }
    }
    renderUntil(frames);
    if (m_eventCount > 0) {
        // A run of no frames: its events still apply.
        m_loaded->synth->process(nullptr, 0, m_events.data(), m_eventCount);
        m_eventCount = 0;
    }
    if (m_announce || m_answer) {
        announce();
        m_announce = m_answer = false;
    }
    if (m_notify) {
        lv2_atom_forge_pop(&m_forge, &sequence);
    }
    const Synth* synth = m_loaded ? m_loaded->synth.get() : nullptr;
    if (m_voices) {
        *m_voices = synth ? static_cast<float>(synth->voices()) : 0.0f;
    }
    if (m_missed) {
        *m_missed = synth ? static_cast<float>(synth->missedNotes()) : 0.0f;
    }
}

void Instrument::addMidi(uint32_t frame, const uint8_t* bytes, uint32_t size) {
    if (!m_loaded || !m_loaded->synth || size == 0) {
        return;
    }
    const int data = dataBytes(bytes[0]);
    if (data < 0 || size < uint32_t(1 + data) || (bytes[1] & 0x80) ||
        (data == 2 && (bytes[2] & 0x80))) {
        return;
    }
    if (m_eventCount == kMaxEvents) {
        renderUntil(frame);
        if (m_eventCount == kMaxEvents) {
            // All at this very frame: applied here, before the frames after.
            m_loaded->synth->process(nullptr, 0, m_events.data(), m_eventCount);
            m_eventCount = 0;
        }
    }
    m_events[m_eventCount++] = {frame, bytes[0], bytes[1], uint8_t(data == 2 ? bytes[2] : 0)};
}

void Instrument::renderUntil(uint32_t end) {
    Synth* synth = m_loaded ? m_loaded->synth.get() : nullptr;
    size_t first = 0;
    while (m_rendered < end) {
        const uint32_t count = std::min<uint32_t>(end - m_rendered, Synth::kMaxBlockFrames);
        if (!synth) {
            for (float* out : m_out) {
                if (out) {
                    std::fill_n(out + m_rendered, count, 0.0f);
                }
            }
            m_rendered += count;
            continue;
        }
        size_t last = first;
        for (; last < m_eventCount && m_events[last].frame < m_rendered + count; ++last) {
            m_events[last].frame -= m_rendered;
        }
        synth->process(m_block.data(), int(count), m_events.data() + first, last - first);
        for (int channel = 0; channel < 2; ++channel) {
            if (float* out = m_out[channel]) {
                for (uint32_t i = 0; i < count; ++i) {
                    out[m_rendered + i] = m_block[2 * i + size_t(channel)];
                }
            }
        }
        first = last;
        m_rendered += count;
    }
    // What is left is at `end` or later: it starts the next stretch.
    std::copy(m_events.begin() + ptrdiff_t(first), m_events.begin() + ptrdiff_t(m_eventCount),
              m_events.begin());
    m_eventCount -= first;
}

void Instrument::handleMessage(const LV2_Atom_Object& message) {
    const LV2_Atom* property = nullptr;
    const LV2_Atom* value = nullptr;
    lv2_atom_object_get(&message, m_urids.patchProperty, &property, m_urids.patchValue, &value, 0);
    const bool aboutBank = property && property->type == m_urids.atomUrid &&
                           reinterpret_cast<const LV2_Atom_URID*>(property)->body == m_urids.bank;
    if (message.body.otype == m_urids.patchGet) {
        // Without a property it asks for every one: the bank is the only one.
        m_answer = m_answer || !property || aboutBank;
        return;
    }
    if (message.body.otype != m_urids.patchSet || !aboutBank || !value ||
        (value->type != m_urids.atomPath && value->type != m_urids.atomString)) {
        return;
    }
    const char* path = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
    const size_t length = strnlen(path, value->size);
    if (length >= kMaxPath) {
        return; // longer than any file system takes: ignored, the audio thread cannot log
    }
    // The request: its kind, then the path and its terminator.
    std::array<char, sizeof(Request) + kMaxPath> request{};
    const Request kind = Request::Load;
    std::memcpy(request.data(), &kind, sizeof kind);
    std::memcpy(request.data() + sizeof kind, path, length);
    m_schedule->schedule_work(m_schedule->handle, uint32_t(sizeof kind + length + 1),
                              request.data());
}

void Instrument::announce() {
    if (!m_notify) {
        return;
    }
    const char* path = m_loaded ? m_loaded->path.c_str() : "";
    const uint32_t length = m_loaded ? uint32_t(m_loaded->path.size()) : 0;
    lv2_atom_forge_frame_time(&m_forge, 0);
    LV2_Atom_Forge_Frame frame{};
    lv2_atom_forge_object(&m_forge, &frame, 0, m_urids.patchSet);
    lv2_atom_forge_key(&m_forge, m_urids.patchProperty);
    lv2_atom_forge_urid(&m_forge, m_urids.bank);
    lv2_atom_forge_key(&m_forge, m_urids.patchValue);
    lv2_atom_forge_path(&m_forge, path, length);
    lv2_atom_forge_pop(&m_forge, &frame);
}

void Instrument::report(const std::string& what) const {
    lv2_log_warning(const_cast<LV2_Log_Logger*>(&m_logger), "oxsf: %s\n", what.c_str());
}

LV2_Worker_Status Instrument::work(LV2_Worker_Respond_Function respond,
                                   LV2_Worker_Respond_Handle handle, uint32_t size,
                                   const void* data) {
    Request kind{};
    if (!data || size < sizeof kind) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    std::memcpy(&kind, data, sizeof kind);
    if (kind == Request::Free && size == sizeof(FreeRequest)) {
        FreeRequest request{};
        std::memcpy(&request, data, sizeof request);
        delete request.loaded;
        return LV2_WORKER_SUCCESS;
    }
    if (kind != Request::Load) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    const std::string path =
        atomText(static_cast<const char*>(data) + sizeof kind, size - uint32_t(sizeof kind));
    std::unique_ptr<Loaded> loaded =
        load(path, m_rate, [this](const std::string& what) { report(what); });
    setStatePath(path);
    Loaded* response = loaded.get();
    if (respond(handle, sizeof response, &response) != LV2_WORKER_SUCCESS) {
        return LV2_WORKER_ERR_NO_SPACE; // freed here, as it goes out of scope
    }
    loaded.release(); // the audio thread owns it now
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Instrument::workResponse(uint32_t size, const void* data) {
    Loaded* loaded = nullptr;
    if (!data || size != sizeof loaded) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
    std::memcpy(&loaded, data, sizeof loaded);
    retire(swap(std::unique_ptr<Loaded>(loaded)));
    return LV2_WORKER_SUCCESS;
}

std::unique_ptr<Loaded> Instrument::swap(std::unique_ptr<Loaded> loaded) {
    std::swap(m_loaded, loaded);
    m_announce = true;
    return loaded;
}

void Instrument::retire(std::unique_ptr<Loaded> old) {
    if (!old) {
        return;
    }
    const FreeRequest request{Request::Free, old.get()};
    if (m_schedule->schedule_work(m_schedule->handle, sizeof request, &request) ==
        LV2_WORKER_SUCCESS) {
        old.release(); // the worker frees it
    } else if (!m_retired) {
        m_retired = std::move(old); // tried again at the next run
    } else {
        old.release(); // the host's worker takes nothing: leaked rather than freed here
    }
}

void Instrument::setStatePath(const std::string& path) {
    std::lock_guard lock(m_stateMutex);
    m_statePath = path;
}

LV2_State_Status Instrument::save(LV2_State_Store_Function store, LV2_State_Handle handle,
                                  const LV2_Feature* const* features) {
    std::string path;
    {
        std::lock_guard lock(m_stateMutex);
        path = m_statePath;
    }
    if (path.empty()) {
        return LV2_STATE_SUCCESS;
    }
    const auto* mapPath =
        static_cast<const LV2_State_Map_Path*>(feature(features, LV2_STATE__mapPath));
    const auto* freePath =
        static_cast<const LV2_State_Free_Path*>(feature(features, LV2_STATE__freePath));
    if (mapPath) {
        if (char* abstract = mapPath->abstract_path(mapPath->handle, path.c_str())) {
            path = abstract;
            freePath ? freePath->free_path(freePath->handle, abstract) : std::free(abstract);
        }
    }
    return store(handle, m_urids.bank, path.c_str(), path.size() + 1, m_urids.atomPath,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status Instrument::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                                     const LV2_Feature* const* features) {
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* value = retrieve(handle, m_urids.bank, &size, &type, &flags);
    if (!value || (type != m_urids.atomPath && type != m_urids.atomString)) {
        return LV2_STATE_SUCCESS; // a state without a bank leaves the one playing
    }
    std::string path = atomText(value, uint32_t(std::min<size_t>(size, kMaxPath)));
    const auto* mapPath =
        static_cast<const LV2_State_Map_Path*>(feature(features, LV2_STATE__mapPath));
    const auto* freePath =
        static_cast<const LV2_State_Free_Path*>(feature(features, LV2_STATE__freePath));
    if (mapPath && type == m_urids.atomPath) {
        if (char* absolute = mapPath->absolute_path(mapPath->handle, path.c_str())) {
            path = absolute;
            freePath ? freePath->free_path(freePath->handle, absolute) : std::free(absolute);
        }
    }
    // Restoring never runs beside run(): the bank loads here and replaces the old one at once.
    swap(load(path, m_rate, [this](const std::string& what) { report(what); }));
    setStatePath(path);
    return LV2_STATE_SUCCESS;
}

} // namespace oxlv2
