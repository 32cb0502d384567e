#pragma once
// "Plate Reverb", a four-line feedback delay network mixed by a Hadamard matrix with damping
// in every loop, and "Spring Reverb", one short feedback loop through a dispersive filter
// that delays every frequency by its own amount, the chirp of a metal spring. Both send
// units return only the wet signal.
//
// Threads: as every unit (see FxBase.h): configured on the user-interface thread, processed
// on the audio thread.

#include <memory>
#include <vector>

#include "effects/DelayLines.h"
#include "effects/FxBase.h"
#include "effects/RoomReverbs.h"

namespace tarvo {

class Fft;

class ReverbPlate : public FxBase {
public:
    static constexpr int lineCount = 4;
    static constexpr int stageCount = 8;
    static constexpr int chunkFrames = 64;

    const char* name() const override { return "Plate Reverb"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new ReverbPlate(); }
    void setSampleRate(float sampleRate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return reverbTailSeconds; }
    void reset() noexcept override;

    float sampleRate = 0.0f;
    // Ramped gains and coefficients; all start at 0 and glide to their targets.
    float inGain = 0.0f;
    float lowpass[lineCount] = {};
    float feedback[lineCount] = {};
    float dampCoef[lineCount] = {};
    // The network's lines: each delays by exactly its ring's length.
    std::vector<float> rings[lineCount];
    int readIndex[lineCount] = {};
    int writeIndex[lineCount] = {};
    DelayLine stages[stageCount];
    float matrix[lineCount][lineCount] = {};
    // Longest chunk the shortest line can feed without reading its own new samples.
    int maxChunk = chunkFrames;
};

// Short-time Fourier filter that delays each of its 128 bins by its own whole and fractional
// number of hops, read from a ring of past spectra.
class Dispersion {
public:
    static constexpr int frameSize = 256;
    static constexpr int hop = 64;
    static constexpr int bins = frameSize / 2;

    Dispersion();
    ~Dispersion();
    // User-interface thread, allocates: bin delays in hops (fractional) and weights per bin.
    void prepare(const float* delays, const float* magnitudes);
    // Audio thread: empties the input, output and spectrum rings.
    void clear() noexcept;
    // Audio thread: filters n samples in place.
    void process(float* samples, int n) noexcept;

    // Whole delay of each bin in hops and the two complex taps around its fractional part,
    // as interleaved (re, im).
    int wholeDelay[bins] = {};
    float tap0[2 * bins] = {};
    float tap1[2 * bins] = {};
    float analysisWindow[frameSize] = {};
    float synthesisWindow[frameSize] = {};
    // Number of past spectra kept, a power of two.
    int spectrumCount = 0;

private:
    std::unique_ptr<Fft> fft;
    std::vector<float> spectra;
    float inputRing[frameSize] = {};
    float outputRing[frameSize] = {};
    float frame[frameSize] = {};
    float product[frameSize] = {};
    int position = 0;
    int sinceHop = 0;
    int newest = 0;
};

class ReverbSpring : public FxBase {
public:
    static constexpr int chunkFrames = 64;

    const char* name() const override { return "Spring Reverb"; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new ReverbSpring(); }
    void setSampleRate(float sampleRate) override;
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;
    float tailSeconds() const noexcept override { return reverbTailSeconds; }
    void reset() noexcept override;

    // Group delay in milliseconds of the spring at f Hz: longest (80 ms) at 6 kHz.
    static float groupDelayMs(float f) noexcept;

    float sampleRate = 0.0f;
    Dispersion dispersion;
    DelayLine loopLine;
    DelayLine allpassLines[2];
    int apDelay[2] = {};
    ToneFilter tone;
    float lfoPhase = 0.0f;
    // Average delay of the dispersion weighted by its bin magnitudes, in samples.
    float meanDelay = 0.0f;
    // Bin delays in hops, as derived for the current rate.
    float binDelay[Dispersion::bins] = {};
    // Input gain reached at the end of the last call.
    float inGainNow = 0.0f;
    // Longest chunk whose reading stays behind the loop's writer at the shortest delay.
    int maxChunk = chunkFrames;
};

} // namespace tarvo
