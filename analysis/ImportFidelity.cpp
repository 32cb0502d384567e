#include "analysis/ImportFidelity.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

#include "analysis/AudioAnalysis.h"
#include "dsp/Fft.h"
#include "engine/SoloHit.h"

namespace tarvo {

namespace {

constexpr int frameLength = 256;
constexpr int hopLength = 64;
constexpr int binCount = frameLength / 2 + 1;
constexpr int bandCount = 40;
constexpr double lowestHz = 40.0;
constexpr double highestHz = 18000.0;
// The stretch of the recording the cell, envelope and spectrum errors look at, in seconds.
constexpr double comparedSeconds = 0.6;
// Cells, frames and bands quieter than this below the recording's loudest are left out.
constexpr double comparedRangeDb = 40.0;
// Where a signal counts as ended: this far below its own peak.
constexpr double endLevelDb = 60.0;
// How long after the recording's end the replay may still fade out, in seconds.
constexpr double endGraceSeconds = 0.1;
// Every dB value is floored this far below its signal's loudest, so silence compares as a
// large but finite difference.
constexpr double floorDb = 100.0;
// Time shifts of the replay tried, in frames: from none to a little more than the engine's
// own delay (two to three hops from the note to the loudest output of a click). A replay that
// comes later than that is late, and the figures say so.
constexpr int earliestShift = 0;
constexpr int latestShift = 6;
// The analyser's trim level: samples below this fraction of the reference are cut.
constexpr double trimLevel = 1e-4;
// The sample points per band used to spread bins over a band.
constexpr int pointsPerBand = 64;

double frameMs(double frames) {
    return frames * hopLength * 1000.0 / fidelityRate;
}

double bandEdge(int k) {
    return lowestHz * std::pow(highestHz / lowestHz, static_cast<double>(k) / bandCount);
}

// Per band, the weight of every bin: the band's mean power density when the power spectrum is
// taken as linear between bin centres.
struct BandWeights {
    std::array<std::array<double, binCount>, bandCount> weight{};
    std::array<double, bandCount> widthHz{};
    BandWeights() {
        const double binHz = fidelityRate / frameLength;
        for (int k = 0; k < bandCount; ++k) {
            const double lo = bandEdge(k), hi = bandEdge(k + 1);
            widthHz[k] = hi - lo;
            for (int i = 0; i < pointsPerBand; ++i) {
                const double x = (lo + (hi - lo) * (i + 0.5) / pointsPerBand) / binHz;
                const int bin = std::min(static_cast<int>(x), binCount - 2);
                const double frac = x - bin;
                weight[k][bin] += (1.0 - frac) / pointsPerBand;
                weight[k][bin + 1] += frac / pointsPerBand;
            }
        }
    }
};

using Picture = std::vector<std::array<double, bandCount>>; // [frame][band] power density

Picture bandPicture(const std::vector<float>& signal, size_t start) {
    static const BandWeights bands;
    const size_t length = signal.size() > start ? signal.size() - start : 0;
    const int frames = static_cast<int>((length + hopLength - 1) / hopLength) + frameLength / hopLength;
    Picture picture(static_cast<size_t>(frames));
    Fft fft(8, 1);
    std::array<float, frameLength> buffer{};
    std::array<double, binCount> power{};
    for (int m = 0; m < frames; ++m) {
        // Frame m ends at sample 64 (m + 1), so the first frame holds the sound's first hop.
        const long long first = static_cast<long long>(hopLength) * (m + 1) - frameLength;
        for (int j = 0; j < frameLength; ++j) {
            const long long index = first + j;
            const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * j / frameLength);
            const float x = index >= 0 && static_cast<size_t>(index) < length ? signal[start + index] : 0.0f;
            buffer[j] = static_cast<float>(x * window);
        }
        fft.forward(buffer.data(), buffer.data());
        power[0] = static_cast<double>(buffer[0]) * buffer[0];
        power[binCount - 1] = static_cast<double>(buffer[1]) * buffer[1];
        for (int k = 1; k < binCount - 1; ++k)
            power[k] = static_cast<double>(buffer[2 * k]) * buffer[2 * k] +
                       static_cast<double>(buffer[2 * k + 1]) * buffer[2 * k + 1];
        for (int b = 0; b < bandCount; ++b) {
            double sum = 0.0;
            for (int k = 0; k < binCount; ++k) sum += bands.weight[b][k] * power[k];
            picture[m][b] = sum;
        }
    }
    return picture;
}

std::vector<double> envelopeOf(const Picture& picture) {
    static const BandWeights bands;
    std::vector<double> envelope(picture.size(), 0.0);
    for (size_t m = 0; m < picture.size(); ++m)
        for (int b = 0; b < bandCount; ++b) envelope[m] += picture[m][b] * bands.widthHz[b];
    return envelope;
}

double toDb(double power, double floorPower) {
    return 10.0 * std::log10(std::max(power, floorPower));
}

// Mean absolute difference of a set of dB differences after removing the gain that suits
// them best (their median).
double spreadAfterGain(std::vector<double>& differences) {
    if (differences.empty()) return 0.0;
    auto middle = differences.begin() + static_cast<long>(differences.size() / 2);
    std::nth_element(differences.begin(), middle, differences.end());
    const double gain = *middle;
    double sum = 0.0;
    for (double d : differences) sum += std::abs(d - gain);
    return sum / static_cast<double>(differences.size());
}

double loudest(const std::vector<double>& values) {
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

int lastFrameAbove(const std::vector<double>& envelope, double level) {
    for (int m = static_cast<int>(envelope.size()) - 1; m >= 0; --m)
        if (envelope[static_cast<size_t>(m)] >= level) return m;
    return 0;
}

} // namespace

FidelityFigures fidelityOf(const std::vector<float>& recording, const std::vector<float>& replay) {
    FidelityFigures figures;
    float peak = 0.0f;
    for (float s : recording) peak = std::max(peak, std::isfinite(s) ? std::abs(s) : 0.0f);
    if (!(peak > 0.0f)) return figures;
    size_t start = 0;
    while (start < recording.size() && !(std::abs(recording[start]) >= trimLevel * peak)) ++start;

    const Picture rec = bandPicture(recording, start);
    const Picture rep = bandPicture(replay, 0);
    const int compared = static_cast<int>(comparedSeconds * fidelityRate / hopLength);
    const auto recAt = [&](int m, int b) { return m < static_cast<int>(rec.size()) ? rec[m][b] : 0.0; };
    const auto repAt = [&](int m, int b) {
        return m >= 0 && m < static_cast<int>(rep.size()) ? rep[m][b] : 0.0;
    };

    double recMax = 0.0, repMax = 0.0;
    for (int m = 0; m < compared; ++m)
        for (int b = 0; b < bandCount; ++b) recMax = std::max(recMax, recAt(m, b));
    for (const auto& frame : rep)
        for (double v : frame) repMax = std::max(repMax, v);
    if (!(recMax > 0.0)) return figures;
    const double recFloor = recMax * std::pow(10.0, -floorDb / 10.0);
    const double repFloor = std::max(repMax, recMax) * std::pow(10.0, -floorDb / 10.0);
    const double cellLimit = toDb(recMax, recFloor) - comparedRangeDb;

    // The cells of the band picture, at the shift that suits the replay best.
    std::vector<double> differences;
    double bestError = 1e300;
    int shift = 0;
    for (int s = earliestShift; s <= latestShift; ++s) {
        differences.clear();
        for (int m = 0; m < compared; ++m)
            for (int b = 0; b < bandCount; ++b) {
                const double r = toDb(recAt(m, b), recFloor);
                if (r >= cellLimit) differences.push_back(toDb(repAt(m + s, b), repFloor) - r);
            }
        const double error = spreadAfterGain(differences);
        if (error < bestError) {
            bestError = error;
            shift = s;
        }
    }
    figures.cellErrorDb = bestError;
    figures.shiftMs = frameMs(shift);

    // Broadband envelope over the compared stretch.
    const std::vector<double> recEnvelope = envelopeOf(rec);
    const std::vector<double> repEnvelope = envelopeOf(rep);
    const auto recEnvAt = [&](int m) {
        return m < static_cast<int>(recEnvelope.size()) ? recEnvelope[static_cast<size_t>(m)] : 0.0;
    };
    const auto repEnvAt = [&](int m) {
        return m >= 0 && m < static_cast<int>(repEnvelope.size()) ? repEnvelope[static_cast<size_t>(m)] : 0.0;
    };
    double recEnvMax = 0.0;
    int recPeak = 0;
    for (int m = 0; m < compared; ++m)
        if (recEnvAt(m) > recEnvMax) {
            recEnvMax = recEnvAt(m);
            recPeak = m;
        }
    const double repEnvMax = std::max(loudest(repEnvelope), 1e-300);
    const double envFloor = recEnvMax * std::pow(10.0, -floorDb / 10.0);
    const double repEnvFloor = std::max(repEnvMax, recEnvMax) * std::pow(10.0, -floorDb / 10.0);
    differences.clear();
    for (int m = 0; m < compared; ++m) {
        const double r = toDb(recEnvAt(m), envFloor);
        if (r >= toDb(recEnvMax, envFloor) - comparedRangeDb)
            differences.push_back(toDb(repEnvAt(m + shift), repEnvFloor) - r);
    }
    figures.envelopeErrorDb = spreadAfterGain(differences);

    // Time-averaged spectrum over the compared stretch.
    std::array<double, bandCount> recSpectrum{}, repSpectrum{};
    for (int m = 0; m < compared; ++m)
        for (int b = 0; b < bandCount; ++b) {
            recSpectrum[b] += recAt(m, b) / compared;
            repSpectrum[b] += repAt(m + shift, b) / compared;
        }
    const double recSpectrumMax = *std::max_element(recSpectrum.begin(), recSpectrum.end());
    const double repSpectrumMax = *std::max_element(repSpectrum.begin(), repSpectrum.end());
    const double spectrumFloor = recSpectrumMax * std::pow(10.0, -floorDb / 10.0);
    const double repSpectrumFloor =
        std::max(recSpectrumMax, repSpectrumMax) * std::pow(10.0, -floorDb / 10.0);
    differences.clear();
    for (int b = 0; b < bandCount; ++b) {
        const double r = toDb(recSpectrum[b], spectrumFloor);
        if (r >= toDb(recSpectrumMax, spectrumFloor) - comparedRangeDb)
            differences.push_back(toDb(repSpectrum[b], repSpectrumFloor) - r);
    }
    figures.spectrumErrorDb = spreadAfterGain(differences);

    // The replay's loudest frame against the recording's.
    const int repPeak =
        static_cast<int>(std::max_element(repEnvelope.begin(), repEnvelope.end()) - repEnvelope.begin());
    figures.peakLateMs = frameMs(repPeak - shift - recPeak);

    // Ends: where each signal last reaches 60 dB below its own peak; and what the replay plays
    // once the recording has been silent for a while.
    const double endRatio = std::pow(10.0, -endLevelDb / 10.0);
    const int recEnd = lastFrameAbove(recEnvelope, loudest(recEnvelope) * endRatio);
    const int repEnd = lastFrameAbove(repEnvelope, repEnvMax * endRatio);
    figures.recordingEndMs = frameMs(recEnd);
    figures.replayEndMs = frameMs(repEnd - shift);
    const int silentFrom = recEnd + shift + static_cast<int>(endGraceSeconds * fidelityRate / hopLength);
    double silentMax = 0.0;
    for (int m = std::max(silentFrom, 0); m < static_cast<int>(repEnvelope.size()); ++m)
        silentMax = std::max(silentMax, repEnvelope[static_cast<size_t>(m)]);
    figures.silentTailDb = silentMax > 0.0 ? 10.0 * std::log10(silentMax / repEnvMax) : -200.0;
    return figures;
}

bool importedBlob(const std::vector<float>& samples, double sampleRate, Blob& blob) {
    Blob analysed;
    const int32_t fresh = analysed.version;
    analyzeAudio(analysed, samples, sampleRate);
    if (analysed.version == fresh) return false;
    std::vector<uint8_t> bytes(Blob::byteSize);
    if (analysed.serialize(bytes) != bytes.size()) return false;
    return blob.deserialize(bytes) == bytes.size();
}

std::vector<float> replayBlob(const Blob& blob, double seconds, double velocity) {
    SoloHitRender hit = renderSoloHit(blob, fidelityRate, seconds, velocity);
    for (size_t i = 0; i < hit.left.size(); ++i) hit.left[i] = 0.5f * (hit.left[i] + hit.right[i]);
    return std::move(hit.left);
}

std::vector<float> toFidelityRate(const std::vector<float>& samples, double sampleRate) {
    if (std::abs(sampleRate - fidelityRate) < 0.1 || !(sampleRate > 0.0)) return samples;
    const double ratio = sampleRate / fidelityRate;
    const auto length = static_cast<size_t>(static_cast<double>(samples.size()) / ratio);
    const auto tap = [&](long long k) {
        return k >= 0 && k < static_cast<long long>(samples.size()) ? static_cast<double>(samples[k]) : 0.0;
    };
    std::vector<float> out(length);
    for (size_t i = 0; i < length; ++i) {
        const double x = static_cast<double>(i) * ratio;
        const auto k = static_cast<long long>(x);
        const double d = x - static_cast<double>(k);
        const double c0 = ((1.0 - d / 2) * d - 0.5) * d;
        const double c1 = (1.5 * d - 2.5) * d * d + 1.0;
        const double c2 = ((2.0 - 1.5 * d) * d + 0.5) * d;
        const double c3 = (0.5 * d - 0.5) * d * d;
        out[i] = static_cast<float>(c0 * tap(k - 1) + c1 * tap(k) + c2 * tap(k + 1) + c3 * tap(k + 2));
    }
    return out;
}

} // namespace tarvo
