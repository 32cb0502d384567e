#pragma once
// One user-adjustable value of the instrument: range, mapping between a normalized
// position 0..1 and the plain value, display rules, default, and the modulation offsets
// that the modulation passes add while rendering.
//
// Threads: `set` / `setNormalized` may be called from the user-interface thread or the
// host's parameter thread; the modulation fields (`addModA`, `addModB`, `recompute`,
// `resetModulation`) are written by the audio thread only. The fields that change while the
// instrument runs are relaxed atomics (`Relaxed`): a reader may see a value one block old,
// never a torn one. No operation allocates.

#include <cstddef>
#include <cstdint>

#include "control/Relaxed.h"

namespace tarvo {

class Param {
public:
    // Told after every `set` of a parameter that carries the listener.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void paramChanged() = 0;
    };

    // Mapping kinds between the normalized position and the plain value.
    enum Shape : int32_t {
        Linear = 0,
        PowerCurve = 1,
        SignedPower = 2,
        Exponential = 3,
        Logarithmic = 4,
        Stepped = 5,
    };

    using ToTextFn = void (*)(float value, char* text, int capacity);
    using FromTextFn = float (*)(float typed);

    // Marker for an absent snap value in `setSnapValues`.
    static constexpr float noSnap = 1e35f;
    static constexpr int maxSnapValues = 4;
    // Capacity of a host parameter name.
    static constexpr int hostNameCapacity = 100;

    int32_t shape = Linear;
    const char* name = nullptr;
    const char* format = nullptr;
    const char* const* valueTexts = nullptr;
    const char* group = nullptr;
    ToTextFn toText = nullptr;
    FromTextFn fromText = nullptr;
    int32_t valueTextCount = 0;
    int32_t sinceVersion = 0;
    Listener* listener = nullptr;
    Relaxed<float> value = 0.0f;
    float defaultValue = 0.0f;
    Relaxed<float> modulatedValue = 0.0f;
    Relaxed<float> shownValue = 0.0f;
    Relaxed<float> requested = 0.0f;
    Relaxed<float> modOffsetA = 0.0f;
    Relaxed<float> modOffsetB = 0.0f;
    int32_t index = -1;
    int32_t hostIndex = -1;
    Relaxed<int32_t> isModulated = 0;
    Relaxed<int32_t> modRecomputed = 0;
    Relaxed<int32_t> shownModulated = 0;
    float min = 0.0f;
    float max = 1.0f;
    float curve = 0.0f;
    float snapValues[maxSnapValues] = {};
    int32_t snapCount = 0;

    // Defines the parameter (any thread that owns it; may be called again to redefine).
    void init(int32_t shape, float min, float max, float curve, const char* format, const char* name,
              float defaultValue, bool exposed, const char* group, int32_t sinceVersion = 0);
    // The texts are not owned and must outlive the parameter.
    void setValueTexts(const char* const* texts, int32_t count);
    // Values at which a knob drag sticks; `noSnap` marks an absent one.
    void setSnapValues(float first, float second = noSnap, float third = noSnap, float fourth = noSnap);

    // Keeps x in `requested`; unless x equals `value`, stores x clamped to the range and
    // tells the listener (even when clamping leaves `value` as it was). A value that is not
    // finite is ignored entirely: hosts and damaged data must never poison a parameter.
    void set(float x);
    // Clamps n to 0..1 (with a console warning when outside), then `set`s the plain value.
    float setNormalized(float n);

    float toNormalized(float x) const;
    float fromNormalized(float n) const;
    float effective() const { return isModulated == 1 ? modulatedValue : value; }
    float lowest() const;
    float highest() const;

    // Writes the display text of x (or of `value`) into text; always zero-terminated.
    void formatValue(char* text, int capacity, float x) const;
    void formatValue(char* text, int capacity) const { formatValue(text, capacity, value); }
    // Writes the name the host shows: "group name", or the name alone without a group.
    void formatHostName(char* text, int capacity) const;

    // Audio thread: modulation offsets in normalized space.
    void addModA(float offset) {
        modOffsetA += offset;
        recompute();
    }
    void addModB(float offset) {
        modOffsetB += offset;
        recompute();
    }
    void recompute();
    void resetModulation();
    float offsetFromDefault() const { return toNormalized(effective()) - toNormalized(defaultValue); }

    // Bytes of one stored value: a little-endian IEEE single.
    static constexpr int storedValueBytes = 4;
    // Whether engine state of the given version holds this parameter's value (any thread: the
    // fields it reads never change after construction).
    bool storedIn(int version) const { return version < 0 || version >= sinceVersion; }
    // The parameter's 4 bytes of engine state. `position` always advances by 4 on write;
    // on read it advances by 4 unless the data is older than the parameter.
    void writeValue(uint8_t* buffer, int& position, int size) const;
    void readValue(const uint8_t* buffer, int& position, int size, int version);

private:
    // Position of x in the value texts (trunc(x) - min), or -1 when x has none.
    int textIndex(float x) const;
};

// Custom displays shared by several parameters.
void formatDecibels(float value, char* text, int capacity);
float decibelsToGain(float typed);
void formatPan(float value, char* text, int capacity);

} // namespace tarvo
