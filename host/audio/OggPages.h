#pragma once

// A cheap structural check of Ogg files before libsndfile opens them: it leaks
// memory whenever it fails to open a damaged Ogg Vorbis file, so damaged files
// are turned away first.

#include <ox/stream/IStream.h>

namespace ox::audio::detail {

/// True when the pages that carry the stream's three header packets are whole
/// with correct checksums, and the stream ends exactly at the end of a whole,
/// correct page (a cut file does not).
bool oggLooksIntact(const ox::stream::IStream& stream);

} // namespace ox::audio::detail
