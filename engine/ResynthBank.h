#pragma once
// One track's resynthesis bank: the voices add complex values per FFT bin during a hop; once
// per hop the bank turns them into four hops of samples (256 at 44.1 kHz; the tables set the
// length for the rate) with one inverse FFT and overlap-adds them, windowed, into a ring that
// the renderer reads sample by sample through a low shelf and a subsonic cut.
//
// Timing: a hop places its frame centred two hops after its write position, so a value added
// before a hop is heard two hops later. A hop with nothing added costs no FFT.
//
// Where the tables run the grid at a rate of their own, the ring holds samples at that rate
// and `read` resamples them to the output rate through a windowed-sinc low-pass; the output
// then comes half the filter's length later (35 grid samples, 0.8 ms, from 44.1 to 32 kHz).
//
// Threads: construction and `prepare` plan or size everything and may allocate; call them
// while no block is processed. `reset` and every other method run on the audio thread and
// neither allocate nor wait.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "dsp/Fft.h"
#include "engine/EngineSetup.h"

namespace tarvo {

// First-order low shelf: the set gain at DC, falling to about 1 at high frequencies. Its pole
// sits near cornerHz / sqrt(dcGain) and its zero near cornerHz * sqrt(dcGain).
struct LowShelf {
    float pole = 0.0f;
    float zero = 0.0f;
    float gain = 1.0f;
    float state = 0.0f;

    // Any thread; clears the state. Without a usable corner the shelf passes its input.
    void setup(double sampleRate, double cornerHz, double dcGain);
    float process(float x) noexcept {
        const float v = x + pole * state;
        const float y = gain * (v - zero * state);
        state = v;
        return y;
    }
};

// Fifth-order Butterworth high-pass: two biquad sections and a first-order one. After the
// shelf it removes what lies below hearing: the lowest Blob band spans 17 to 31 Hz, the shelf
// lifts it by 17 dB and the bank's DC bin turns slow phase drift and the noise of the lowest
// bands into sub-audio rumble and a DC offset. Its corner sits above the band's centre, so
// the band's lower half, which lies below 20 Hz, goes, while its upper edge and everything
// from the next band (38 Hz) up keep their level. Steeper or lower cuts ring: a twelfth-order
// one at 22 Hz rang for a fifth of a second after every click, where this one dies away
// sooner than a fourth-order cut at 20 Hz did. Its price is delay at the low end: 7 ms at
// 50 Hz, 1 ms at 120 Hz. Double precision: at high rates the corner is a tiny fraction of
// the rate, where float coefficients and state would move the poles.
struct SubsonicCut {
    struct Section {
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
        double s1 = 0.0, s2 = 0.0; // transposed direct form II state
        double process(double x) noexcept {
            const double y = b0 * x + s1;
            s1 = b1 * x - a1 * y + s2;
            s2 = b2 * x - a2 * y;
            return y;
        }
    };
    // The Butterworth order: an odd one ends in a first-order section.
    static constexpr int order = 5;
    static constexpr int sectionCount = (order + 1) / 2;
    std::array<Section, sectionCount> sections{};

    // Any thread; clears the state. Without a usable corner the filter passes its input.
    void setup(double sampleRate, double cornerHz);
    float process(float x) noexcept {
        double v = x;
        for (Section& s : sections) v = s.process(v);
        return static_cast<float>(v);
    }
    // The sum of the state magnitudes: near 0 once the filter has come to rest. Without input
    // each section's output is its first state plus what the sections before it pass on, so
    // the sum bounds what the filter still plays (the largest single state let six sections
    // ring on at ten times the rest level, and the output was cut short there).
    double stateLevel() const noexcept {
        double level = 0.0;
        for (const Section& s : sections) level += std::abs(s.s1) + std::abs(s.s2);
        return level;
    }
};

// Band-limited resampling from the grid rate down to the output rate: a Kaiser-windowed sinc
// cut off at the output's Nyquist frequency that passes up to 45 % of the output rate
// (14.4 kHz at 32 kHz) and lowers everything from 55 % on by 80 dB, so what folds back from
// above Nyquist lands above 45 % or 80 dB down. The kernel is tabled at `phases` points per
// grid sample and read with linear interpolation.
struct GridResampler {
    static constexpr int phases = 64;
    int halfTaps = 0;          // taps on each side of an output's position; 0: no resampling
    int64_t stepFx = 0;        // grid samples per output sample, 32.32 fixed point
    std::vector<float> kernel; // h(i / phases - halfTaps) for i = 0 .. 2 halfTaps phases + 1

    // Allocates. ratio = grid rate / output rate (1 or more); below 1 nothing is set up.
    void setup(double ratio, int64_t step);
    // One output sample from the 2 halfTaps grid samples x[0 ..) around its position, whose
    // integer part lies at x[halfTaps - 1] and fraction is given (32 bits).
    float apply(const float* x, uint32_t fraction) const noexcept;
};

class ResynthBank {
public:
    // A track's shelf: +20 dB at DC, back to unity above a few hundred hertz.
    static constexpr double trackShelfHz = 140.0;
    static constexpr double trackShelfGain = 10.0;
    // Corner of the subsonic cut after the shelf, in Hz: within the lowest band (24.7 Hz, 17
    // to 31 Hz), whose centre it lowers by 8 dB and its upper edge by 2 dB, with 16 dB at
    // 20 Hz and 29 dB at 15 Hz.
    static constexpr double subsonicCutHz = 29.0;
    // At most the sum of the magnitudes of the joint impulse response of a track's shelf and
    // cut at any rate: the largest factor by which they can raise a sample.
    static constexpr double outputFilterPeakGain = 9.8;

    // Plans a 256-point inverse FFT (the length at 44.1 kHz); allocates.
    ResynthBank();

    // Takes the FFT length and band-to-bin layout of tables, clears all state including the
    // shelf and turns the shelf off. Allocates when the length changes.
    void prepare(const EngineTables& tables);
    // Configures the output shelf and the subsonic cut after it and turns them on; clears
    // their state.
    void setShelf(double sampleRate, double cornerHz, double dcGain) noexcept;
    // Clears spectrum, ring, positions and the silence count; the shelf keeps its state.
    void reset() noexcept;
    // Clears the state of the shelf and the subsonic cut, keeping their settings.
    void clearOutputFilters() noexcept;

    // Adds one value per resonator band, spread onto the band's two bins.
    void addBands(const Complex* values) noexcept;
    // Adds one value per extra bin, bins firstExtraBin onwards.
    void addExtraBins(const Complex* values) noexcept;
    // Synthesizes the added spectrum (if any) into the ring and advances by one hop.
    void hop() noexcept;
    // Moves up to maxCount synthesized samples into out and returns how many. silent becomes
    // true when nothing has been added for more than six hops and the output filters have
    // come to rest.
    int read(float* out, int maxCount, bool& silent) noexcept;

    // When the bank has come to rest (read would return zeros and report silence), moves on
    // by up to maxCount samples without writing any and returns true; otherwise does nothing
    // and returns false.
    bool skipAtRest(int maxCount) noexcept;
    // Whether the bank has come to rest: the conditions of read's silent path, with the output
    // filters at rest.
    bool atRest() const noexcept {
        return !dirty_ && silentHops_ > hopsUntilSilent && !(shelfOn_ && silentHops_ < shelfBypassHops) &&
               filtersAtRest() && historyQuiet();
    }

    int silentHops() const { return silentHops_; }
    bool shelfOn() const { return shelfOn_; }
    const LowShelf& shelf() const { return shelf_; }
    const SubsonicCut& subsonicCut() const { return cut_; }

private:
    // Sizes the buffers and the window for an FFT of `size` points; allocates.
    void resize(int size);
    // With resampling: moves synthesized samples from the ring into the history until it holds
    // `length` of them (dropping those no output needs any more); false when the ring has
    // fewer.
    bool pullHistory(int length) noexcept;
    // With resampling: whether every grid sample held from the next output's first tap on is 0.
    bool historyQuiet() const noexcept {
        const int first = static_cast<int>(positionFx_ >> gridStepBits) - resampler_.halfTaps + 1;
        return resampler_.halfTaps == 0 || zeroRun_ >= historyLength_ - first;
    }
    // The resampling read: up to maxCount output samples, through the output filters when
    // filtered.
    int readResampled(float* out, int maxCount, bool filtered) noexcept;
    // Adds count samples of time times window into the ring from position at on.
    void addWindowed(const float* time, const float* window, int at, int count) noexcept;
    // Once the output filters are bypassed at rest, what is left in them is dropped: kept, it
    // would ring out at the next sound's start (ten times the rest level after six sections).
    void restFilters() noexcept {
        if (shelfOn_ && filtersAtRest()) clearOutputFilters();
    }
    // A ring position from one less than twice the ring's size: the ring wraps at most once per
    // step, and a division per read costs more than the rest of a bank at rest.
    int wrapped(int position) const noexcept { return position >= size_ ? position - size_ : position; }
    // Whether the output filters' states are below their rest levels, taken whenever they
    // change: a bank at rest is asked once per step, and the test costs more than the step.
    bool filtersAtRest() const noexcept { return filtersResting_; }
    void noteFilterRest() noexcept {
        filtersResting_ = std::abs(shelf_.state) < shelfRestLevel && cut_.stateLevel() < cutRestLevel;
    }

    // Saturation of the silence count.
    static constexpr int maxSilentHops = 1 << 30;
    // Hops without input after which the ring holds nothing more: a frame spans four hops,
    // and the newest is read out within the next three.
    static constexpr int hopsUntilSilent = 6;
    // Below this the shelf state (and the cut's) counts as at rest.
    static constexpr float shelfRestLevel = 1e-6f;
    // The same for the sum of the cut's states: its sections ring on from them, by several
    // times their sum.
    static constexpr double cutRestLevel = 1e-7;
    // Silent hops after which the output filters are bypassed once at rest.
    static constexpr int shelfBypassHops = 10;

    Fft fft_;
    int size_ = fftSize; // FFT length and ring size: four hops
    int hop_ = hopSize;
    int bandCount_ = 0;
    int firstExtraBin_ = 0;
    int extraCount_ = 0;
    std::array<int32_t, plane::bandCount> bandBin_{};
    std::array<float, plane::bandCount> weightLow_{};
    std::array<float, plane::bandCount> weightHigh_{};

    // Bins 0 .. size / 2; the last one only catches spill-over from a band on the bin below.
    std::vector<float> spectrumRe_;
    std::vector<float> spectrumIm_;
    bool dirty_ = false;
    std::vector<float> window_;
    std::vector<float> timeBuffer_;
    std::vector<float> ring_;
    int writePos_ = 0;
    int readPos_ = 0;
    int silentHops_ = 0;
    LowShelf shelf_;
    SubsonicCut cut_;
    bool filtersResting_ = true;
    bool shelfOn_ = false;

    // Resampling from the grid rate: the grid samples taken from the ring that outputs still
    // read, the position of the next output among them (32.32) and how many of the newest
    // are 0.
    GridResampler resampler_;
    std::vector<float> history_;
    int historyLength_ = 0;
    int64_t positionFx_ = 0;
    int zeroRun_ = 0;
};

} // namespace tarvo
