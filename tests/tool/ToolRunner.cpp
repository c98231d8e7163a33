#include "ToolRunner.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace oxtest {

namespace {

/// Runs the built oxsf with `args`, its output in files; `fileBytes` > 0
/// limits every file it writes to that size.
ToolResult run(const std::vector<std::string>& args, long fileBytes) {
    TempDir dir;
    const std::string outPath = dir.file("out");
    const std::string errPath = dir.file("err");
    std::vector<std::string> all{OXSF_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    ToolResult result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        if (fileBytes > 0) {
            const rlimit limit{rlim_t(fileBytes), rlim_t(fileBytes)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of killing
        }
        ::execv(OXSF_BINARY, argv.data());
        ::_exit(127);
    }
    if (pid > 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

} // namespace

ToolResult runTool(const std::vector<std::string>& args) {
    return run(args, 0);
}

ToolResult runToolWithFileLimit(const std::vector<std::string>& args, long fileBytes) {
    return run(args, fileBytes);
}

int lineCount(const std::string& text) {
    return int(std::count(text.begin(), text.end(), '\n'));
}

void expectOneLineError(const ToolResult& result, int exitCode,
                        const std::vector<std::string>& fragments) {
    SCOPED_TRACE(result.err);
    EXPECT_EQ(result.exitCode, exitCode);
    EXPECT_EQ(lineCount(result.err), 1);
    EXPECT_EQ(result.err.rfind("oxsf: error: ", 0), 0u);
    for (const std::string& fragment : fragments) {
        EXPECT_NE(result.err.find(fragment), std::string::npos) << fragment;
    }
    EXPECT_EQ(result.out, "");
}

} // namespace oxtest
