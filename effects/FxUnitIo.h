#pragma once
// Small helpers every effect unit shares: reading its two slot parameters once per block
// and passing audio through while it cannot process.

#include <algorithm>
#include <cstring>

#include "control/Param.h"

namespace tarvo {

// The parameter's effective value (with modulation), kept inside its range.
inline float unitParamValue(const Param& p) {
    return std::clamp(p.effective(), p.lowest(), p.highest());
}

// The parameter's effective value as a normalized position 0..1.
inline float unitParamNormalized(const Param& p) {
    return std::clamp(p.toNormalized(p.effective()), 0.0f, 1.0f);
}

// Copies the input to the output; used by a unit that has no parameters or rate yet.
inline void passThrough(float* const* inputs, float* const* outputs, int frames) noexcept {
    for (int c = 0; c < 2; ++c)
        if (outputs[c] != inputs[c])
            std::memmove(outputs[c], inputs[c], sizeof(float) * static_cast<size_t>(frames));
}

} // namespace tarvo
