#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"
#include "support/JsonReader.h"
#include "support/ScopedHome.h"
#include "support/ToolRun.h"

namespace tarvo {
namespace {

using test::JsonReader;
using test::JsonValue;
using Bytes = std::vector<uint8_t>;

using test::runTool;
using test::ToolRun;

std::string shellArgument(const std::filesystem::path& path) {
    return "\"" + path.string() + "\"";
}

std::filesystem::path writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// A state with something in every part the tool reports.
Bytes sampleState() {
    auto p = std::make_unique<Ombrix>();
    p->engine.param(5).set(p->engine.param(5).fromNormalized(0.25f));
    Blob& a = p->engine.tracks[2].blobs.slotA.working;
    a.name = "Snare Deep";
    a.editCount = 4;
    p->engine.tracks[3].blobs.slotB.working.present = 0;
    const CurvePoint points[] = {{0.0f, 0.25f, 0.5f}, {1.0f, 0.75f, 0.0f}};
    p->engine.tracks[1].velocityCurve.setPoints(points, 2);
    p->engine.muteMask.store(0x12);
    p->engine.soloTrack.store(4);
    p->sequencer.insertNote(6, 2048, 300, 90);
    p->sequencer.patterns[6].length = 12;
    p->sequencer.param(StepSequencer::paramBpm).set(140.0f);
    p->presetName = "Sample";
    p->presetEditCount = 1;
    return saveState(*p);
}

TEST(PresetInfo, PrintsEveryPartOfAState) {
    test::ScopedHome home;
    const auto file = writeFile(home.path() / "Sample.tarvo", sampleState());
    const ToolRun run = runTool("preset-info " + shellArgument(file));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    JsonValue json;
    ASSERT_TRUE(JsonReader::parse(run.out, json)) << run.out;

    EXPECT_EQ(json["status"].text, "ok");
    EXPECT_EQ(json["version"].number, 65794);
    EXPECT_EQ(json["presetName"].text, "Sample");
    EXPECT_TRUE(json["modified"].boolean);
    ASSERT_EQ(json["params"].items.size(), 270u);
    auto reference = std::make_unique<Ombrix>();
    EXPECT_FLOAT_EQ(static_cast<float>(json["params"][5].number),
                    reference->engine.param(5).fromNormalized(0.25f));

    ASSERT_EQ(json["tracks"].items.size(), 8u);
    const JsonValue& snare = json["tracks"][2]["slotA"];
    EXPECT_TRUE(snare["present"].boolean);
    EXPECT_EQ(snare["name"].text, "Snare Deep");
    EXPECT_TRUE(snare["edited"].boolean);
    const JsonValue& off = json["tracks"][3]["slotB"];
    EXPECT_FALSE(off["present"].boolean);
    EXPECT_EQ(off["name"].text, "<off>");
    const JsonValue& curve = json["tracks"][1]["velocityCurve"];
    ASSERT_EQ(curve.items.size(), 2u);
    EXPECT_EQ(curve[0][1].number, 0.25);
    EXPECT_EQ(curve[0][2].number, 0.5);
    EXPECT_EQ(json["lfoCurves"].items.size(), 4u);
    EXPECT_EQ(json["muteMask"].number, 0x12);
    EXPECT_EQ(json["soloTrack"].number, 4);

    ASSERT_EQ(json["patterns"].items.size(), 8u);
    const JsonValue& pattern = json["patterns"][6];
    EXPECT_EQ(pattern["length"].number, 12);
    ASSERT_EQ(pattern["notes"].items.size(), 1u);
    EXPECT_EQ(pattern["notes"][0][0].number, 2048);
    EXPECT_EQ(pattern["notes"][0][1].number, 300);
    EXPECT_EQ(pattern["notes"][0][2].number, 90);
    EXPECT_EQ(json["sequencer"]["BPM"].number, 140);
    for (const char* key : {"Host Sync", "Swing", "Loose Time", "Loose Velo"})
        EXPECT_TRUE(json["sequencer"].has(key)) << key;
}

TEST(PresetInfo, RefusesWhatDoesNotLoadWithTheStatusText) {
    test::ScopedHome home;
    Bytes newer = sampleState();
    const int32_t version = 65795;
    std::memcpy(newer.data() + 12, &version, 4);
    Bytes cut = sampleState();
    cut.resize(100);
    struct Case {
        std::string file;
        Bytes bytes;
        std::string status;
    };
    const std::string missing = (home.path() / "Missing.tarvo").string();
    const Case cases[] = {
        {"Foreign.tarvo", {'M', 'T', 'h', 'd'}, "The saved data is not recognized, possibly corrupted data."},
        {"Newer.tarvo", newer,
         "This preset was created with a newer version of Tarvo. You need to upgrade to load this."},
        {"Cut.tarvo", cut,
         "The saved data is damaged and was not loaded: the data ends within the parameter values."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const ToolRun run = runTool("preset-info " + shellArgument(writeFile(home.path() / c.file, c.bytes)));
        EXPECT_EQ(run.exitCode, 1);
        JsonValue json;
        ASSERT_TRUE(JsonReader::parse(run.out, json)) << run.out;
        EXPECT_EQ(json["status"].text, "rejected");
        EXPECT_EQ(json["statusText"].text, c.status);
    }
    const ToolRun run = runTool("preset-info " + shellArgument(missing));
    EXPECT_EQ(run.exitCode, 1);
    JsonValue json;
    ASSERT_TRUE(JsonReader::parse(run.out, json)) << run.out;
    EXPECT_EQ(json["statusText"].text, "couldn't open preset: " + missing);
}

TEST(ExportMidiCommand, WritesThePresetsPatternAsAMidiFile) {
    test::ScopedHome home;
    auto p = std::make_unique<Ombrix>();
    p->sequencer.param(StepSequencer::paramSwing).set(0.0f);
    p->sequencer.param(StepSequencer::paramLooseTime).set(0.0f);
    p->sequencer.param(StepSequencer::paramLooseVelo).set(0.0f);
    p->sequencer.insertNote(0, 0, 1024, 100);
    const auto preset = writeFile(home.path() / "One.tarvo", saveState(*p));
    const auto midi = home.path() / "one.mid";

    const ToolRun run = runTool("export-midi " + shellArgument(preset) + " --out " + shellArgument(midi));
    ASSERT_EQ(run.exitCode, 0) << run.out;
    std::ifstream in(midi, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(file.size(), 55u);
    EXPECT_EQ(Bytes(file.begin() + 42, file.begin() + 51),
              (Bytes{0x00, 0x90, 0x24, 0x64, 0x87, 0x7F, 0x80, 0x24, 0x40}));

    EXPECT_EQ(runTool("export-midi " + shellArgument(preset)).exitCode, 2);
    const auto foreign = writeFile(home.path() / "Foreign.tarvo", {'x'});
    EXPECT_EQ(runTool("export-midi " + shellArgument(foreign) + " --out " + shellArgument(midi)).exitCode, 1);
}

} // namespace
} // namespace tarvo
