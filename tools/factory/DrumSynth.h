#pragma once
// Tarvo's own offline drum-hit synthesizer: the classic recipes (pitched sines with pitch and
// amplitude envelopes, tuned bodies with filtered noise, noise bursts, square-wave metal,
// formant bursts, sweeps) that make the factory sound library and the hits from which the
// velocity models are measured. Every recipe is deterministic: noise comes from a fixed seed,
// so a recipe renders the same samples every time.
//
// Offline only (the factory generator, tools and tests); allocates freely, touches no engine
// state.

#include <cstdint>
#include <span>
#include <vector>

namespace tarvo {

// The sample rate of every rendered hit, in Hz: the rate of the canonical plane.
constexpr double drumSampleRate = 44100.0;

// The synthesis model a recipe runs.
enum class DrumKind {
    Kick,
    Rim,
    Snare,
    Clap,
    Woodblock,
    Cowbell,
    Conga,
    Shaker,
    Tom,
    ClosedHat,
    OpenHat,
    Crash,
    Ride,
    Vocal,
    Zap,
    Sweep,
    Riser,
    Piano, // a struck-string tone, measured for the velocity models only
};

// The sound family a hit is filed under; each has a folder whose name carries the word the
// random kits look for.
enum class DrumCategory { Kick, Rim, Snare, Clap, Percussion, Tom, Hihat, Vocal, Cymbal, Fx };
constexpr int drumCategoryCount = 10;

// The folder name of a category ("Kick", "Rim", ..., "FX").
const char* drumCategoryFolder(DrumCategory category);

// The category a kind is filed under. The piano tone is filed under Percussion.
DrumCategory categoryOfKind(DrumKind kind);

// One named variation. The five shaping values mean the same thing across kinds as far as
// possible; what each kind makes of them is told at its renderer in DrumSynth.cpp.
struct DrumRecipe {
    const char* name; // file name within the category folder, without extension
    DrumKind kind;
    float pitch; // Hz: the fundamental, or the centre of the main filter for noise kinds
    float decay; // seconds: time constant of the main amplitude decay
    float tone;  // 0..1: brightness (filter openings, drive, vowel position for vocals)
    float snap;  // 0..1: share of the attack transient or of the noise part
    float bend;  // octaves: depth of the pitch or sweep envelope
    uint32_t seed;
};

// The factory variations, grouped by category in category order.
std::span<const DrumRecipe> factoryDrumRecipes();

// Renders one hit at drumSampleRate, mono. velocity 0..1 (1 = MIDI 127) sets loudness and,
// as on real drums, brightness, pitch sweep and transient share; 100/127 renders the recipe
// as written. The result starts at the attack, ends after the sound has faded below -80 dB
// of its peak with a short fade to exact zero, and peaks below 1.
std::vector<float> renderDrumHit(const DrumRecipe& recipe, float velocity = 1.0f);

// Figures by which hits are told apart.
struct HitMeasures {
    float peak = 0.0f;         // largest absolute sample
    float centroidHz = 0.0f;   // power-weighted mean frequency of the whole hit
    float decaySeconds = 0.0f; // from the loudest 10 ms window to the last one within -40 dB of it
};

// Measures a hit rendered at drumSampleRate. Silence gives all zeros.
HitMeasures measureHit(const std::vector<float>& samples);

} // namespace tarvo
