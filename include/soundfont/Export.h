#pragma once

// Marks the classes the library exports; everything else stays hidden.
#if defined(_WIN32)
#if defined(OXSF_BUILDING_LIBRARY)
#define OXSF_EXPORT __declspec(dllexport)
#else
#define OXSF_EXPORT __declspec(dllimport)
#endif
#else
#define OXSF_EXPORT __attribute__((visibility("default")))
#endif
