#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Blob.h"
#include "support/ToolRun.h"

namespace tarvo {
namespace {

using test::ToolErrors;
using test::ToolRun;

// Standard error is folded into the output: the refusals are checked by their text.
ToolRun runTool(const std::string& arguments) {
    return test::runTool(arguments, ToolErrors::captured);
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
