#include "analysis/AnalysisTables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/CanonicalPlane.h"

namespace tarvo::analysis {

namespace {

constexpr double pi = std::numbers::pi;
// Width of one bin in Hz.
constexpr double binHz = analysisRate / frameLength;
// Frames per second: the rate at which the band kernels run, and the period of their response.
constexpr double frameRateHz = analysisRate / hopLength;
// The complex part's share of the band energy at band 50; it falls to 0 at band 79, where
// the bands are several bins wide and bin powers describe them better.
constexpr double complexShareAtBand50 = 0.5;
// Bin weights per band including the start bin: 3 weights for bands 0 to 8, 4 for the rest.
constexpr int narrowBinBands = 9;
// First band that also sums bin powers.
constexpr int firstPowerBand = 50;

// Complex taps per band kernel: roughly inversely proportional to the band's width, so that
// every kernel resolves its band.
constexpr std::array<int, analysisBandCount> kernelLengths = {
    31, 30, 28, 27, 25, 24, 23, 21, 20, 19, 18, 17, 16, 15, 15, 14, 13, 12, 12, 11, 11, 10, 10, 9, 9, 8, 8,
    7,  7,  7,  6,  6,  6,  5,  5,  5,  5,  4,  4,  4,  4,  4,  3,  3,  3,  3,  3,  3,  3,  3,  2, 2, 2, 2,
    2,  2,  2,  2,  2,  2,  2,  2,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1,  1, 1, 1};

// Record lengths in bandPowerWeights for bands 50 to 79 (start bin, gain and bin weights).
constexpr std::array<int, analysisBandCount - firstPowerBand> powerRecordLengths = {
    9,  10, 9,  10, 11, 11, 12, 12, 12, 13, 14, 15, 15, 15, 17,
    18, 18, 19, 20, 21, 23, 23, 25, 26, 28, 29, 31, 32, 34, 31};

// Resolution of the tabulated window response, in steps per bin.
constexpr int responseStepsPerBin = 64;

// The window's spectrum, real and even because the window is centred on sample 0 before
// the transform; tabulated once and interpolated.
class WindowResponse {
public:
    explicit WindowResponse(const std::array<float, frameLength>& window) {
        table_.resize((binCount + 8) * responseStepsPerBin + 2);
        for (size_t i = 0; i < table_.size(); ++i) {
            const double delta = static_cast<double>(i) / responseStepsPerBin;
            double sum = window[frameLength / 2];
            for (int n = 1; n < frameLength / 2; ++n)
                sum += 2.0 * window[frameLength / 2 + n] * std::cos(2.0 * pi * delta * n / frameLength);
            table_[i] = sum;
        }
    }
    // Response at a distance of delta bins from a bin's centre.
    double operator()(double delta) const {
        const double x = std::abs(delta) * responseStepsPerBin;
        const size_t i = static_cast<size_t>(x);
        if (i + 1 >= table_.size()) return 0.0;
        const double t = x - static_cast<double>(i);
        return table_[i] + t * (table_[i + 1] - table_[i]);
    }

private:
    std::vector<double> table_;
};

// The power response every band aims at: 1 at its centre, crossing its neighbours at half
// power, 0 beyond them; positive frequencies only.
double targetPower(int band, double hz) {
    if (hz <= 0.0) return 0.0;
    const double d = bandOfFrequency(hz) - band;
    if (std::abs(d) >= 1.0) return 0.0;
    const double c = std::cos(0.5 * pi * d);
    return c * c;
}

struct BandDesign {
    double centreHz = 0.0;
    int kernelLength = 1;
    std::vector<double> taper; // real kernel weights for taps 0 .. L - 1, summing to 1 over +-taps
    int startBin = 0;
    std::vector<double> binWeights;
    int powerStart = 0;
    std::vector<double> powerWeights;
    double complexShare = 1.0;

    // The kernel's response to a component at hz: periodic in the frame rate, 1 at the centre.
    double kernelResponse(double hz) const {
        const double phase = 2.0 * pi * (hz - centreHz) / frameRateHz;
        double sum = taper[0];
        for (int n = 1; n < kernelLength; ++n) sum += 2.0 * taper[n] * std::cos(n * phase);
        return sum;
    }
    // The bin sum's response to a component at hz (negative for the mirror image).
    double binSumResponse(const WindowResponse& w, double hz) const {
        double sum = 0.0;
        for (size_t i = 0; i < binWeights.size(); ++i)
            sum += binWeights[i] * w(hz / binHz - static_cast<double>(startBin + static_cast<int>(i)));
        return sum;
    }
    // Mean band energy of the complex part for a cosine of amplitude 1 at hz.
    double complexEnergy(const WindowResponse& w, double hz) const {
        const double pos = binSumResponse(w, hz) * kernelResponse(hz);
        const double neg = binSumResponse(w, -hz) * kernelResponse(-hz);
        return 0.25 * (pos * pos + neg * neg);
    }
    // Mean band energy of the power part for a cosine of amplitude 1 at hz.
    double powerEnergy(const WindowResponse& w, double hz) const {
        double sum = 0.0;
        for (size_t i = 0; i < powerWeights.size(); ++i) {
            const double k = static_cast<double>(powerStart + static_cast<int>(i));
            const double a = w(hz / binHz - k);
            const double b = w(hz / binHz + k);
            sum += powerWeights[i] * 0.25 * (a * a + b * b);
        }
        return sum;
    }
    double energy(const WindowResponse& w, double hz) const {
        return complexShare * complexEnergy(w, hz) + powerEnergy(w, hz);
    }
};

// Solves the symmetric positive definite system a x = b in place (Gaussian elimination
// with partial pivoting); a is n x n, row-major.
std::vector<double> solve(std::vector<double> a, std::vector<double> b) {
    const size_t n = b.size();
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r)
            if (std::abs(a[r * n + col]) > std::abs(a[pivot * n + col])) pivot = r;
        if (pivot != col) {
            for (size_t c = 0; c < n; ++c) std::swap(a[col * n + c], a[pivot * n + c]);
            std::swap(b[col], b[pivot]);
        }
        const double diag = a[col * n + col];
        if (diag == 0.0) continue;
        for (size_t r = col + 1; r < n; ++r) {
            const double f = a[r * n + col] / diag;
            if (f == 0.0) continue;
            for (size_t c = col; c < n; ++c) a[r * n + c] -= f * a[col * n + c];
            b[r] -= f * b[col];
        }
    }
    std::vector<double> x(n, 0.0);
    for (size_t i = n; i-- > 0;) {
        double s = b[i];
        for (size_t c = i + 1; c < n; ++c) s -= a[i * n + c] * x[c];
        x[i] = a[i * n + i] != 0.0 ? s / a[i * n + i] : 0.0;
    }
    return x;
}

// A cos^2 taper over 2L - 1 taps, normalised to sum 1 so the kernel passes its centre
// frequency with gain 1; its main lobe reaches about one frame rate / L to either side.
std::vector<double> kernelTaper(int length) {
    std::vector<double> taper(static_cast<size_t>(length));
    double sum = 0.0;
    for (int n = 0; n < length; ++n) {
        const double c = std::cos(0.5 * pi * n / length);
        taper[n] = c * c;
        sum += n == 0 ? taper[n] : 2.0 * taper[n];
    }
    for (double& t : taper) t /= sum;
    return taper;
}

// Bin weights by weighted least squares over a frequency grid. With a kernel (L > 1) the bin
// sum should pass the kernel's central lobe with gain 2 (so a unit cosine gives energy 1) and
// block the kernel's repeats every frame rate and the mirror image; each grid point counts
// as much as the kernel lets it through. Without a kernel the bin sum alone shapes the band.
void designBinWeights(BandDesign& band, int bandIndex, const WindowResponse& w, int weightCount) {
    const double fc = band.centreHz;
    if (bandIndex < narrowBinBands) {
        band.startBin = 0;
    } else {
        band.startBin = static_cast<int>(std::lround(fc / binHz - 0.5 * (weightCount - 1)));
        band.startBin = std::clamp(band.startBin, 0, binCount - weightCount);
    }
    const bool hasKernel = band.kernelLength > 1;
    const double reach = fc + 8.0 * binHz;
    const double step =
        hasKernel ? std::min(frameRateHz / band.kernelLength / 8.0, binHz / 8.0) : binHz / 8.0;
    std::vector<double> ata(static_cast<size_t>(weightCount * weightCount), 0.0);
    std::vector<double> atb(static_cast<size_t>(weightCount), 0.0);
    std::vector<double> basis(static_cast<size_t>(weightCount));
    for (double hz = -reach; hz <= reach; hz += step) {
        double weight = 1.0;
        double target = 0.0;
        if (hasKernel) {
            const double k = band.kernelResponse(hz);
            weight = k * k;
            target = hz > 0.0 && std::abs(hz - fc) < 0.5 * frameRateHz ? 2.0 : 0.0;
        } else {
            target = 2.0 * std::sqrt(targetPower(bandIndex, hz));
        }
        if (weight < 1e-12) continue;
        for (int i = 0; i < weightCount; ++i) basis[i] = w(hz / binHz - (band.startBin + i));
        for (int i = 0; i < weightCount; ++i) {
            atb[i] += weight * basis[i] * target;
            for (int j = 0; j < weightCount; ++j) ata[i * weightCount + j] += weight * basis[i] * basis[j];
        }
    }
    // A light ridge keeps the weights small where the grid cannot tell them apart.
    double trace = 0.0;
    for (int i = 0; i < weightCount; ++i) trace += ata[i * weightCount + i];
    for (int i = 0; i < weightCount; ++i) ata[i * weightCount + i] += 1e-6 * trace / weightCount;
    band.binWeights = solve(ata, atb);
}

// Power weights: the band's target shape sampled at the bin centres. Because the targets of
// all bands sum to 1 at every frequency, and a sine's bin powers sum to a constant, the
// power parts of neighbouring bands add up flat.
void designPowerWeights(BandDesign& band, int bandIndex, const WindowResponse& w, int weightCount) {
    double binPowerSum = 0.0; // mean summed bin power of a unit cosine, half a bin off centre
    for (int k = -40; k <= 40; ++k) {
        const double a = w(0.5 - k);
        binPowerSum += 0.25 * a * a;
    }
    band.powerStart = static_cast<int>(std::lround(band.centreHz / binHz - 0.5 * (weightCount - 1)));
    band.powerStart = std::clamp(band.powerStart, 0, binCount - weightCount);
    band.powerWeights.assign(static_cast<size_t>(weightCount), 0.0);
    for (int i = 0; i < weightCount; ++i)
        band.powerWeights[i] =
            (1.0 - band.complexShare) * targetPower(bandIndex, (band.powerStart + i) * binHz) / binPowerSum;
}

// One gain per band, by regularised least squares, so that the energies of all bands sum to
// 1 for a unit cosine anywhere from band 0 to band 79.
std::vector<double> flatteningGains(const std::vector<BandDesign>& bands, const WindowResponse& w) {
    constexpr int pointsPerBand = 8;
    const size_t n = bands.size();
    std::vector<double> ata(n * n, 0.0);
    std::vector<double> atb(n, 0.0);
    std::vector<double> row(n);
    for (int p = 0; p <= (analysisBandCount - 1) * pointsPerBand; ++p) {
        const double hz = plane::bandCentreHz(static_cast<double>(p) / pointsPerBand);
        for (size_t b = 0; b < n; ++b) row[b] = bands[b].energy(w, hz);
        for (size_t i = 0; i < n; ++i) {
            if (row[i] == 0.0) continue;
            atb[i] += row[i];
            for (size_t j = 0; j < n; ++j) ata[i * n + j] += row[i] * row[j];
        }
    }
    // Pull every gain gently towards 1 so that bands the grid barely sees stay sensible.
    double trace = 0.0;
    for (size_t i = 0; i < n; ++i) trace += ata[i * n + i];
    const double ridge = 1e-4 * trace / static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) {
        ata[i * n + i] += ridge;
        atb[i] += ridge;
    }
    std::vector<double> gains = solve(ata, atb);
    for (double& g : gains) g = std::max(g, 0.05);
    return gains;
}

} // namespace

double bandOfFrequency(double hz) {
    return std::log((hz + 228.70372) / 252.70372) / std::log(1.0570441);
}

AnalysisTables designAnalysisTables() {
    AnalysisTables t;
    for (int j = 0; j < frameLength; ++j) {
        const double s = std::sin(pi * j / frameLength);
        t.analysisWindow[j] = static_cast<float>(s * s / (frameLength / 4));
    }
    const WindowResponse response(t.analysisWindow);

    std::vector<BandDesign> bands(analysisBandCount);
    for (int b = 0; b < analysisBandCount; ++b) {
        BandDesign& band = bands[b];
        band.centreHz = plane::bandCentreHz(b);
        band.kernelLength = kernelLengths[b];
        band.taper = kernelTaper(band.kernelLength);
        t.binWeightCount[b] = b < narrowBinBands ? 4 : 5;
        designBinWeights(band, b, response, t.binWeightCount[b] - 1);
        if (b >= firstPowerBand) {
            t.powerWeightCount[b] = powerRecordLengths[b - firstPowerBand];
            band.complexShare =
                complexShareAtBand50 * (analysisBandCount - 1 - b) / (analysisBandCount - 1 - firstPowerBand);
            designPowerWeights(band, b, response, t.powerWeightCount[b] - 2);
        }
    }
    const std::vector<double> gains = flatteningGains(bands, response);

    for (int b = 0; b < analysisBandCount; ++b) {
        const BandDesign& band = bands[b];
        const bool hasPower = t.powerWeightCount[b] > 0;
        // Bands without a power part carry their gain in the bin weights (the energy is the
        // square of their sum); the others carry it in the complex part's gain.
        const double binScale = hasPower ? 1.0 : std::sqrt(gains[b]);
        t.binWeightOffset[b] = static_cast<int>(t.bandBinWeights.size());
        t.bandBinWeights.push_back(static_cast<float>(band.startBin));
        for (double weight : band.binWeights)
            t.bandBinWeights.push_back(static_cast<float>(weight * binScale));

        t.kernelLength[b] = band.kernelLength;
        t.kernelOffset[b] = static_cast<int>(t.bandKernels.size() / 2);
        const double rotation = 2.0 * pi * band.centreHz / frameRateHz;
        for (int n = 0; n < band.kernelLength; ++n) {
            t.bandKernels.push_back(static_cast<float>(band.taper[n] * std::cos(rotation * n)));
            t.bandKernels.push_back(static_cast<float>(band.taper[n] * std::sin(rotation * n)));
        }

        t.powerWeightOffset[b] = static_cast<int>(t.bandPowerWeights.size());
        if (hasPower) {
            t.bandPowerWeights.push_back(static_cast<float>(band.powerStart));
            t.bandPowerWeights.push_back(static_cast<float>(band.complexShare * gains[b]));
            for (double weight : band.powerWeights)
                t.bandPowerWeights.push_back(static_cast<float>(weight * gains[b]));
        }
    }
    return t;
}

const AnalysisTables& analysisTables() {
    static const AnalysisTables tables = designAnalysisTables();
    return tables;
}

} // namespace tarvo::analysis
