#pragma once
// Runs the built `tarvo` tool with arguments and keeps its exit code and standard output.
// For the tool tests.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace tarvo::test {

struct ToolRun {
    int exitCode;
    std::string out;
};

// What becomes of the tool's standard error.
enum class ToolErrors {
    dropped,  // discarded
    captured, // folded into `out`
    shown,    // left on the test's own standard error, for the test log
};

// environment holds assignments put before the command, as in "TARVO_HOME='/tmp/x'".
inline ToolRun runTool(const std::string& arguments, ToolErrors errors = ToolErrors::dropped,
                       const std::string& environment = {}) {
    const char* redirect = errors == ToolErrors::dropped    ? " 2>/dev/null"
                           : errors == ToolErrors::captured ? " 2>&1"
                                                            : "";
    const std::string command =
        environment + " \"" + std::string(TARVO_TOOL_PATH) + "\" " + arguments + redirect;
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
