#include "engine/ResynthBank.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarvo {

namespace {

constexpr double pi = 3.14159265358979323846;

// Cheap stand-in for exp(x) near 0, used for the shelf's pole and zero.
double expApprox(double x) {
    return (1.0 / (1.0 - 0.75 * x + 0.375 * x * x) - 1.0) * 1.25 + 1.0;
}

// Kaiser window parameter for 80 dB of stop-band attenuation.
constexpr double kaiserBeta = 7.857;
// Taps on each side per unit of the resampling ratio: a Kaiser filter of 80 dB over a
// transition a tenth of the output rate wide.
constexpr double halfTapsPerRatio = 25.1;

// Modified Bessel function of the first kind, order 0 (its series converges fast here).
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50 && term > 1e-12 * sum; ++k) {
        const double h = x / (2.0 * k);
        term *= h * h;
        sum += term;
    }
    return sum;
}

} // namespace

void GridResampler::setup(double ratio, int64_t step) {
    kernel.clear();
    halfTaps = 0;
    stepFx = 0;
    if (!(ratio > 1.0)) return;
    halfTaps = static_cast<int>(std::ceil(halfTapsPerRatio * ratio));
    stepFx = step;
    // Cut off at the output's Nyquist frequency, in cycles per grid sample.
    const double cutoff = 0.5 / ratio;
    const int length = 2 * halfTaps * phases + 2;
    kernel.assign(static_cast<size_t>(length), 0.0f);
    const double norm = besselI0(kaiserBeta);
    for (int i = 0; i < length; ++i) {
        const double t = static_cast<double>(i) / phases - halfTaps;
        const double edge = t / halfTaps;
        if (std::abs(edge) >= 1.0) continue;
        const double x = 2.0 * pi * cutoff * t;
        const double sinc = t == 0.0 ? 1.0 : std::sin(x) / x;
        const double window = besselI0(kaiserBeta * std::sqrt(1.0 - edge * edge)) / norm;
        kernel[static_cast<size_t>(i)] = static_cast<float>(2.0 * cutoff * sinc * window);
    }
}

float GridResampler::apply(const float* x, uint32_t fraction) const noexcept {
    // Tap m reads x[m] at the distance f + halfTaps - 1 - m from the output's position.
    const float q = static_cast<float>(fraction) * (static_cast<float>(phases) * 0x1p-32f);
    const int qi = std::min(static_cast<int>(q), phases - 1);
    const float qf = q - static_cast<float>(qi);
    const int taps = 2 * halfTaps;
    const float* h = kernel.data() + qi + (taps - 1) * phases;
    float sum = 0.0f;
    for (int m = 0; m < taps; ++m, h -= phases) sum += x[m] * (h[0] + qf * (h[1] - h[0]));
    return sum;
}

void LowShelf::setup(double sampleRate, double cornerHz, double dcGain) {
    state = 0.0f;
    const double a = -pi * cornerHz / sampleRate;
    const double q = std::sqrt(dcGain);
    const double p = expApprox(a / q);
    const double z = expApprox(a * q);
    if (!(a < 0.0) || !(dcGain > 0.0) || !std::isfinite(p) || !std::isfinite(z) || !(1.0 - z > 0.0)) {
        pole = zero = 0.0f;
        gain = 1.0f;
        return;
    }
    pole = static_cast<float>(p);
    zero = static_cast<float>(z);
    gain = static_cast<float>((1.0 - p) * dcGain / (1.0 - z));
}

void SubsonicCut::setup(double sampleRate, double cornerHz) {
    sections.fill(Section{});
    const double w = 2.0 * pi * cornerHz / sampleRate;
    if (!(w > 0.0) || !(w < pi)) return;
    const double cw = std::cos(w);
    for (int i = 0; i < order / 2; ++i) {
        // Butterworth: the pole pairs lie at the angles pi (2 i + 1) / (2 order) (even orders)
        // or pi (i + 1) / order (odd orders, beside the real pole) from the negative real
        // axis; a pair's quality factor is 1 / (2 cos of its angle).
        const double angle = order % 2 == 0 ? pi * (2 * i + 1) / (2.0 * order) : pi * (i + 1) / order;
        const double quality = 1.0 / (2.0 * std::cos(angle));
        const double alpha = std::sin(w) / (2.0 * quality);
        const double a0 = 1.0 + alpha;
        Section& s = sections[static_cast<size_t>(i)];
        s.b0 = (1.0 + cw) / 2.0 / a0;
        s.b1 = -(1.0 + cw) / a0;
        s.b2 = s.b0;
        s.a1 = -2.0 * cw / a0;
        s.a2 = (1.0 - alpha) / a0;
    }
    if (order % 2 == 1) {
        // The real pole: a first-order section (bilinear transform, corner prewarped).
        const double k = std::tan(w / 2.0);
        Section& s = sections.back();
        s.b0 = 1.0 / (1.0 + k);
        s.b1 = -s.b0;
        s.b2 = 0.0;
        s.a1 = (k - 1.0) / (k + 1.0);
        s.a2 = 0.0;
    }
}

ResynthBank::ResynthBank() : fft_(8, 1) {
    resize(fftSize);
}

void ResynthBank::resize(int size) {
    if (size != fft_.size()) fft_ = Fft::ofLength(size, 1);
    size_ = size;
    hop_ = size / hopsPerFft;
    const auto n = static_cast<size_t>(size);
    spectrumRe_.assign(n / 2 + 1, 0.0f);
    spectrumIm_.assign(n / 2 + 1, 0.0f);
    timeBuffer_.assign(n, 0.0f);
    ring_.assign(n, 0.0f);
    // The table over the FFT's length, divided by 256 at every length: the four overlapping
    // copies of a hop then sum to the same gain, so a bin's value gives the same level.
    window_ = synthesisTable(size);
    for (float& w : window_) w /= static_cast<float>(fftSize);
}

void ResynthBank::prepare(const EngineTables& tables) {
    if (tables.bankSize != size_) resize(tables.bankSize);
    bandCount_ = tables.bandCount;
    firstExtraBin_ = tables.firstExtraBin;
    extraCount_ = tables.extraCount;
    bandBin_ = tables.bandBin;
    weightLow_ = tables.weightLow;
    weightHigh_ = tables.weightHigh;
    resampler_.setup(tables.resampled() ? tables.gridRate / tables.sampleRate : 1.0, tables.gridStepFx);
    // Room for what one read may need: a ring's worth of samples past the filter's span.
    history_.assign(static_cast<size_t>(4 * resampler_.halfTaps + 2 * size_ + 2), 0.0f);
    shelf_ = LowShelf{};
    cut_ = SubsonicCut{};
    noteFilterRest();
    shelfOn_ = false;
    reset();
}

void ResynthBank::setShelf(double sampleRate, double cornerHz, double dcGain) noexcept {
    shelf_.setup(sampleRate, cornerHz, dcGain);
    cut_.setup(sampleRate, subsonicCutHz);
    noteFilterRest();
    shelfOn_ = true;
}

void ResynthBank::reset() noexcept {
    std::fill(spectrumRe_.begin(), spectrumRe_.end(), 0.0f);
    std::fill(spectrumIm_.begin(), spectrumIm_.end(), 0.0f);
    std::fill(ring_.begin(), ring_.end(), 0.0f);
    writePos_ = readPos_ = silentHops_ = 0;
    dirty_ = false;
    // Silence before grid sample 0 for the first outputs' taps: the first output sits half
    // the filter's span before grid sample 0, so that every output reads the grid up to the
    // sample at its position plus that span.
    std::fill(history_.begin(), history_.end(), 0.0f);
    const int lead = std::max(2 * resampler_.halfTaps - 1, 0);
    historyLength_ = lead;
    positionFx_ = static_cast<int64_t>(std::max(resampler_.halfTaps - 1, 0)) << gridStepBits;
    zeroRun_ = lead;
}

void ResynthBank::clearOutputFilters() noexcept {
    shelf_.state = 0.0f;
    for (SubsonicCut::Section& section : cut_.sections) section.s1 = section.s2 = 0.0;
    filtersResting_ = true;
}

void ResynthBank::addBands(const Complex* values) noexcept {
    for (int k = 0; k < bandCount_; ++k) {
        const auto i = static_cast<size_t>(k);
        const auto bin = static_cast<size_t>(bandBin_[i]);
        const Complex v = values[k];
        spectrumRe_[bin] += weightLow_[i] * v.real();
        spectrumIm_[bin] += weightLow_[i] * v.imag();
        spectrumRe_[bin + 1] += weightHigh_[i] * v.real();
        spectrumIm_[bin + 1] += weightHigh_[i] * v.imag();
    }
    if (bandCount_ > 0) dirty_ = true;
}

void ResynthBank::addExtraBins(const Complex* values) noexcept {
    for (int e = 0; e < extraCount_; ++e) {
        const auto bin = static_cast<size_t>(firstExtraBin_ + e);
        spectrumRe_[bin] += values[e].real();
        spectrumIm_[bin] += values[e].imag();
    }
    if (extraCount_ > 0) dirty_ = true;
}

void ResynthBank::addWindowed(const float* time, const float* window, int at, int count) noexcept {
    // The ring wraps at most once within the piece: two contiguous runs.
    const int first = std::min(count, size_ - at);
    float* ring = ring_.data();
    for (int s = 0; s < first; ++s) ring[at + s] += time[s] * window[s];
    for (int s = first; s < count; ++s) ring[s - first] += time[s] * window[s];
}

void ResynthBank::hop() noexcept {
    if (dirty_) {
        silentHops_ = 0;
        // The inverse counts DC once and every other bin twice; double DC so all bins count
        // alike. im[0] is read as the Nyquist bin, which is never synthesized.
        spectrumRe_[0] *= 2.0f;
        spectrumIm_[0] = 0.0f;
        fft_.inverseSplit(spectrumRe_.data(), spectrumIm_.data(), timeBuffer_.data());
        // Zero-phase synthesis: the frame's time origin goes to the middle of the window, so
        // the frame is centred half the FFT's length after the write position.
        const int half = size_ / 2;
        addWindowed(timeBuffer_.data() + half, window_.data(), writePos_, half);
        addWindowed(timeBuffer_.data(), window_.data() + half, wrapped(writePos_ + half), half);
        std::fill(spectrumRe_.begin(), spectrumRe_.end(), 0.0f);
        std::fill(spectrumIm_.begin(), spectrumIm_.end(), 0.0f);
        dirty_ = false;
    } else {
        silentHops_ = std::min(silentHops_ + 1, maxSilentHops);
    }
    writePos_ = wrapped(writePos_ + hop_);
}

bool ResynthBank::pullHistory(int length) noexcept {
    if (length <= historyLength_) return true;
    const int needed = length - historyLength_;
    if (needed > wrapped(writePos_ + size_ - readPos_)) return false;
    if (length > static_cast<int>(history_.size())) {
        // Drop the samples before the first tap of the next output.
        const int drop = static_cast<int>(positionFx_ >> gridStepBits) - resampler_.halfTaps + 1;
        std::copy(history_.begin() + drop, history_.begin() + historyLength_, history_.begin());
        historyLength_ -= drop;
        positionFx_ -= static_cast<int64_t>(drop) << gridStepBits;
    }
    for (int i = 0; i < needed; ++i) {
        float& slot = ring_[static_cast<size_t>(readPos_)];
        history_[static_cast<size_t>(historyLength_++)] = slot;
        zeroRun_ = slot == 0.0f ? zeroRun_ + 1 : 0;
        slot = 0.0f;
        readPos_ = wrapped(readPos_ + 1);
    }
    zeroRun_ = std::min(zeroRun_, static_cast<int>(history_.size()));
    return true;
}

int ResynthBank::readResampled(float* out, int maxCount, bool filtered) noexcept {
    const int halfTaps = resampler_.halfTaps;
    LowShelf shelf = shelf_;
    SubsonicCut cut = cut_;
    int count = 0;
    for (; count < maxCount; ++count) {
        if (!pullHistory(static_cast<int>(positionFx_ >> gridStepBits) + halfTaps + 1)) break;
        // Pulling may have moved the history down. Where every sample from the first tap on
        // is 0, so is the output.
        float y = 0.0f;
        if (!historyQuiet()) {
            const int first = static_cast<int>(positionFx_ >> gridStepBits) - halfTaps + 1;
            y = resampler_.apply(history_.data() + first, static_cast<uint32_t>(positionFx_));
        }
        positionFx_ += resampler_.stepFx;
        out[count] = filtered ? cut.process(shelf.process(y)) : y;
    }
    if (filtered) {
        shelf_ = shelf;
        cut_ = cut;
        noteFilterRest();
    }
    return count;
}

bool ResynthBank::skipAtRest(int maxCount) noexcept {
    if (!atRest()) return false;
    restFilters();
    if (resampler_.halfTaps > 0) {
        // Moves on as reading does, through samples that are all 0.
        for (int i = 0; i < maxCount; ++i) {
            if (!pullHistory(static_cast<int>(positionFx_ >> gridStepBits) + resampler_.halfTaps + 1)) break;
            positionFx_ += resampler_.stepFx;
        }
        return true;
    }
    const int available = wrapped(writePos_ + size_ - readPos_);
    readPos_ = wrapped(readPos_ + std::clamp(maxCount, 0, available));
    return true;
}

int ResynthBank::read(float* out, int maxCount, bool& silent) noexcept {
    const bool filtered = shelfOn_ && (silentHops_ < shelfBypassHops || !filtersAtRest());
    if (resampler_.halfTaps > 0) {
        const bool quiet = !dirty_ && silentHops_ > hopsUntilSilent && historyQuiet();
        if (quiet && !filtered) restFilters();
        const int count = readResampled(out, std::max(maxCount, 0), filtered);
        silent = quiet && filtersAtRest();
        return count;
    }
    const int available = wrapped(writePos_ + size_ - readPos_);
    const int count = std::clamp(maxCount, 0, available);
    // skipAtRest takes this path's conditions (with the output filters at rest): keep the two
    // alike.
    if (!dirty_ && silentHops_ > hopsUntilSilent && !filtered) {
        // Every sample of the ring has been read (and zeroed) since the last frame went in.
        std::fill(out, out + count, 0.0f);
        restFilters();
        readPos_ = wrapped(readPos_ + count);
        silent = filtersAtRest();
        return count;
    }
    // The ring wraps at most once within a read: take its contiguous pieces in turn. The
    // filters run on local copies, so their state stays in registers however out is placed.
    LowShelf shelf = shelf_;
    SubsonicCut cut = cut_;
    for (int done = 0; done < count;) {
        const int at = wrapped(readPos_ + done);
        const int piece = std::min(count - done, size_ - at);
        float* slot = ring_.data() + at;
        if (filtered)
            for (int i = 0; i < piece; ++i) out[done + i] = cut.process(shelf.process(slot[i]));
        else
            std::copy(slot, slot + piece, out + done);
        std::fill(slot, slot + piece, 0.0f);
        done += piece;
    }
    shelf_ = shelf;
    cut_ = cut;
    noteFilterRest();
    readPos_ = wrapped(readPos_ + count);
    silent = !dirty_ && silentHops_ > hopsUntilSilent && filtersAtRest();
    return count;
}

} // namespace tarvo
