#include <gtest/gtest.h>

#include <cmath>

#include "control/Param.h"

namespace tarvo {
namespace {

TEST(Param, NonFiniteValuesAreIgnored) {
    Param p;
    p.init(Param::Linear, 0, 100, 0, "%.0f", "Clip", 10, true, nullptr);
    for (float bad : {NAN, INFINITY, -INFINITY}) {
        p.set(bad);
        p.setNormalized(bad);
        EXPECT_EQ(p.value, 10.0f);
        EXPECT_EQ(p.requested, 10.0f);
    }
}

} // namespace
} // namespace tarvo
