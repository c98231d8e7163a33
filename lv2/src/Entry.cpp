// The C entry points LV2 hosts call, each forwarding to the Instrument.

#include "Instrument.h"

#include <lv2/state/state.h>
#include <lv2/worker/worker.h>

#include <cstring>

namespace {

using oxlv2::Instrument;

Instrument* self(LV2_Handle handle) {
    return static_cast<Instrument*>(handle);
}

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*,
                       const LV2_Feature* const* features) {
    try {
        return Instrument::create(rate, features);
    } catch (const std::exception&) {
        return nullptr; // out of memory: the host is told the plugin failed
    }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
    self(handle)->connect(port, data);
}

void activate(LV2_Handle handle) {
    self(handle)->activate();
}

void run(LV2_Handle handle, uint32_t frames) {
    self(handle)->run(frames);
}

void cleanup(LV2_Handle handle) {
    delete self(handle);
}

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond,
                       LV2_Worker_Respond_Handle respondHandle, uint32_t size, const void* data) {
    try {
        return self(handle)->work(respond, respondHandle, size, data);
    } catch (const std::exception&) {
        return LV2_WORKER_ERR_UNKNOWN;
    }
}

LV2_Worker_Status workResponse(LV2_Handle handle, uint32_t size, const void* data) {
    return self(handle)->workResponse(size, data);
}

LV2_State_Status save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state,
                      uint32_t, const LV2_Feature* const* features) {
    try {
        return self(handle)->save(store, state, features);
    } catch (const std::exception&) {
        return LV2_STATE_ERR_UNKNOWN;
    }
}

LV2_State_Status restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve,
                         LV2_State_Handle state, uint32_t, const LV2_Feature* const* features) {
    try {
        return self(handle)->restore(retrieve, state, features);
    } catch (const std::exception&) {
        return LV2_STATE_ERR_UNKNOWN;
    }
}

const void* extensionData(const char* uri) {
    static const LV2_Worker_Interface worker = {work, workResponse, nullptr};
    static const LV2_State_Interface state = {save, restore};
    if (std::strcmp(uri, LV2_WORKER__interface) == 0) {
        return &worker;
    }
    if (std::strcmp(uri, LV2_STATE__interface) == 0) {
        return &state;
    }
    return nullptr;
}

const LV2_Descriptor descriptor = {OXSF_LV2_URI, instantiate, connectPort, activate,
                                   run,          nullptr,     cleanup,     extensionData};

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
