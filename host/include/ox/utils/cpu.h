#pragma once

/// \file
/// Which instruction set extensions the library's vector kernels may use:
/// cpuAllows().

namespace ox::utils {

/// The extensions that kernels choose between at run time.
enum class CpuFeature {
    Pclmul,   ///< carry-less multiplication
    Avx2Fma,  ///< AVX2 with fused multiply-add
    Avx512bw, ///< AVX-512 with byte and word instructions
};

/// Whether this processor has `feature` and the environment lets kernels use
/// it. OXSF_CPU=baseline holds every kernel to the build's own instruction
/// set, OXSF_CPU=avx2 to AVX2 and below, so that each path can be checked (and
/// compared) on one machine; any other value, or none, allows all the
/// processor has. Read when first asked; thread-safe, no allocation.
bool cpuAllows(CpuFeature feature);

} // namespace ox::utils
