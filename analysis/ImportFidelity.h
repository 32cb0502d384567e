#pragma once
// How closely an imported sound, played back, follows the recording it was analysed from.
//
// Both signals are cut into 256-sample frames every 64 samples at 44.1 kHz and each frame
// into 40 log-spaced bands from 40 Hz to 18 kHz. Over the recording's first 0.6 s the replay
// is compared cell by cell in dB, after the time shift and the overall gain that suit it
// best, over the cells within 40 dB of the recording's loudest; the same is done for the
// broadband envelope (frame by frame) and for the time-averaged spectrum (band by band).
// Beside these three errors: how late the replay's loudest frame comes, and where each
// signal has fallen 60 dB below its peak.
//
// Offline (tools, tests, benchmarks); allocates freely.

#include <vector>

namespace tarvo {

class Blob;

struct FidelityFigures {
    // Mean absolute dB differences after the best shift and gain: band cells, broadband
    // envelope, time-averaged spectrum.
    double cellErrorDb = 0.0;
    double envelopeErrorDb = 0.0;
    double spectrumErrorDb = 0.0;
    // The replay's delay that matches best, in ms (the engine's own latency included).
    double shiftMs = 0.0;
    // The replay's loudest frame minus the recording's, in ms, after the shift.
    double peakLateMs = 0.0;
    // Where the recording, and the shifted replay, last reach 60 dB below their own peaks, in
    // ms from the recording's start.
    double recordingEndMs = 0.0;
    double replayEndMs = 0.0;
    // The loudest replay frame, in dB against the replay's peak, from 100 ms after the
    // recording's end on: where the recording is silent the replay should be too.
    double silentTailDb = -200.0;
};

// The analysis rate; both signals of fidelityOf are at this rate.
constexpr double fidelityRate = 44100.0;

// Compares a replay with the recording it came from; both mono at fidelityRate. The
// recording is taken from its first sample that is not below 1e-4 of its peak, as the
// analyser trims it. A silent recording gives all figures 0.
FidelityFigures fidelityOf(const std::vector<float>& recording, const std::vector<float>& replay);

// Analyses a recording into a Blob and passes it through the Blob file's byte form, as an
// import stores it. Returns false when the analyser finds nothing to analyse.
bool importedBlob(const std::vector<float>& samples, double sampleRate, Blob& blob);

// Plays blob on track 1 of a fresh engine at fidelityRate with the track's default settings
// and no effects, one note at the given MIDI velocity, for the given seconds; returns the
// mono mix.
std::vector<float> replayBlob(const Blob& blob, double seconds, double velocity = 100.0);

// Converts samples to fidelityRate (four-point cubic interpolation).
std::vector<float> toFidelityRate(const std::vector<float>& samples, double sampleRate);

} // namespace tarvo
