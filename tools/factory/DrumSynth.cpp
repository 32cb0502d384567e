#include "tools/factory/DrumSynth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "dsp/Fft.h"

namespace tarvo {

namespace {

constexpr double sampleRate = drumSampleRate;
constexpr double twoPi = 2.0 * std::numbers::pi;
// Velocity at which a recipe renders exactly as written: MIDI 100.
constexpr double referenceVelocity = 100.0 / 127.0;
// No hit lasts longer than this, in seconds.
constexpr double longestHitSeconds = 7.0;
// Level below the peak at which a hit counts as faded out: -80 dB.
constexpr double silenceRatio = 1e-4;
// Peak of a hit at full velocity: -1 dBFS, leaving room for the player's own gain.
constexpr double fullScalePeak = 0.89;

// White noise from a 32-bit xorshift generator, uniform in -1..1.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed != 0 ? seed : 0x9E3779B9u) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) * (2.0 / 4294967296.0) - 1.0;
    }
};

// Topology-preserving state-variable filter; the band output is scaled to unit gain at the
// centre frequency.
struct Svf {
    double ic1 = 0.0;
    double ic2 = 0.0;
    struct Out {
        double low, band, high;
    };
    Out run(double x, double cutoffHz, double q) {
        const double f = std::clamp(cutoffHz, 10.0, 0.45 * sampleRate);
        const double g = std::tan(std::numbers::pi * f / sampleRate);
        const double k = 1.0 / q;
        const double a1 = 1.0 / (1.0 + g * (g + k));
        const double a2 = g * a1;
        const double a3 = g * a2;
        const double v3 = x - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        return {v2, k * v1, x - k * v1 - v2};
    }
};

// An oscillator whose frequency may change every sample; phase in cycles.
struct Phase {
    double cycles = 0.0;
    double advance(double hz) {
        const double now = cycles;
        cycles += hz / sampleRate;
        cycles -= std::floor(cycles);
        return now;
    }
};

double sine(double cycles) {
    return std::sin(twoPi * cycles);
}
double square(double cycles) {
    return cycles < 0.5 ? 1.0 : -1.0;
}
double saw(double cycles) {
    return 2.0 * cycles - 1.0;
}
// exp(-t / tau): the decay every envelope here is made of.
double decayEnv(double t, double tau) {
    return t < 0.0 ? 0.0 : std::exp(-t / tau);
}
// Linear attack ramp over `seconds`.
double attackEnv(double t, double seconds) {
    return seconds <= 0.0 ? 1.0 : std::min(t / seconds, 1.0);
}
// tanh saturation that keeps a full-scale sine at full scale.
double drive(double x, double amount) {
    return std::tanh(x * amount) / std::tanh(amount);
}

// A recipe's values after the velocity has acted on them. Harder hits are louder, brighter,
// sweep further in pitch, carry more transient and ring a little longer.
struct Shape {
    double amp, pitch, decay, tone, snap, bend;
};

Shape shapeFor(const DrumRecipe& r, float velocity) {
    const double v = std::clamp(static_cast<double>(velocity), 0.0, 1.0);
    Shape s;
    s.amp = 0.1 + 0.9 * std::pow(v, 1.4);
    s.pitch = r.pitch;
    s.tone = std::clamp(r.tone + 0.45 * (v - referenceVelocity), 0.0, 1.0);
    s.snap = std::clamp(r.snap * (1.0 + 0.7 * (v - referenceVelocity)), 0.0, 1.0);
    s.bend = r.bend * (1.0 + 0.6 * (v - referenceVelocity));
    s.decay = r.decay * (1.0 + 0.2 * (v - referenceVelocity));
    return s;
}

size_t samplesFor(double seconds) {
    return static_cast<size_t>(std::min(seconds, longestHitSeconds) * sampleRate);
}

double timeOf(size_t i) {
    return static_cast<double>(i) / sampleRate;
}

// Pitched sine whose frequency falls from pitch * 2^bend to pitch, with a saturated body and a
// noise click on top.
std::vector<float> renderKick(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    const double pitchTime = 0.012 + 0.06 * s.decay;
    Phase body;
    Svf clickFilter;
    const double driveAmount = 1.0 + 4.0 * s.tone;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double hz = s.pitch * std::exp2(s.bend * decayEnv(t, pitchTime));
        const double tone =
            drive(sine(body.advance(hz)) * decayEnv(t, s.decay) * attackEnv(t, 0.0008), driveAmount);
        const double click = clickFilter.run(noise.next(), 2500.0 + 4000.0 * s.tone, 0.7).high;
        out[i] = static_cast<float>(tone + 0.6 * s.snap * click * decayEnv(t, 0.004));
    }
    return out;
}

// Two short resonances (the fundamental and an inharmonic upper mode) with a band of noise.
std::vector<float> renderRim(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    Phase low, high;
    Svf clickFilter, dcFilter;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double modes =
            sine(low.advance(s.pitch)) * decayEnv(t, s.decay) +
            (0.4 + 0.8 * s.tone) * sine(high.advance(3.66 * s.pitch)) * decayEnv(t, 0.6 * s.decay);
        const double click = clickFilter.run(noise.next(), 5.0 * s.pitch, 2.0).band * decayEnv(t, 0.005);
        const double x = drive(modes + 1.5 * s.snap * click, 2.0);
        out[i] = static_cast<float>(dcFilter.run(x, 200.0, 0.7).high);
    }
    return out;
}

// A tuned two-mode body with a short pitch drop, and high-passed noise for the wires.
std::vector<float> renderSnare(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    const double bodyDecay = std::min(0.12, 0.5 * s.decay);
    Phase first, second;
    Svf wiresHigh, wiresLow;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double hz = s.pitch * std::exp2(s.bend * decayEnv(t, 0.02));
        const double body = sine(first.advance(hz)) * decayEnv(t, bodyDecay) +
                            0.6 * sine(second.advance(1.6 * hz)) * decayEnv(t, 0.7 * bodyDecay);
        const double hp = wiresHigh.run(noise.next(), 1000.0 + 2000.0 * s.tone, 0.7).high;
        const double wires = wiresLow.run(hp, 5000.0 + 9000.0 * s.tone, 0.7).low;
        out[i] = static_cast<float>(((1.0 - s.snap) * body + 1.6 * s.snap * wires * decayEnv(t, s.decay)) *
                                    attackEnv(t, 0.0005));
    }
    return out;
}

// Four quick noise bursts, as of several hands slightly apart, then a reverberant tail.
std::vector<float> renderClap(const Shape& s, Noise& noise) {
    constexpr int burstCount = 4;
    const double spacing = 0.007 + 0.008 * s.snap;
    const double tailStart = (burstCount - 1) * spacing;
    std::vector<float> out(samplesFor(tailStart + 0.05 + 10.0 * s.decay));
    Svf band;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        double env = 0.0;
        for (int b = 0; b < burstCount; ++b) env = std::max(env, decayEnv(t - b * spacing, 0.0035));
        env = std::max(env, 0.7 * decayEnv(t - tailStart, s.decay) * (t >= tailStart ? 1.0 : 0.0));
        const double x = band.run(noise.next(), s.pitch * (0.7 + 0.6 * s.tone), 1.6).band;
        out[i] = static_cast<float>(x * env * attackEnv(t, 0.0003));
    }
    return out;
}

// A hard, short sine with its characteristic inharmonic second mode and a tap of noise.
std::vector<float> renderWoodblock(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    Phase first, second;
    Svf tapFilter;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double hz = s.pitch * std::exp2(s.bend * decayEnv(t, 0.004));
        const double modes =
            sine(first.advance(hz)) * decayEnv(t, s.decay) +
            0.35 * (0.5 + s.tone) * sine(second.advance(2.76 * hz)) * decayEnv(t, 0.5 * s.decay);
        const double tap = tapFilter.run(noise.next(), 3000.0, 1.5).band * decayEnv(t, 0.002);
        out[i] = static_cast<float>(modes + s.snap * tap);
    }
    return out;
}

// Two square waves a detuned fifth apart through a band-pass, with a fast and a slow decay.
std::vector<float> renderCowbell(const Shape& s, Noise&) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    Phase first, second;
    Svf band, low;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double x = square(first.advance(s.pitch)) + square(second.advance(1.48 * s.pitch));
        const double filtered =
            low.run(band.run(x, s.pitch * (3.5 + 2.0 * s.tone), 2.5).band, 6000.0, 0.7).low;
        const double env = 0.65 * decayEnv(t, 0.012) + 0.35 * decayEnv(t, s.decay);
        out[i] = static_cast<float>(filtered * env * attackEnv(t, 0.0005));
    }
    return out;
}

// A hand drum: a sine with a small pitch drop and a slap of band-passed noise.
std::vector<float> renderConga(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    Phase body;
    Svf slapFilter;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double hz = s.pitch * std::exp2(s.bend * decayEnv(t, 0.012));
        const double skin = sine(body.advance(hz)) * decayEnv(t, s.decay) * attackEnv(t, 0.0008);
        const double slap =
            slapFilter.run(noise.next(), 1200.0 + 1500.0 * s.tone, 1.2).band * decayEnv(t, 0.006);
        out[i] = static_cast<float>(skin + 0.8 * s.snap * slap);
    }
    return out;
}

// Band-passed noise swelling in and out, the grains of a shaker.
std::vector<float> renderShaker(const Shape& s, Noise& noise) {
    const double attack = 0.01 + 0.03 * s.snap;
    std::vector<float> out(samplesFor(attack + 0.05 + 10.0 * s.decay));
    Svf band;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double rise = attackEnv(t, attack);
        const double env = t < attack ? rise * rise : decayEnv(t - attack, s.decay);
        const double x = band.run(noise.next(), s.pitch * (0.8 + 0.4 * s.tone), 1.2).band;
        out[i] = static_cast<float>(x * env);
    }
    return out;
}

// Like a kick, higher, with a slower pitch drop, a fifth above for the shell and a little skin
// noise.
std::vector<float> renderTom(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    const double pitchTime = 0.03 + 0.1 * s.decay;
    Phase first, second;
    Svf skinFilter;
    const double driveAmount = 1.0 + 2.0 * s.tone;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double hz = s.pitch * std::exp2(s.bend * decayEnv(t, pitchTime));
        const double shell = sine(first.advance(hz)) * decayEnv(t, s.decay) +
                             0.25 * sine(second.advance(1.5 * hz)) * decayEnv(t, 0.5 * s.decay);
        const double skin =
            skinFilter.run(noise.next(), 2000.0 + 4000.0 * s.tone, 0.7).low * decayEnv(t, 0.03);
        out[i] = static_cast<float>(drive(shell * attackEnv(t, 0.0008), driveAmount) + 0.5 * s.snap * skin);
    }
    return out;
}

// Frequency ratios of six square oscillators that together sound metallic.
constexpr std::array<double, 6> metalRatios = {1.0, 1.4827, 1.8002, 2.5459, 2.6303, 3.8966};

double metal(std::array<Phase, 6>& oscillators, double baseHz) {
    double sum = 0.0;
    for (size_t k = 0; k < oscillators.size(); ++k)
        sum += square(oscillators[k].advance(baseHz * metalRatios[k]));
    return sum / static_cast<double>(oscillators.size());
}

// Square-wave metal through a band-pass and a high-pass, mixed with high noise. Closed and
// open hats differ in their decay; the open one keeps a short accent at the start.
std::vector<float> renderHat(const Shape& s, Noise& noise, bool open) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    std::array<Phase, 6> oscillators;
    Svf band, high, noiseHigh;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double m = band.run(metal(oscillators, s.pitch), 7000.0 + 4000.0 * s.tone, 1.2).band;
        const double hiss = noiseHigh.run(noise.next(), 7000.0, 0.7).high;
        const double x = high.run((1.0 - s.snap) * m + s.snap * hiss, 6000.0 + 2000.0 * s.tone, 0.7).high;
        const double env =
            open ? 0.3 * decayEnv(t, 0.012) + 0.7 * decayEnv(t, s.decay) : decayEnv(t, s.decay);
        out[i] = static_cast<float>(x * env * attackEnv(t, 0.0003));
    }
    return out;
}

// Two metal banks a little apart plus noise, high-passed, whose brightness fades with the
// ring; a ride adds a bell of three sines.
std::vector<float> renderCymbal(const Shape& s, Noise& noise, bool ride) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    std::array<Phase, 6> lower, upper;
    std::array<Phase, 3> bell;
    constexpr std::array<double, 3> bellRatios = {1.0, 2.41, 3.6};
    Svf high, low;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double m = 0.5 * (metal(lower, s.pitch) + metal(upper, 1.31 * s.pitch));
        const double x = (1.0 - s.snap) * m + s.snap * noise.next();
        const double cutoff = 8000.0 + 8000.0 * s.tone * decayEnv(t, 0.5 * s.decay);
        double y = low.run(high.run(x, 3500.0 + 2000.0 * s.tone, 0.7).high, cutoff, 0.7).low;
        if (ride) {
            double ping = 0.0;
            for (size_t k = 0; k < bell.size(); ++k)
                ping += sine(bell[k].advance(7.0 * s.pitch * bellRatios[k]));
            y += 0.25 * ping * decayEnv(t, 0.7 * s.decay);
        }
        out[i] = static_cast<float>(y * decayEnv(t, s.decay) * attackEnv(t, 0.001));
    }
    return out;
}

// Formant frequencies (Hz) of five vowels in a row from dark to bright: u, o, a, e, i.
constexpr std::array<std::array<double, 3>, 5> vowelFormants = {{
    {300.0, 870.0, 2240.0},
    {450.0, 800.0, 2830.0},
    {730.0, 1090.0, 2440.0},
    {530.0, 1840.0, 2480.0},
    {270.0, 2290.0, 3010.0},
}};

// A sawtooth voice with a falling start and slight vibrato through three formant band-passes;
// tone picks the vowel on the row u-o-a-e-i and bend glides along that row.
std::vector<float> renderVocal(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    Phase glottis;
    std::array<Svf, 3> formants;
    constexpr std::array<double, 3> formantGains = {1.0, 0.6, 0.35};
    constexpr std::array<double, 3> formantQ = {6.0, 8.0, 10.0};
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double hz =
            s.pitch * (1.0 + 0.06 * decayEnv(t, 0.05)) * (1.0 + 0.01 * std::sin(twoPi * 5.5 * t));
        const double source = saw(glottis.advance(hz)) + s.snap * noise.next();
        const double position =
            std::clamp(s.tone + s.bend * (1.0 - decayEnv(t, s.decay)), 0.0, 1.0) * (vowelFormants.size() - 1);
        const size_t v = std::min(static_cast<size_t>(position), vowelFormants.size() - 2);
        const double f = position - static_cast<double>(v);
        double y = 0.0;
        for (size_t k = 0; k < formants.size(); ++k) {
            const double centre = (1.0 - f) * vowelFormants[v][k] + f * vowelFormants[v + 1][k];
            y += formantGains[k] * formants[k].run(source, centre, formantQ[k]).band;
        }
        out[i] = static_cast<float>(y * attackEnv(t, 0.008) * decayEnv(t, s.decay));
    }
    return out;
}

// A fast, deep pitch fall: sine turning towards a saturated square as tone rises.
std::vector<float> renderZap(const Shape& s, Noise&) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    Phase osc;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double hz = s.pitch * std::exp2(s.bend * decayEnv(t, 0.3 * s.decay));
        const double x = sine(osc.advance(hz));
        out[i] = static_cast<float>(((1.0 - s.tone) * x + s.tone * drive(x, 3.0)) * decayEnv(t, s.decay) *
                                    attackEnv(t, 0.0008));
    }
    return out;
}

// Noise through a resonant band-pass that sweeps down by `bend` octaves.
std::vector<float> renderSweep(const Shape& s, Noise& noise) {
    std::vector<float> out(samplesFor(0.05 + 10.0 * s.decay));
    Svf band;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double centre = s.pitch * std::exp2(-s.bend * (1.0 - decayEnv(t, s.decay)));
        const double x = band.run(noise.next(), centre, 2.0 + 6.0 * s.tone).band;
        out[i] = static_cast<float>(x * decayEnv(t, s.decay) * attackEnv(t, 0.005));
    }
    return out;
}

// Noise and a sawtooth through a band-pass sweeping up by `bend` octaves while the level
// swells over `decay` seconds, then a quick release.
std::vector<float> renderRiser(const Shape& s, Noise& noise) {
    constexpr double release = 0.04;
    std::vector<float> out(samplesFor(s.decay + 12.0 * release));
    Phase osc;
    Svf band;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        const double rise = std::min(t / s.decay, 1.0);
        const double centre = s.pitch * std::exp2(s.bend * rise);
        const double source = noise.next() + s.snap * saw(osc.advance(0.5 * centre));
        const double x = band.run(source, centre, 2.0 + 4.0 * s.tone).band;
        const double env = t < s.decay ? rise * rise : decayEnv(t - s.decay, release);
        out[i] = static_cast<float>(x * env);
    }
    return out;
}

// A struck string: slightly stretched partials whose upper members fade faster and grow with
// brightness, plus the hammer's thump.
std::vector<float> renderPiano(const Shape& s, Noise& noise) {
    constexpr int partialCount = 16;
    // String stiffness: partial n lies at n f sqrt(1 + B n^2).
    constexpr double inharmonicity = 0.0004;
    std::vector<float> out(samplesFor(0.05 + 8.0 * s.decay));
    std::array<Phase, partialCount> partials;
    Svf thumpFilter;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = timeOf(i);
        double x = 0.0;
        for (int n = 1; n <= partialCount; ++n) {
            const double hz = n * s.pitch * std::sqrt(1.0 + inharmonicity * n * n);
            if (hz > 0.45 * sampleRate) break;
            const double level = std::exp(-(n - 1) * (1.0 - s.tone) * 0.45) / n;
            x += level * sine(partials[static_cast<size_t>(n - 1)].advance(hz)) *
                 decayEnv(t, s.decay / (1.0 + 0.2 * (n - 1)));
        }
        const double thump = thumpFilter.run(noise.next(), 1500.0, 0.7).low * decayEnv(t, 0.004);
        out[i] = static_cast<float>((x + s.snap * thump) * attackEnv(t, 0.001));
    }
    return out;
}

std::vector<float> renderRaw(const DrumRecipe& r, const Shape& s, Noise& noise) {
    switch (r.kind) {
    case DrumKind::Kick:
        return renderKick(s, noise);
    case DrumKind::Rim:
        return renderRim(s, noise);
    case DrumKind::Snare:
        return renderSnare(s, noise);
    case DrumKind::Clap:
        return renderClap(s, noise);
    case DrumKind::Woodblock:
        return renderWoodblock(s, noise);
    case DrumKind::Cowbell:
        return renderCowbell(s, noise);
    case DrumKind::Conga:
        return renderConga(s, noise);
    case DrumKind::Shaker:
        return renderShaker(s, noise);
    case DrumKind::Tom:
        return renderTom(s, noise);
    case DrumKind::ClosedHat:
        return renderHat(s, noise, false);
    case DrumKind::OpenHat:
        return renderHat(s, noise, true);
    case DrumKind::Crash:
        return renderCymbal(s, noise, false);
    case DrumKind::Ride:
        return renderCymbal(s, noise, true);
    case DrumKind::Vocal:
        return renderVocal(s, noise);
    case DrumKind::Zap:
        return renderZap(s, noise);
    case DrumKind::Sweep:
        return renderSweep(s, noise);
    case DrumKind::Riser:
        return renderRiser(s, noise);
    case DrumKind::Piano:
        return renderPiano(s, noise);
    }
    return {};
}

// Cuts the hit where it has faded below -80 dB of its peak, fades the last few milliseconds
// to exact zero and scales the peak to the velocity's level.
void finish(std::vector<float>& x, double amp) {
    float peak = 0.0f;
    for (float v : x) peak = std::max(peak, std::abs(v));
    if (!(peak > 0.0f) || !std::isfinite(peak)) {
        x.clear();
        return;
    }
    size_t end = x.size();
    while (end > 0 && std::abs(x[end - 1]) <= silenceRatio * peak) --end;
    x.resize(end);
    const size_t fade = std::min<size_t>(static_cast<size_t>(0.005 * sampleRate), x.size() / 4);
    for (size_t k = 0; k < fade; ++k) x[x.size() - 1 - k] *= static_cast<float>(k) / static_cast<float>(fade);
    const float gain = static_cast<float>(fullScalePeak * amp) / peak;
    for (float& v : x) v *= gain;
    if (!x.empty()) x.back() = 0.0f;
}

// Variations per category. Names steer clear of the other categories' match words ("tom" in
// "Bottom", "rim" in "Prime"), so each file lands in exactly one category.
constexpr DrumRecipe recipes[] = {
    // name, kind, pitch Hz, decay s, tone, snap, bend octaves, seed
    {"Deep 808", DrumKind::Kick, 46.0f, 0.3f, 0.15f, 0.15f, 2.2f, 11},
    {"Punch", DrumKind::Kick, 58.0f, 0.12f, 0.45f, 0.55f, 2.6f, 12},
    {"Tight Electro", DrumKind::Kick, 62.0f, 0.07f, 0.6f, 0.7f, 3.0f, 13},
    {"Round House", DrumKind::Kick, 52.0f, 0.17f, 0.3f, 0.35f, 2.4f, 14},
    {"Distorted", DrumKind::Kick, 55.0f, 0.15f, 0.95f, 0.5f, 2.8f, 15},
    {"Soft Acoustic", DrumKind::Kick, 64.0f, 0.09f, 0.2f, 0.4f, 1.2f, 16},

    {"Classic", DrumKind::Rim, 460.0f, 0.012f, 0.5f, 0.5f, 0.0f, 21},
    {"Click", DrumKind::Rim, 700.0f, 0.008f, 0.7f, 0.8f, 0.0f, 22},
    {"Woody", DrumKind::Rim, 380.0f, 0.018f, 0.3f, 0.3f, 0.0f, 23},
    {"Metallic", DrumKind::Rim, 620.0f, 0.014f, 0.9f, 0.6f, 0.0f, 24},

    {"Analog", DrumKind::Snare, 185.0f, 0.07f, 0.5f, 0.6f, 0.4f, 31},
    {"Tight", DrumKind::Snare, 230.0f, 0.045f, 0.7f, 0.65f, 0.5f, 32},
    {"Fat", DrumKind::Snare, 160.0f, 0.11f, 0.35f, 0.55f, 0.6f, 33},
    {"Crisp", DrumKind::Snare, 210.0f, 0.06f, 0.9f, 0.75f, 0.3f, 34},
    {"Brush", DrumKind::Snare, 190.0f, 0.09f, 0.6f, 0.92f, 0.1f, 35},

    {"Classic", DrumKind::Clap, 1100.0f, 0.08f, 0.5f, 0.4f, 0.0f, 41},
    {"Wide", DrumKind::Clap, 900.0f, 0.13f, 0.4f, 0.8f, 0.0f, 42},
    {"Short", DrumKind::Clap, 1400.0f, 0.045f, 0.6f, 0.2f, 0.0f, 43},
    {"Bright", DrumKind::Clap, 1800.0f, 0.07f, 0.9f, 0.5f, 0.0f, 44},

    {"Woodblock", DrumKind::Woodblock, 950.0f, 0.025f, 0.5f, 0.5f, 0.2f, 51},
    {"Cowbell", DrumKind::Cowbell, 560.0f, 0.09f, 0.5f, 0.0f, 0.0f, 52},
    {"Conga Low", DrumKind::Conga, 190.0f, 0.09f, 0.4f, 0.4f, 0.35f, 53},
    {"Conga High", DrumKind::Conga, 300.0f, 0.07f, 0.5f, 0.5f, 0.3f, 54},
    {"Shaker", DrumKind::Shaker, 7000.0f, 0.03f, 0.5f, 0.5f, 0.0f, 55},

    {"Low Floor", DrumKind::Tom, 85.0f, 0.2f, 0.3f, 0.3f, 0.7f, 61},
    {"Mid Analog", DrumKind::Tom, 130.0f, 0.16f, 0.4f, 0.3f, 0.9f, 62},
    {"High Analog", DrumKind::Tom, 190.0f, 0.13f, 0.5f, 0.3f, 0.9f, 63},
    {"Electro", DrumKind::Tom, 110.0f, 0.14f, 0.8f, 0.15f, 1.6f, 64},

    {"Closed Tight", DrumKind::ClosedHat, 400.0f, 0.012f, 0.6f, 0.3f, 0.0f, 71},
    {"Closed Analog", DrumKind::ClosedHat, 380.0f, 0.022f, 0.5f, 0.4f, 0.0f, 72},
    {"Closed Crisp", DrumKind::ClosedHat, 450.0f, 0.016f, 0.9f, 0.6f, 0.0f, 73},
    {"Open Analog", DrumKind::OpenHat, 380.0f, 0.13f, 0.5f, 0.4f, 0.0f, 74},
    {"Open Wash", DrumKind::OpenHat, 420.0f, 0.2f, 0.6f, 0.6f, 0.0f, 75},

    {"Ah", DrumKind::Vocal, 140.0f, 0.09f, 0.5f, 0.15f, 0.0f, 81},
    {"Oh Low", DrumKind::Vocal, 110.0f, 0.11f, 0.25f, 0.1f, 0.1f, 82},
    {"Yeah", DrumKind::Vocal, 160.0f, 0.1f, 0.9f, 0.15f, -0.4f, 83},
    {"Hey", DrumKind::Vocal, 200.0f, 0.07f, 0.75f, 0.3f, 0.15f, 84},
    {"Uh", DrumKind::Vocal, 120.0f, 0.065f, 0.05f, 0.1f, 0.2f, 85},

    {"Crash Bright", DrumKind::Crash, 420.0f, 0.45f, 0.8f, 0.6f, 0.0f, 91},
    {"Crash Dark", DrumKind::Crash, 340.0f, 0.38f, 0.3f, 0.5f, 0.0f, 92},
    {"Ride Ping", DrumKind::Ride, 430.0f, 0.45f, 0.6f, 0.3f, 0.0f, 93},
    {"Splash", DrumKind::Crash, 480.0f, 0.15f, 0.9f, 0.7f, 0.0f, 94},

    {"Zap Down", DrumKind::Zap, 90.0f, 0.07f, 0.3f, 0.0f, 4.0f, 101},
    {"Laser", DrumKind::Zap, 300.0f, 0.05f, 0.7f, 0.0f, 3.0f, 102},
    {"Sweep Down", DrumKind::Sweep, 9000.0f, 0.11f, 0.6f, 0.0f, 4.0f, 103},
    {"Riser", DrumKind::Riser, 300.0f, 0.45f, 0.5f, 0.4f, 4.5f, 104},
    {"Noise Drop", DrumKind::Sweep, 4000.0f, 0.06f, 0.2f, 0.0f, 2.0f, 105},
};

} // namespace

const char* drumCategoryFolder(DrumCategory category) {
    switch (category) {
    case DrumCategory::Kick:
        return "Kick";
    case DrumCategory::Rim:
        return "Rim";
    case DrumCategory::Snare:
        return "Snare";
    case DrumCategory::Clap:
        return "Clap";
    case DrumCategory::Percussion:
        return "Percussion";
    case DrumCategory::Tom:
        return "Tom";
    case DrumCategory::Hihat:
        return "Hihat";
    case DrumCategory::Vocal:
        return "Vocal";
    case DrumCategory::Cymbal:
        return "Cymbal";
    case DrumCategory::Fx:
        return "FX";
    }
    return "";
}

DrumCategory categoryOfKind(DrumKind kind) {
    switch (kind) {
    case DrumKind::Kick:
        return DrumCategory::Kick;
    case DrumKind::Rim:
        return DrumCategory::Rim;
    case DrumKind::Snare:
        return DrumCategory::Snare;
    case DrumKind::Clap:
        return DrumCategory::Clap;
    case DrumKind::Woodblock:
    case DrumKind::Cowbell:
    case DrumKind::Conga:
    case DrumKind::Shaker:
    case DrumKind::Piano:
        return DrumCategory::Percussion;
    case DrumKind::Tom:
        return DrumCategory::Tom;
    case DrumKind::ClosedHat:
    case DrumKind::OpenHat:
        return DrumCategory::Hihat;
    case DrumKind::Crash:
    case DrumKind::Ride:
        return DrumCategory::Cymbal;
    case DrumKind::Vocal:
        return DrumCategory::Vocal;
    case DrumKind::Zap:
    case DrumKind::Sweep:
    case DrumKind::Riser:
        return DrumCategory::Fx;
    }
    return DrumCategory::Fx;
}

std::span<const DrumRecipe> factoryDrumRecipes() {
    return recipes;
}

std::vector<float> renderDrumHit(const DrumRecipe& recipe, float velocity) {
    const Shape shape = shapeFor(recipe, velocity);
    Noise noise(recipe.seed);
    std::vector<float> samples = renderRaw(recipe, shape, noise);
    finish(samples, shape.amp);
    return samples;
}

HitMeasures measureHit(const std::vector<float>& samples) {
    HitMeasures m;
    for (float v : samples) m.peak = std::max(m.peak, std::abs(v));
    if (!(m.peak > 0.0f)) return HitMeasures{};

    int log2n = 1;
    while ((size_t{1} << log2n) < samples.size()) ++log2n;
    Fft fft(log2n, 1);
    const size_t n = size_t{1} << log2n;
    std::vector<float> buffer(n, 0.0f);
    std::copy(samples.begin(), samples.end(), buffer.begin());
    fft.forward(buffer.data(), buffer.data());
    double weighted = 0.0;
    double total = 0.0;
    for (size_t k = 1; k < n / 2; ++k) {
        const double power =
            double(buffer[2 * k]) * buffer[2 * k] + double(buffer[2 * k + 1]) * buffer[2 * k + 1];
        weighted += power * static_cast<double>(k) * sampleRate / static_cast<double>(n);
        total += power;
    }
    m.centroidHz = total > 0.0 ? static_cast<float>(weighted / total) : 0.0f;

    // RMS of consecutive 10 ms windows.
    constexpr size_t window = 441;
    std::vector<double> rms;
    for (size_t start = 0; start < samples.size(); start += window) {
        const size_t end = std::min(start + window, samples.size());
        double sum = 0.0;
        for (size_t i = start; i < end; ++i) sum += double(samples[i]) * samples[i];
        rms.push_back(std::sqrt(sum / static_cast<double>(end - start)));
    }
    const size_t loudest = static_cast<size_t>(std::max_element(rms.begin(), rms.end()) - rms.begin());
    size_t last = loudest;
    // -40 dB in amplitude.
    constexpr double decayRatio = 0.01;
    for (size_t w = loudest; w < rms.size(); ++w)
        if (rms[w] >= decayRatio * rms[loudest]) last = w;
    m.decaySeconds = static_cast<float>(static_cast<double>(last - loudest) * window / sampleRate);
    return m;
}

} // namespace tarvo
