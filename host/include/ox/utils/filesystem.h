#pragma once

#include <string>

/// \file
/// Path helpers: exists(), extension() and filename(). Paths are byte strings split
/// at "/" only; nothing is normalised.
///
/// Threads: thread-safe. exists() asks the file system and extension() and
/// filename() allocate their result: none is for an audio thread. Nothing throws
/// but allocation.

/// Path helpers of the host's utility library (OXUtils).
namespace ox::utils::filesystem {

/// Whether something exists at `path` (file or directory): whether stat() succeeds,
/// so a broken symbolic link, or a path below a folder that may not be searched,
/// counts as nothing.
bool exists(const std::string& path);
/// The text after the last dot of the last path component, without the dot;
/// empty when that component has no dot ("a.b/c" gives "").
std::string extension(const std::string& path);
/// The last path component: the text after the last "/" (the whole path when
/// it has none; empty when it ends in "/").
std::string filename(const std::string& path);

} // namespace ox::utils::filesystem
