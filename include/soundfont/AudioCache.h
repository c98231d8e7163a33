#pragma once

#include <soundfont/Export.h>

#include <ox/audio/TQ7SamplePlayer.h>

#include <memory>
#include <optional>
#include <string>

namespace ox::soundfont {

class SoundFont;

/// Audio streams of played samples, one per sample file name, shared by every
/// player of that file. Streams nobody plays are released by optimizeMemory().
///
/// Threads: every call is thread-safe. On an audio thread: tryLoadSample(),
/// memoryByteCount() and optimizeMemory(), which never wait (optimizeMemory may
/// free a stream's audio, though). loadSample() and streamCount() wait for the
/// lock, which loadSample() holds while it opens a new file.
class OXSF_EXPORT AudioCache {
public:
    AudioCache();
    ~AudioCache();
    AudioCache(const AudioCache&) = delete;
    AudioCache& operator=(const AudioCache&) = delete;

    /// A player over the stream of `name`, loaded from `bank` on a miss.
    ox::audio::TQ7SamplePlayer loadSample(const SoundFont& bank, const std::string& name);
    /// A player over the stream of `name` when it is cached and the lock is free;
    /// otherwise nothing, at once. Never opens a file.
    std::optional<ox::audio::TQ7SamplePlayer> tryLoadSample(const std::string& name);
    /// Bytes held by the live streams; 0 at once when the cache is busy.
    int memoryByteCount() const;
    /// Releases streams only the cache holds; does nothing when the cache is busy.
    void optimizeMemory();
    /// The number of entries.
    int streamCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace ox::soundfont
