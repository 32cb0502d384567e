// A stored breakpoint curve (LFO shape or velocity curve), read from hostile data.
// Input: capacity (u8, 1..64), loop flag (u8), then the stored curve.
// Checks: a rejected read changes nothing; an accepted one evaluates to finite levels in
// 0..1 everywhere and writes back to bytes that read again to the same bytes.

#include <vector>

#include "control/Curve.h"
#include "fuzz/FuzzInput.h"

using tarvo::Curve;
using tarvo::fuzz::FuzzInput;

namespace {

std::vector<uint8_t> written(const Curve& curve) {
    std::vector<uint8_t> bytes(static_cast<size_t>(tarvo::curveByteSize(curve)));
    int position = 0;
    tarvo::writeCurve(curve, bytes.data(), position, static_cast<int>(bytes.size()));
    TARVO_FUZZ_CHECK(position == static_cast<int>(bytes.size()));
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int capacity = 1 + in.u8() % Curve::maxCapacity;
    const bool loop = (in.u8() & 1) != 0;
    Curve curve(capacity);
    curve.setLoop(loop);
    const std::vector<uint8_t> before = written(curve);
    int position = 0;
    if (!tarvo::readCurve(curve, in.rest(), position, in.restSize())) {
        TARVO_FUZZ_CHECK(position == 0);
        TARVO_FUZZ_CHECK(written(curve) == before);
        return 0;
    }
    TARVO_FUZZ_CHECK(position > 0 && position <= in.restSize());
    TARVO_FUZZ_CHECK(curve.count >= 0 && curve.count <= capacity);

    constexpr int probes = 257;
    for (int i = 0; i < probes; ++i) {
        float segment = 0.0f;
        const float level = curve.evaluate(static_cast<float>(i) / (probes - 1), &segment);
        TARVO_FUZZ_CHECK(level >= 0.0f && level <= 1.0f); // false for NaN too
        TARVO_FUZZ_CHECK(segment >= 0.0f && segment <= static_cast<float>(capacity));
    }

    const std::vector<uint8_t> once = written(curve);
    Curve again(capacity);
    again.setLoop(loop);
    int at = 0;
    TARVO_FUZZ_CHECK(tarvo::readCurve(again, once.data(), at, static_cast<int>(once.size())));
    TARVO_FUZZ_CHECK(written(again) == once);
    return 0;
}
