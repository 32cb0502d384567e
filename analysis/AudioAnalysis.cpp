#include "analysis/AudioAnalysis.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "dsp/Fft.h"
#include "engine/Blob.h"
#include "engine/CanonicalPlane.h"
#include "engine/SoloHit.h"

namespace tarvo {

namespace {

using analysis::analysisBandCount;
using analysis::BandFrame;
using analysis::binCount;
using analysis::frameLength;
using analysis::hopLength;
using Complex = std::complex<float>;

// Time points of the analysis grid: the canonical plane's warped frames.
constexpr int timePointCount = plane::frameCount;
// Knot counts of the Blob's mesh.
constexpr int timeNodeCount = Blob::timeKnotCount;
constexpr int bandNodeCount = Blob::freqKnotCount;
// A sum of magnitudes below this counts as digital silence.
constexpr double silenceSum = 1e-20;
// Samples quieter than this fraction of the reference level are trimmed from both ends.
constexpr double trimLevel = 0.0001;
// Shortest working buffer in seconds, so that even a click yields a full grid.
constexpr double minimumBufferSeconds = 0.1;
// Rates within this distance of 44100 Hz are taken as 44100 Hz.
constexpr double rateTolerance = 0.1;
// The low shelf before analysis: its turnover as a fraction of the rate, and its gain at 0 Hz.
constexpr double shelfFrequency = 1.0 / 315.0;
constexpr double shelfGain = 0.1;
// Smoothing coefficients of the spectral cleaning: the local and the broad envelope.
constexpr float localSmoothing = 0.73f;
constexpr float broadSmoothing = 0.95f;
// What the cleaning subtracts: these fractions of the broad and of the local envelope.
constexpr float broadFloor = 5e-8f;
constexpr float localFloor = 0.002f;
// Weight of smoothness against fit when splitting the grid into its two factors.
constexpr double separationSmoothness = 0.005;
constexpr int maxSeparationRounds = 20;
// Each factor gets this fraction of its mean added, so no region is entirely empty.
constexpr double factorFloor = 0.7;
// Energy, as a fraction of the loudest frame's, below which a row's tail counts as silent.
constexpr double silentLevel = 1e-6;
// Energy, as a fraction of the loudest time point's, below which a sound's end counts as
// silence. The picture is measured after the low shelf, in which the ring of a low drum lies
// 10 to 20 dB below what is heard, so the end is sought lower than the tails' silence: at
// 1e-6 the ring of tabla strokes was cut off 150 to 200 ms before the recording fell 60 dB.
constexpr double soundEndLevel = 1e-7;
// The time knot density of time points after the end of a sound, as a share of the density
// at which the engine starts to sound: just inaudible.
constexpr double silentTimeDensityShare = 0.9;
// How far past the plane the recording is followed to measure how fast each row's tail
// decays, in seconds.
constexpr double tailSeconds = 4.0;
// Frames before the plane's end whose mean level is a row's level where its tail begins.
constexpr int tailLevelFrames = 16;
// The last knots of a row, from this one on, carry its tail's decay.
constexpr int tailKnot = 39;
// A recording that stops while it still sounds (its file ends before it has decayed) is
// silent after its end, and a tail that rings on there is heard as one. When the replay still
// sounds there, the rows with a tail may have their last knots bent from an earlier time point,
// the latest that makes the replay fall silent, though never before the knot stoppedTailKnot;
// this costs the end of the plane, so recordings that decay to silence keep tailKnot. Sounding
// means louder than stoppedSilenceDb below the replay's peak from stoppedGraceSeconds after the
// recording's end on; recordings longer than stoppedLongest seconds are not checked (their
// replay has decayed long before, and the check costs a render of them).
constexpr int stoppedTailKnot = 36;
constexpr double stoppedSilenceDb = 61.0;
constexpr double stoppedGraceSeconds = 0.1;
constexpr double stoppedLongest = 3.0;
// A bend counts as silencing the replay only this far (dB) below where it counts as sounding.
// The search for the bend point ends where the replay turns silent, and a point whose replay
// lies on the threshold is silent or not by the render's last bits; the check also looks at
// fewer frames than a listener hears. A 70 Hz ring cut off in its decay was bent from a point
// the check put 1.2 dB below the threshold and played on at -59.9 dB in a build that rounds
// differently (at -61.6 dB in the other).
constexpr double stoppedMarginDb = 6.0;
// The earliest time point a stopped recording's rows are bent from, and the fraction of a time
// point to which the bend point is sought (a point near the plane's end lasts 20 ms, and
// bending one whole point too early cost a snare cut off in its decay 3 dB of envelope).
constexpr double stoppedEarliestPoint = 80.0;
constexpr double stoppedBendStep = 0.125;
// Limits of the extra decay rate (per second, of the knot density above the threshold) given
// to a row's last knots while its tail time is sought, and the halvings of that search.
constexpr double slowestTailShaping = -10.0;
constexpr double fastestTailShaping = 100.0;
constexpr int tailShapingBisections = 30;
// The level, as a share of the knot density where the engine starts to sound, about which the
// last knots of a row are bent: a tail bent all the way falls just silent.
constexpr double tailBendBase = 0.95;
// A row whose bands are quieter than this share of the loudest frame where the plane ends
// keeps the knots its time shape gives: bending its last knots would cost the end of the
// plane more than its faint tail is worth.
constexpr double quietTailLevel = 1e-5;
// The tail time (seconds) sought for a row that is already silent where the plane ends: so
// short that its last knots are bent as far as they go, and it does not ring on.
constexpr double silentRowTailTime = 1e-3;
// The replay of a decay sits a few dB above its recording where the plane ends (the knots
// compress its range a little), so its tail decays with this share of the recording's time.
constexpr double tailTimeShare = 0.8;
// Power of the engine's output in its time knot density above the threshold.
constexpr double densityPowerExponent = 4.0;
// The share of the measured picture in the spectrum a frequency column is cut from and in the
// time shape of a row (the rest is the frequency or the time factor).
constexpr double pictureShare = 0.5;
// Time points over which a row's shape turns from the time factor alone to its mix with the
// picture.
constexpr double onsetPoints = 8.0;
// The weight of a silent time point in a column's spectrum, so that a column over silence
// still has one.
constexpr double silentColumnWeight = 1e-12;
// The weight every band has in the time shape of every row, beside the bands the row plays.
constexpr double otherBandsShare = 0.01;
// Rounds in which each row's time shape is lowered where the engine, playing the Blob, is
// louder than the recording; the share of the dB difference a round corrects (the engine's
// power goes with the shape to about the fourth power, steeper near silence); the most a round
// lowers a time point, in nepers of the shape.
constexpr int playedShapeRounds = 2;
constexpr double playedShapeGain = 0.1;
constexpr double playedShapeStep = 0.3;
// The lowest band the comparison counts: below about 50 Hz the render's level follows the
// engine's cut below hearing more than the Blob, and counting those bands lowered a low tone's
// rows after its onset so that its replay put more of its energy below 20 Hz.
constexpr int playedShapeLowestBand = 2;
// Passes of a [1 2 1] smoothing over the lowering along time, so that it bends a decay without
// making neighbouring segments play apart.
constexpr int playedShapeSmoothing = 3;
// How far below the row's loudest point the lowering fades out (dB): the full lowering down to
// half of it, none at it. The end of a decay keeps its knots: lowered there, it fell silent
// early, and a sharp edge to unlowered points left a ringing shelf.
constexpr double playedShapeRangeDb = 80.0;
// The attack of a row (its time points up to the loudest point of the picture) is raised where
// the render plays it quieter, against the row's body after it, than the recording, and the
// body is lowered against the attack rather than against the row's mean: a body that grew out
// of a soft attack put the replay's peak 10 to 80 ms late. Only rows that carry at least this
// share of the loudest row's attack energy (in the others the comparison measures leakage).
// Rows whose energy lies mostly below attackLowestBand (about 165 Hz) keep their attack: the
// bank's lowest bins cannot play a sharper onset, and raising a low tone's onset spread its
// energy below hearing. Their decay after the loudest point is lowered against the attack
// instead, all of it and not only its first bodyEdgeDb (that left the end of the decay
// relatively louder, and low kicks rang on past their recordings).
constexpr double attackRowShare = 0.1;
constexpr int attackLowestBand = 8;
// The body whose reference is the attack: the points within the first of these dB of the
// row's loudest fully, none beyond the second.
constexpr double bodyRangeDb = 10.0;
constexpr double bodyEdgeDb = 30.0;
// Frames the comparison skips at the start of the engine's render: its delay from the note to
// the first hop that sounds.
constexpr int playedShapeDelayFrames = 2;
// Frames rendered past the plane, so that the last time points have their full neighbourhood.
constexpr int playedShapeExtraFrames = 40;
// The engine's note velocity the comparison plays at: where the level knob's default sits.
constexpr double playedShapeVelocity = 100.0;
// Halvings of the band range when a grid node's crossing is bisected: far below 0.001 bands.
constexpr int crossingBisections = 40;
// Strength of the final push applied to interior cuts (see equalShareCuts).
constexpr double cutShaping = 20.78 * 0.04;
// Rows sit every this many frequency knots, columns every this many time knots.
constexpr int knotSpacing = Blob::knotsPerLine;
// Fraction of the smallest gap every curve keeps between successive knots.
constexpr double minimumGapShare = 0.9;
// The first frame at which time points start to stretch, and their growth per point.
constexpr double linearFrames = 25.0;
constexpr double frameGrowth = 1.04;

// Linear frame of time point p, and the time point of linear frame f.
double pointFrame(double p) {
    return p < linearFrames ? p : linearFrames * std::pow(frameGrowth, p - linearFrames);
}
double framePoint(double f) {
    return f < linearFrames ? f : linearFrames + std::log(f / linearFrames) / std::log(frameGrowth);
}

// Frames the band grid can use at most: those of the last time point plus the reach of the
// longest band kernel. Frames beyond this do not change the result.
int framesNeeded() {
    int longestKernel = 0;
    for (int length : analysis::analysisTables().kernelLength)
        longestKernel = std::max(longestKernel, length);
    return static_cast<int>(pointFrame(timePointCount) + 1.0) + longestKernel + 1;
}

// Zero-phase one-pole smoothing across an array: a forward then a backward pass.
void smoothBothWays(const float* in, float* out, int n, float c) {
    float s = in[0];
    for (int i = 0; i < n; ++i) out[i] = s = s + (1.0f - c) * (in[i] - s);
    s = out[n - 1];
    for (int i = n - 1; i >= 0; --i) out[i] = s = s + (1.0f - c) * (out[i] - s);
}

// Removes the floor of noise and leakage under a power spectrum. Returns per-entry gains
// (already applied to power as gain squared); callers apply them to complex values.
void cleanPowers(float* power, int n, float* gains, std::vector<float>& local, std::vector<float>& broad) {
    local.resize(static_cast<size_t>(n));
    broad.resize(static_cast<size_t>(n));
    smoothBothWays(power, local.data(), n, localSmoothing);
    smoothBothWays(power, broad.data(), n, broadSmoothing);
    for (int i = 0; i < n; ++i) {
        const float p = power[i];
        const float r = std::max(0.0f, p - (broadFloor * broad[i] + localFloor * local[i]));
        const float gain = r * r / (p * p + 1e-35f);
        gains[i] = gain;
        power[i] = p * gain * gain;
    }
}

// Solves a tridiagonal system (sub-, main and super-diagonal, right side) in place; the
// answer replaces rhs.
void solveTridiagonal(std::vector<double>& lower, std::vector<double>& diag, std::vector<double>& upper,
                      std::vector<double>& rhs) {
    const size_t n = rhs.size();
    for (size_t i = 1; i < n; ++i) {
        const double f = diag[i - 1] != 0.0 ? lower[i] / diag[i - 1] : 0.0;
        diag[i] -= f * upper[i - 1];
        rhs[i] -= f * rhs[i - 1];
    }
    for (size_t i = n; i-- > 0;) {
        const double next = i + 1 < n ? upper[i] * rhs[i + 1] : 0.0;
        rhs[i] = diag[i] != 0.0 ? (rhs[i] - next) / diag[i] : 0.0;
    }
}

using Grid = std::vector<std::array<double, analysisBandCount>>; // [time point][band]

// Minimises sum (g - a*x)^2 + lambda * sum (x[k] - x[k-1])^2 over x along one line of the
// grid; a and g are read through the accessors, x is written through set.
template <typename GetG, typename GetA, typename Set> void smoothFit(int n, GetG g, GetA a, Set set) {
    std::vector<double> lower(static_cast<size_t>(n)), diag(static_cast<size_t>(n)),
        upper(static_cast<size_t>(n)), rhs(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const int neighbours = (k > 0 ? 1 : 0) + (k + 1 < n ? 1 : 0);
        diag[k] = a(k) * a(k) + separationSmoothness * neighbours;
        lower[k] = k > 0 ? -separationSmoothness : 0.0;
        upper[k] = k + 1 < n ? -separationSmoothness : 0.0;
        rhs[k] = g(k) * a(k);
    }
    solveTridiagonal(lower, diag, upper, rhs);
    for (int k = 0; k < n; ++k) set(k, rhs[k]);
}

// Splits the grid G into a factor T smooth along time and a factor F smooth along bands,
// with G close to their element-wise product.
void separate(Grid& g, Grid& t, Grid& f) {
    const double lambda = separationSmoothness;
    std::array<double, analysisBandCount> columnSums{};
    std::vector<double> rowSums(timePointCount, 0.0);
    double total = 0.0;
    for (int p = 0; p < timePointCount; ++p)
        for (int b = 0; b < analysisBandCount; ++b) {
            columnSums[b] += g[p][b];
            rowSums[p] += g[p][b];
            total += g[p][b];
        }
    const double scale = timePointCount * analysisBandCount * lambda / total;
    const double root = std::sqrt(total);
    for (int p = 0; p < timePointCount; ++p)
        for (int b = 0; b < analysisBandCount; ++b) {
            g[p][b] *= scale;
            t[p][b] = scale * rowSums[p] / root;
            f[p][b] = scale * columnSums[b] / root;
        }

    std::vector<double> objectives;
    for (int round = 0; round < maxSeparationRounds; ++round) {
        for (int b = 0; b < analysisBandCount; ++b)
            smoothFit(
                timePointCount, [&](int p) { return g[p][b]; }, [&](int p) { return f[p][b]; },
                [&](int p, double v) { t[p][b] = v; });
        // Keep the bands' time factors near a common level: the level belongs in F.
        std::array<double, analysisBandCount> bandTotals{};
        double meanBandTotal = 0.0;
        for (int b = 0; b < analysisBandCount; ++b) {
            for (int p = 0; p < timePointCount; ++p) bandTotals[b] += t[p][b];
            meanBandTotal += bandTotals[b] / analysisBandCount;
        }
        for (int b = 0; b < analysisBandCount; ++b) {
            // An empty band has nothing to rebalance (and would divide by zero).
            if (!(bandTotals[b] > 1e-30)) continue;
            const double k = (0.1 * bandTotals[b] + meanBandTotal) / (1.1 * bandTotals[b]);
            for (int p = 0; p < timePointCount; ++p) t[p][b] *= k;
        }
        for (int p = 0; p < timePointCount; ++p)
            smoothFit(
                analysisBandCount, [&](int b) { return g[p][b]; }, [&](int b) { return t[p][b]; },
                [&](int b, double v) { f[p][b] = v; });
        std::vector<double> pointTotals(timePointCount, 0.0);
        double meanPointTotal = 0.0;
        for (int p = 0; p < timePointCount; ++p) {
            for (int b = 0; b < analysisBandCount; ++b) pointTotals[p] += f[p][b];
            meanPointTotal += pointTotals[p] / timePointCount;
        }
        for (int p = 0; p < timePointCount; ++p) {
            // Time points past the end of the sound are empty; leave them so.
            if (!(pointTotals[p] > 1e-30)) continue;
            const double k = (0.1 * pointTotals[p] + meanPointTotal) / (1.1 * pointTotals[p]);
            for (int b = 0; b < analysisBandCount; ++b) f[p][b] *= k;
        }
        // Balance the two smoothness terms by trading scale between T and F.
        double roughT = 0.0, roughF = 0.0, misfit = 0.0;
        for (int p = 0; p < timePointCount; ++p)
            for (int b = 0; b < analysisBandCount; ++b) {
                if (p > 0) roughT += (t[p][b] - t[p - 1][b]) * (t[p][b] - t[p - 1][b]);
                if (b > 0) roughF += (f[p][b] - f[p][b - 1]) * (f[p][b] - f[p][b - 1]);
                const double e = g[p][b] - t[p][b] * f[p][b];
                misfit += e * e;
            }
        roughT *= lambda;
        roughF *= lambda;
        const double tau = std::sqrt((roughF + 1e-30) / (roughT + 1e-30));
        const double rootTau = std::sqrt(tau);
        for (int p = 0; p < timePointCount; ++p)
            for (int b = 0; b < analysisBandCount; ++b) {
                t[p][b] *= rootTau;
                f[p][b] /= rootTau;
            }
        objectives.push_back(tau * roughT + misfit + roughF / tau);
        if (round > 3 && objectives[round] > 0.9999 * objectives[round - 2]) break;
    }

    const double unscale = std::sqrt(1.0 / scale);
    double meanT = 0.0, meanF = 0.0;
    for (int p = 0; p < timePointCount; ++p)
        for (int b = 0; b < analysisBandCount; ++b) {
            g[p][b] /= scale;
            t[p][b] *= unscale;
            f[p][b] *= unscale;
            meanT += t[p][b];
            meanF += f[p][b];
        }
    meanT /= timePointCount * analysisBandCount;
    meanF /= timePointCount * analysisBandCount;
    for (int p = 0; p < timePointCount; ++p)
        for (int b = 0; b < analysisBandCount; ++b) {
            t[p][b] += factorFloor * meanT;
            f[p][b] += factorFloor * meanF;
        }
}

// Cuts n density cells into count - 1 parts of equal mass; returns the count cut positions
// (0 and n at the ends). Inside each cell the density is a quadratic that keeps the cell's
// mass, leans towards the heavier neighbour and never goes negative, so the running mass
// rises smoothly instead of in steps. The interior cuts then get a small cubic push that
// depends on where they sit between their neighbours.
std::vector<double> equalShareCuts(const std::vector<double>& v, int count) {
    const int n = static_cast<int>(v.size());
    struct Cell {
        double mean, slope, curve;
        double massAt(double x) const {
            const double c = x - 0.5;
            return mean * x + slope * (x * x - x) / 2 + curve * ((c * c * c + 0.125) / 3 - x / 12);
        }
    };
    std::vector<Cell> cells(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double left = v[std::max(i - 1, 0)];
        const double right = v[std::min(i + 1, n - 1)];
        const double mean = std::max(v[i], 0.0);
        double slope = 0.6 * (right - left);
        double curve = 0.1 * 6.0 * (left - 2.0 * v[i] + right);
        // The edges may not exceed twice the smaller neighbour's step, nor dip below 0.
        const double limit = 2.0 * std::max(std::min(left, right), 0.0);
        slope = std::clamp(slope, -limit, limit);
        const double dip = std::abs(slope) / 2 + std::max(curve / 12, -curve / 6);
        if (dip > mean && dip > 0.0) {
            slope *= mean / dip;
            curve *= mean / dip;
        }
        cells[i] = {mean, slope, curve};
    }
    double total = 0.0;
    for (const Cell& cell : cells) total += cell.mean;
    std::vector<double> cuts(static_cast<size_t>(count), 0.0);
    cuts[count - 1] = n;
    const double step = total / (count - 1);
    int cell = 0;
    double before = 0.0; // mass of the cells left of `cell`
    for (int k = 1; k < count - 1; ++k) {
        const double target = step * k;
        while (cell < n - 1 && before + cells[cell].mean < target) before += cells[cell++].mean;
        // The running mass inside the cell is monotone: bisect for the target.
        double lo = 0.0, hi = 1.0;
        for (int it = 0; it < 40; ++it) {
            const double mid = 0.5 * (lo + hi);
            (before + cells[cell].massAt(mid) < target ? lo : hi) = mid;
        }
        cuts[k] = std::clamp(cell + 0.5 * (lo + hi), 0.0, static_cast<double>(n));
    }
    if (!(total > 0.0))
        for (int k = 0; k < count; ++k) cuts[k] = static_cast<double>(n) * k / (count - 1);
    const std::vector<double> placed = cuts;
    for (int k = 1; k < count - 1; ++k) {
        const double l = placed[k - 1], r = placed[k + 1];
        if (!(r > l)) continue;
        const double u = (placed[k] - l) / (r - l);
        cuts[k] = placed[k] - u * cutShaping * (u - 0.5) * (u - 1.0) * (r - l);
    }
    return cuts;
}

// Makes x rise by at least gap per step: the mean of an upward and a downward pass. Where
// knots crowd at an end the passes would push that end off the plane; the list is then
// scaled back so that its ends stay where they were.
void enforceRise(float* x, int n, double gap) {
    std::vector<double> up(x, x + n), down(x, x + n);
    for (int i = 1; i < n; ++i) up[i] = std::max(up[i], up[i - 1] + gap);
    for (int i = n - 2; i >= 0; --i) down[i] = std::min(down[i], down[i + 1] - gap);
    const double first = x[0], last = x[n - 1];
    const double low = 0.5 * (up[0] + down[0]), high = 0.5 * (up[n - 1] + down[n - 1]);
    const double scale = high > low ? (last - first) / (high - low) : 1.0;
    for (int i = 0; i < n; ++i) x[i] = static_cast<float>(first + (0.5 * (up[i] + down[i]) - low) * scale);
}

// Linear interpolation in a table at a clamped fractional index.
template <typename Lookup> double interpolate(Lookup at, double x, double highest) {
    x = std::clamp(x, 0.0, highest);
    const int i = static_cast<int>(x);
    const double frac = x - i;
    return at(i) + frac * (at(i + 1) - at(i));
}

// The time constant (seconds) each row's tail should decay with after the plane, from the
// recording itself: the time its bands take from their level at the plane's end to silence
// (silentLevel of the loudest frame), as an exponential decay of the row speed, whose fourth
// power is the engine's output power. A row quieter than quietTailLevel where the plane ends
// gets 0: its knots stay as its time shape puts them.
// energies holds the analysed frames and the frames after them; planeFrames of them lie on the
// plane.
std::array<double, Blob::timeRowCount> rowTailTimes(const std::vector<analysis::BandFrame>& energies,
                                                    int planeFrames,
                                                    const std::array<double, analysisBandCount>& bandKnot) {
    std::array<double, Blob::timeRowCount> times{};
    const int total = static_cast<int>(energies.size());
    const int end = std::min(static_cast<int>(pointFrame(timePointCount)), total - 1);
    double loudest = 0.0;
    for (int m = 0; m < std::min(planeFrames, total); ++m) {
        double sum = 0.0;
        for (float e : energies[m]) sum += e;
        loudest = std::max(loudest, sum);
    }
    const double silence = silentLevel * loudest;
    for (int r = 0; r < Blob::timeRowCount; ++r) {
        const auto rowEnergy = [&](int m) {
            double sum = 0.0;
            for (int b = 0; b < analysisBandCount; ++b)
                sum += std::max(1.0 - std::abs(bandKnot[b] / knotSpacing - r), 0.0) * energies[m][b];
            return sum;
        };
        double level = 0.0;
        const int from = std::max(end - tailLevelFrames + 1, 0);
        for (int m = from; m <= end; ++m) level += rowEnergy(m) / (end - from + 1);
        int last = end;
        for (int m = end; m < total; ++m)
            if (rowEnergy(m) >= silence) last = m;
        if (end < 0) continue;
        if (!(level > silence)) {
            times[r] = silentRowTailTime;
            continue;
        }
        if (!(level > quietTailLevel * loudest)) continue;
        const double seconds = (last - end + 1) / plane::framesPerSecond;
        // ln of the power ratio, spread over the seconds, is 4 / time.
        times[r] = densityPowerExponent * seconds / std::log(level / silence) * tailTimeShare;
    }
    return times;
}

// The knots of one time row: the equal-share cuts of its time shape, whose last part is bent
// so that the tail the engine derives from the last knots decays with tailTime (seconds); with
// tailTime 0 the row keeps its plain cuts. The shape above a level just below the one where the
// knot density reaches the engine's threshold is scaled by a decaying exponential from the
// knot tailKnot on (or from an earlier time point, down to earliestPoint, which may lie between
// two points, where that cannot reach the tail time), whose rate is sought by bisection. The
// rate is limited: the last segment is a tenth of a second of the plane, which follows the
// recording too.
Blob::TimeRow rowWithTail(const std::vector<double>& shape, double tailTime, double earliestPoint) {
    const auto toRow = [](const std::vector<double>& cuts) {
        Blob::TimeRow row{};
        for (int i = 0; i < timeNodeCount; ++i) row[i] = static_cast<float>(cuts[i]);
        return row;
    };
    const std::vector<double> plain = equalShareCuts(shape, timeNodeCount);
    if (!(tailTime > 0.0) || Blob::rowTailTime(toRow(plain)) == 0.0f) return toRow(plain);
    double total = 0.0;
    for (double v : shape) total += v;
    const double threshold = tailBendBase * Blob::timeDensityThreshold * total / (timeNodeCount - 1);
    double start = 0.0;
    double startSeconds = 0.0;
    std::vector<double> bent = shape;
    const auto shaped = [&](double rate) {
        for (int p = static_cast<int>(std::ceil(start)); p < timePointCount; ++p) {
            const double seconds = plane::unwarpTime(p + 0.5) / plane::framesPerSecond - startSeconds;
            bent[p] = shape[p] > threshold ? threshold + (shape[p] - threshold) * std::exp(-rate * seconds)
                                           : shape[p];
        }
        return toRow(equalShareCuts(bent, timeNodeCount));
    };
    // The tail time falls as the rate grows; an end that falls silent counts as the fastest.
    const auto tooSlow = [&](const Blob::TimeRow& row) {
        const float time = Blob::rowTailTime(row);
        return time > 0.0f && time >= tailTime;
    };
    double lo = slowestTailShaping, hi = fastestTailShaping;
    // Bend from the latest time point, from the knot tailKnot's down to earliestPoint (but
    // not before the knot stoppedTailKnot), that can make the tail short enough.
    const int latest = std::clamp(static_cast<int>(plain[tailKnot]), 0, timePointCount - 1);
    const double earliest =
        std::min(std::max(earliestPoint, std::floor(plain[stoppedTailKnot])), static_cast<double>(latest));
    bool reached = false;
    for (double point = latest;; point = std::max(point - 1.0, earliest)) {
        start = point;
        startSeconds = plane::unwarpTime(start + 0.5) / plane::framesPerSecond;
        reached = !tooSlow(shaped(hi));
        if (reached || point <= earliest) break;
    }
    if (!reached) return shaped(hi);
    if (!tooSlow(shaped(lo))) return shaped(lo);
    for (int it = 0; it < tailShapingBisections; ++it) {
        const double mid = 0.5 * (lo + hi);
        (tooSlow(shaped(mid)) ? lo : hi) = mid;
    }
    return shaped(hi);
}

// How loud (dB against its peak) the engine, playing the Blob, still sounds from
// stoppedGraceSeconds after the given time on (over the next frames, where a tail that rings
// is loudest).
double levelAfterDb(const Blob& blob, double seconds) {
    constexpr double checkedSeconds = 0.3;
    const double rate = analysis::analysisRate;
    const double delaySeconds = playedShapeDelayFrames * hopLength / rate;
    const double from = seconds + stoppedGraceSeconds + delaySeconds;
    const SoloHitRender hit = renderSoloHit(blob, rate, from + checkedSeconds, playedShapeVelocity);
    // Frames that end from here on count as after.
    const size_t firstSilent = static_cast<size_t>(from * rate);
    std::array<double, frameLength> window{};
    for (int j = 0; j < frameLength; ++j)
        window[j] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * j / frameLength);
    double peak = 0.0, after = 0.0;
    for (size_t start = 0; start + frameLength <= hit.left.size(); start += hopLength) {
        double power = 0.0;
        for (int j = 0; j < frameLength; ++j) {
            const double x = 0.5 * (hit.left[start + j] + hit.right[start + j]) * window[j];
            power += x * x;
        }
        peak = std::max(peak, power);
        if (start + frameLength >= firstSilent) after = std::max(after, power);
    }
    // A render that is silent there lies as far below its peak as can be.
    return after > 0.0 && peak > 0.0 ? 10.0 * std::log10(after / peak) : -1000.0;
}

} // namespace

namespace analysis {

std::vector<BandFrame> bandEnergies(const std::vector<float>& signal, int maxFrames) {
    const AnalysisTables& tables = analysisTables();
    const int length = static_cast<int>(signal.size());
    const int frameTotal = (length + frameLength) / hopLength;
    const int frames = std::clamp(frameTotal, 0, maxFrames);

    // Windowed spectra; the window's centre goes to position 0 so that every bin's phase
    // refers to the frame's centre.
    std::vector<std::array<Complex, binCount>> spectra(static_cast<size_t>(frames));
    std::vector<std::array<float, binCount>> powers(static_cast<size_t>(frames));
    Fft fft(8, 1);
    std::array<float, frameLength> buffer{};
    std::array<float, binCount> gains{};
    std::vector<float> local, broad;
    for (int m = 0; m < frames; ++m) {
        for (int j = 0; j < frameLength; ++j) {
            const int index = hopLength * m - (frameLength - hopLength) + j;
            const float x = index >= 0 && index < length ? signal[index] : 0.0f;
            buffer[(j + frameLength / 2) % frameLength] = x * tables.analysisWindow[j];
        }
        fft.forward(buffer.data(), buffer.data());
        auto& spectrum = spectra[m];
        spectrum[0] = Complex(buffer[0], 0.0f);
        spectrum[binCount - 1] = Complex(buffer[1], 0.0f);
        for (int k = 1; k < binCount - 1; ++k) spectrum[k] = Complex(buffer[2 * k], buffer[2 * k + 1]);
        auto& power = powers[m];
        for (int k = 0; k < binCount; ++k) power[k] = std::norm(spectrum[k]);
        cleanPowers(power.data(), binCount, gains.data(), local, broad);
        for (int k = 0; k < binCount; ++k) spectrum[k] *= gains[k];
    }

    std::vector<BandFrame> energies(static_cast<size_t>(frames));
    std::vector<Complex> bandSignal(static_cast<size_t>(frames));
    for (int b = 0; b < analysisBandCount; ++b) {
        const float* bins = tables.bandBinWeights.data() + tables.binWeightOffset[b];
        const int start = static_cast<int>(bins[0]);
        const int weightCount = tables.binWeightCount[b] - 1;
        for (int m = 0; m < frames; ++m) {
            Complex z{};
            for (int i = 0; i < weightCount; ++i) z += bins[1 + i] * spectra[m][start + i];
            bandSignal[m] = z;
        }
        const Complex* kernel =
            reinterpret_cast<const Complex*>(tables.bandKernels.data()) + tables.kernelOffset[b];
        const int taps = tables.kernelLength[b];
        const bool hasPower = tables.powerWeightCount[b] > 0;
        const float* power = tables.bandPowerWeights.data() + tables.powerWeightOffset[b];
        for (int m = 0; m < frames; ++m) {
            // Tap n looks n frames back, its conjugate n frames ahead.
            Complex y = kernel[0] * bandSignal[m];
            for (int n = 1; n < taps; ++n) {
                if (m - n >= 0) y += kernel[n] * bandSignal[m - n];
                if (m + n < frames) y += std::conj(kernel[n]) * bandSignal[m + n];
            }
            float energy = std::norm(y);
            if (hasPower) {
                const int powerStart = static_cast<int>(power[0]);
                energy *= power[1];
                for (int i = 0; i < tables.powerWeightCount[b] - 2; ++i)
                    energy += power[2 + i] * powers[m][powerStart + i];
            }
            energies[m][b] = energy;
        }
    }
    std::array<float, analysisBandCount> bandGains{};
    for (BandFrame& frame : energies)
        cleanPowers(frame.data(), analysisBandCount, bandGains.data(), local, broad);
    return energies;
}

} // namespace analysis

float analyzeAudio(Blob& blob, const std::vector<float>& samples, double sampleRate) {
    if (!(sampleRate >= minAnalysisRate && sampleRate <= maxAnalysisRate)) return 1.0f;

    // Reference level: the loudest sample up to the point where any sound has begun.
    double sum = 0.0, reference = 0.0;
    for (float s : samples) {
        const double magnitude = std::abs(static_cast<double>(s));
        if (!std::isfinite(magnitude)) continue;
        sum += magnitude;
        reference = std::max(reference, magnitude);
        if (sum >= silenceSum) break;
    }
    if (!(sum >= silenceSum)) return 1.0f;

    // Trim what is quieter than the threshold at both ends.
    const double threshold = reference * trimLevel;
    const auto audible = [&](float s) { return std::abs(static_cast<double>(s)) >= threshold; };
    const size_t first =
        static_cast<size_t>(std::find_if(samples.begin(), samples.end(), audible) - samples.begin());
    size_t last = samples.size();
    while (last > first && !audible(samples[last - 1])) --last;
    if (last <= first) return 1.0f;

    // Pad with silence: at least 0.1 s in all, and about 256 samples at 44.1 kHz after the sound.
    const size_t trimmed = last - first;
    const size_t padded =
        std::max(static_cast<size_t>(minimumBufferSeconds * sampleRate),
                 trimmed + static_cast<size_t>(sampleRate * frameLength / analysis::analysisRate));
    const bool resample = std::abs(sampleRate - analysis::analysisRate) > rateTolerance;
    const double ratio = resample ? sampleRate / analysis::analysisRate : 1.0;
    const size_t length = resample ? static_cast<size_t>(static_cast<double>(padded) / ratio) : padded;
    const int frameTotal = static_cast<int>(std::min<size_t>((length + frameLength) / hopLength, 1u << 30));

    // Only the first frames shape the Blob's plane; later samples are neither copied nor
    // filtered.
    const int frames = std::min(frameTotal, framesNeeded());
    // Past the plane only the tails' decay is measured, over a few seconds at most.
    const int tailFrames =
        std::min(frameTotal, framesNeeded() + static_cast<int>(tailSeconds * plane::framesPerSecond));
    const size_t used = std::min(length, static_cast<size_t>(tailFrames) * hopLength + frameLength);
    const size_t inputUsed = std::min(padded, static_cast<size_t>(static_cast<double>(used) * ratio) + 4);
    std::vector<float> input(inputUsed, 0.0f);
    for (size_t i = 0; i < std::min(trimmed, inputUsed); ++i)
        input[i] = std::isfinite(samples[first + i]) ? samples[first + i] : 0.0f;

    std::vector<float> signal;
    if (resample) {
        // Four-point cubic interpolation; taps outside the buffer are silence.
        signal.assign(used, 0.0f);
        const auto tap = [&](long long k) {
            return k >= 0 && k < static_cast<long long>(padded) && k < static_cast<long long>(inputUsed)
                       ? static_cast<double>(input[static_cast<size_t>(k)])
                       : 0.0;
        };
        for (size_t i = 0; i < used; ++i) {
            const double x = static_cast<double>(i) * ratio;
            const long long k = static_cast<long long>(x);
            const double d = x - static_cast<double>(k);
            const double c0 = ((1.0 - d / 2) * d - 0.5) * d;
            const double c1 = (1.5 * d - 2.5) * d * d + 1.0;
            const double c2 = ((2.0 - 1.5 * d) * d + 0.5) * d;
            const double c3 = (0.5 * d - 0.5) * d * d;
            signal[i] = static_cast<float>(c0 * tap(k - 1) + c1 * tap(k) + c2 * tap(k + 1) + c3 * tap(k + 2));
        }
    } else {
        signal = std::move(input);
        signal.resize(used, 0.0f);
    }

    // A first-order low shelf (gain 0.1 at 0 Hz, 1 at high frequencies) so that the deep end
    // does not dominate the picture.
    const auto lowShelf = [](std::vector<float>& x) {
        const double a = -std::numbers::pi * shelfFrequency / std::sqrt(shelfGain);
        const auto pole = [](double v) {
            return 1.25 * (1.0 / (1.0 - 0.75 * v + 0.375 * v * v) - 1.0) + 1.0;
        };
        const double p = pole(a);
        const double e = pole(a * shelfGain);
        const double b0 = (1.0 - p) * shelfGain / (1.0 - e);
        const double b1 = -e * b0;
        double previous = 0.0;
        for (float& v : x) {
            const double w = v + p * previous;
            v = static_cast<float>(b0 * w + b1 * previous);
            previous = w;
        }
    };
    lowShelf(signal);

    const std::vector<BandFrame> energies = analysis::bandEnergies(signal, tailFrames);
    // Where the recording's own samples end, in seconds, when the frames analysed reach it.
    const double recordingSeconds =
        frameTotal <= tailFrames ? static_cast<double>(trimmed) / sampleRate : 0.0;

    // The band grid on the warped time points; each point averages its neighbourhood of
    // frames with smooth weights. The fourth root compresses the dynamic range.
    // Returns the time points the frames reach.
    const auto fillGrid = [&](const std::vector<BandFrame>& e, int available, Grid& out) {
        for (auto& row : out) row.fill(0.0);
        for (int p = 0; p < timePointCount; ++p) {
            const int lo = static_cast<int>(pointFrame(p - 1) + 1.0);
            const int hi = std::min(static_cast<int>(pointFrame(p + 1) + 1.0), frameTotal);
            if (lo * 1.02 > hi) return p;
            std::array<double, analysisBandCount> acc{};
            double weightSum = 0.0;
            for (int frame = lo; frame < hi; ++frame) {
                const double a = std::abs(framePoint(frame) - p);
                const double u = 1.0 - (3.0 - 2.0 * a) * a * a;
                weightSum += u;
                if (frame >= available) continue;
                for (int b = 0; b < analysisBandCount; ++b) acc[b] += u * e[frame][b];
            }
            for (int b = 0; b < analysisBandCount; ++b)
                out[p][b] = std::pow(acc[b] / (1e-30 + weightSum), 0.25);
        }
        return timePointCount;
    };
    Grid g(timePointCount), t(timePointCount), f(timePointCount);
    // time points that the analysed sound reaches
    int soundPoints = fillGrid(energies, frames, g);
    double gridTotal = 0.0;
    for (const auto& row : g)
        for (double v : row) gridTotal += v;
    if (!(gridTotal > 0.0) || !std::isfinite(gridTotal)) return 1.0f;
    // The sound ends where its energy has fallen for good far below its peak, even when the
    // recording's faint remainder reaches further.
    {
        std::vector<double> pointEnergy(timePointCount, 0.0);
        for (int p = 0; p < timePointCount; ++p)
            for (double v : g[p]) pointEnergy[p] += v * v * v * v;
        const double loudest = *std::max_element(pointEnergy.begin(), pointEnergy.end());
        int last = soundPoints - 1;
        while (last > 0 && pointEnergy[last] < soundEndLevel * loudest) --last;
        soundPoints = std::min(soundPoints, last + 1);
    }

    separate(g, t, f);
    // Past the end of a short sound the picture is empty, yet the floor that separate() adds
    // would spread about a third of every band's time knots over that silence, and the Blob
    // would play a quiet wash of noise after the hit and carry it into a long tail. With no
    // knots there at all, the knot steps the mesh allows would draw knots out of the sound
    // instead and its quiet end would fall silent early. Those time points get just less
    // than the knot density the engine starts to sound at: the silence stays silent and the
    // sound keeps its knots.
    if (soundPoints < timePointCount) {
        const double silentPoints = timePointCount - soundPoints;
        const double silentDensity = silentTimeDensityShare * Blob::timeDensityThreshold;
        for (int b = 0; b < analysisBandCount; ++b) {
            double soundMass = 0.0;
            for (int p = 0; p < soundPoints; ++p) soundMass += t[p][b];
            // With the silent points at level v the band's total mass is soundMass +
            // silentPoints * v, and the knot density there (timeNodeCount - 1) * v / total.
            const double level =
                silentDensity * soundMass / ((timeNodeCount - 1) - silentDensity * silentPoints);
            for (int p = soundPoints; p < timePointCount; ++p) t[p][b] = level;
        }
    }

    // Equal-share cuts: along time for every band, along the bands for every time point.
    std::vector<std::vector<double>> timeCuts(analysisBandCount), bandCuts(timePointCount);
    std::vector<double> line;
    for (int b = 0; b < analysisBandCount; ++b) {
        line.resize(timePointCount);
        for (int p = 0; p < timePointCount; ++p) line[p] = t[p][b];
        timeCuts[b] = equalShareCuts(line, timeNodeCount);
    }
    for (int p = 0; p < timePointCount; ++p) {
        line.assign(f[p].begin(), f[p].end());
        bandCuts[p] = equalShareCuts(line, bandNodeCount);
    }

    // Grid nodes where time cut i crosses band cut j.
    const auto cutTime = [&](int i, double band) {
        return interpolate([&](int b) { return timeCuts[b][i]; }, band, analysisBandCount - 1.0001);
    };
    const auto cutBand = [&](int j, double time) {
        return interpolate([&](int p) { return bandCuts[p][j]; }, time, timePointCount - 1.0001);
    };
    std::vector<std::array<double, bandNodeCount>> nodeTime(timeNodeCount), nodeBand(timeNodeCount);
    for (int i = 0; i < timeNodeCount; ++i) {
        for (int j = 0; j < bandNodeCount; ++j) {
            double band = j == 0 ? 0.0 : analysisBandCount / (bandNodeCount + 0.5) + nodeBand[i][j - 1];
            double time = 0.0;
            bool settled = false;
            for (int it = 0; it < 10 && !settled; ++it) {
                time = cutTime(i, band);
                const double next = cutBand(j, time);
                settled = std::abs(next - band) < 0.001;
                band = next;
            }
            if (!settled) {
                // Where the time cuts of neighbouring bands differ widely (a band holding a
                // tone next to bands without energy) the iteration swings from one side of
                // the crossing to the other and stops anywhere. Bisect for the crossing
                // instead: the miss cutBand(cutTime(b)) - b is >= 0 at band 0 and <= 0 at
                // the top band, and from the previous node on when it is >= 0 there.
                const auto miss = [&](double b) { return cutBand(j, cutTime(i, b)) - b; };
                double lo = j == 0 ? 0.0 : nodeBand[i][j - 1];
                if (miss(lo) < 0.0) lo = 0.0;
                double hi = analysisBandCount;
                for (int it = 0; it < crossingBisections; ++it) {
                    const double mid = 0.5 * (lo + hi);
                    (miss(mid) >= 0.0 ? lo : hi) = mid;
                }
                time = cutTime(i, 0.5 * (lo + hi));
                band = cutBand(j, time);
            }
            nodeTime[i][j] = time;
            nodeBand[i][j] = band;
        }
    }

    // Band curves. Each column takes the equal-share cuts of the spectrum around its time knot
    // (tent weights over the time knots on either side, as the engine fades between columns,
    // and weighted by the level at each time point so that silence does not flatten it). That
    // spectrum is half the frequency factor, which changes little from column to column, and
    // half the measured picture with the same floor as the factor's: the frequency factor
    // alone is smooth across bands and spreads a tone over a dozen of them, while the crossings
    // of the time and band cuts, fitted into curves, put a steady tone's knots one or two
    // bands low and could fold near a steep edge.
    std::array<double, timeNodeCount> knotTime{};
    for (int i = 0; i < timeNodeCount; ++i)
        for (int j = 0; j < bandNodeCount; ++j) knotTime[i] += nodeTime[i][j] / bandNodeCount;
    std::vector<double> picture(analysisBandCount);
    for (int c = 0; c < Blob::freqColumnCount; ++c) {
        line.assign(analysisBandCount, 0.0);
        picture.assign(analysisBandCount, 0.0);
        int i = 0;
        for (int p = 0; p < timePointCount; ++p) {
            const double time = p + 0.5;
            while (i + 2 < timeNodeCount && knotTime[i + 1] <= time) ++i;
            const double span = std::max(knotTime[i + 1] - knotTime[i], 1e-9);
            const double knot = i + std::clamp((time - knotTime[i]) / span, 0.0, 1.0);
            const double reach = std::max(1.0 - std::abs(knot / knotSpacing - c), 0.0);
            if (reach <= 0.0) continue;
            double level = 0.0;
            for (int b = 0; b < analysisBandCount; ++b) level += g[p][b];
            const double weight = reach * level + silentColumnWeight;
            for (int b = 0; b < analysisBandCount; ++b) {
                picture[b] += weight * g[p][b];
                line[b] += weight * f[p][b];
            }
        }
        double pictureMean = 0.0, factorTotal = 0.0;
        for (int b = 0; b < analysisBandCount; ++b) {
            pictureMean += picture[b] / analysisBandCount;
            factorTotal += line[b];
        }
        const double pictureTotal = pictureMean * (1.0 + factorFloor) * analysisBandCount;
        for (int b = 0; b < analysisBandCount; ++b)
            line[b] =
                (1.0 - pictureShare) * line[b] / std::max(factorTotal, 1e-300) +
                pictureShare * (picture[b] + factorFloor * pictureMean) / std::max(pictureTotal, 1e-300);
        const std::vector<double> cuts = equalShareCuts(line, bandNodeCount);
        for (int j = 0; j < bandNodeCount; ++j) blob.freqWarps[c][j] = static_cast<float>(cuts[j]);
    }

    // Time curves. The engine's loudness goes with the knot density to about the fourth power,
    // so neighbouring steps must not jump: each row takes the equal-share cuts of one smooth
    // time shape, where times taken from crossings drift from band to band along a row and
    // would turn into blips and late peaks. A row's shape is the mean of the time shapes of
    // the bands it plays (in the engine a row's amplitude fades out over the eight frequency
    // knots on either side), weighted by their level (the eighth root of their energy: a
    // steeper weight lets a row follow only its loudest band and thins the low end of kicks)
    // and by the knots each band holds, with a little of every band so that a row over empty
    // bands follows the sound as a whole. The row moves knots, not bands: a tone's band holds
    // a dozen knots of the row, a silent band beside it a fraction of one, and counted band
    // by band the onset of the silent bands set the shape of the tone's row, whose decay then
    // swelled and dipped (a slow modulation that the lowest bins turn into rumble).
    std::array<double, bandNodeCount> meanKnotBand{};
    for (int j = 0; j < bandNodeCount; ++j)
        for (const auto& column : blob.freqWarps) meanKnotBand[j] += column[j] / Blob::freqColumnCount;
    // The fractional knot at a band position, and per band its centre's knot and the knots it
    // holds.
    const auto knotAt = [&](double band) {
        int j = 0;
        while (j + 2 < bandNodeCount && meanKnotBand[j + 1] <= band) ++j;
        const double span = std::max(meanKnotBand[j + 1] - meanKnotBand[j], 1e-9);
        return j + std::clamp((band - meanKnotBand[j]) / span, 0.0, 1.0);
    };
    std::array<double, analysisBandCount> bandKnot{}, bandWeight{}, bandKnots{};
    for (int b = 0; b < analysisBandCount; ++b) {
        bandKnot[b] = knotAt(b + 0.5);
        bandKnots[b] = knotAt(b + 1.0) - knotAt(b);
        double timeMass = 0.0;
        for (int p = 0; p < timePointCount; ++p) {
            bandWeight[b] += std::sqrt(g[p][b]);
            timeMass += t[p][b];
        }
        bandWeight[b] = timeMass > 0.0 ? bandWeight[b] / timeMass : 0.0;
    }
    const std::array<double, Blob::timeRowCount> tailTimes = rowTailTimes(energies, frames, bandKnot);
    std::array<std::vector<double>, Blob::timeRowCount> shapes;
    for (int r = 0; r < Blob::timeRowCount; ++r) {
        line.assign(timePointCount, 0.0);
        for (int b = 0; b < analysisBandCount; ++b) {
            const double reach = std::max(1.0 - std::abs(bandKnot[b] / knotSpacing - r), 0.0);
            const double weight = (reach + otherBandsShare) * bandWeight[b] * bandKnots[b];
            for (int p = 0; p < timePointCount; ++p) line[p] += weight * t[p][b];
        }
        // Half of the shape is the measured picture of the bands the row plays, with the same
        // floor as the time factor's: the time factor of a band beside a tone dips and swells
        // where the recording decays smoothly, and rows over the end of a sound follow its
        // floor rather than its decay. The onset keeps the time factor alone, whose smoothness
        // keeps neighbouring segments alike there.
        std::vector<double> rowPicture(timePointCount, 0.0);
        double pictureMean = 0.0, shapeTotal = 0.0;
        for (int p = 0; p < timePointCount; ++p) {
            for (int b = 0; b < analysisBandCount; ++b) {
                const double reach = std::max(1.0 - std::abs(bandKnot[b] / knotSpacing - r), 0.0);
                rowPicture[p] += (reach + otherBandsShare) * bandKnots[b] * g[p][b];
            }
            pictureMean += rowPicture[p] / timePointCount;
            shapeTotal += line[p];
        }
        const double pictureTotal = pictureMean * (1.0 + factorFloor) * timePointCount;
        for (int p = 0; p < timePointCount; ++p) {
            // After the sound's end, like the time factor, just below sounding.
            const double picture = p < soundPoints ? rowPicture[p] + factorFloor * pictureMean
                                                   : silentTimeDensityShare * factorFloor * pictureMean;
            const double share = pictureShare * std::min(1.0, p / onsetPoints);
            line[p] = (1.0 - share) * line[p] / std::max(shapeTotal, 1e-300) +
                      share * picture / std::max(pictureTotal, 1e-300);
        }
        shapes[r] = line;
    }
    // Once the replay of a recording that stops is found to ring after its end, the rows are
    // bent from bendPoint on, and every row's tail is silenced: also those of rows whose bands
    // are quiet where the plane ends, which otherwise keep their knots (the mesh's knots, not
    // the bands, decide what a row plays: a 70 Hz ring cut off at 0.55 s rang on at -27 dB in
    // such a row).
    double bendPoint = timePointCount;
    bool stopped = false;
    const auto finish = [&](Blob& out) {
        for (int r = 0; r < Blob::timeRowCount; ++r)
            out.timeWarps[r] = rowWithTail(
                shapes[r], stopped && tailTimes[r] == 0.0 ? silentRowTailTime : tailTimes[r], bendPoint);
        // Keep successive knots apart by most of the smallest gap seen.
        double timeGap = 1e30, bandGap = 1e30;
        for (const auto& row : out.timeWarps)
            for (int i = 0; i + 1 < timeNodeCount; ++i)
                timeGap = std::min(timeGap, double{row[i + 1] - row[i]});
        for (const auto& column : out.freqWarps)
            for (int j = 0; j + 1 < bandNodeCount; ++j)
                bandGap = std::min(bandGap, double{column[j + 1] - column[j]});
        for (auto& row : out.timeWarps) enforceRise(row.data(), timeNodeCount, minimumGapShare * timeGap);
        for (auto& column : out.freqWarps)
            enforceRise(column.data(), bandNodeCount, minimumGapShare * bandGap);
        return out.normalise();
    };

    // The shapes above follow the recording, but how loud the engine plays a stretch also
    // depends on how its spectrum is spread over the knots (a tone's crowd plays louder than a
    // broad spread of the same knots), so bodies outgrew their attacks and tails their
    // recordings. The engine plays the Blob, its render goes through the same bands and time
    // points as the recording, and each row's shape is lowered after the loudest time point
    // where the render, relative to the row's mean, is louder than the recording.
    int peakPoint = 0;
    {
        double loudestPoint = 0.0;
        for (int p = 0; p < soundPoints; ++p) {
            double energy = 0.0;
            for (double v : g[p]) energy += v * v * v * v;
            if (energy > loudestPoint) {
                loudestPoint = energy;
                peakPoint = p;
            }
        }
    }
    const auto rowEnergy = [&](const Grid& grid, int r, int p, int lowest = playedShapeLowestBand) {
        double sum = 0.0;
        for (int b = lowest; b < analysisBandCount; ++b) {
            const double v = grid[p][b] * grid[p][b];
            sum += std::max(1.0 - std::abs(bandKnot[b] / knotSpacing - r), 0.0) * v * v;
        }
        return sum;
    };
    // Which rows have their body lowered against their attack, and which of them have their
    // attack raised as well (see attackRowShare).
    std::array<bool, Blob::timeRowCount> lowersBody{}, alignsAttack{};
    {
        std::array<double, Blob::timeRowCount> attack{};
        double loudestAttack = 0.0;
        for (int r = 0; r < Blob::timeRowCount; ++r) {
            for (int p = 0; p <= std::min(peakPoint, soundPoints - 1); ++p) attack[r] += rowEnergy(g, r, p);
            loudestAttack = std::max(loudestAttack, attack[r]);
        }
        for (int r = 0; r < Blob::timeRowCount; ++r) {
            double high = 0.0, all = 0.0;
            for (int p = 0; p < soundPoints; ++p) {
                high += rowEnergy(g, r, p, attackLowestBand);
                all += rowEnergy(g, r, p, 0);
            }
            lowersBody[r] = attack[r] >= attackRowShare * loudestAttack && all > 0.0;
            alignsAttack[r] = lowersBody[r] && high >= 0.5 * all;
        }
    }
    const int planeFrames = static_cast<int>(pointFrame(timePointCount)) + 1;
    Grid played(timePointCount);
    for (int round = 0; round < playedShapeRounds; ++round) {
        Blob trial;
        trial.freqWarps = blob.freqWarps;
        finish(trial);
        const double seconds = (planeFrames + playedShapeDelayFrames + playedShapeExtraFrames) * hopLength /
                               analysis::analysisRate;
        const SoloHitRender hit = renderSoloHit(trial, analysis::analysisRate, seconds, playedShapeVelocity);
        const size_t delay = playedShapeDelayFrames * hopLength;
        std::vector<float> render(hit.left.size() > delay ? hit.left.size() - delay : 0);
        for (size_t i = 0; i < render.size(); ++i)
            render[i] = 0.5f * (hit.left[i + delay] + hit.right[i + delay]);
        lowShelf(render);
        const std::vector<BandFrame> renderEnergies = analysis::bandEnergies(render, frames);
        fillGrid(renderEnergies, static_cast<int>(renderEnergies.size()), played);
        for (int r = 0; r < Blob::timeRowCount; ++r) {
            // Log ratios of recording to render, and their mean weighted by the recording's level.
            std::vector<double> ratio(timePointCount, 0.0), weight(timePointCount, 0.0);
            double logSum = 0.0, weightSum = 0.0;
            for (int p = 0; p < soundPoints; ++p) {
                const double target = rowEnergy(g, r, p);
                const double heard = rowEnergy(played, r, p);
                if (!(target > 0.0) || !(heard > 0.0)) continue;
                ratio[p] = std::log(target / heard);
                weight[p] = std::sqrt(target);
                logSum += weight[p] * ratio[p];
                weightSum += weight[p];
            }
            if (!(weightSum > 0.0)) continue;
            const double meanRatio = logSum / weightSum;
            // The attack's ratio, and the body's after it.
            double attackRatio = meanRatio, bodyRatio = meanRatio;
            if (lowersBody[r]) {
                double attackSum = 0.0, attackWeight = 0.0, bodySum = 0.0, bodyWeight = 0.0;
                for (int p = 0; p < soundPoints; ++p) {
                    (p <= peakPoint ? attackSum : bodySum) += weight[p] * ratio[p];
                    (p <= peakPoint ? attackWeight : bodyWeight) += weight[p];
                }
                if (attackWeight > 0.0) attackRatio = std::max(meanRatio, attackSum / attackWeight);
                if (bodyWeight > 0.0) bodyRatio = bodySum / bodyWeight;
            }
            std::vector<double> lowering(timePointCount, 0.0);
            double loudestTarget = 0.0;
            for (int p = 0; p < soundPoints; ++p)
                loudestTarget = std::max(loudestTarget, weight[p] * weight[p]);
            for (int p = peakPoint + 1; p < soundPoints; ++p)
                if (weight[p] > 0.0) {
                    const double belowDb = -10.0 * std::log10(weight[p] * weight[p] / loudestTarget);
                    const double fade =
                        std::clamp((playedShapeRangeDb - belowDb) / (0.5 * playedShapeRangeDb), 0.0, 1.0);
                    const double body =
                        alignsAttack[r]
                            ? std::clamp((bodyEdgeDb - belowDb) / (bodyEdgeDb - bodyRangeDb), 0.0, 1.0)
                            : 1.0;
                    const double reference = meanRatio + body * (attackRatio - meanRatio);
                    lowering[p] =
                        fade * std::clamp(playedShapeGain * (ratio[p] - reference), -playedShapeStep, 0.0);
                }
            if (alignsAttack[r])
                for (int p = 0; p <= std::min(peakPoint, soundPoints - 1); ++p)
                    if (weight[p] > 0.0)
                        lowering[p] =
                            std::clamp(playedShapeGain * (ratio[p] - bodyRatio), 0.0, playedShapeStep);
            for (int pass = 0; pass < playedShapeSmoothing; ++pass) {
                const std::vector<double> before = lowering;
                for (int p = 1; p + 1 < timePointCount; ++p)
                    lowering[p] = 0.25 * before[p - 1] + 0.5 * before[p] + 0.25 * before[p + 1];
            }
            for (int p = 0; p < soundPoints; ++p) shapes[r][p] *= std::exp(lowering[p]);
            // Lowering the sound leaves the time points after its end a larger share of the
            // row: they may not rise above the density at which the engine starts to sound
            // (a faint wash after a recording that stops, 170 ms past its end).
            if (soundPoints < timePointCount) {
                double soundMass = 0.0;
                for (int p = 0; p < soundPoints; ++p) soundMass += shapes[r][p];
                const double silentPoints = timePointCount - soundPoints;
                const double threshold = Blob::timeDensityThreshold;
                const double level = threshold * soundMass / ((timeNodeCount - 1) - threshold * silentPoints);
                for (int p = soundPoints; p < timePointCount; ++p)
                    shapes[r][p] = std::min(shapes[r][p], level);
            }
        }
    }
    const auto columns = blob.freqWarps;
    float normalisation = finish(blob);
    // A recording that stops while it still sounds: its rows with a tail bend from the latest
    // time point that makes the replay silent where the recording is (bisected).
    const auto sounds = [&](double marginDb) {
        return levelAfterDb(blob, recordingSeconds) > -(stoppedSilenceDb + marginDb);
    };
    if (recordingSeconds > 0.0 && recordingSeconds < stoppedLongest && sounds(0.0)) {
        stopped = true;
        const auto bendFrom = [&](double point) {
            bendPoint = point;
            blob.freqWarps = columns;
            normalisation = finish(blob);
        };
        double silent = stoppedEarliestPoint, ringing = timePointCount;
        bendFrom(silent);
        // Where even the earliest bend leaves it sounding, the plane keeps its end.
        if (sounds(0.0)) {
            silent = timePointCount;
            stopped = false;
        }
        while (ringing - silent > stoppedBendStep) {
            const double middle = 0.5 * (silent + ringing);
            bendFrom(middle);
            (sounds(stoppedMarginDb) ? ringing : silent) = middle;
        }
        bendFrom(silent);
    }
    return normalisation;
}

} // namespace tarvo
