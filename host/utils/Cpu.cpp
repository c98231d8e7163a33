#include <ox/utils/cpu.h>

#include <cstdlib>
#include <cstring>

namespace ox::utils {

namespace {

enum class Cap { Baseline, Avx2, All };

Cap capFromEnvironment() {
    const char* value = std::getenv("OXSF_CPU");
    if (value && std::strcmp(value, "baseline") == 0) {
        return Cap::Baseline;
    }
    if (value && std::strcmp(value, "avx2") == 0) {
        return Cap::Avx2;
    }
    return Cap::All;
}

bool processorHas(CpuFeature feature) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    switch (feature) {
    case CpuFeature::Pclmul:
        return __builtin_cpu_supports("pclmul");
    case CpuFeature::Avx2Fma:
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case CpuFeature::Avx512bw:
        return __builtin_cpu_supports("avx512bw");
    }
#endif
    (void)feature;
    return false;
}

} // namespace

bool cpuAllows(CpuFeature feature) {
    static const Cap cap = capFromEnvironment();
    if (cap == Cap::Baseline || (cap == Cap::Avx2 && feature == CpuFeature::Avx512bw)) {
        return false;
    }
    return processorHas(feature);
}

} // namespace ox::utils
