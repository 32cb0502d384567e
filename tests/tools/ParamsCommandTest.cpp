#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/JsonReader.h"
#include "support/ToolRun.h"

namespace tarvo {
namespace {

using test::JsonReader;
using test::JsonValue;

// Standard output of the tool; status takes its exit code.
std::string runTool(const std::string& arguments, int& status) {
    test::ToolRun run = test::runTool(arguments);
    status = run.exitCode;
    return run.out;
}

class ParamsCommand : public testing::Test {
protected:
    static void SetUpTestSuite() {
        int status = 0;
        const std::string output = runTool("params", status);
        ASSERT_EQ(status, 0);
        parsed = new JsonValue;
        ASSERT_TRUE(JsonReader::parse(output, *parsed)) << output.substr(0, 200);
    }
    static void TearDownTestSuite() {
        delete parsed;
        parsed = nullptr;
    }
    static const JsonValue& params() { return (*parsed)["params"]; }
    static const JsonValue& sequencer() { return (*parsed)["sequencer"]; }

    static JsonValue* parsed;
};

JsonValue* ParamsCommand::parsed = nullptr;

TEST_F(ParamsCommand, PrintsEveryParameterInIndexOrder) {
    ASSERT_EQ(params().items.size(), 270u);
    ASSERT_EQ(sequencer().items.size(), 5u);
    int exposed = 0;
    for (size_t i = 0; i < params().items.size(); ++i) {
        const JsonValue& p = params()[i];
        for (const char* key : {"index", "name", "group", "shape", "min", "max", "curve", "default", "text",
                                "snap", "hostIndex", "hostName"})
            ASSERT_TRUE(p.has(key)) << i << " " << key;
        EXPECT_EQ(p["index"].number, static_cast<double>(i));
        if (p["hostIndex"].number >= 0) {
            EXPECT_EQ(p["hostIndex"].number, exposed);
            ++exposed;
        } else {
            EXPECT_TRUE(p["hostName"].isNull());
        }
    }
    EXPECT_EQ(exposed, 110);
}

TEST_F(ParamsCommand, Fields) {
    const JsonValue& amp = params()[0];
    EXPECT_EQ(amp["name"].text, "Amp");
    EXPECT_EQ(amp["group"].text, "Track 1");
    EXPECT_EQ(amp["shape"].number, 1);
    EXPECT_EQ(amp["curve"].number, 2);
    EXPECT_EQ(amp["text"].text, "+0 dB");
    EXPECT_EQ(amp["hostName"].text, "Track 1 Amp");
    ASSERT_EQ(amp["snap"].items.size(), 1u);
    EXPECT_EQ(amp["snap"][0].number, 1);

    const JsonValue& release = params()[18];
    EXPECT_EQ(release["min"].number, 0.01); // the float prints as its shortest decimal
    EXPECT_TRUE(release["curve"].isNull());
    EXPECT_EQ(release["text"].text, "10.00 s");

    const JsonValue& globalTransform = params()[164];
    EXPECT_EQ(globalTransform["hostName"].text, "Global Transform");
    EXPECT_EQ(globalTransform["snap"].items.size(), 2u);

    const JsonValue& beatRate = params()[200];
    EXPECT_EQ(beatRate["text"].text, "1/4");
    EXPECT_EQ(beatRate["max"].number, 14);

    const JsonValue& fxType = params()[267];
    EXPECT_TRUE(fxType["group"].isNull());
    EXPECT_EQ(fxType["text"].text, "L.A. Optical");

    const JsonValue& bpm = sequencer()[0];
    EXPECT_TRUE(bpm["index"].isNull());
    EXPECT_EQ(bpm["name"].text, "BPM");
    EXPECT_EQ(bpm["text"].text, "120");
    EXPECT_EQ(bpm["hostIndex"].number, -1);
}

TEST(ParamsCommandArguments, RejectsUnknownArguments) {
    int status = 0;
    const std::string output = runTool("params --bogus", status);
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(output.empty());
}

} // namespace
} // namespace tarvo
