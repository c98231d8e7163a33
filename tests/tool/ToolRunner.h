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

/// Runs oxsf as runTool() does, with every file it writes limited to
/// `fileBytes`: a write past that fails as it would on a full disk.
ToolResult runToolWithFileLimit(const std::vector<std::string>& args, long fileBytes);

int lineCount(const std::string& text);

/// Expects exit `exitCode`, nothing on stdout, and one "oxsf: error: " line on
/// stderr holding every one of `fragments`.
void expectOneLineError(const ToolResult& result, int exitCode,
                        const std::vector<std::string>& fragments);

} // namespace oxtest
