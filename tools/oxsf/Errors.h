#pragma once

#include <stdexcept>
#include <string>

namespace oxsf {

/// A failure the user can act on: printed as "oxsf: error: <file>: <what>", exit code 1.
class ToolError : public std::runtime_error {
public:
    ToolError(const std::string& file, const std::string& what)
        : std::runtime_error(file.empty() ? what : file + ": " + what), m_reason(what) {}

    /// What is wrong, without the file.
    const std::string& reason() const { return m_reason; }

private:
    std::string m_reason;
};

/// A command line that makes no sense (unknown word, bad note): exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace oxsf
