#include "engine/ResynthBank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace tarvo {
namespace {

constexpr double twoPi = 6.283185307179586476925286766559;

// A bank prepared for 44.1 kHz, with or without the track shelf.
class BankTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tables.prepare(44100.0)); }

    void prepare(bool shelf) {
        bank.prepare(tables);
        if (shelf) bank.setShelf(tables.sampleRate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
    }

    // One hop followed by reading its 64 samples; returns whether the bank reported silence.
    bool hopAndRead(float* out) {
        bank.hop();
        bool silent = false;
        EXPECT_EQ(bank.read(out, hopSize, silent), hopSize);
        return silent;
    }

    // Runs four hops (adding nothing more) and returns the 256 samples they release.
    std::vector<float> drainFrame() {
        std::vector<float> out(fftSize);
        for (int h = 0; h < 4; ++h) hopAndRead(out.data() + h * hopSize);
        return out;
    }

    EngineTables tables;
    ResynthBank bank;
};

TEST_F(BankTest, OneHopGivesAWindowedCosineCentredTwoHopsLater) {
    // The bank's frame for a spectrum is sum_k 2 (re_k cos t - im_k sin t) with
    // t = 2 pi k (p - 128) / 256, times the window: zero phase at sample 128, DC counted
    // like every other bin and the DC bin's imaginary part dropped.
    struct Case {
        const char* name;
        int band;  // band to set, or -1
        int extra; // extra bin to set, or -1
        Complex value;
    };
    const Case cases[] = {
        {"extra bin", -1, 18, {1.0f, 0.0f}},
        {"extra bin, imaginary", -1, 60, {0.0f, -0.5f}},
        {"band on DC and bin 1", 0, -1, {0.8f, 0.6f}},
        {"band between bins", 31, -1, {-0.3f, 0.7f}},
    };
    const auto& table = synthesisTable();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prepare(false);
        std::array<double, fftHalf + 1> re{}, im{};
        if (c.band >= 0) {
            std::vector<Complex> values(static_cast<size_t>(tables.bandCount));
            values[static_cast<size_t>(c.band)] = c.value;
            bank.addBands(values.data());
            const auto i = static_cast<size_t>(c.band);
            const auto bin = static_cast<size_t>(tables.bandBin[i]);
            re[bin] += tables.weightLow[i] * c.value.real();
            im[bin] += tables.weightLow[i] * c.value.imag();
            re[bin + 1] += tables.weightHigh[i] * c.value.real();
            im[bin + 1] += tables.weightHigh[i] * c.value.imag();
        } else {
            std::vector<Complex> values(static_cast<size_t>(tables.extraCount));
            values[static_cast<size_t>(c.extra)] = c.value;
            bank.addExtraBins(values.data());
            re[static_cast<size_t>(tables.firstExtraBin + c.extra)] = c.value.real();
            im[static_cast<size_t>(tables.firstExtraBin + c.extra)] = c.value.imag();
        }
        im[0] = 0.0;
        const std::vector<float> out = drainFrame();
        int loudest = 0;
        for (int p = 0; p < fftSize; ++p) {
            double frame = 0.0;
            for (int k = 0; k < fftHalf; ++k) {
                const double t = twoPi * k * (p - fftHalf) / fftSize;
                frame += 2.0 * (re[static_cast<size_t>(k)] * std::cos(t) -
                                im[static_cast<size_t>(k)] * std::sin(t));
            }
            const double expected = frame * table[static_cast<size_t>(p)] / fftSize;
            EXPECT_NEAR(out[static_cast<size_t>(p)], expected, 2e-5) << p;
            if (std::abs(out[static_cast<size_t>(p)]) > std::abs(out[static_cast<size_t>(loudest)]))
                loudest = p;
        }
        if (c.extra >= 0 && c.value.real() != 0.0f) {
            EXPECT_EQ(loudest, fftHalf);
        }
    }
}

TEST_F(BankTest, HopsOverlapIntoASteadyToneAndSpectrumIsClearedEachHop) {
    // A bin added every hop sounds as a steady cosine; its level is the windows' overlap sum.
    prepare(false);
    const int bin = 32; // eight samples per period, so every hop starts in phase
    std::vector<Complex> values(static_cast<size_t>(tables.extraCount));
    values[static_cast<size_t>(bin - tables.firstExtraBin)] = {1.0f, 0.0f};
    std::array<float, hopSize> out{};
    for (int h = 0; h < 8; ++h) {
        bank.addExtraBins(values.data());
        hopAndRead(out.data());
    }
    for (int p = 0; p < hopSize; p += 4) {
        const float peak = p % 8 == 0 ? out[static_cast<size_t>(p)] : -out[static_cast<size_t>(p)];
        EXPECT_GT(peak, 2.0f * 77.38f / fftSize) << p;
        EXPECT_LT(peak, 2.0f * 77.72f / fftSize) << p;
    }
}

TEST_F(BankTest, ReadsInPiecesMatchOneWholeRead) {
    prepare(true);
    ResynthBank whole;
    whole.prepare(tables);
    whole.setShelf(tables.sampleRate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
    std::vector<Complex> values(static_cast<size_t>(tables.bandCount), Complex(0.25f, -0.5f));
    for (int h = 0; h < 6; ++h) {
        if (h < 2) {
            bank.addBands(values.data());
            whole.addBands(values.data());
        }
        bank.hop();
        whole.hop();
        std::array<float, hopSize> expected{}, pieces{};
        bool silent = false;
        ASSERT_EQ(whole.read(expected.data(), 1000, silent), hopSize); // clamped to what is there
        int done = 0;
        for (int size = 1; done < hopSize; ++size)
            done += bank.read(pieces.data() + done, std::min(size, hopSize - done), silent);
        EXPECT_EQ(bank.read(pieces.data(), 5, silent), 0); // nothing left this hop
        EXPECT_EQ(bank.read(pieces.data(), -3, silent), 0);
        EXPECT_EQ(pieces, expected) << "hop " << h;
    }
}

TEST_F(BankTest, ReportsSilenceAfterSevenEmptyHopsOnceTheShelfRests) {
    for (bool shelf : {false, true}) {
        SCOPED_TRACE(shelf ? "shelf on" : "shelf off");
        prepare(shelf);
        std::vector<Complex> values(static_cast<size_t>(tables.extraCount), Complex(0.5f, 0.0f));
        bank.addExtraBins(values.data());
        std::array<float, hopSize> out{};
        EXPECT_FALSE(hopAndRead(out.data()));
        int firstSilent = 0;
        for (int h = 1; h < 400 && firstSilent == 0; ++h)
            if (hopAndRead(out.data())) firstSilent = h;
        if (shelf) {
            EXPECT_GE(firstSilent, 7);
        } else {
            EXPECT_EQ(firstSilent, 7);
        }
        EXPECT_LT(std::abs(bank.shelf().state), 1e-6f);
        EXPECT_LT(bank.subsonicCut().stateLevel(), 1e-6);
        // Once silent it stays silent with at most the shelf's last trickle, until something
        // is added.
        for (int h = 0; h < 20; ++h) {
            EXPECT_TRUE(hopAndRead(out.data()));
            for (float v : out) EXPECT_LT(std::abs(v), 1e-5f);
        }
        bank.addExtraBins(values.data());
        EXPECT_FALSE(hopAndRead(out.data()));
    }
}

TEST_F(BankTest, SilenceReportSurvivesTheSaturatedHopCount) {
    // 2^30 empty hops is about 18 days of idling at 44.1 kHz; the count stops there and the
    // bank must still report silence.
    prepare(true);
    for (int h = 0; h < (1 << 30) + 4; ++h) bank.hop();
    EXPECT_EQ(bank.silentHops(), 1 << 30);
    std::array<float, hopSize> out{};
    bool silent = false;
    bank.read(out.data(), hopSize, silent);
    EXPECT_TRUE(silent);
}

TEST_F(BankTest, ResetClearsPendingSoundButKeepsTheShelfState) {
    prepare(true);
    std::vector<Complex> values(static_cast<size_t>(tables.bandCount), Complex(1.0f, 0.0f));
    bank.addBands(values.data());
    std::array<float, hopSize> out{};
    for (int h = 0; h < 3; ++h) hopAndRead(out.data());
    const float shelfState = bank.shelf().state;
    ASSERT_NE(shelfState, 0.0f);
    bank.addBands(values.data());
    bank.reset();
    EXPECT_EQ(bank.shelf().state, shelfState);
    bool silent = false;
    EXPECT_EQ(bank.read(out.data(), hopSize, silent), 0);
    // The spectrum added before the reset is gone: the next hops carry only the shelf's tail.
    bank.hop();
    EXPECT_EQ(bank.silentHops(), 1);
}

TEST(LowShelf, GainIsTenAtDcAndAboutOneAtNyquist) {
    for (double rate : {8000.0, 44100.0, 96000.0, 384000.0}) {
        SCOPED_TRACE(rate);
        LowShelf dc;
        dc.setup(rate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
        LowShelf nyquist = dc;
        float y = 0.0f;
        float z = 0.0f;
        for (int i = 0; i < 200000; ++i) {
            y = dc.process(1.0f);
            z = nyquist.process(i % 2 == 0 ? 1.0f : -1.0f);
        }
        EXPECT_NEAR(y, 10.0f, 0.05f);
        EXPECT_NEAR(std::abs(z), 1.0f, 0.05f);
    }
}

TEST(LowShelf, UnusableSettingsPassTheInput) {
    for (double corner : {0.0, -140.0, std::nan("")}) {
        LowShelf shelf;
        shelf.setup(44100.0, corner, 10.0);
        EXPECT_EQ(shelf.process(0.5f), 0.5f) << corner;
        EXPECT_EQ(shelf.process(-0.25f), -0.25f) << corner;
    }
}

TEST_F(BankTest, ASteadyDcBinLeavesNoOffsetThroughTheTrackFilters) {
    // The lowest band sits almost wholly on the DC bin. Held steady it is a DC offset, which
    // the shelf alone would raise tenfold; the subsonic cut after it must take it away.
    std::vector<Complex> values(static_cast<size_t>(tables.bandCount));
    values[0] = {0.05f, 0.0f};
    const int hops = 2 * 44100 / hopSize;
    std::array<float, hopSize> out{};
    for (bool shelf : {false, true}) {
        SCOPED_TRACE(shelf ? "track filters" : "no filters");
        prepare(shelf);
        double lastMean = 0.0;
        for (int h = 0; h < hops; ++h) {
            bank.addBands(values.data());
            hopAndRead(out.data());
            if (h >= hops - 10)
                for (float v : out) lastMean += v / (10.0 * hopSize);
        }
        if (shelf) {
            EXPECT_LT(std::abs(lastMean), 1e-5);
        } else {
            EXPECT_GT(lastMean, 1e-3);
        }
    }
}

TEST(SubsonicCut, RemovesWhatLiesBelowTheLowestBandAndKeepsTheBand) {
    struct Case {
        double hz;
        double minDb, maxDb;
    };
    // Below 20 Hz at least 15 dB and 43 dB an octave lower; the lowest band (17 to 31 Hz)
    // keeps its upper half, the next band (38 Hz) and everything above its level.
    const Case cases[] = {{10.0, -49.0, -43.0}, {15.0, -31.0, -26.0}, {20.0, -17.5, -15.0},
                          {24.7, -8.5, -7.0},   {31.0, -2.2, -1.4},   {38.0, -0.5, -0.1},
                          {100.0, -0.01, 0.01}};
    for (double rate : {8000.0, 44100.0, 96000.0, 384000.0}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << rate << " Hz rate, " << c.hz << " Hz");
            SubsonicCut cut;
            cut.setup(rate, ResynthBank::subsonicCutHz);
            // Settle for a second, then measure the amplitude over whole periods.
            const auto settle = static_cast<long>(rate);
            const auto measure = static_cast<long>(std::lround(4.0 * rate / c.hz));
            double peak = 0.0;
            for (long i = 0; i < settle + measure; ++i) {
                const float y = cut.process(static_cast<float>(std::sin(twoPi * c.hz * i / rate)));
                if (i >= settle) peak = std::max(peak, std::abs(static_cast<double>(y)));
            }
            const double db = 20.0 * std::log10(peak);
            EXPECT_GT(db, c.minDb);
            EXPECT_LT(db, c.maxDb);
        }
    }
}

// The voices end once what is left of them, raised by the track's output filters at most by
// this gain, is inaudible: were the filters' impulse response to sum to more, a voice would
// be cut off while still audible.
TEST(SubsonicCut, TheOutputFiltersStayWithinTheirPeakGain) {
    for (double rate : {8000.0, 44100.0, 96000.0, 384000.0}) {
        SCOPED_TRACE(rate);
        LowShelf shelf;
        shelf.setup(rate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
        SubsonicCut cut;
        cut.setup(rate, ResynthBank::subsonicCutHz);
        double sum = 0.0;
        for (long i = 0; i < static_cast<long>(4.0 * rate); ++i)
            sum += std::abs(static_cast<double>(cut.process(shelf.process(i == 0 ? 1.0f : 0.0f))));
        EXPECT_LT(sum, ResynthBank::outputFilterPeakGain);
    }
}

TEST(SubsonicCut, UnusableCornersPassTheInput) {
    for (double corner : {0.0, -20.0, 30000.0, std::nan("")}) {
        SubsonicCut cut;
        cut.setup(44100.0, corner);
        EXPECT_EQ(cut.process(0.5f), 0.5f) << corner;
        EXPECT_EQ(cut.process(-0.25f), -0.25f) << corner;
    }
}

TEST(ResynthBankRates, FullSpectrumStaysFiniteAtExtremeRates) {
    for (double rate : {8000.0, 11025.0, 192000.0, 384000.0}) {
        SCOPED_TRACE(rate);
        EngineTables tables;
        ASSERT_TRUE(tables.prepare(rate));
        ResynthBank bank;
        bank.prepare(tables);
        bank.setShelf(rate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
        const std::vector<Complex> bands(static_cast<size_t>(tables.bandCount), Complex(1.0f, 0.5f));
        const std::vector<Complex> extras(static_cast<size_t>(tables.extraCount) + 1, Complex(1.0f, -0.5f));
        std::vector<float> out(static_cast<size_t>(tables.hopFrames));
        for (int h = 0; h < 16; ++h) {
            bank.addBands(bands.data());
            bank.addExtraBins(extras.data());
            bank.hop();
            bool silent = true;
            // A resampling bank (8 kHz) gives what the hop's grid samples make readable.
            const int got = bank.read(out.data(), tables.hopFrames, silent);
            if (tables.resampled())
                ASSERT_GT(got, 0);
            else
                ASSERT_EQ(got, tables.hopFrames);
            EXPECT_FALSE(silent);
            for (float v : out) {
                ASSERT_TRUE(std::isfinite(v));
                EXPECT_LT(std::abs(v), 1000.0f);
            }
        }
    }
}

// A bank at a rate without a fast hop near 1.45 ms (32 kHz) runs the grid of 44.1 kHz and
// resamples: a bin below the output's Nyquist frequency plays as the 44.1 kHz bank plays it,
// a clean tone at the same level, and a bin above it (19 kHz) does not fold back; the samples
// come out at 32 000 per 44 100 grid samples, none lost or repeated.
TEST(ResynthBankRates, AResamplingBankPlaysTheGridBelowItsNyquistFrequencyOnly) {
    // Bins at multiples of four keep their phase from hop to hop: a steady tone.
    constexpr int toneBin = 28;   // 4823 Hz
    constexpr int aboveBin = 112; // 19 294 Hz
    constexpr int hops = 400;
    struct Played {
        std::vector<float> out;
        double rate;
    };
    const auto play = [](double rate, int bin) {
        EngineTables tables;
        EXPECT_TRUE(tables.prepare(rate));
        ResynthBank bank;
        bank.prepare(tables);
        std::vector<Complex> extras(static_cast<size_t>(tables.extraCount));
        extras[static_cast<size_t>(bin - tables.firstExtraBin)] = Complex(1.0f, 0.0f);
        Played played{{}, rate};
        std::array<float, 4 * hopSize> block{};
        for (int h = 0; h < hops; ++h) {
            bank.addExtraBins(extras.data());
            bank.hop();
            bool silent = true;
            const int got = bank.read(block.data(), static_cast<int>(block.size()), silent);
            played.out.insert(played.out.end(), block.begin(), block.begin() + got);
        }
        return played;
    };
    // Level and purity over the steady middle: the tone's amplitude by projection, and what
    // is left after removing it.
    const auto measure = [](const Played& p, double hz, double& amplitude, double& residual) {
        const size_t from = p.out.size() / 4, to = 3 * p.out.size() / 4;
        double c = 0.0, s = 0.0;
        for (size_t i = from; i < to; ++i) {
            c += p.out[i] * std::cos(twoPi * hz * i / p.rate);
            s += p.out[i] * std::sin(twoPi * hz * i / p.rate);
        }
        const double n = static_cast<double>(to - from);
        c *= 2.0 / n;
        s *= 2.0 / n;
        amplitude = std::hypot(c, s);
        double rest = 0.0;
        for (size_t i = from; i < to; ++i) {
            const double e =
                p.out[i] - c * std::cos(twoPi * hz * i / p.rate) - s * std::sin(twoPi * hz * i / p.rate);
            rest += e * e;
        }
        residual = std::sqrt(2.0 * rest / n);
    };
    const double toneHz = toneBin * 44100.0 / fftSize;
    double reference = 0.0, referenceRest = 0.0;
    measure(play(44100.0, toneBin), toneHz, reference, referenceRest);
    ASSERT_GT(reference, 0.1);

    const Played tone = play(32000.0, toneBin);
    // Every grid sample made final is read: 64 per hop, 32 000 outputs per 44 100 of them.
    EXPECT_NEAR(static_cast<double>(tone.out.size()), hops * hopSize * 32000.0 / 44100.0, 1.0);
    double amplitude = 0.0, rest = 0.0;
    measure(tone, toneHz, amplitude, rest);
    EXPECT_NEAR(20.0 * std::log10(amplitude / reference), 0.0, 0.01);
    // What is left is the overlap-add's ripple at the hop rate, as at 44.1 kHz; a lost or
    // repeated sample would leave a good part of the tone.
    EXPECT_LT(rest, referenceRest + 1e-4 * reference);

    const Played above = play(32000.0, aboveBin);
    double peak = 0.0;
    for (float v : above.out) peak = std::max(peak, static_cast<double>(std::abs(v)));
    EXPECT_LT(peak, 1e-3 * reference);
}

} // namespace
} // namespace tarvo
