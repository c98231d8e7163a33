#pragma once

#include <string>
#include <vector>

namespace oxtest {

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs the built oxsf with `args` (no shell involved) and collects its output.
ToolResult runTool(const std::vector<std::string>& args);

/// The lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string& text);

} // namespace oxtest
