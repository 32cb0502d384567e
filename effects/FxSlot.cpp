#include "effects/FxSlot.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>

#include "control/ParamLayout.h"

namespace tarvo {

namespace {

// Per slot (Send 1, Send 2, Main 1, Main 2): "Power" and "Type" defaults, and the list
// entry whose unit parameters the slot starts with.
constexpr float defaultPower[FxSlot::slotCount] = {1, 0, 1, 0};
constexpr float defaultType[FxSlot::slotCount] = {0, 1, 0, 1};
constexpr int initialParamsEntry[FxSlot::slotCount] = {0, 1, 0, 0};

// Fade speed: the gain moves at most this much per second, a full fade in about 3.3 ms.
constexpr float fadePerSecond = 300.0f;
// A fade this close to its target has arrived.
constexpr float fadeArrived = 0.0001f;
// Meters fall with this time constant, in seconds.
constexpr float meterFallSeconds = 0.05f;
// Meter levels at or below this are shown as silence.
constexpr float meterFloor = 1e-9f;
// A unit that has heard nothing audible since it started from silence sleeps after this
// long, once its parameter ramps have settled.
constexpr float restSettleSeconds = 0.05f;
// Saturation of the quiet count.
constexpr int maxQuietFrames = 1 << 30;

// The largest magnitude of x[0..n). Exact silence, what a sleeping slot mostly sees, is found
// by a test of the bits that vectorises; only other signals pay for the comparisons.
float peakOf(const float* x, int n) noexcept {
    uint32_t bits = 0;
    for (int i = 0; i < n; ++i) bits |= std::bit_cast<uint32_t>(x[i]);
    // The sign bit alone is a negative zero.
    if ((bits & 0x7fffffffu) == 0) return 0.0f;
    float peak = 0.0f;
    for (int i = 0; i < n; ++i) peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

} // namespace

FxSlot::~FxSlot() {
    delete unit.load(std::memory_order_acquire);
}

void FxSlot::define(int slotIndex, Param* slotParams, const FxTypeList& typeList) {
    types_ = &typeList;
    params_ = slotParams;
    isSend_ = slotIndex < firstMainSlot;
    const size_t slot = static_cast<size_t>(std::clamp(slotIndex, 0, slotCount - 1));
    slotParams[fxPower].init(Param::Stepped, 0, 1, 0, "off|on", "Power", defaultPower[slot], false, nullptr);
    slotParams[fxType].init(Param::Stepped, 0, static_cast<float>(typeList.size() - 1), 0, "", "Type",
                            defaultType[slot], false, nullptr);
    slotParams[fxType].setValueTexts(typeList.names.data(), typeList.size());
    // The prototypes are shared by every instance, so a throw-away unit defines the
    // parameters rather than the prototype itself.
    const int entry = std::min(initialParamsEntry[slot], typeList.size() - 1);
    const std::unique_ptr<FxBase> definer(typeList.prototypes[static_cast<size_t>(entry)]->create());
    definer->bindParams(slotParams + fxParam1);
}

int FxSlot::requestedType() const {
    if (params_ == nullptr || types_ == nullptr) return noUnit;
    const float value = std::trunc(params_[fxType].value);
    return static_cast<int>(std::clamp(value, 0.0f, static_cast<float>(types_->size() - 1)));
}

bool FxSlot::swap(float rate, bool keepParamValues) {
    if (params_ == nullptr || types_ == nullptr || types_->size() == 0) return false;
    const int wanted = requestedType();
    const int installed = typeIndex.load();
    FxBase* current = unit.load(std::memory_order_relaxed);
    const bool rateStale = current != nullptr && sampleRate.load(std::memory_order_relaxed) != rate;
    if (wanted == installed && !rateStale) return true;
    if (gain.load(std::memory_order_relaxed) != 0.0f || target.load(std::memory_order_relaxed) != 0.0f ||
        !(rate > 0.0f))
        return false;

    // Claim the slot, then make sure the audio thread neither is inside the pass nor has
    // brought the unit back since the check above ("Type" set back); else try next tick.
    typeIndex.store(swapInProgress);
    if (audioBusy.load() || gain.load(std::memory_order_relaxed) != 0.0f ||
        target.load(std::memory_order_relaxed) != 0.0f) {
        typeIndex.store(installed);
        return false;
    }

    if (wanted == installed) {
        // Same unit, new rate: it sizes its delay lines again.
        current->setSampleRate(rate);
    } else {
        FxBase* fresh = types_->prototypes[static_cast<size_t>(wanted)]->create();
        unit.store(fresh, std::memory_order_relaxed);
        delete current;
        Param* unitParams = params_ + fxParam1;
        if (keepParamValues) {
            // The loaded values as stored: `value` was clamped to the old unit's ranges.
            const float first = unitParams[0].requested, second = unitParams[1].requested;
            fresh->bindParams(unitParams);
            unitParams[0].set(first);
            unitParams[1].set(second);
        } else {
            fresh->bindParams(unitParams);
        }
        fresh->setSampleRate(rate);
    }
    sampleRate.store(rate, std::memory_order_relaxed);
    // Publishes the configured unit to the audio thread.
    typeIndex.store(wanted);
    return true;
}

void FxSlot::updateMeters(std::array<std::atomic<float>, 2>& levels, float* const* bus, int frames,
                          float rate, float (&peaks)[2], bool silent) noexcept {
    const float dt = static_cast<float>(frames) / rate;
    const float fall = dt / (dt + meterFallSeconds);
    for (size_t c = 0; c < 2; ++c) {
        const float peak = silent ? 0.0f : peakOf(bus[c], frames);
        peaks[c] = peak;
        float level = levels[c].load(std::memory_order_relaxed);
        level += fall * (peak - level);
        level = std::max(level, peak);
        levels[c].store(level <= meterFloor ? 0.0f : level, std::memory_order_relaxed);
    }
}

void FxSlot::watchQuiet(const FxBase& u, float loudest, int frames, float rate) noexcept {
    // A NaN counts as loud: it never lets the slot sleep.
    if (!(loudest < audibleLevel)) {
        quietFrames_ = 0;
        heard_ = true;
        return;
    }
    quietFrames_ = std::min(quietFrames_ + frames, maxQuietFrames);
    const float tail = heard_ ? u.tailSeconds() : restSettleSeconds;
    if (static_cast<float>(quietFrames_) >= tail * rate) asleep_ = true;
}

void FxSlot::clearTail() noexcept {
    // The same hand-over as a pass: announced before `typeIndex` is read.
    audioBusy.store(true);
    if (typeIndex.load() != swapInProgress) {
        // Silent and at rest, as after an installation: the next idle tick may install the
        // unit "Type" asks for at once, and the next pass starts the unit from its reset
        // state and fades it in.
        gain.store(0.0f, std::memory_order_relaxed);
        target.store(0.0f, std::memory_order_relaxed);
    }
    quietFrames_ = 0;
    heard_ = false;
    asleep_ = false;
    audioBusy.store(false, std::memory_order_release);
}

bool FxSlot::process(float* const* bus, int frames, float engineRate, float tempo, bool silent) noexcept {
    if (params_ == nullptr || frames <= 0) return false;
    // Announce the pass before reading `typeIndex`; the swap routine does the converse.
    audioBusy.store(true);
    if (!isSend_) passDry = 1;
    const int installed = typeIndex.load();
    const float rate = sampleRate.load(std::memory_order_relaxed);
    // A unit sized for another rate is never run; the swap routine re-rates it.
    const bool rated = rate > 0.0f && rate == engineRate;
    float g = rated ? gain.load(std::memory_order_relaxed) : 0.0f;
    float goal = 0.0f;
    if (rated && requestedType() == installed) goal = params_[fxPower].effective() > 0.5f ? 1.0f : 0.0f;
    target.store(goal, std::memory_order_relaxed);

    bool produced = false;
    const bool skip = (isSend_ && g == 0.0f && goal == 0.0f) || !(rate > 0.0f);
    if (!skip) {
        FxBase* u = (g > 0.0f || goal > 0.0f) ? unit.load(std::memory_order_acquire) : nullptr;
        if (isSend_ && u != nullptr) u->setTempo(tempo);
        float inPeaks[2] = {};
        updateMeters(inLevel, bus, frames, rate, inPeaks, silent);
        const float loudestIn = std::max(inPeaks[0], inPeaks[1]);
        // Only a fully-on unit sleeps; a fade or a louder input wakes it.
        const bool steady = g == 1.0f && goal == 1.0f;
        if (asleep_ && (u == nullptr || !steady || !(loudestIn <= wakeLevel))) asleep_ = false;
        if (u != nullptr && !asleep_) {
            // A unit always starts from silence.
            if (g == 0.0f) {
                u->reset();
                quietFrames_ = 0;
                heard_ = false;
            }
            const float maxStep = fadePerSecond / (rate + 1.0f);
            const float dry = static_cast<float>(passDry);
            for (int start = 0; start < frames; start += chunkFrames) {
                const int n = std::min(chunkFrames, frames - start);
                float* chunk[2] = {bus[0] + start, bus[1] + start};
                if (g == 1.0f && goal == 1.0f) {
                    u->process(chunk, chunk, n);
                    continue;
                }
                float* processed[2] = {scratch_[0], scratch_[1]};
                u->process(chunk, processed, n);
                const float step = std::clamp((goal - g) / static_cast<float>(n), -maxStep, maxStep);
                for (int i = 0; i < n; ++i) {
                    for (size_t c = 0; c < 2; ++c)
                        chunk[c][i] =
                            dry * (1.0f - g) * chunk[c][i] + g * processed[c][static_cast<size_t>(i)];
                    g += step;
                }
                g = std::clamp(g, 0.0f, 1.0f);
            }
            if (std::fabs(g - goal) < fadeArrived) g = goal;
            float outPeaks[2] = {};
            updateMeters(outLevel, bus, frames, rate, outPeaks);
            if (g == 1.0f && goal == 1.0f)
                watchQuiet(*u, std::max(loudestIn, std::max(outPeaks[0], outPeaks[1])), frames, rate);
            produced = true;
        } else {
            // Off or asleep: a main slot passes the dry mix unchanged, a send slot returns
            // nothing.
            for (size_t c = 0; c < 2; ++c)
                outLevel[c].store(isSend_ ? 0.0f : inLevel[c].load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
        }
    }
    gain.store(g, std::memory_order_relaxed);
    audioBusy.store(false, std::memory_order_release);
    return produced;
}

void defineFxSlot(FxSlot& slot, int slotIndex, Param* slotParams) {
    slot.define(slotIndex, slotParams, slotIndex < FxSlot::firstMainSlot ? sendFxTypes() : mainFxTypes());
}

void swapFxUnits(FxSlots& slots, float sampleRate, std::atomic<uint8_t>& keepFxParamValues) {
    const bool keep = keepFxParamValues.load() != 0;
    bool allInstalled = true;
    for (FxSlot& slot : slots) allInstalled = slot.swap(sampleRate, keep) && allInstalled;
    if (keep && allInstalled) keepFxParamValues.store(0);
}

void runFxPass(FxSlots& slots, float* const* send1, float* const* send2, float* const* mainBus, int frames,
               float tempo, float sampleRate, bool silent) noexcept {
    // The main bus stays silent until a unit has run on the way to it.
    bool mainSilent = silent;
    float* const* sends[2] = {send1, send2};
    for (size_t s = 0; s < 2; ++s) {
        if (!slots[s].process(sends[s], frames, sampleRate, tempo, silent)) continue;
        mainSilent = false;
        for (size_t c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i) mainBus[c][i] += sends[s][c][i];
    }
    for (size_t m = FxSlot::firstMainSlot; m < FxSlot::slotCount; ++m)
        if (slots[m].process(mainBus, frames, sampleRate, tempo, mainSilent)) mainSilent = false;
}

} // namespace tarvo
