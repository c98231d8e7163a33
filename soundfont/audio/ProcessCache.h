#pragma once

#include <soundfont/AudioCache.h>

namespace ox::soundfont {

/// The library's own cache, created when the library is loaded; samplePlayer
/// loads through it. Not exported: hosts reach it only through samplePlayer.
AudioCache& processAudioCache();

} // namespace ox::soundfont
