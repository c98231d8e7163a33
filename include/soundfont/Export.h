#pragma once

/// \file
/// The export macro of the library. Every library header includes it; a host has no
/// need to.

/// \def OXSF_EXPORT
/// Marks the classes and functions the library exports; everything else stays hidden
/// (ELF default visibility; dllexport while building the library on Windows,
/// dllimport when using it).
#if defined(_WIN32)
#if defined(OXSF_BUILDING_LIBRARY)
#define OXSF_EXPORT __declspec(dllexport)
#else
#define OXSF_EXPORT __declspec(dllimport)
#endif
#else
#define OXSF_EXPORT __attribute__((visibility("default")))
#endif
