// tarvo_velocity_gen OUTPUT_HEADER
//
// Derives the velocity model table: for each model it renders one of our own hits (kick,
// snare, tom, closed and open hi-hat, crash and a struck-string tone) at the five layer
// velocities, takes their band energies on the canonical plane and measures how each softer
// or harder hit differs from the hit at velocity 100:
// - band gains: the change of the spectral balance, as amplitude factors at 12 points, with
//   the loudness left to the velocity's own gain;
// - time remap: per row, the frame of the velocity-100 hit that has let out the same share of
//   its energy as the other hit at each of 20 plane positions (a short soft hit reads the
//   reference faster);
// - frequency offsets: per column time and band position, how far the energy's centre in
//   that region lies from the reference's, in bands.
// The layer at velocity 100 is exactly neutral. Writes a C++ header with the table and prints
// a short summary. Not run by the build: rerun it and review the diff when the recipes change.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/AudioAnalysis.h"
#include "engine/CanonicalPlane.h"
#include "engine/VelocityModels.h"
#include "tools/factory/DrumSynth.h"

namespace tarvo {
namespace {

using Layer = VelocityModel::Layer;
constexpr int layerCount = VelocityModel::layerCount;
constexpr int bandCount = plane::bandCount;
constexpr int frameCount = plane::frameCount;
constexpr int rowCount = 7;
// The layers' MIDI velocities.
constexpr std::array<float, layerCount> layerVelocities = {0.0f, 100.0f / 3.0f, 200.0f / 3.0f, 100.0f,
                                                           127.0f};
// The reference layer: velocity 100.
constexpr int referenceLayer = 3;
// Bands per band-gain point (12 points over bands 0..79).
constexpr double bandsPerGainPoint = 1.0 / 0.13923874;
// Bands per frequency-offset point (20 points over bands 0..80).
constexpr double bandsPerOffsetPoint = 1.0 / 0.23749876;
// Plane frames between the columns of the frequency offsets (time knot 8 c of 40 over 96 frames).
constexpr double framesPerColumn = 96.0 * 8.0 / 40.0;
// Bands between the rows of the time remap (frequency knot 8 l of 48 over 80 bands).
constexpr double bandsPerRow = 80.0 * 8.0 / 48.0;
// Largest band gain change kept, as a factor either way.
constexpr double largestGain = 3.0;
// Largest frequency offset kept, in bands.
constexpr double largestOffset = 3.0;

struct ModelSource {
    const char* model;
    DrumKind kind;
    const char* recipe; // factory recipe name, or nullptr for the tone below
};

constexpr std::array<ModelSource, velocityModelCount> sources = {{
    {"Kick", DrumKind::Kick, "Punch"},
    {"Snare", DrumKind::Snare, "Analog"},
    {"Tom", DrumKind::Tom, "Mid Analog"},
    {"Hihat Closed", DrumKind::ClosedHat, "Closed Analog"},
    {"Hihat Open", DrumKind::OpenHat, "Open Analog"},
    {"Crash", DrumKind::Crash, "Crash Bright"},
    {"Piano", DrumKind::Piano, nullptr},
}};

// A struck string at A3 for the "Piano" model.
constexpr DrumRecipe pianoTone = {"Piano", DrumKind::Piano, 220.0f, 0.8f, 0.5f, 0.3f, 0.0f, 7};

const DrumRecipe& recipeOf(const ModelSource& source) {
    if (source.recipe == nullptr) return pianoTone;
    for (const DrumRecipe& r : factoryDrumRecipes())
        if (r.kind == source.kind && std::string(r.name) == source.recipe) return r;
    std::fprintf(stderr, "tarvo_velocity_gen: no recipe %s\n", source.recipe);
    std::exit(1);
}

// Band energies per plane cell: row w holds the energy of the linear frames whose warped
// position lies in [w, w + 1), for w = 0..95, plus one last row for everything after.
using Picture = std::vector<std::array<double, bandCount>>;

Picture pictureOf(const std::vector<float>& samples) {
    const auto frames = analysis::bandEnergies(samples);
    Picture picture(frameCount + 1);
    for (auto& row : picture) row.fill(0.0);
    for (size_t t = 0; t < frames.size(); ++t) {
        const int w = std::min(static_cast<int>(plane::warpTime(static_cast<double>(t))), frameCount);
        for (int b = 0; b < bandCount; ++b) picture[w][b] += std::max(0.0f, frames[t][b]);
    }
    return picture;
}

double triangle(double distance, double halfWidth) {
    return std::max(0.0, 1.0 - std::abs(distance) / halfWidth);
}

// Floats 0..11: the change of spectral balance as amplitude factors, energy-weighted and
// smoothed over each point's neighbourhood, scaled to keep the reference hit's loudness.
void bandGains(const Picture& hit, const Picture& reference, Layer& layer) {
    std::array<double, bandCount> p{}, q{};
    for (const auto& row : hit)
        for (int b = 0; b < bandCount; ++b) p[b] += row[b];
    for (const auto& row : reference)
        for (int b = 0; b < bandCount; ++b) q[b] += row[b];
    double pSum = 0.0, qSum = 0.0;
    for (int b = 0; b < bandCount; ++b) pSum += p[b], qSum += q[b];
    // Bands more than 30 dB below the loudest band hardly matter to the ear; a floor there
    // keeps their ratios from swinging wildly.
    double loudest = 0.0;
    for (int b = 0; b < bandCount; ++b) loudest = std::max({loudest, p[b] / pSum, q[b] / qSum});
    const double floor = 1e-3 * loudest;
    std::array<double, VelocityModel::bandGainPoints> gains{};
    for (int i = 0; i < VelocityModel::bandGainPoints; ++i) {
        double logSum = 0.0, weightSum = 0.0;
        for (int b = 0; b < bandCount; ++b) {
            const double pn = p[b] / pSum + floor, qn = q[b] / qSum + floor;
            const double weight = triangle(b - i * bandsPerGainPoint, bandsPerGainPoint) * (pn + qn);
            logSum += weight * 0.5 * std::log(pn / qn);
            weightSum += weight;
        }
        gains[i] =
            std::clamp(std::exp(weightSum > 0.0 ? logSum / weightSum : 0.0), 1.0 / largestGain, largestGain);
    }
    // The reference spectrum's energy through the interpolated curve stays the same.
    double energy = 0.0;
    for (int b = 0; b < bandCount; ++b) {
        const double x = b * 0.13923874;
        const int i = std::min(static_cast<int>(x), VelocityModel::bandGainPoints - 2);
        const double g = (1.0 - (x - i)) * gains[i] + (x - i) * gains[i + 1];
        energy += q[b] / qSum * g * g;
    }
    for (int i = 0; i < VelocityModel::bandGainPoints; ++i)
        layer[i] = static_cast<float>(gains[i] / std::sqrt(energy));
}

// The share of a row's energy let out by each cell boundary 0..96. A floor of -30 dB of the
// row's loudest cell, and of -40 dB of the picture's loudest, is spread evenly, so that the
// silent stretches and rows that hardly sound map evenly instead of on noise.
std::array<double, frameCount + 1> releasedShare(const Picture& picture, int row) {
    double loudest = 0.0, rowLoudest = 0.0;
    std::array<double, frameCount> cells{};
    for (int w = 0; w < frameCount; ++w) {
        std::array<double, rowCount> perRow{};
        for (int b = 0; b < bandCount; ++b)
            for (int r = 0; r < rowCount; ++r)
                perRow[r] += triangle(b - r * bandsPerRow, bandsPerRow) * picture[w][b];
        cells[w] = perRow[row];
        rowLoudest = std::max(rowLoudest, perRow[row]);
        for (double e : perRow) loudest = std::max(loudest, e);
    }
    const double floor = 1e-3 * rowLoudest + 1e-4 * loudest + 1e-30;
    std::array<double, frameCount + 1> share{};
    for (int w = 0; w < frameCount; ++w) share[w + 1] = share[w] + cells[w] + floor;
    for (double& s : share) s /= share[frameCount];
    return share;
}

// Each row's energy over the plane relative to the strongest row's.
std::array<double, rowCount> rowWeights(const Picture& picture) {
    std::array<double, rowCount> weights{};
    for (int w = 0; w < frameCount; ++w)
        for (int b = 0; b < bandCount; ++b)
            for (int r = 0; r < rowCount; ++r)
                weights[r] += triangle(b - r * bandsPerRow, bandsPerRow) * picture[w][b];
    const double strongest = *std::max_element(weights.begin(), weights.end());
    for (double& x : weights) x = strongest > 0.0 ? x / strongest : 0.0;
    return weights;
}

// Floats 12..151: per row, the reference frame with the same released share. A row is
// trusted as far as it sounds in both hits; a row that hardly sounds keeps the plain reading.
void timeRemap(const Picture& hit, const Picture& reference, Layer& layer) {
    const auto hitWeights = rowWeights(hit), referenceWeights = rowWeights(reference);
    for (int row = 0; row < rowCount; ++row) {
        const auto mine = releasedShare(hit, row);
        const auto theirs = releasedShare(reference, row);
        const double trust = std::min(hitWeights[row], referenceWeights[row]);
        for (int j = 0; j < VelocityModel::timeRemapPoints; ++j) {
            const double position = 96.0 * j / VelocityModel::timeRemapPoints;
            const int w = std::min(static_cast<int>(position), frameCount - 1);
            const double share = mine[w] + (position - w) * (mine[w + 1] - mine[w]);
            int k = 0;
            while (k < frameCount - 1 && theirs[k + 1] < share) ++k;
            const double span = theirs[k + 1] - theirs[k];
            const double frame = k + (span > 0.0 ? std::clamp((share - theirs[k]) / span, 0.0, 1.0) : 0.0);
            layer[VelocityModel::timeRemapStart + VelocityModel::timeRemapPoints * row + j] =
                static_cast<float>(j == 0 ? 0.0 : position + trust * (frame - position));
        }
    }
}

// Energy-weighted centre (in bands) of a region around a column time and band position, and
// the region's energy.
std::pair<double, double> regionCentre(const Picture& picture, int column, int point) {
    double sum = 0.0, moment = 0.0;
    for (int w = 0; w < frameCount; ++w) {
        const double wt = triangle(w + 0.5 - column * framesPerColumn, framesPerColumn);
        if (wt <= 0.0) continue;
        for (int b = 0; b < bandCount; ++b) {
            const double e =
                wt * triangle(b - point * bandsPerOffsetPoint, 2.0 * bandsPerOffsetPoint) * picture[w][b];
            sum += e;
            moment += e * b;
        }
    }
    return {sum > 0.0 ? moment / sum : point * bandsPerOffsetPoint, sum};
}

double totalEnergy(const Picture& picture) {
    double sum = 0.0;
    for (int w = 0; w < frameCount; ++w)
        for (double e : picture[w]) sum += e;
    return sum;
}

// Floats 152..271: per column and band position, the shift of the energy's centre against
// the reference, trusted only as far as the region holds energy; zero at both band ends.
void frequencyOffsets(const Picture& hit, const Picture& reference, Layer& layer) {
    const double hitTotal = totalEnergy(hit), referenceTotal = totalEnergy(reference);
    for (int c = 0; c < VelocityModel::freqOffsetColumns; ++c)
        for (int p = 0; p < VelocityModel::freqOffsetPoints; ++p) {
            double offset = 0.0;
            if (p > 0 && p < VelocityModel::freqOffsetPoints - 1) {
                const auto [mineCentre, mineEnergy] = regionCentre(hit, c, p);
                const auto [theirCentre, theirEnergy] = regionCentre(reference, c, p);
                const double trust = std::min({1.0, mineEnergy / (1e-3 * hitTotal + 1e-30),
                                               theirEnergy / (1e-3 * referenceTotal + 1e-30)});
                offset = std::clamp(trust * (mineCentre - theirCentre), -largestOffset, largestOffset);
            }
            layer[VelocityModel::freqOffsetStart + VelocityModel::freqOffsetPoints * c + p] =
                static_cast<float>(offset);
        }
}

// The neutral layer: unit gains, the identity remap, no offsets.
Layer neutralLayer() {
    Layer layer{};
    for (int i = 0; i < VelocityModel::bandGainPoints; ++i) layer[i] = 1.0f;
    for (int row = 0; row < rowCount; ++row)
        for (int j = 0; j < VelocityModel::timeRemapPoints; ++j)
            layer[VelocityModel::timeRemapStart + VelocityModel::timeRemapPoints * row + j] =
                96.0f / VelocityModel::timeRemapPoints * static_cast<float>(j);
    return layer;
}

std::array<Layer, layerCount> deriveModel(const ModelSource& source) {
    const DrumRecipe& recipe = recipeOf(source);
    std::array<Picture, layerCount> pictures;
    for (int l = 0; l < layerCount; ++l)
        pictures[l] = pictureOf(renderDrumHit(recipe, layerVelocities[l] / 127.0f));
    std::array<Layer, layerCount> layers;
    for (int l = 0; l < layerCount; ++l) {
        layers[l] = neutralLayer();
        if (l == referenceLayer) continue;
        bandGains(pictures[l], pictures[referenceLayer], layers[l]);
        timeRemap(pictures[l], pictures[referenceLayer], layers[l]);
        frequencyOffsets(pictures[l], pictures[referenceLayer], layers[l]);
    }
    return layers;
}

void printSummary(const char* model, const std::array<Layer, layerCount>& layers) {
    std::fprintf(stderr, "%s\n", model);
    for (int l : {0, 4}) {
        std::fprintf(stderr, "  layer %d gains:", l);
        for (int i = 0; i < VelocityModel::bandGainPoints; ++i) std::fprintf(stderr, " %.3f", layers[l][i]);
        std::fprintf(stderr, "\n  layer %d row 0 remap:", l);
        for (int j = 0; j < VelocityModel::timeRemapPoints; ++j)
            std::fprintf(stderr, " %.2f", layers[l][VelocityModel::timeRemapStart + j]);
        float earliestEnd = 96.0f;
        for (int row = 0; row < rowCount; ++row)
            earliestEnd = std::min(
                earliestEnd,
                layers[l][VelocityModel::timeRemapStart + VelocityModel::timeRemapPoints * (row + 1) - 1]);
        std::fprintf(stderr, "\n  layer %d earliest row end %.2f", l, earliestEnd);
        float lowest = 0.0f, highest = 0.0f;
        for (int i = VelocityModel::freqOffsetStart; i < VelocityModel::layerSize; ++i) {
            lowest = std::min(lowest, layers[l][i]);
            highest = std::max(highest, layers[l][i]);
        }
        std::fprintf(stderr, "\n  layer %d offsets %.2f .. %.2f bands\n", l, lowest, highest);
    }
}

std::string floatLiteral(float value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.6g", static_cast<double>(value));
    std::string literal = number;
    if (literal.find_first_of(".e") == std::string::npos) literal += ".0";
    return literal + "f";
}

int run(const char* outputPath) {
    std::string text =
        "#pragma once\n"
        "// Generated by tarvo_velocity_gen (tools/factory/VelocityModelGen.cpp); do not edit.\n"
        "// The velocity model table, measured from Tarvo's own drum hits; rerun the tool instead.\n"
        "// Per model (engine order), five layers of 272 floats; see engine/VelocityModels.h.\n\n"
        "namespace tarvo::velocity_data {\n\n"
        "inline constexpr float table[7][5][272] = {\n";
    for (const ModelSource& source : sources) {
        const auto layers = deriveModel(source);
        printSummary(source.model, layers);
        text += std::string("    // ") + source.model + "\n    {\n";
        for (const Layer& layer : layers) {
            text += "        {";
            for (int i = 0; i < VelocityModel::layerSize; ++i) {
                if (i % 10 == 0) text += "\n            ";
                text += floatLiteral(layer[i]) + ", ";
            }
            text += "\n        },\n";
        }
        text += "    },\n";
    }
    text += "};\n\n} // namespace tarvo::velocity_data\n";
    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "tarvo_velocity_gen: cannot write %s\n", outputPath);
        return 1;
    }
    return 0;
}

} // namespace
} // namespace tarvo

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tarvo_velocity_gen OUTPUT_HEADER\n", stderr);
        return 2;
    }
    return tarvo::run(argv[1]);
}
