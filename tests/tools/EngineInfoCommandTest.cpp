#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct ToolRun {
    int exitCode;
    std::string out;
};

// Runs the tool with arguments, capturing standard output; standard error is dropped.
ToolRun runTool(const std::string& arguments) {
    const std::string command = std::string(TARVO_TOOL_PATH) + " " + arguments + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, {}};
    std::string out;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(EngineInfoCommand, PrintsTheBandLayoutOfARate) {
    const ToolRun run = runTool("engine-info --rate 48000");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "{\"sampleRate\":48000,\"bandCount\":52,\"firstExtraBin\":23,\"topBin\":112,"
                       "\"extraCount\":89,\"binCount\":141}\n");
}

TEST(EngineInfoCommand, RefusesMissingOrUnsupportedRates) {
    for (const char* arguments :
         {"engine-info", "engine-info --rate", "engine-info --rate fast", "engine-info --rate 44100x",
          "engine-info --rate 4000", "engine-info --rate nan"}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
    }
}

} // namespace
