// What the track's voice controls do to the sound, measured on the engine's output against
// figures worked out by hand from the controls' definitions. The fixtures are Blobs that play
// one steady partial: every band but one is too sparse to sound, so a level or a pitch of the
// output can be read off exactly and compared with what the control promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dsp/Fft.h"
#include "engine/BandSynth.h"
#include "engine/CanonicalPlane.h"

namespace tarvo {
namespace {

constexpr int hop = BandSynth::hopSize;
// The note that plays track 0.
constexpr int note = 36;
constexpr float unityVelocity = 100.0f / 127.0f;
// Spectrum length of the pitch measurement: 2.7 Hz per bin at 44.1 kHz.
constexpr int pitchLog2 = 14;

// A Blob whose six frequency columns crowd 14 knots into band `band` and spread the others
// too thinly to pass the density threshold; its time rows stay even, so the partial holds
// steady over the whole plane (about 0.6 s at Timescale 1).
Blob toneBlob(int band) {
    Blob blob;
    blob.clear();
    constexpr int crowded = 14;
    // Below the band: steps of at most 4.4 bands, wider than the 4 bands per knot at which
    // a band starts to sound.
    const int below = std::max(1, static_cast<int>(std::ceil(band / 4.4)));
    const int above = Blob::freqKnotCount - 1 - below - crowded;
    for (auto& column : blob.freqWarps) {
        int k = 0;
        for (int i = 0; i < below; ++i, ++k)
            column[static_cast<size_t>(k)] = band * static_cast<float>(i) / below;
        for (int i = 0; i < crowded; ++i, ++k)
            column[static_cast<size_t>(k)] = band + static_cast<float>(i) / crowded;
        for (int i = 0; i <= above; ++i, ++k)
            column[static_cast<size_t>(k)] =
                band + 1.0f + (plane::bandCount - band - 1.0f) * static_cast<float>(i) / above;
    }
    blob.normalise();
    return blob;
}

// Slots A and B of track 0; a slot whose band is negative is empty (it still holds the
// knots of band 40, as a slot does after its sound was removed).
struct Slots {
    int bandA;
    int bandB = -1;
};

struct Setting {
    float velocity = unityVelocity;
    std::vector<std::pair<int, float>> params; // track parameter, plain value
    int noteOffHop = -1;                       // the hop before which the note ends; negative: none
};

class VoiceRender {
public:
    VoiceRender(float rate, Slots slots, const Setting& setting)
        : rate_(rate), engine_(std::make_unique<BandSynth>()) {
        engine_->prepare(rate);
        TrackBlobs& blobs = engine_->tracks[0].blobs;
        blobs.slotA.working = toneBlob(slots.bandA < 0 ? 40 : slots.bandA);
        blobs.slotA.working.present = slots.bandA < 0 ? 0 : 1;
        blobs.slotB.working = toneBlob(slots.bandB < 0 ? 40 : slots.bandB);
        blobs.slotB.working.present = slots.bandB < 0 ? 0 : 1;
        blobs.publish();
        const int base = engine_->layout.trackBase[0];
        for (const auto& [param, value] : setting.params) engine_->param(base + param).set(value);
        noteOffFrame_ = setting.noteOffHop * hop;
        engine_->noteEvent(note, setting.velocity, 0);
    }

    // Renders `seconds` of the main output's left channel, one hop per call.
    std::vector<float> render(float seconds) {
        const int frames = static_cast<int>(seconds * rate_);
        std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
        for (int done = 0; done < frames; done += hop) {
            if (done == noteOffFrame_) engine_->noteEvent(note, 0.0f, 0);
            const int n = std::min(hop, frames - done);
            float* outputs[] = {left.data() + done, right.data() + done};
            engine_->renderSubBlock(outputs, n, 2, 0);
        }
        return left;
    }

private:
    float rate_;
    std::unique_ptr<BandSynth> engine_;
    int noteOffFrame_;
};

// Mean power in dB of x between two times.
double levelDb(const std::vector<float>& x, float rate, double from, double to) {
    double sum = 0.0;
    const auto first = static_cast<size_t>(from * rate), last = static_cast<size_t>(to * rate);
    for (size_t i = first; i < last; ++i) sum += static_cast<double>(x[i]) * x[i];
    return 10.0 * std::log10(sum / static_cast<double>(last - first) + 1e-300);
}

// Power in dB of x from `from` seconds on within half a band of band's centre (a Hann-windowed
// spectrum): the partial alone, without the faint neighbours a tone Blob leaves.
double partialDb(const std::vector<float>& x, float rate, double from, int band) {
    constexpr int log2n = 13;
    constexpr int n = 1 << log2n;
    Fft fft(log2n, 1);
    std::vector<float> buffer(n), spectrum(n);
    const auto start = static_cast<size_t>(from * rate);
    for (int i = 0; i < n; ++i)
        buffer[static_cast<size_t>(i)] =
            x[start + static_cast<size_t>(i)] * static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / n));
    fft.forward(buffer.data(), spectrum.data());
    const double lo = plane::bandCentreHz(band - 0.5), hi = plane::bandCentreHz(band + 0.5);
    double sum = 0.0;
    for (int k = 1; k < n / 2; ++k) {
        const double f = k * static_cast<double>(rate) / n;
        if (f < lo || f >= hi) continue;
        const double re = spectrum[static_cast<size_t>(2 * k)], im = spectrum[static_cast<size_t>(2 * k + 1)];
        sum += re * re + im * im;
    }
    return 10.0 * std::log10(sum + 1e-300);
}

// Frequency in Hz of the loudest spectral peak of x from `from` seconds on: a Hann-windowed
// spectrum with the peak placed between its bins by a parabola through the log magnitudes.
double peakHz(const std::vector<float>& x, float rate, double from) {
    constexpr int n = 1 << pitchLog2;
    Fft fft(pitchLog2, 1);
    std::vector<float> buffer(n), spectrum(n);
    const auto start = static_cast<size_t>(from * rate);
    for (int i = 0; i < n; ++i)
        buffer[static_cast<size_t>(i)] =
            x[start + static_cast<size_t>(i)] * static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / n));
    fft.forward(buffer.data(), spectrum.data());
    std::vector<double> magnitude(n / 2);
    for (int k = 1; k < n / 2; ++k) {
        const double re = spectrum[static_cast<size_t>(2 * k)], im = spectrum[static_cast<size_t>(2 * k + 1)];
        magnitude[static_cast<size_t>(k)] = std::log(std::sqrt(re * re + im * im) + 1e-30);
    }
    const auto loudest = std::max_element(magnitude.begin() + 2, magnitude.end() - 1) - magnitude.begin();
    const double a = magnitude[static_cast<size_t>(loudest - 1)], b = magnitude[static_cast<size_t>(loudest)],
                 c = magnitude[static_cast<size_t>(loudest + 1)];
    const double offset = 0.5 * (a - c) / (a - 2.0 * b + c);
    return (static_cast<double>(loudest) + offset) * rate / n;
}

// Level changes against a reference render of the same Blob. Window in seconds: the plane
// part, where the partial holds steady, or a stretch after the note off.
struct LevelCase {
    const char* name;
    int band;
    Setting reference;
    Setting changed;
    double from, to;
    double expectedDb; // of changed against reference; -inf: silent
    double toleranceDb;
};

// Filter s(x) = x^2 (3 - 2x) at x = 0.5 is 0.5: -6.02 dB. A band amplitude reaches the output
// as the square of the reader's value, so a velocity factor g = (v * 127 / 100)^(Dynamics /
// 100) changes the level by 40 log10(g) dB. Damping divides band k by (2 k d)^3 + 1, where d
// grows by (Damping / 100)^2 per second of Release after the note off: with Release 10 s and
// Damping 100, d = t / 10, so 0.25 s after a note off at hop 69 (0.1 s) band 10 drops by
// 1.02 dB, band 20 by 6.02 dB and band 40 by 19.08 dB; the window lies one and a half hops later, the
// delay of the synthesis. Hop 206 is 0.3 s.
const LevelCase levelCases[] = {
    {"Dynamics 0: a soft note plays at full level",
     20,
     {unityVelocity, {{trackDynamics, 0}}},
     {20.0f / 127.0f, {{trackDynamics, 0}}},
     0.15,
     0.35,
     0.0,
     0.01},
    {"Dynamics 100: half the velocity",
     20,
     {unityVelocity, {{trackDynamics, 100}}},
     {50.0f / 127.0f, {{trackDynamics, 100}}},
     0.15,
     0.35,
     40.0 * std::log10(0.5),
     0.01},
    {"Dynamics 50: velocity 127 is louder than unity",
     20,
     {unityVelocity, {{trackDynamics, 50}}},
     {1.0f, {{trackDynamics, 50}}},
     0.15,
     0.35,
     20.0 * std::log10(1.27),
     0.01},
    {"Filter +50 halves band 20", 20, {}, {unityVelocity, {{trackFilter, 50}}}, 0.15, 0.35, -6.02, 0.1},
    {"Filter +50 passes band 30", 30, {}, {unityVelocity, {{trackFilter, 50}}}, 0.15, 0.35, 0.0, 0.1},
    {"Filter +50 removes band 8", 8, {}, {unityVelocity, {{trackFilter, 50}}}, 0.15, 0.35, -INFINITY, 0},
    {"Filter -50 halves band 50", 50, {}, {unityVelocity, {{trackFilter, -50}}}, 0.15, 0.35, -6.02, 0.1},
    {"Filter -50 passes band 30", 30, {}, {unityVelocity, {{trackFilter, -50}}}, 0.15, 0.35, 0.0, 0.1},
    {"Filter -50 removes band 65", 65, {}, {unityVelocity, {{trackFilter, -50}}}, 0.15, 0.35, -INFINITY, 0},
    {"Damping does nothing before the note off",
     40,
     {unityVelocity, {{trackDamping, 0}}, 206},
     {unityVelocity, {{trackDamping, 100}}, 206},
     0.1,
     0.3,
     0.0,
     0.01},
    {"Damping 100 after 0.25 s of a 10 s release, band 10",
     10,
     {unityVelocity, {{trackDamping, 0}, {trackRelease, 10}}, 69},
     {unityVelocity, {{trackDamping, 100}, {trackRelease, 10}}, 69},
     0.3516,
     0.3574,
     -20.0 * std::log10(1.125),
     0.3},
    {"Damping 100 after 0.25 s of a 10 s release, band 20",
     20,
     {unityVelocity, {{trackDamping, 0}, {trackRelease, 10}}, 69},
     {unityVelocity, {{trackDamping, 100}, {trackRelease, 10}}, 69},
     0.3516,
     0.3574,
     -20.0 * std::log10(2.0),
     0.3},
    {"Damping 100 after 0.25 s of a 10 s release, band 40",
     40,
     {unityVelocity, {{trackDamping, 0}, {trackRelease, 10}}, 69},
     {unityVelocity, {{trackDamping, 100}, {trackRelease, 10}}, 69},
     0.3516,
     0.3574,
     -20.0 * std::log10(9.0),
     0.5},
};

TEST(VoiceControls, LevelChangesMatchTheControlsFormulas) {
    constexpr float rate = 44100.0f;
    for (const LevelCase& c : levelCases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> reference = VoiceRender(rate, {c.band}, c.reference).render(0.4f);
        const std::vector<float> changed = VoiceRender(rate, {c.band}, c.changed).render(0.4f);
        ASSERT_GT(levelDb(reference, rate, c.from, c.to), -60.0);
        if (std::isinf(c.expectedDb)) {
            // The partial is gone: more than 100 dB down.
            EXPECT_LT(partialDb(changed, rate, c.from, c.band) - partialDb(reference, rate, c.from, c.band),
                      -100.0);
        } else {
            EXPECT_NEAR(levelDb(changed, rate, c.from, c.to) - levelDb(reference, rate, c.from, c.to),
                        c.expectedDb, c.toleranceDb);
        }
    }
}

// Where the sound's one partial comes out, against the centre of the band expected to sound.
struct PitchCase {
    const char* name;
    Slots slots;
    Setting setting;
    double expectedBand;
};

const PitchCase pitchCases[] = {
    {"Frequency +400 mel moves band 20 up ten bands", {20}, {unityVelocity, {{trackFrequency, 400}}}, 30},
    {"Frequency -400 mel moves band 30 down ten bands", {30}, {unityVelocity, {{trackFrequency, -400}}}, 20},
    {"Frequency +800 mel moves band 20 up twenty bands", {20}, {unityVelocity, {{trackFrequency, 800}}}, 40},
    {"Transform 100 without slot B plays slot A", {20, -1}, {unityVelocity, {{trackTransform, 100}}}, 20},
    {"Transform 0 without slot A plays slot B", {-1, 30}, {unityVelocity, {{trackTransform, 0}}}, 30},
    {"Model Transform: a hard note without slot B plays slot A",
     {20, -1},
     {1.0f, {{trackModel, 1}, {trackDynamics, 0}}},
     20},
    {"Model Transform: a soft note without slot A plays slot B",
     {-1, 30},
     {0.1f, {{trackModel, 1}, {trackDynamics, 0}}},
     30},
};

TEST(VoiceControls, PitchFollowsFrequencyShiftAndThePresentSlot) {
    constexpr float rate = 44100.0f;
    for (const PitchCase& c : pitchCases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> out = VoiceRender(rate, c.slots, c.setting).render(0.5f);
        ASSERT_GT(levelDb(out, rate, 0.05, 0.4), -60.0);
        // Within a fifth of the band spacing of the expected band's centre.
        EXPECT_NEAR(peakHz(out, rate, 0.05), plane::bandCentreHz(c.expectedBand),
                    0.2 * plane::bandWidthHz(c.expectedBand));
    }
}

// Velocity models that bend one control play exactly what the bent control plays: with the
// straight velocity curve, cv = velocity, "Timescale" is multiplied by 2 cv and "Contrast"
// gains 2 cv - 1 (clamped to -1..1). "Dynamics" 0 keeps the level out of the comparison.
struct BentCase {
    const char* name;
    Setting withModel;
    Setting withControl;
};

const BentCase bentCases[] = {
    {"Model Timescale, velocity 1: Timescale doubled",
     {1.0f, {{trackModel, 2}, {trackDynamics, 0}}},
     {1.0f, {{trackTimescale, 2}, {trackDynamics, 0}}}},
    {"Model Timescale, velocity 0.25: Timescale halved",
     {0.25f, {{trackModel, 2}, {trackDynamics, 0}, {trackTimescale, 3}}},
     {0.25f, {{trackTimescale, 1.5f}, {trackDynamics, 0}}}},
    {"Model Contrast, velocity 0.75: Contrast +50",
     {0.75f, {{trackModel, 3}, {trackDynamics, 0}}},
     {0.75f, {{trackContrast, 50}, {trackDynamics, 0}}}},
    {"Model Contrast, velocity 0.125: Contrast -75",
     {0.125f, {{trackModel, 3}, {trackDynamics, 0}}},
     {0.125f, {{trackContrast, -75}, {trackDynamics, 0}}}},
    {"Model Contrast clamps at +100",
     {1.0f, {{trackModel, 3}, {trackDynamics, 0}, {trackContrast, 60}}},
     {1.0f, {{trackContrast, 100}, {trackDynamics, 0}}}},
};

TEST(VoiceControls, VelocityModelsPlayLikeTheControlTheyBend) {
    constexpr float rate = 44100.0f;
    for (const BentCase& c : bentCases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> withModel = VoiceRender(rate, {25}, c.withModel).render(1.0f);
        const std::vector<float> withControl = VoiceRender(rate, {25}, c.withControl).render(1.0f);
        const std::vector<float> plain =
            VoiceRender(rate, {25}, Setting{c.withModel.velocity, {{trackDynamics, 0}}}).render(1.0f);
        EXPECT_EQ(withModel, withControl);
        // The bent control does change the sound.
        EXPECT_NE(withModel, plain);
    }
}

// The synthesis keeps a steady partial at its band's frequency, in the bands synthesized as
// resonators between two bins and in the bins above them, at more than one rate.
TEST(VoiceControls, SteadyPartialComesOutAtItsBandsFrequency) {
    const struct {
        float rate;
        int band;
    } cases[] = {{44100, 12}, {44100, 25}, {44100, 40}, {44100, 49}, {44100, 55},
                 {44100, 65}, {44100, 75}, {96000, 25}, {96000, 60}, {96000, 75}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, band " + std::to_string(c.band));
        const std::vector<float> out = VoiceRender(c.rate, {c.band}, Setting{}).render(0.5f);
        ASSERT_GT(levelDb(out, c.rate, 0.05, 0.4), -60.0);
        EXPECT_NEAR(peakHz(out, c.rate, 0.05), plane::bandCentreHz(c.band), 0.2 * plane::bandWidthHz(c.band));
    }
}

} // namespace
} // namespace tarvo
