#pragma once
// Block layout of the engine's parameter array: each block has a count of entries of a
// fixed stride, numbered consecutively. Code addresses a parameter as block base + offset.

#include <vector>

namespace tarvo {

struct ParamLayout {
    static constexpr int trackCount = 8, trackStride = 20;
    static constexpr int globalStride = 6;
    static constexpr int envCount = 4, envStride = 8;
    static constexpr int lfoCount = 4, lfoStride = 6;
    static constexpr int modSlotCount = 8, modSlotStride = 4;
    static constexpr int fxSlotCount = 4, fxSlotStride = 4;

    std::vector<int> trackBase;
    int globalBase = 0;
    std::vector<int> envBase;
    std::vector<int> lfoBase;
    std::vector<int> modSlotBase;
    std::vector<int> fxSlotBase;
    int paramCount = 0;

    ParamLayout() {
        int next = 0;
        auto walk = [&next](std::vector<int>& bases, int count, int stride) {
            for (int i = 0; i < count; ++i, next += stride) bases.push_back(next);
        };
        walk(trackBase, trackCount, trackStride);
        globalBase = next;
        next += globalStride;
        walk(envBase, envCount, envStride);
        walk(lfoBase, lfoCount, lfoStride);
        walk(modSlotBase, modSlotCount, modSlotStride);
        walk(fxSlotBase, fxSlotCount, fxSlotStride);
        paramCount = next;
    }
};

// Offsets within a track block.
enum TrackParam : int {
    trackAmp = 0,
    trackPan = 1,
    trackFilter = 2,
    trackClip = 3,
    trackSend1 = 4,
    trackSend2 = 5,
    trackOutput = 6,
    trackWidth = 7,
    trackTimescale = 8,
    trackFrequency = 9,
    trackContrast = 10,
    trackTransform = 11,
    trackModel = 12,
    trackDynamics = 13,
    trackDensity = 14,
    trackSeedMode = 15,
    trackSeed = 16,
    trackPolyphony = 17,
    trackRelease = 18,
    trackDamping = 19,
};
// Offsets within the global block.
enum GlobalParam : int {
    globalAmp = 0,
    globalTimescale = 1,
    globalFrequency = 2,
    globalContrast = 3,
    globalTransform = 4,
    globalDensity = 5,
};
// Offsets within an envelope block.
enum EnvParam : int {
    envInitial = 0,
    envAttack = 1,
    envDecay = 2,
    envSustain = 3,
    envRelease = 4,
    envAttackShape = 5,
    envDecayShape = 6,
    envReleaseShape = 7,
};
// Offsets within an LFO block.
enum LfoParam : int {
    lfoBeatsync = 0,
    lfoRate = 1,
    lfoBeatRate = 2,
    lfoLoop = 3,
    lfoRetrigger = 4,
    lfoPerVoice = 5
};
// Offsets within a modulation slot block.
enum ModSlotParam : int { modSource = 0, modAmount = 1, modScaler = 2, modTarget = 3 };
// Offsets within an effect slot block.
enum FxSlotParam : int { fxPower = 0, fxType = 1, fxParam1 = 2, fxParam2 = 3 };

} // namespace tarvo
