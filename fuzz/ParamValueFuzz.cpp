// One parameter's stored value, read from hostile data, for every parameter of the engine
// and the sequencer. Input: parameter index (u16), version (u8, minus 1), then the bytes.
// Checks: the value stays finite and inside the parameter's range, the position moves by
// 0 or 4, and the value's display text is a terminated string.

#include <cmath>
#include <cstring>
#include <memory>

#include "control/StepSequencer.h"
#include "engine/BandSynth.h"
#include "fuzz/FuzzInput.h"

using tarvo::Param;
using tarvo::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto engine = std::make_unique<tarvo::BandSynth>();
    static const auto sequencer = std::make_unique<tarvo::StepSequencer>();
    FuzzInput in(data, size);
    const size_t engineCount = engine->params.size();
    const size_t index = in.u16() % (engineCount + tarvo::StepSequencer::paramCount);
    Param p = index < engineCount ? engine->params[index] : sequencer->params[index - engineCount];
    p.listener = nullptr;
    const int version = static_cast<int>(in.u8()) - 1;

    int position = 0;
    p.readValue(in.rest(), position, in.restSize(), version);
    TARVO_FUZZ_CHECK(position == 0 || position == 4);
    TARVO_FUZZ_CHECK(std::isfinite(p.value));
    TARVO_FUZZ_CHECK(p.value >= p.lowest() && p.value <= p.highest());

    char text[64];
    std::memset(text, 'x', sizeof text);
    p.formatValue(text, sizeof text);
    TARVO_FUZZ_CHECK(std::memchr(text, '\0', sizeof text) != nullptr);
    return 0;
}
