#pragma once

// Text helpers of the importers: names a shell is happy with, numbers as the
// description's attributes carry them, and reading a source's text.

#include <string>

namespace ox::import {

/// ASCII letters, digits, '_' and '.' kept; every other run of characters
/// becomes one '-'; no dash at either end. "bank" when nothing is left.
std::string safeName(const std::string& text);

/// Six hexadecimal digits that tell sources at different paths apart.
std::string pathDigest(const std::string& path);

/// `value` in the shortest form that keeps six significant digits ("0.25", "-3").
std::string number(double value);

/// The whole file. Throws ImportError naming it when it cannot be read.
std::string readText(const std::string& path);

} // namespace ox::import
