#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/ToolRun.h"

namespace {

using tarvo::test::runTool;
using tarvo::test::ToolRun;

TEST(EngineInfoCommand, PrintsTheBandLayoutOfARate) {
    // 32 kHz runs the grid of 44.1 kHz and resamples.
    const struct {
        const char* arguments;
        const char* out;
    } cases[] = {
        {"engine-info --rate 48000",
         "{\"sampleRate\":48000,\"gridRate\":48000,\"hopFrames\":70,\"fftSize\":280,\"bandCount\":50,"
         "\"firstExtraBin\":22,\"topBin\":123,\"extraCount\":101,\"binCount\":151}\n"},
        {"engine-info --rate 32000",
         "{\"sampleRate\":32000,\"gridRate\":44100,\"hopFrames\":64,\"fftSize\":256,\"bandCount\":50,"
         "\"firstExtraBin\":22,\"topBin\":122,\"extraCount\":100,\"binCount\":150}\n"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.arguments);
        EXPECT_EQ(run.exitCode, 0) << c.arguments;
        EXPECT_EQ(run.out, c.out);
    }
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
