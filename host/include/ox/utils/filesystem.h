#pragma once

#include <string>

namespace ox::utils::filesystem {

// Threads: thread-safe. exists() asks the file system and extension() and
// filename() allocate their result: none is for an audio thread.

/// Whether something exists at `path` (file or directory).
bool exists(const std::string& path);
/// The text after the last dot of the last path component, without the dot;
/// empty when that component has no dot ("a.b/c" gives "").
std::string extension(const std::string& path);
/// The last path component: the text after the last "/" (the whole path when
/// it has none; empty when it ends in "/").
std::string filename(const std::string& path);

} // namespace ox::utils::filesystem
