#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Blob.h"
#include "support/JsonReader.h"
#include "support/ToolRun.h"

namespace tarvo {
namespace {

using test::ToolErrors;
using test::ToolRun;

ToolRun runTool(const std::string& arguments, bool withErrors) {
    return test::runTool(arguments, withErrors ? ToolErrors::captured : ToolErrors::dropped);
}

test::JsonValue parse(const std::string& text) {
    test::JsonValue value;
    EXPECT_TRUE(test::JsonReader::parse(text, value)) << text;
    return value;
}

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / name).string();
}

TEST(HitCommand, RendersOneNoteAndReportsItsLevel) {
    Blob blob;
    blob.clear();
    std::vector<uint8_t> bytes(Blob::byteSize);
    blob.serialize(bytes);
    const std::string blobFile = tempPath("hit-even.blob");
    std::ofstream(blobFile, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

    const std::string wav = tempPath("hit.wav");
    const ToolRun run = runTool(
        "hit --blob " + blobFile + " --seconds 0.5 --rate 48000 --set Timescale=2 --out " + wav, false);
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const test::JsonValue json = parse(run.out);
    EXPECT_GT(json["peak"].number, 0.0);
    EXPECT_GT(json["rms"].number, 0.0);
    EXPECT_LT(json["rms"].number, json["peak"].number);
    EXPECT_DOUBLE_EQ(json["seconds"].number, 0.5);
    // Header plus 24000 stereo float frames.
    EXPECT_EQ(std::filesystem::file_size(wav), 58u + 24000u * 8u); // float header with its "fact" chunk

    // A velocity of 0 is no note at all.
    const ToolRun silent = runTool("hit --blob clear --velocity 0 --seconds 0.2 --out " + wav, false);
    ASSERT_EQ(silent.exitCode, 0);
    EXPECT_EQ(parse(silent.out)["peak"].number, 0.0);
}

TEST(HitCommand, ARenderThatCannotBeWrittenFailsAndSaysWhy) {
    // A folder path running through an existing file cannot be created.
    const std::string blocker = tempPath("hit-blocker.wav");
    std::ofstream(blocker) << "not a folder";
    const ToolRun run = runTool("hit --blob clear --seconds 0.1 --out " + blocker + "/hit.wav", true);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("Cannot create the folder"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(blocker), std::string::npos) << run.out;
    std::filesystem::remove(blocker);
}

TEST(HitCommand, RefusesBadArguments) {
    const std::string wav = tempPath("hit-refused.wav");
    const char* cases[][2] = {
        {"hit --out OUT", "--blob"},
        {"hit --blob clear", "--out"},
        {"hit --blob clear --set Nothing=1 --out OUT", "no parameter \"Nothing\""},
        {"hit --blob clear --set Density --out OUT", "NAME=VALUE"},
        {"hit --blob clear --velocity 200 --out OUT", "--velocity"},
        {"hit --blob clear --rate 0 --out OUT", "--rate"},
        {"hit --blob /nonexistent/x.blob --out OUT", "no Blob file"},
    };
    for (const auto& c : cases) {
        std::string args = c[0];
        if (const size_t at = args.find("OUT"); at != std::string::npos) args.replace(at, 3, wav);
        const ToolRun run = runTool(args, true);
        EXPECT_EQ(run.exitCode, 2) << args;
        EXPECT_NE(run.out.find(c[1]), std::string::npos) << args << ": " << run.out;
    }
}

} // namespace
} // namespace tarvo
