#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/ToolRun.h"

namespace {

using tarvo::test::runTool;
using tarvo::test::ToolRun;

TEST(EngineInfoCommand, PrintsTheBandLayoutOfARate) {
    const ToolRun run = runTool("engine-info --rate 48000");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "{\"sampleRate\":48000,\"hopFrames\":70,\"fftSize\":280,\"bandCount\":50,"
                       "\"firstExtraBin\":22,\"topBin\":123,\"extraCount\":101,\"binCount\":151}\n");
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
