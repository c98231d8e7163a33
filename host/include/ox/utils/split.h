#pragma once

#include <string>
#include <vector>

/// \file
/// Splitting text at a separator: split().

/// The host's utility library (OXUtils): text and path helpers; its streams live in
/// ox::stream.
namespace ox::utils {

/// The pieces of `text` between occurrences of `separator`, empty pieces
/// included: "a  b" split at ' ' gives {"a", "", "b"}; "" gives {""}.
/// Thread-safe; it allocates, so not for an audio thread.
std::vector<std::string> split(const std::string& text, char separator);

} // namespace ox::utils
