#pragma once
// The four effect slots of the engine: "Send 1" and "Send 2" each process a send bus and
// add their output to the main mix; the two main slots process the main mix in place. A
// slot holds at most one effect unit and cross-fades whenever it is switched or its unit
// changes, so nothing ever clicks.
//
// Threads. Units are created, configured and destroyed only by the swap routine on the
// user-interface thread (idle tick); the audio thread only runs them in the effect pass.
// They meet through the fade state and `typeIndex`:
// - the audio thread fades a slot out whenever its "Type" differs from `typeIndex` or its
//   unit was rated for another sample rate, and touches a unit only while fading or on;
// - the swap routine replaces or re-rates a unit only after claiming the slot: it stores
//   `swapInProgress` into `typeIndex`, then checks that the audio thread is not inside the
//   pass (`audioBusy`) and that the fade is fully out. Both sides store their flag before
//   reading the other's (sequentially consistent), so either the audio thread sees the
//   claim and keeps off the unit, or the swap routine sees it busy and backs off until the
//   next tick. "Type" set back during a swap therefore can never revive a unit that is
//   being destroyed;
// - the new unit is published by storing its list position into `typeIndex` after it is
//   fully configured, so no audio ever passes through a half-configured unit.
// The editor reads the meters without synchronization; they are relaxed atomics.
//
// Sleep. A fully-on slot whose input and output have stayed below audibility for as long as
// its unit's tail lasts stops running the unit: a main slot passes its input, a send slot
// returns nothing. The first input sample above the wake level, any fade, or a new unit
// wakes it, and the unit carries on from the state it was left in, which by then holds
// nothing audible. Silence therefore costs a peak scan per bus.

#include <array>
#include <atomic>
#include <cstdint>

#include "control/Param.h"
#include "effects/FxBase.h"
#include "effects/FxTypes.h"

namespace tarvo {

class FxSlot {
public:
    static constexpr int slotCount = 4;
    // Slots 0 and 1 are the sends; 2 and 3 the main chain in processing order.
    static constexpr int firstMainSlot = 2;
    // `typeIndex` before the first unit is installed.
    static constexpr int noUnit = -1;
    // `typeIndex` while the swap routine owns the slot.
    static constexpr int swapInProgress = -111;
    // Largest block the unit interface takes at once; longer passes run in chunks.
    static constexpr int chunkFrames = 64;
    // Below this level (-100 dB relative to full scale) a sample is inaudible.
    static constexpr float audibleLevel = 1e-5f;
    // A sleeping slot wakes on an input sample above this: 60 dB under audibility, more
    // than any unit's gain, so no sample the unit would make audible passes unprocessed.
    static constexpr float wakeLevel = 1e-8f;

    FxSlot() = default;
    FxSlot(const FxSlot&) = delete;
    FxSlot& operator=(const FxSlot&) = delete;
    // Whichever thread destroys the engine; the audio thread must have stopped.
    ~FxSlot();

    // User-interface thread, during engine construction: binds the slot to its four
    // parameters (Power, Type, unit parameter 1 and 2) and its type list, and defines them
    // with the slot's defaults. Creates no unit.
    void define(int slotIndex, Param* slotParams, const FxTypeList& typeList);

    // User-interface thread (idle tick): installs the unit "Type" asks for, or re-rates the
    // installed one after a sample-rate change, once the slot has faded out. With
    // keepParamValues the unit parameters keep their values (clamped to the new ranges)
    // instead of taking the new unit's defaults. Allocates. Returns true when the slot holds
    // the unit its "Type" names, rated for sampleRate.
    bool swap(float sampleRate, bool keepParamValues);

    // Audio thread: runs the slot over one bus of frames (any count) in place. engineRate is
    // the engine's current sample rate; a unit rated for another is not run. Never
    // allocates. Returns true when the bus holds the slot's processed output (for a send
    // slot: the return to add into the main mix). A caller that knows the bus holds only
    // zeros says so with silent, which spares the meters' scan.
    bool process(float* const* bus, int frames, float engineRate, float tempo, bool silent = false) noexcept;
    // Audio thread, between passes (the host's reset): the slot falls silent at once, as a
    // freshly installed one is, so that the next idle tick may install the unit "Type" asks
    // for and the next pass resets the unit (its tail is gone) and fades it in. Never
    // allocates; leaves a slot that the swap routine holds alone.
    void clearTail() noexcept;

    // The unit "Type" currently asks for, clamped into the list.
    int requestedType() const;
    bool isSend() const { return isSend_; }
    // Main thread: the installed unit (null before the first swap).
    FxBase* installedUnit() const { return unit.load(std::memory_order_acquire); }

    std::atomic<FxBase*> unit{nullptr};
    std::array<std::atomic<float>, 2> inLevel{};
    std::array<std::atomic<float>, 2> outLevel{};
    std::atomic<float> sampleRate{0.0f};
    std::atomic<float> target{0.0f};
    std::atomic<float> gain{0.0f};
    uint8_t passDry = 0;
    std::atomic<int> typeIndex{noUnit};
    // Set by the audio thread for the duration of `process`.
    std::atomic<bool> audioBusy{false};

    // Audio thread (and tests): whether the unit is sleeping.
    bool asleep() const noexcept { return asleep_; }
    // Audio thread: whether a pass over silent buses leaves them as they are and runs no unit,
    // however many frames it spans: the unit sleeps, or the slot is off and faded out.
    bool resting() const noexcept {
        return asleep_ || (gain.load(std::memory_order_relaxed) == 0.0f &&
                           target.load(std::memory_order_relaxed) == 0.0f);
    }

private:
    // Updates a meter pair from the bus's peaks, which it stores in peaks; a silent bus is not
    // scanned.
    void updateMeters(std::array<std::atomic<float>, 2>& levels, float* const* bus, int frames, float rate,
                      float (&peaks)[2], bool silent = false) noexcept;
    // After the unit ran: counts the frames of quiet and falls asleep after the unit's tail.
    void watchQuiet(const FxBase& unit, float loudest, int frames, float rate) noexcept;

    const FxTypeList* types_ = nullptr;
    Param* params_ = nullptr;
    bool isSend_ = false;
    float scratch_[2][chunkFrames] = {};
    // Audio thread only. Frames since input or output last reached audibility.
    int quietFrames_ = 0;
    // Whether the unit has heard or made an audible sample since it started from silence;
    // until then its state is its reset state and it may sleep after `restSettleSeconds`.
    bool heard_ = false;
    bool asleep_ = false;
};

using FxSlots = std::array<FxSlot, FxSlot::slotCount>;

// User-interface thread, engine construction: defines the four parameters of slot
// slotIndex (0..3) at slotParams with the engine's type lists.
void defineFxSlot(FxSlot& slot, int slotIndex, Param* slotParams);

// User-interface thread, once per idle tick, before the audio import step: the swap
// routine over all four slots. Clears keepFxParamValues once every slot holds the type
// its "Type" asks for. Allocates.
void swapFxUnits(FxSlots& slots, float sampleRate, std::atomic<uint8_t>& keepFxParamValues);

// Audio thread, once per render sub-block after the mixer: runs both send slots on their
// buses and adds their returns into the main bus, then the two main slots on the main bus.
// Every bus is a left/right pair of frames samples. silent tells that every bus holds only
// zeros (nothing was mixed into them). Never allocates.
void runFxPass(FxSlots& slots, float* const* send1, float* const* send2, float* const* mainBus, int frames,
               float tempo, float sampleRate, bool silent = false) noexcept;

} // namespace tarvo
