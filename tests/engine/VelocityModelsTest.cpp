#include <gtest/gtest.h>

#include <cmath>

#include "engine/VelocityModels.h"

namespace tarvo {
namespace {

// The Blob reader needs time remaps that never run backwards and stay on the plane, frequency
// offsets that leave the band ends in place, and a neutral layer at velocity 100.
TEST(VelocityModels, LayersKeepTheReaderOnThePlane) {
    for (int m = 0; m < velocityModelCount; ++m) {
        const VelocityModel& model = velocityModel(m);
        SCOPED_TRACE(model.name);
        for (int l = 0; l < VelocityModel::layerCount; ++l) {
            SCOPED_TRACE(l);
            const auto& layer = model.layers[l];
            for (int i = 0; i < VelocityModel::bandGainPoints; ++i) {
                EXPECT_GT(layer[i], 0.3f);
                EXPECT_LT(layer[i], 3.5f);
                if (l == 3) {
                    EXPECT_FLOAT_EQ(layer[i], 1.0f);
                }
            }
            for (int row = 0; row < 7; ++row) {
                const float* remap =
                    &layer[VelocityModel::timeRemapStart + VelocityModel::timeRemapPoints * row];
                EXPECT_EQ(remap[0], 0.0f);
                for (int j = 1; j < VelocityModel::timeRemapPoints; ++j) {
                    EXPECT_GE(remap[j], remap[j - 1]);
                    if (l == 3) {
                        EXPECT_FLOAT_EQ(remap[j], 4.8f * static_cast<float>(j));
                    }
                }
                EXPECT_GT(remap[VelocityModel::timeRemapPoints - 1], 80.0f);
                EXPECT_LE(remap[VelocityModel::timeRemapPoints - 1], 96.0f);
            }
            for (int c = 0; c < VelocityModel::freqOffsetColumns; ++c) {
                const float* offsets =
                    &layer[VelocityModel::freqOffsetStart + VelocityModel::freqOffsetPoints * c];
                EXPECT_EQ(offsets[0], 0.0f);
                EXPECT_EQ(offsets[VelocityModel::freqOffsetPoints - 1], 0.0f);
                for (int p = 0; p < VelocityModel::freqOffsetPoints; ++p) {
                    EXPECT_LE(std::abs(offsets[p]), 3.0f);
                    if (l == 3) {
                        EXPECT_EQ(offsets[p], 0.0f);
                    }
                }
            }
        }
    }
}

// What a player hears: soft hits are darker than hard ones.
TEST(VelocityModels, SoftLayersAreDarkerThanHardOnes) {
    for (int m = 0; m < velocityModelCount; ++m) {
        const VelocityModel& model = velocityModel(m);
        SCOPED_TRACE(model.name);
        const int top = VelocityModel::bandGainPoints - 1;
        const auto tilt = [&](int l) { return model.layers[l][top] / model.layers[l][0]; };
        EXPECT_LT(tilt(0), tilt(4));
    }
}

} // namespace
} // namespace tarvo
