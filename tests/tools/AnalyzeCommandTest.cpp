#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Blob.h"
#include "support/JsonReader.h"
#include "support/ToolRun.h"

namespace tarvo {
namespace {

using test::JsonReader;
using test::JsonValue;

class AnalyzeCommand : public testing::Test {
protected:
    void SetUp() override {
        const char* home = std::getenv("TARVO_HOME");
        const std::filesystem::path base = home != nullptr
                                               ? std::filesystem::path(home)
                                               : std::filesystem::temp_directory_path() / "tarvo-tests";
        // One folder per test: ctest runs the tests of this fixture in parallel.
        home_ = base / (std::string("analyze-command-") +
                        testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(home_);
        input_ = home_ / "input";
        std::filesystem::create_directories(input_);
    }
    void TearDown() override { std::filesystem::remove_all(home_); }

    // Writes a short decaying tone with libsndfile.
    std::filesystem::path writeSound(const std::string& relative, int format, int channels = 1,
                                     float level = 0.8f) {
        const std::filesystem::path path = input_ / relative;
        std::filesystem::create_directories(path.parent_path());
        SF_INFO info{};
        info.channels = channels;
        info.samplerate = 48000;
        info.format = format;
        SNDFILE* file = sf_open(path.string().c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr) << relative;
        std::vector<float> samples(9600 * static_cast<size_t>(channels));
        for (size_t i = 0; i < samples.size(); ++i) {
            const double t = static_cast<double>(i / channels) / 48000.0;
            samples[i] =
                static_cast<float>(level * std::exp(-t / 0.05) * std::sin(2.0 * 3.14159265 * 200.0 * t));
        }
        sf_writef_float(file, samples.data(), 9600);
        sf_close(file);
        return path;
    }

    std::filesystem::path writeBytes(const std::string& relative, const std::string& bytes) {
        const std::filesystem::path path = input_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Runs `tarvo analyze` with the test home; returns the parsed lines keyed by path.
    std::map<std::string, JsonValue> analyze(const std::string& arguments, int& exitCode) {
        const test::ToolRun run = test::runTool("analyze " + arguments, test::ToolErrors::dropped,
                                                "TARVO_HOME='" + home_.string() + "'");
        exitCode = run.exitCode;
        const std::string& output = run.out;
        std::map<std::string, JsonValue> lines;
        std::istringstream stream(output);
        std::string line;
        while (std::getline(stream, line)) {
            JsonValue value;
            EXPECT_TRUE(JsonReader::parse(line, value)) << line;
            lines[value["path"].text] = value;
        }
        return lines;
    }

    static std::string quoted(const std::filesystem::path& path) {
        std::string text(1, '\'');
        text.append(path.string());
        text.push_back('\'');
        return text;
    }

    std::filesystem::path home_;
    std::filesystem::path input_;
};

bool isBlobFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Blob blob;
    return bytes.size() == Blob::byteSize && blob.deserialize(bytes) == Blob::byteSize;
}

TEST_F(AnalyzeCommand, ImportsFilesAndReportsEachOnItsOwnLine) {
    const auto wav = writeSound("Kick 01.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2);
    const auto flac = writeSound("snare.FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    const auto silent = writeSound("silent.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 0.0f);
    const auto noise = writeBytes("noise.wav", std::string(600, '\x5a'));
    const auto text = writeBytes("notes.txt", "hello");
    int exitCode = -1;
    const auto lines = analyze(quoted(wav) + " " + quoted(flac) + " " + quoted(silent) + " " + quoted(noise) +
                                   " " + quoted(text) + " " + quoted(input_ / "missing.aif"),
                               exitCode);
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(lines.size(), 6u);

    const std::string userFolder = (home_ / "Tarvo Sounds" / "0 User").generic_string();
    struct Expected {
        std::filesystem::path path;
        bool ok;
        std::string blob;    // empty: null
        std::string message; // empty: null
        bool read;           // sampleRate and frames present
    };
    const Expected expected[] = {
        {wav, true, userFolder + "/Kick 01.blob", "", true},
        {flac, true, userFolder + "/snare.blob", "", true},
        {silent, false, "", "silent: nothing to analyse", true},
        {noise, false, "", "Audio File Type: Error", false},
        {text, false, "", "ERROR: not a .wav, .aif, .aiff, .flac, .ogg or .mp3 file", false},
        {input_ / "missing.aif", false, "", "ERROR: the file is empty or cannot be read", false},
    };
    for (const Expected& e : expected) {
        const JsonValue& line = lines.at(e.path.string());
        EXPECT_EQ(line["ok"].boolean, e.ok) << e.path;
        if (e.blob.empty()) {
            EXPECT_TRUE(line["blob"].isNull()) << e.path;
        } else {
            EXPECT_EQ(line["blob"].text, e.blob);
            EXPECT_TRUE(isBlobFile(e.blob)) << e.blob;
        }
        if (e.message.empty())
            EXPECT_TRUE(line["message"].isNull()) << e.path;
        else
            EXPECT_EQ(line["message"].text, e.message) << e.path;
        EXPECT_EQ(line["sampleRate"].isNull(), !e.read) << e.path;
        EXPECT_EQ(line["frames"].isNull(), !e.read) << e.path;
        if (e.read) {
            EXPECT_EQ(line["sampleRate"].number, 48000.0);
            EXPECT_EQ(line["frames"].number, 9600.0);
        }
    }
}

TEST_F(AnalyzeCommand, FoldersKeepTheirStructureBelowTheOutputFolder) {
    writeSound("Drums/kick.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    writeSound("Drums/sub/hat.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    writeSound("Drums/sub/.hidden.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writeBytes("Drums/readme.txt", "not audio");
    const std::filesystem::path out = home_ / "out";
    int exitCode = -1;
    const auto lines = analyze(quoted(input_ / "Drums") + " --out-dir " + quoted(out), exitCode);
    EXPECT_EQ(exitCode, 0);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& [path, line] : lines) EXPECT_TRUE(line["ok"].boolean) << path;
    EXPECT_TRUE(isBlobFile((out / "Drums/kick.blob").string()));
    EXPECT_TRUE(isBlobFile((out / "Drums/sub/hat.blob").string()));
    EXPECT_FALSE(std::filesystem::exists(out / "Drums/sub/.hidden.blob"));
}

TEST_F(AnalyzeCommand, NeedsAFile) {
    int exitCode = -1;
    EXPECT_TRUE(analyze("", exitCode).empty());
    EXPECT_EQ(exitCode, 2);
}

} // namespace
} // namespace tarvo
