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

} // namespace oxtest
