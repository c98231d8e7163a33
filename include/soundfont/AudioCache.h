#pragma once

#include <soundfont/Export.h>

#include <ox/audio/TQ7SamplePlayer.h>

#include <memory>
#include <optional>
#include <string>

/// \file
/// The store of decoded sample audio behind every player: AudioCache.

namespace ox::soundfont {

class SoundFont;

/// Audio streams of played samples, one per sample file name, shared by every
/// player of that file. Streams nobody plays are released by optimizeMemory().
///
/// The cache holds a share of every stream it has loaded, played or not, until an
/// optimizeMemory() finds that nobody else holds it; nothing is evicted by size or
/// age. The key is the file name alone: banks with a file of the same name share one
/// stream, supplied by the first bank that loads it. SoundFont's players load through
/// one process-wide cache; a host may keep caches of its own.
///
/// Errors: loadSample() and streamCount() throw std::system_error when the lock
/// fails; an exception of the bank's audioStream() passes out of loadSample() and
/// nothing is stored.
///
/// Threads: every call is thread-safe. On an audio thread: tryLoadSample() and
/// memoryByteCount(), which never wait. optimizeMemory() never waits for the cache
/// either, but it frees the audio of the streams it drops and reports to the
/// profiler (a lock of its own, allocations): call it from a housekeeping thread.
/// loadSample() and streamCount() wait for the lock, which loadSample() holds while
/// it opens a new file.
class OXSF_EXPORT AudioCache {
public:
    /// An empty cache.
    AudioCache();
    ~AudioCache();
    AudioCache(const AudioCache&) = delete;
    AudioCache& operator=(const AudioCache&) = delete;

    /// A player over the stream of `name`, loaded from `bank` on a miss.
    /// The lock is held while the bank opens the file and decodes its first block. A
    /// file the bank cannot open gives a player over an empty stream (silence), and
    /// later loads of the name give the same until the next optimizeMemory().
    ox::audio::TQ7SamplePlayer loadSample(const SoundFont& bank, const std::string& name);
    /// A player over the stream of `name` when it is cached and the lock is free;
    /// otherwise nothing, at once. Never opens a file.
    std::optional<ox::audio::TQ7SamplePlayer> tryLoadSample(const std::string& name);
    /// Bytes held by the live streams; 0 at once when the cache is busy.
    /// Summed in 32 bits: a total of 2 GiB or more does not fit.
    int memoryByteCount() const;
    /// Releases streams only the cache holds; does nothing when the cache is busy.
    /// Then reports the number of entries left to the profiler (category
    /// "AudioCache", counter "Samples", key "Count").
    void optimizeMemory();
    /// The number of entries, streams that failed to open included.
    int streamCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace ox::soundfont
