// The byte form of a Blob (".blob" files, the clipboard, state chunks), read from hostile
// data. Input: the bytes.
// Checks: a refused read leaves the Blob as it was; an accepted one yields a normalised
// Blob with finite knots and derived values that sounds the same after save and reload.

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "engine/Blob.h"
#include "fuzz/FuzzInput.h"

using tarvo::Blob;

namespace {

std::vector<uint8_t> written(const Blob& blob) {
    std::vector<uint8_t> bytes(Blob::byteSize);
    TARVO_FUZZ_CHECK(blob.serialize(bytes) == Blob::byteSize);
    return bytes;
}

// The largest distance between corresponding knots of a and b.
float largestKnotDifference(const Blob& a, const Blob& b) {
    float largest = 0.0f;
    for (size_t r = 0; r < a.timeWarps.size(); ++r)
        for (size_t k = 0; k < a.timeWarps[r].size(); ++k)
            largest = std::max(largest, std::abs(a.timeWarps[r][k] - b.timeWarps[r][k]));
    for (size_t c = 0; c < a.freqWarps.size(); ++c)
        for (size_t k = 0; k < a.freqWarps[c].size(); ++k)
            largest = std::max(largest, std::abs(a.freqWarps[c][k] - b.freqWarps[c][k]));
    return largest;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Blob blob;
    blob.clear();
    const std::vector<uint8_t> before = written(blob);
    std::string reason;
    const size_t used = blob.deserialize(std::span<const uint8_t>(data, size), &reason);
    if (used != Blob::byteSize) {
        TARVO_FUZZ_CHECK(used <= 1);
        TARVO_FUZZ_CHECK(!reason.empty());
        TARVO_FUZZ_CHECK(written(blob) == before);
        return 0;
    }
    TARVO_FUZZ_CHECK(std::isfinite(blob.energy) && blob.energy >= 0.0f);
    TARVO_FUZZ_CHECK(std::isfinite(blob.length));
    for (const Blob::TimeRow& row : blob.timeWarps)
        for (float knot : row) TARVO_FUZZ_CHECK(std::isfinite(knot));
    for (const Blob::FreqColumn& column : blob.freqWarps)
        for (float knot : column) TARVO_FUZZ_CHECK(std::isfinite(knot));
    for (float tail : blob.tailTime) TARVO_FUZZ_CHECK(std::isfinite(tail));

    // What is saved loads again and sounds the same: the same knots, loudness and length,
    // and it saves to the same bytes, however often.
    const std::vector<uint8_t> once = written(blob);
    Blob again = blob;
    for (int cycle = 0; cycle < 3; ++cycle) {
        TARVO_FUZZ_CHECK(again.deserialize(written(again)) == Blob::byteSize);
        TARVO_FUZZ_CHECK(largestKnotDifference(again, blob) == 0.0f);
        TARVO_FUZZ_CHECK(again.energy == blob.energy);
        TARVO_FUZZ_CHECK(again.length == blob.length);
        TARVO_FUZZ_CHECK(again.audibleKnots == blob.audibleKnots);
        TARVO_FUZZ_CHECK(written(again) == once);
    }
    return 0;
}
