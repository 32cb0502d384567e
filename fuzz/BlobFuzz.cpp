// The byte form of a Blob (".blob" files, the clipboard, state chunks), read from hostile
// data. Input: the bytes.
// Checks: a refused read leaves the Blob as it was; an accepted one yields a normalised
// Blob with finite knots and derived values that loads again once saved.

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

    // What is saved loads again.
    Blob again;
    TARVO_FUZZ_CHECK(again.deserialize(written(blob)) == Blob::byteSize);
    return 0;
}
