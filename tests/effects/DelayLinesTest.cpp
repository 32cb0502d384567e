#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "effects/DelayLines.h"

namespace tarvo {
namespace {

TEST(ExpDecay, FollowsExponentialForSmallArgumentsAndFallsMonotonically) {
    EXPECT_FLOAT_EQ(expDecay(0.0f), 1.0f);
    float previous = 1.0f;
    for (float x = 0.01f; x < 20.0f; x += 0.01f) {
        const float y = expDecay(x);
        ASSERT_LT(y, previous) << x;
        ASSERT_GT(y, 0.0f) << x;
        if (x <= 1.0f) {
            ASSERT_NEAR(y, std::exp(-x), 0.01f) << x;
        }
        previous = y;
    }
}

// A line of 1000 usable samples holding a ramp: the sample written at time t has value t.
struct RampLine {
    explicit RampLine(int written) {
        line.setSize(usable + DelayLine::guardSamples);
        for (int t = 0; t < written; ++t) {
            const float v = static_cast<float>(t);
            line.write(&v, 1);
        }
    }
    static constexpr int usable = 1000;
    DelayLine line;
};

TEST(ReadVarispeed, FirstPlacementHonoursTheDelayUpToTheEndOfTheLine) {
    struct Case {
        int written;
        float delay;
        float expectedDelay;
    };
    const float farthest = RampLine::usable - 32.0f;
    const Case cases[] = {
        {1500, 100.0f, 100.0f},
        {1500, 500.5f, 500.5f},
        {1500, farthest, farthest},
        {1500, farthest + 500.0f, farthest},
        {1500, 1e9f, farthest},
        {1500, std::numeric_limits<float>::quiet_NaN(), farthest},
        // The writer sits one sample short of the delay: the reader must wrap, not read
        // before the start of the buffer.
        {1099, 100.0f, 100.0f},
        {1099, 99.5f, 99.5f},
    };
    for (const Case& c : cases) {
        RampLine ramp(c.written);
        float out[16];
        readVarispeed(ramp.line, out, 16, c.delay, 0.0f);
        for (int j = 0; j < 16; ++j)
            ASSERT_NEAR(out[j],
                        static_cast<float>(c.written) - c.expectedDelay + 1.0f + static_cast<float>(j), 1e-3f)
                << "written " << c.written << " delay " << c.delay << " frame " << j;
        EXPECT_GE(ramp.line.reader.readPos, 0.0);
    }
}

TEST(ReadVarispeed, ADoubledDelayGlidesWithBoundedSpeedChanges) {
    DelayLine line;
    line.setSize(20000 + DelayLine::guardSamples);
    std::vector<float> block(64, 0.0f), out(64);
    constexpr int n = 64;
    readVarispeed(line, out.data(), n, 1000.0f, 0.0f);
    line.write(block.data(), n);

    auto currentDelay = [&] {
        double c = line.reader.writeSeen - line.reader.readPos;
        if (line.reader.readPos > line.reader.writeSeen) c += line.length();
        return c;
    };
    double previous = currentDelay();
    EXPECT_NEAR(previous, 1000.0, 1e-6);
    float speed = line.reader.speed;
    for (int b = 0; b < 400; ++b) {
        readVarispeed(line, out.data(), n, 2000.0f, 0.0f);
        line.write(block.data(), n);
        ASSERT_LE(std::abs(line.reader.speed - speed), 0.001f * n + 1e-6f);
        ASSERT_GE(line.reader.speed, 0.5f);
        const double c = currentDelay();
        ASSERT_GE(c, previous - 1e-6) << "the delay glides up, never jumps back";
        ASSERT_LE(c - previous, 0.5 * n + 1e-3) << "never more than half speed";
        speed = line.reader.speed;
        previous = c;
    }
    EXPECT_NEAR(previous, 2000.0, 1.0);
    EXPECT_NEAR(line.reader.speed, 1.0f, 0.01f);
}

TEST(ReadVarispeed, GainRampsToTheDecayOfTheDelay) {
    RampLine ramp(1500);
    float out[16];
    const float k = 0.001f;
    readVarispeed(ramp.line, out, 16, 100.0f, k);
    EXPECT_FLOAT_EQ(ramp.line.gain, expDecay(100.0f * k));
    EXPECT_NEAR(out[15], expDecay(100.0f * k) * (1500.0f - 100.0f + 1.0f + 15.0f), 1e-2f);
}

TEST(Rotate, PreservesEnergyAtZeroDecay) {
    struct Case {
        int usable;
        int delay;
        int block;
    };
    const Case cases[] = {{20, 20, 64}, {20, 7, 64}, {5, 1, 16}, {300, 150, 1}};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (const Case& c : cases) {
        DelayLine line;
        line.setSize(c.usable + DelayLine::guardSamples);
        std::vector<float> history; // everything that went into the line
        for (int b = 0; b < 20; ++b) {
            std::vector<float> c0(static_cast<size_t>(c.block)), c1(static_cast<size_t>(c.block));
            for (int j = 0; j < c.block; ++j) c0[j] = noise(rng), c1[j] = noise(rng);
            const std::vector<float> in0 = c0, in1 = c1;
            rotate(line, c0.data(), c1.data(), c.block, c.delay, 0.0f);
            for (int j = 0; j < c.block; ++j) {
                const long back = static_cast<long>(history.size()) - c.delay;
                const float d = back >= 0 ? history[static_cast<size_t>(back)] : 0.0f;
                ASSERT_NEAR(c0[j] * c0[j] + c1[j] * c1[j], in1[j] * in1[j] + d * d, 1e-5f);
                ASSERT_NEAR(c1[j] - c0[j], 1.41421356f * d, 1e-5f);
                history.push_back(in0[j]);
            }
        }
    }
}

TEST(Rotate, ScalesTheDelayedSignalByItsDecay) {
    DelayLine line;
    line.setSize(100 + DelayLine::guardSamples);
    float c0[64] = {}, c1[64] = {};
    const float k = 0.01f;
    rotate(line, c0, c1, 64, 10, k); // the gain settles on its target in one block
    std::fill(c0, c0 + 64, 0.0f);
    std::fill(c1, c1 + 64, 0.0f);
    c0[0] = 1.0f;
    rotate(line, c0, c1, 64, 10, k);
    const float g = expDecay(10.0f * k);
    EXPECT_NEAR(c0[10], -g * 0.70710677f, 1e-6f);
    EXPECT_NEAR(c1[10], g * 0.70710677f, 1e-6f);
}

TEST(Allpass, HasUnitGainAndTheGivenDelay) {
    DelayLine line;
    line.setSize(50 + DelayLine::guardSamples);
    std::vector<float> x(4096, 0.0f);
    x[0] = 1.0f;
    for (int start = 0; start < 4096; start += 64) allpass(line, x.data() + start, 64, 37, -0.618f, 0.0f);
    double energy = 0.0;
    for (float v : x) energy += static_cast<double>(v) * v;
    EXPECT_NEAR(energy, 1.0, 1e-4);
    EXPECT_NEAR(x[0], 0.618f, 1e-6f);
    EXPECT_NEAR(x[37], 1.0f - 0.618f * 0.618f, 1e-6f);
}

TEST(CrossfadeDelay, ChangingTheDelayFadesOverExactly64Samples) {
    // 10 ms to 300 ms at 48 kHz, in the diffuser's 16-frame chunks and ring size.
    constexpr int chunk = 16;
    const int before = 480, after = 14400;
    CrossfadeDelay delay;
    delay.setSize((16 + 14400) / 16 * 16, 1);
    std::vector<float> output;
    long t = 0;
    auto runChunks = [&](int count, int d) {
        for (int c = 0; c < count; ++c) {
            float in[chunk], out[chunk];
            for (int j = 0; j < chunk; ++j) in[j] = static_cast<float>(t + j);
            const float* ins[1] = {in};
            float* outs[1] = {out};
            delay.write(ins, chunk);
            delay.read(outs, chunk, d);
            output.insert(output.end(), out, out + chunk);
            t += chunk;
        }
    };
    runChunks(1000, before);
    const long change = t;
    runChunks(20, after);
    for (long i = 1000; i < change; ++i) ASSERT_FLOAT_EQ(output[i], static_cast<float>(i - before));
    for (long i = change; i < change + 64; ++i) {
        const float f = static_cast<float>(i - change) / 64.0f;
        ASSERT_NEAR(output[i],
                    (1.0f - f) * static_cast<float>(i - before) + f * static_cast<float>(i - after), 1e-2f)
            << i - change;
    }
    for (long i = change + 64; i < t; ++i) ASSERT_FLOAT_EQ(output[i], static_cast<float>(i - after));
    EXPECT_EQ(delay.current, after);
    EXPECT_EQ(delay.next, -1);
}

TEST(CrossfadeDelay, HoldsDelaysTheRingCannotKeep) {
    struct Case {
        int requested;
        int held;
    };
    const Case cases[] = {{5000, 100 - 16}, {-3, 0}, {40, 40}};
    for (const Case& c : cases) {
        CrossfadeDelay delay;
        delay.setSize(100, 2);
        long t = 0;
        float out[2][16];
        for (int b = 0; b < 20; ++b) {
            float in[16];
            for (int j = 0; j < 16; ++j) in[j] = static_cast<float>(t + j);
            const float* ins[2] = {in, in};
            float* outs[2] = {out[0], out[1]};
            delay.write(ins, 16);
            delay.read(outs, 16, c.requested);
            t += 16;
        }
        EXPECT_EQ(delay.current, c.held);
        for (int j = 0; j < 16; ++j) {
            EXPECT_FLOAT_EQ(out[0][j], static_cast<float>(t - 16 + j - c.held));
            EXPECT_FLOAT_EQ(out[1][j], out[0][j]);
        }
    }
}

} // namespace
} // namespace tarvo
