#include "engine/EngineSetup.h"

#include <algorithm>
#include <cmath>

#include "dsp/Fft.h"

namespace tarvo {

namespace {

constexpr double twoPi = 6.283185307179586476925286766559;

// Bands narrower than this many bins are synthesized as resonators between two bins.
constexpr double resonatorMaxWidthBins = 1.3;
// Extra bins stop below this frequency (Hz).
constexpr double topFrequencyHz = 21122.217;
// Highest lower band an extra bin may read (it reads this band and the next).
constexpr int lastPairBand = plane::bandCount - 2;

// A window of `length` points as a cosine series: value(n) = sum_j coeff[j] cos(2 pi j n / length).
template <size_t Terms> void cosineWindow(const std::array<double, Terms>& coeff, float* window, int length) {
    for (int n = 0; n < length; ++n) {
        double v = 0.0;
        for (size_t j = 0; j < Terms; ++j)
            v += coeff[j] * std::cos(twoPi * static_cast<double>(static_cast<int>(j) * n) / length);
        // The series is exactly 0 at the edge; keep rounding from making it negative.
        window[static_cast<size_t>(n)] = static_cast<float>(std::max(v, 0.0));
    }
}

// Fitted to pass exactly through 0 at the edge and the design values at indices 32, 64, 96 and
// 128 while summing to 2.0.
constexpr std::array<double, 9> analysisSeries{0.0078125,
                                               -0.008478567931708685,
                                               0.0006261510999999995,
                                               4.17444317086842e-05,
                                               5.975249999994729e-07,
                                               0.0,
                                               0.0,
                                               0.0,
                                               -2.4251249999997077e-06};
// Fitted to pass exactly through 0 at the edge and the design values at indices 32, 64, 96 and
// 128 while summing to 4962.314; the terms 4 and 8 set the ripple of the four overlapping
// copies of a hop to 77.39 .. 77.71.
constexpr std::array<double, 9> synthesisSeries{19.3840390625,
                                                -23.006044970505478,
                                                3.3678987499999993,
                                                0.21156747050548055,
                                                0.039824974999998965,
                                                0.0,
                                                0.0,
                                                0.0,
                                                0.002714712499999654};

// Whether n has no prime factor above 7.
bool smallFactorsOnly(int n) {
    for (int p : {2, 3, 5, 7})
        while (n % p == 0) n /= p;
    return n == 1;
}

// Cosine phasor of a fraction w of a turn from the polynomial in x = 4 w (1 - w).
Complex polyPhasor(double w) {
    const double x = 4.0 * w * (1.0 - w);
    const double re = 1.0 - (0.5268947 * x * x + 1.4731053) * x * x;
    const double im = ((1.2080399 * x + 1.7851804) * x + 3.320247) * (0.5 - w) * x;
    return {static_cast<float>(re), static_cast<float>(im)};
}

double fraction(double x) {
    return x - std::floor(x);
}

// Shapes a uniform value in [-1, 1) towards a Gaussian of variance about 1/2.
constexpr double shapeGaussian(double v) {
    return (1.264 - v * v) * v / (1.0 - 0.92 * v * v) * 0.70710678118654752;
}

constexpr std::array<Complex, noiseTableSize> makeNoiseTable() {
    // Raw samples g_i for i = -2 .. noiseTableSize + 1, stored at i + 2.
    constexpr int rawCount = noiseTableSize + 4;
    std::array<double, rawCount> re{};
    std::array<double, rawCount> im{};
    uint32_t a = 12345u;
    uint32_t b = 12345u * 123u - 456u;
    for (int i = 0; i < rawCount; ++i) {
        a = lcgNext(a);
        b = b * 214013u + 2531011u;
        re[static_cast<size_t>(i)] = shapeGaussian(static_cast<int32_t>(a) * 0x1p-31);
        im[static_cast<size_t>(i)] = shapeGaussian(static_cast<int32_t>(b) * 0x1p-31);
    }
    // Smoothing kernel whose squares sum to 1: keeps the variance and correlates neighbours
    // like neighbouring bins of a windowed spectrum.
    constexpr std::array<double, 5> kernel{0.032048643, 0.42987856, 0.7926882, 0.42987856, 0.032048643};
    std::array<Complex, noiseTableSize> table{};
    for (int k = 0; k < noiseTableSize; ++k) {
        double sumRe = 0.0;
        double sumIm = 0.0;
        for (int j = 0; j < 5; ++j) {
            const auto at = static_cast<size_t>(k + 4 - j); // g_(k + 2 - j)
            sumRe += kernel[static_cast<size_t>(j)] * re[at];
            sumIm += kernel[static_cast<size_t>(j)] * im[at];
        }
        table[static_cast<size_t>(k)] = Complex(static_cast<float>(sumRe), static_cast<float>(sumIm));
    }
    return table;
}

} // namespace

constinit const std::array<Complex, noiseTableSize> noiseTable = makeNoiseTable();

const std::array<float, fftSize>& analysisWindow() {
    static const std::array<float, fftSize> window = [] {
        std::array<float, fftSize> w{};
        cosineWindow(analysisSeries, w.data(), fftSize);
        return w;
    }();
    return window;
}

const std::array<float, fftSize>& synthesisTable() {
    static const std::array<float, fftSize> table = [] {
        std::array<float, fftSize> w{};
        cosineWindow(synthesisSeries, w.data(), fftSize);
        return w;
    }();
    return table;
}

std::vector<float> synthesisTable(int n) {
    std::vector<float> table(static_cast<size_t>(std::max(n, 0)));
    cosineWindow(synthesisSeries, table.data(), n);
    return table;
}

int hopFramesForRate(double sampleRate) {
    const double target = hopSize * sampleRate / gridSampleRate;
    int best = target <= minHopFrames ? minHopFrames : maxHopFrames;
    double bestDistance = std::abs(std::log(best / target));
    for (int h = minHopFrames; h <= maxHopFrames; ++h) {
        if (!smallFactorsOnly(h)) continue;
        const double distance = std::abs(std::log(h / target));
        if (distance < bestDistance) {
            best = h;
            bestDistance = distance;
        }
    }
    return best;
}

double gridRateFor(double sampleRate) {
    const auto mismatch = [](double r) {
        return std::abs(hopFramesForRate(r) / (hopSize * r / gridSampleRate) - 1.0);
    };
    if (mismatch(sampleRate) <= maxHopMismatch) return sampleRate;
    // 22.05 kHz times a power of two; beyond the longest hop the rate keeps its own grid.
    for (double grid = 0.5 * gridSampleRate; grid * hopSize / gridSampleRate <= maxHopFrames; grid *= 2.0)
        if (grid >= sampleRate) return grid;
    return sampleRate;
}

bool EngineTables::prepare(double outputRate) {
    if (!std::isfinite(outputRate) || outputRate <= 0.0) return false;
    using plane::bandCentreHz;
    using plane::bandWidthHz;
    sampleRate = outputRate;
    gridRate = gridRateFor(outputRate);
    gridStepFx = static_cast<int64_t>(std::llround(std::ldexp(gridRate / outputRate, gridStepBits)));
    const double rate = gridRate;
    hopFrames = hopFramesForRate(rate);
    bankSize = hopsPerFft * hopFrames;
    bankHalf = bankSize / 2;
    const double d = bankSize / rate;  // Hz to FFT bins
    const double c = hopFrames / rate; // Hz to cycles per hop

    // Band-centre frequency as a parabola through the band and its neighbours, in the offset
    // from band k; the edge bands use the nearest three bands.
    for (int k = 0; k < plane::bandCount; ++k) {
        const int a = std::clamp(k - 1, 0, plane::bandCount - 3);
        const double y0 = c * bandCentreHz(a);
        const double y1 = c * bandCentreHz(a + 1);
        const double y2 = c * bandCentreHz(a + 2);
        const double x0 = a - k;
        const double x1 = x0 + 1.0;
        // Newton form y0 + d1 (x - x0) + d2 (x - x0)(x - x1), expanded.
        const double d1 = y1 - y0;
        const double d2 = 0.5 * (y2 - 2.0 * y1 + y0);
        freqPoly[static_cast<size_t>(k)] = {static_cast<float>(y0 - d1 * x0 + d2 * x0 * x1),
                                            static_cast<float>(d1 - d2 * (x0 + x1)), static_cast<float>(d2)};
    }

    bandCount = 0;
    while (bandCount < plane::bandCount && bandWidthHz(bandCount) < resonatorMaxWidthBins / d &&
           bandCentreHz(bandCount) < rate / 2.0)
        ++bandCount;
    topBin = std::min({static_cast<int>(topFrequencyHz * d), bankHalf, maxTopBin});
    firstExtraBin =
        bandCount < plane::bandCount ? static_cast<int>(d * bandCentreHz(bandCount) + 0.5) : topBin;
    extraCount = std::max(topBin - firstExtraBin, 0);
    binCount = bandCount + extraCount;
    // A hop reads binCount entries from its start on: the last start is the table's size less
    // binCount.
    noiseStarts = std::min(noiseTableSize - gridBinCount, noiseTableSize + 1 - binCount);

    for (int k = 0; k < bandCount; ++k) {
        const auto i = static_cast<size_t>(k);
        const double width = bandWidthHz(k);
        const double o = d * bandCentreHz(k);
        bandBin[i] = static_cast<int32_t>(o);
        const double fr = o - bandBin[i];
        // Kernel spreading the band onto its two bins; narrower bands get less overall gain.
        const double t = std::pow(1.0 - (1.0 - width * d) * 0.66, 0.22);
        const auto kernel = [](double x) {
            const double v = 1.0 - ((x - 1.0) * 0.1 + 1.0) * x * x;
            return v * v;
        };
        weightLow[i] = static_cast<float>(kernel(fr) * t);
        weightHigh[i] = static_cast<float>(kernel(1.0 - fr) * t);
        // Resonator: decays with the band's width and turns by its centre per hop.
        const double u = 0.5 * std::exp(-twoPi * width * c);
        const Complex turn = polyPhasor(fraction(c * bandCentreHz(k)));
        rot[i] = turn * static_cast<float>(u / std::abs(turn));
        drive[i] = static_cast<float>(std::sqrt(1.0 - u * u));
    }

    int band = std::clamp(bandCount - 1, 0, lastPairBand);
    for (int e = 0; e < extraCount; ++e) {
        // The bin centre moved by up to 0.3 bin in a fixed irregular pattern.
        const double g = (firstExtraBin + e + 0.3 * std::sin((0.01 * e + 0.5) * e)) / d;
        while (band < lastPairBand && g > bandCentreHz(band + 1)) ++band;
        const double lowHz = bandCentreHz(band);
        const double u = (g - lowHz) / (bandCentreHz(band + 1) - lowHz);
        const double widthBins = (u * bandWidthHz(band + 1) + (1.0 - u) * bandWidthHz(band)) * d;
        ExtraBin& extra = extraBins[static_cast<size_t>(e)];
        extra.band = band;
        double w0 = std::max(1.0 - std::abs(u), 0.0);
        double w1 = std::max(1.0 - std::abs(1.0 - u), 0.0);
        double gain = widthBins > 0.0 ? std::sqrt(1.0 / widthBins) : 0.0;
        // Above the top band (and a little below the first) the two weights sum to less than
        // 1: the bin's level fades out. The fade goes into the gain, so that the bin reads
        // its band's frequency and tone rather than a fraction of them (a bin at 20 kHz read
        // a frequency near 0 and moved its level down to the mid bands).
        if (const double sum = w0 + w1; sum > 0.0 && sum < 1.0) {
            w0 /= sum;
            w1 /= sum;
            gain *= sum;
        }
        extra.w0 = static_cast<float>(w0);
        extra.w1 = static_cast<float>(w1);
        extra.gain = static_cast<float>(gain);
    }

    // The loads of a group stay within the bands: the last one starts at this band.
    constexpr int lastGroupBand = plane::bandCount - 1 - extraGroupSize;
    for (int g = 0; g < static_cast<int>(extraGroupBand.size()); ++g) {
        const int first = g * extraGroupSize;
        const int from =
            first < extraCount ? std::min(extraBins[static_cast<size_t>(first)].band, lastGroupBand) : 0;
        bool fits = true;
        for (int e = first; e < first + extraGroupSize; ++e) {
            const int offset = e < extraCount ? extraBins[static_cast<size_t>(e)].band - from : 0;
            fits = fits && offset >= 0 && offset < extraGroupSize;
            extraBandInGroup[static_cast<size_t>(e)] = fits ? offset : 0;
        }
        extraGroupBand[static_cast<size_t>(g)] = fits ? from : -1;
    }

    // Initial resonator state: the spectrum of a decaying half-window noise burst of unit
    // expected energy, read at the band centres and the extra bins. The burst has the 256
    // points of 44.1 kHz at every rate, so that every rate starts a note from the same noise.
    const std::array<float, fftSize>& window = analysisWindow();
    double energy = 0.0;
    for (int i = 0; i < fftHalf; ++i)
        energy += static_cast<double>(window[static_cast<size_t>(i)]) * window[static_cast<size_t>(i)];
    const double scale = std::sqrt(12.0 / energy);
    std::array<float, fftSize> burst{};
    for (int i = 0; i < fftHalf; ++i) {
        preparationGenerator = lcgNext(preparationGenerator);
        const double r = preparationGenerator * 0x1p-32;
        burst[static_cast<size_t>(i)] =
            static_cast<float>(scale * window[static_cast<size_t>(fftHalf + i)] * (r - 0.5));
    }
    Fft fft(8, 1);
    std::array<float, fftSize> packed{};
    fft.forward(burst.data(), packed.data());
    // Bins from the burst's Nyquist bin on read its value.
    const auto bin = [&packed](int k) {
        if (k == 0) return Complex(packed[0], 0.0f);
        if (k >= fftHalf) return Complex(packed[1], 0.0f);
        return Complex(packed[static_cast<size_t>(2 * k)], packed[static_cast<size_t>(2 * k + 1)]);
    };
    // Read on the grid of 44.1 kHz, where the bank's bins are within a few per cent.
    const double gridBinsPerHz = fftSize / gridSampleRate;
    for (int k = 0; k < bandCount; ++k) {
        const double o = gridBinsPerHz * bandCentreHz(k);
        const int below = static_cast<int>(o);
        const auto h = static_cast<float>(o - below);
        initialSpectrum[static_cast<size_t>(k)] = (1.0f - h) * bin(below) + h * bin(below + 1);
    }
    for (int e = 0; e < extraCount; ++e)
        initialSpectrum[static_cast<size_t>(bandCount + e)] = bin(firstExtraBin + e);
    return true;
}

} // namespace tarvo
