#pragma once

// A structural check of an SF2 file before libinstpatch reads it. libinstpatch
// trusts the file's numbers: a generator number outside the 59 that SF2
// defines, or an index past the end of its table, makes it write or read out
// of bounds and crash. This pass walks the RIFF chunks and the preset data
// tables (nothing else) and refuses such files.

#include <cstdint>
#include <string>

namespace ox::import {

/// Throws ImportError naming `path` and the first problem found.
void checkSf2Structure(const std::string& path);

/// The unsigned little-endian number of `bytes` (1 to 4) bytes at `p`, as RIFF stores them.
uint32_t littleEndian(const char* p, int bytes);

} // namespace ox::import
