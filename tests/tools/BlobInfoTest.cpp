#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "engine/Blob.h"

namespace tarvo {
namespace {

struct ToolRun {
    int exitCode;
    std::string out;
};

// Runs the tool with standard error folded into the captured output.
ToolRun runTool(const std::string& arguments) {
    const std::string command = std::string(TARVO_TOOL_PATH) + " " + arguments + " 2>&1";
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

std::filesystem::path writeBlob(const std::string& name, std::vector<uint8_t> bytes) {
    const auto file = std::filesystem::temp_directory_path() / name;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

TEST(BlobInfo, PrintsTheNormalisedBlobOrTheReasonItCannot) {
    Blob blob;
    blob.clear();
    std::vector<uint8_t> bytes(Blob::byteSize);
    blob.serialize(bytes);

    const ToolRun good = runTool("blob-info " + writeBlob("info-good.blob", bytes).string());
    EXPECT_EQ(good.exitCode, 0) << good.out;
    for (const char* key : {"\"timeWarps\":[[0,", "\"freqWarps\":[[0,", "\"energy\":", "\"length\":97",
                            "\"audibleKnots\":41", "\"tailTime\":["})
        EXPECT_NE(good.out.find(key), std::string::npos) << key << " in " << good.out.substr(0, 200);

    std::vector<uint8_t> format2 = bytes;
    format2[0] = 2;
    const ToolRun wrongFormat = runTool("blob-info " + writeBlob("info-format2.blob", format2).string());
    EXPECT_EQ(wrongFormat.exitCode, 1);
    EXPECT_NE(wrongFormat.out.find("format 2"), std::string::npos) << wrongFormat.out;

    bytes.pop_back();
    const ToolRun shortFile = runTool("blob-info " + writeBlob("info-short.blob", bytes).string());
    EXPECT_EQ(shortFile.exitCode, 1);
    EXPECT_NE(shortFile.out.find("1136 bytes"), std::string::npos) << shortFile.out;
}

} // namespace
} // namespace tarvo
