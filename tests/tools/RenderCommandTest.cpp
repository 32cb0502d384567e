#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "analysis/AudioFile.h"
#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "persistence/Folders.h"
#include "support/JsonReader.h"
#include "support/ScopedHome.h"
#include "support/ToolRun.h"

namespace tarvo {
namespace {

using test::runTool;
using test::ToolRun;

std::string quoted(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

test::JsonValue parse(const std::string& text) {
    test::JsonValue value;
    EXPECT_TRUE(test::JsonReader::parse(text, value)) << text;
    return value;
}

std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Effect slot s's parameter `which`.
Param& fxParamOf(Ombrix& plugin, int s, int which) {
    return plugin.engine.param(plugin.engine.layout.fxSlotBase[static_cast<size_t>(s)] + which);
}

TEST(RenderCommand, EveryFactoryPresetIsACompleteKitThatPlaysBelowFullScale) {
    const test::ScopedHome home;
    ASSERT_EQ(runTool("factory-install").exitCode, 0);
    const std::filesystem::path factory = folderPath(Folder::Presets) / "Factory";
    std::vector<std::filesystem::path> presets;
    for (const auto& entry : std::filesystem::directory_iterator(factory))
        if (entry.path().extension() == ".tarvo") presets.push_back(entry.path());
    EXPECT_GE(presets.size(), 8u);
    EXPECT_TRUE(std::filesystem::exists(factory / "Start Here.tarvo"));

    for (const std::filesystem::path& file : presets) {
        SCOPED_TRACE(file.filename().string());
        auto plugin = std::make_unique<Ombrix>();
        ASSERT_TRUE(openPreset(*plugin, file)) << plugin->statusText;
        EXPECT_EQ(plugin->presetName, file.stem().string());
        const float bpm = plugin->sequencer.param(StepSequencer::paramBpm).value;
        EXPECT_GE(bpm, 60.0f);
        EXPECT_LE(bpm, 180.0f);

        size_t notes = 0;
        for (const TrackPattern& pattern : plugin->sequencer.patterns) notes += pattern.notes.size();
        EXPECT_GT(notes, 8u);
        int sounds = 0;
        for (const Track& track : plugin->engine.tracks)
            sounds +=
                track.blobs.slotA.working.present > 0 && !track.blobs.slotA.working.name.empty() ? 1 : 0;
        EXPECT_GE(sounds, 4);

        // The loaded effect values must survive the installation of their units.
        std::array<float, 2 * ParamLayout::fxSlotCount> stored{};
        for (int s = 0; s < ParamLayout::fxSlotCount; ++s) {
            stored[static_cast<size_t>(2 * s)] = fxParamOf(*plugin, s, fxParam1).requested;
            stored[static_cast<size_t>(2 * s + 1)] = fxParamOf(*plugin, s, fxParam2).requested;
        }
        plugin->reset(44100.0f);
        plugin->idleTick();
        bool effectOn = false;
        for (int s = 0; s < ParamLayout::fxSlotCount; ++s) {
            effectOn = effectOn || fxParamOf(*plugin, s, fxPower).value > 0.5f;
            EXPECT_EQ(fxParamOf(*plugin, s, fxParam1).value, stored[static_cast<size_t>(2 * s)])
                << "slot " << s;
            EXPECT_EQ(fxParamOf(*plugin, s, fxParam2).value, stored[static_cast<size_t>(2 * s + 1)])
                << "slot " << s;
        }
        EXPECT_TRUE(effectOn);
        bool routed = false;
        for (int j = 0; j < ParamLayout::modSlotCount; ++j) {
            const int base = plugin->engine.layout.modSlotBase[static_cast<size_t>(j)];
            routed = routed || (plugin->engine.param(base + modSource).value > 0.0f &&
                                plugin->engine.param(base + modAmount).value != 0.0f);
        }
        EXPECT_TRUE(routed);

        const std::filesystem::path wav = home.path() / "preset.wav";
        const ToolRun run = runTool("render --preset " + quoted(file) + " --bars 2 --out " + quoted(wav));
        ASSERT_EQ(run.exitCode, 0);
        const test::JsonValue json = parse(run.out);
        ASSERT_EQ(json["peak"].items.size(), 1u);
        EXPECT_LT(json["peak"][0].number, 1.0);
        EXPECT_GT(json["rms"][0].number, 0.005);
        EXPECT_NEAR(json["seconds"].number, 2 * 4 * 60.0 / bpm, 0.001);
    }
}

TEST(RenderCommand, WithoutAPresetPlaysWhatANewInstanceOpens) {
    const test::ScopedHome home;
    const std::filesystem::path wav = home.path() / "start.wav";
    const ToolRun run = runTool("render --bars 1 --rate 48000 --block 100 --out " + quoted(wav));
    ASSERT_EQ(run.exitCode, 0);
    const test::JsonValue json = parse(run.out);
    EXPECT_EQ(json["preset"].text, "Start Here");
    EXPECT_TRUE(std::filesystem::exists(folderPath(Folder::Presets) / "Factory" / "Start Here.tarvo"));
    EXPECT_GT(json["rms"][0].number, 0.005);
    EXPECT_GT(json["realtimeFactor"].number, 0.0);

    // A standard float WAV: "fmt " with the extension size, a "fact" chunk, then the frames.
    const std::vector<uint8_t> bytes = readBytes(wav);
    ASSERT_GT(bytes.size(), 58u);
    EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "fmt ");
    EXPECT_EQ(bytes[16], 18);
    EXPECT_EQ(std::string(bytes.begin() + 38, bytes.begin() + 42), "fact");
    AudioFileData decoded;
    std::string message;
    ASSERT_TRUE(decodeAudioBytes(bytes, decoded, message)) << message;
    EXPECT_EQ(decoded.channelCount(), 2);
    EXPECT_EQ(decoded.sampleRate, 48000u);
    EXPECT_EQ(decoded.bitDepth, 32);
    EXPECT_NEAR(static_cast<double>(decoded.frameCount()), json["seconds"].number * 48000.0, 1.0);
}

TEST(RenderCommand, WritesOneFilePerBusAndRefusesBadArguments) {
    const test::ScopedHome home;
    const std::filesystem::path wav = home.path() / "mix.wav";
    const ToolRun run = runTool("render --bars 0.5 --buses 3 --out " + quoted(wav));
    ASSERT_EQ(run.exitCode, 0);
    const test::JsonValue json = parse(run.out);
    EXPECT_EQ(json["peak"].items.size(), 3u);
    EXPECT_EQ(json["rms"].items.size(), 3u);
    for (const char* name : {"mix.wav", "mix-bus1.wav", "mix-bus2.wav"})
        EXPECT_TRUE(std::filesystem::exists(home.path() / name)) << name;

    struct Case {
        const char* arguments;
        int exitCode;
    };
    const std::string out = " --out " + quoted(home.path() / "refused.wav");
    for (const Case& c : {Case{"render", 2}, Case{"render --bars 0", 2}, Case{"render --bars x", 2},
                          Case{"render --rate 1000", 2}, Case{"render --block 0", 2},
                          Case{"render --block 2.5", 2}, Case{"render --buses 10", 2},
                          Case{"render --preset \"\"", 2}, Case{"render --preset missing.tarvo", 1}}) {
        SCOPED_TRACE(c.arguments);
        const bool withOut = std::string(c.arguments) != "render";
        EXPECT_EQ(runTool(c.arguments + (withOut ? out : std::string())).exitCode, c.exitCode);
    }
}

} // namespace
} // namespace tarvo
