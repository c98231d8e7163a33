#include "ToolRunner.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace oxtest {

ToolResult runTool(const std::vector<std::string>& args) {
    TempDir dir;
    const std::string outPath = dir.file("out");
    const std::string errPath = dir.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{OXSF_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    ToolResult result;
    pid_t pid = 0;
    if (posix_spawn(&pid, OXSF_BINARY, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
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
