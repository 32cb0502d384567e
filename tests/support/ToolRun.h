#pragma once
// Runs the built `tarvo` tool with arguments and keeps its exit code and standard output
// (standard error is dropped). For the tool tests.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace tarvo::test {

struct ToolRun {
    int exitCode;
    std::string out; // standard output only
};

inline ToolRun runTool(const std::string& arguments) {
    const std::string command = std::string("\"") + TARVO_TOOL_PATH + "\" " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{-1, {}};
    if (pipe == nullptr) return run;
    std::array<char, 4096> buffer{};
    size_t got = 0;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace tarvo::test
