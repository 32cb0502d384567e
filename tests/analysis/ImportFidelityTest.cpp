#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/ImportFidelity.h"
#include "engine/Blob.h"
#include "support/SignalPower.h"

namespace tarvo {
namespace {

constexpr double twoPi = 6.283185307179586;

// Deterministic white noise in -1..1.
struct Noise {
    uint32_t state = 12345;
    double next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state) / 4294967296.0 * 2.0 - 1.0;
    }
};

// A burst of noise decaying with the given time constant, lasting the given seconds.
std::vector<float> noiseBurst(double decay, double seconds) {
    Noise noise;
    std::vector<float> out(static_cast<size_t>(seconds * fidelityRate));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] =
            static_cast<float>(0.5 * noise.next() * std::exp(-static_cast<double>(i) / fidelityRate / decay));
    return out;
}

std::vector<float> decayingTone(double hz, double decay, double seconds) {
    std::vector<float> out(static_cast<size_t>(seconds * fidelityRate));
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / fidelityRate;
        out[i] = static_cast<float>(0.5 * std::sin(twoPi * hz * t) * std::exp(-t / decay));
    }
    return out;
}

// A short burst of noise on a ringing tone as loud as the burst, which swells in over 2 ms: a
// drum whose body sounds on after its stick.
std::vector<float> clickOnABody(double hz, double decay, double seconds) {
    std::vector<float> out = decayingTone(hz, decay, seconds);
    const std::vector<float> click = noiseBurst(0.01, seconds);
    const double swell = 0.002 * fidelityRate;
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(std::min(1.0, static_cast<double>(i) / swell) * out[i] + 0.8 * click[i]);
    return out;
}

FidelityFigures importAndReplay(const std::vector<float>& recording) {
    Blob blob;
    EXPECT_TRUE(importedBlob(recording, fidelityRate, blob));
    return fidelityOf(recording,
                      replayBlob(blob, static_cast<double>(recording.size()) / fidelityRate + 1.0));
}

// Synthetic hits imported and replayed keep their envelope and spectrum, peak on time, end
// close to where the recording falls 60 dB below its peak and stay silent after it.
TEST(ImportFidelity, ShortHitsComeBackWithTheirEnvelope) {
    struct Case {
        const char* name;
        std::vector<float> recording;
        double envelopeDb; // the largest envelope and spectrum errors allowed
        double spectrumDb;
        double peakLateMs = 15.0;
        double cellDb = 7.0; // the largest cell error allowed
    };
    // A click is shorter than the engine's frame: its replay is smeared over a few hops. The
    // track's cut below hearing delays a 120 Hz tone by 1 ms, which can move its loudest
    // frame one frame (1.45 ms) later; it delays a click's lowest cells (40 to 60 Hz) by 5 to
    // 13 ms, which costs the click 0.2 dB of cell error.
    const Case cases[] = {
        {"click", noiseBurst(0.002, 0.02), 5.5, 5.0, 15.0, 7.2},
        {"rim", noiseBurst(0.01, 0.1), 4.0, 4.0},
        {"decaying tone", decayingTone(440.0, 0.08, 0.8), 5.5, 4.0},
        {"low decaying tone", decayingTone(120.0, 0.1, 0.8), 4.0, 4.0, 17.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FidelityFigures f = importAndReplay(c.recording);
        EXPECT_LT(f.cellErrorDb, c.cellDb);
        EXPECT_LT(f.envelopeErrorDb, c.envelopeDb);
        EXPECT_LT(f.spectrumErrorDb, c.spectrumDb);
        EXPECT_LT(f.peakLateMs, c.peakLateMs);
        EXPECT_LT(std::abs(f.replayEndMs - f.recordingEndMs), 100.0);
        EXPECT_LT(f.silentTailDb, -60.0);
    }
}

// Sounds that outlast the plane go on in the Blob's tail, whose decay the last time knots carry:
// it must fall as fast as the recording does and not ring on where the recording is silent,
// also in the rows whose bands are already silent where the plane ends (the click over a
// ringing body, whose replay rang on at -35 dB for a second).
TEST(ImportFidelity, LongSoundsDecayAfterThePlaneLikeTheirRecordings) {
    struct Case {
        const char* name;
        std::vector<float> recording;
    };
    const Case cases[] = {
        {"cymbal-like noise", noiseBurst(0.25, 3.0)},
        {"ringing tone", decayingTone(700.0, 0.2, 3.0)},
        {"click over a ringing body", clickOnABody(300.0, 0.2, 1.5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FidelityFigures f = importAndReplay(c.recording);
        EXPECT_GT(f.recordingEndMs, 1000.0);
        EXPECT_LT(f.silentTailDb, -60.0);
        EXPECT_LT(f.replayEndMs - f.recordingEndMs, 100.0);
    }
}

// A recording that stops while it still sounds (its file ends 20 to 40 dB below its peak) is
// silent after its end; the replay's tail, which follows the decay before the end, rang on
// there at -47 to -57 dB unless the last knots bend faster, and a low ring cut off inside the
// plane left a wash at -31 dB for a second where the fit to the render had raised the time
// points after its end above sounding. The low rings are neighbours on purpose: cut off at
// 0.5 s, the 70 Hz one was bent just far enough to pass the check, and replayed at -59.9 dB
// after its end (ending 103 ms late) or -61.6 dB depending on the build's rounding, the 90 Hz
// one scored 4.6 or 9.9 dB of envelope error; cut off at 0.55 s, a row whose bands are quiet
// where the plane ends kept its tail and rang on at -27 dB.
TEST(ImportFidelity, ARecordingThatStopsSoundingIsFollowedBySilence) {
    struct Case {
        const char* name;
        std::vector<float> recording;
        double envelopeDb; // the largest envelope error allowed: the faster bend costs the end
    };
    // Cut off 40 ms before the plane's end, a ring loses more of its end to the bend.
    const Case cases[] = {
        {"noise cut off in its decay", noiseBurst(0.3, 0.8), 5.5},
        {"tone cut off in its decay", decayingTone(700.0, 0.3, 0.8), 5.5},
        {"60 Hz ring cut off at 0.5 s", clickOnABody(60.0, 0.3, 0.5), 5.5},
        {"70 Hz ring cut off at 0.5 s", clickOnABody(70.0, 0.3, 0.5), 5.5},
        {"90 Hz ring cut off at 0.5 s", clickOnABody(90.0, 0.3, 0.5), 5.5},
        {"60 Hz ring cut off at 0.55 s", clickOnABody(60.0, 0.3, 0.55), 6.5},
        {"70 Hz ring cut off at 0.55 s", clickOnABody(70.0, 0.3, 0.55), 6.5},
        {"90 Hz ring cut off at 0.55 s", clickOnABody(90.0, 0.3, 0.55), 6.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FidelityFigures f = importAndReplay(c.recording);
        EXPECT_NEAR(f.recordingEndMs, 1000.0 * static_cast<double>(c.recording.size()) / fidelityRate, 5.0);
        EXPECT_LT(std::abs(f.replayEndMs - f.recordingEndMs), 100.0);
        EXPECT_LT(f.silentTailDb, -60.0);
        EXPECT_LT(f.envelopeErrorDb, c.envelopeDb);
    }
}

// A body as loud as the click that starts it: in the engine a tone's crowded knots play louder
// than a click's spread ones, and the replay's loudest moment came 52 ms after the recording's
// unless the row's attack is raised against its body.
TEST(ImportFidelity, ABodyDoesNotOutgrowItsAttack) {
    struct Case {
        double hz, decay, seconds;
    };
    // The 90 Hz body lies below the band from which attacks are raised: its decay is lowered
    // against the attack instead (it peaked 52 ms late).
    for (const Case& c : {Case{300.0, 0.15, 0.5}, Case{90.0, 0.3, 0.23}}) {
        SCOPED_TRACE(c.hz);
        const FidelityFigures f = importAndReplay(clickOnABody(c.hz, c.decay, c.seconds));
        EXPECT_LT(f.peakLateMs, 10.0);
        EXPECT_LT(f.envelopeErrorDb, 4.0);
    }
}

// Where a replay's energy lies: its strongest frequency and its share below 20 Hz, from one
// transform over the whole replay.
struct ReplaySpectrum {
    double strongestHz;
    double belowHearingDb;
};
ReplaySpectrum replaySpectrum(const std::vector<float>& x) {
    const test::PowerSpectrum spectrum = test::powerSpectrum(x, fidelityRate);
    double total = 0.0, below = 0.0, strongest = 0.0;
    size_t strongestBin = 0;
    for (size_t k = 0; k < spectrum.power.size(); ++k) {
        const double e = spectrum.power[k];
        total += e;
        if (spectrum.hz(k) < 20.0) below += e;
        if (e > strongest) {
            strongest = e;
            strongestBin = k;
        }
    }
    return {spectrum.hz(strongestBin), 10.0 * std::log10(below / total)};
}

// A decaying tone imported and replayed keeps its pitch (its knots crowd at its own band, not
// one or two below) and puts less than 0.1 % of its energy below hearing. Tones below 150 Hz
// sit on the bank's two lowest bins, which spread some of their energy below 20 Hz, and a
// tone that starts at full level and decays has some there itself (60 Hz: -22 dB, 100 Hz:
// -27 dB): the track's cut below hearing takes both away.
TEST(ImportFidelity, TonesComeBackAtTheirPitch) {
    for (const double hz : {60.0, 100.0, 150.0, 250.0, 500.0, 1000.0}) {
        SCOPED_TRACE(hz);
        Blob blob;
        ASSERT_TRUE(importedBlob(decayingTone(hz, 0.2, 0.8), fidelityRate, blob));
        const ReplaySpectrum s = replaySpectrum(replayBlob(blob, 2.0));
        EXPECT_NEAR(s.strongestHz, hz, 0.1 * hz);
        EXPECT_LT(s.belowHearingDb, -30.0);
    }
}

// The measure itself: a replay identical to the recording scores 0; one that is louder by a
// constant, or starts a little later, too; one that decays too slowly, or keeps sounding,
// does not.
TEST(ImportFidelity, TheMeasureSeesWhatDiffers) {
    const std::vector<float> recording = noiseBurst(0.05, 0.5);
    std::vector<float> louderAndLater(128, 0.0f);
    for (float s : recording) louderAndLater.push_back(2.0f * s);
    std::vector<float> ringing = recording;
    ringing.resize(recording.size() * 3, 0.0f);
    Noise noise;
    for (size_t i = recording.size(); i < ringing.size(); ++i)
        ringing[i] = static_cast<float>(0.01 * noise.next());

    const FidelityFigures same = fidelityOf(recording, recording);
    EXPECT_NEAR(same.cellErrorDb, 0.0, 1e-9);
    EXPECT_NEAR(same.envelopeErrorDb, 0.0, 1e-9);
    EXPECT_NEAR(same.spectrumErrorDb, 0.0, 1e-9);
    EXPECT_NEAR(same.peakLateMs, 0.0, 1e-9);

    const FidelityFigures shifted = fidelityOf(recording, louderAndLater);
    EXPECT_NEAR(shifted.cellErrorDb, 0.0, 1e-6);
    EXPECT_NEAR(shifted.shiftMs, 128.0 / fidelityRate * 1000.0, 1e-6);

    const FidelityFigures slow = fidelityOf(recording, noiseBurst(0.5, 0.5));
    EXPECT_GT(slow.cellErrorDb, 5.0);
    EXPECT_GT(slow.envelopeErrorDb, 5.0);
    EXPECT_LT(slow.spectrumErrorDb, 1.0);

    const FidelityFigures washed = fidelityOf(recording, ringing);
    EXPECT_GT(washed.replayEndMs - washed.recordingEndMs, 500.0);
    EXPECT_GT(washed.silentTailDb, -60.0);
}

} // namespace
} // namespace tarvo
