// The byte form of a Blob (".blob" files, the clipboard Blob, state chunks), read from hostile
// data. Input: the bytes.
// Checks, every input: a refused read says why and leaves the Blob as it was; an accepted one
// settles into finite, ordered knots and saves to bytes that read back to the same knots and
// save to the same bytes again.
// On a sample of accepted inputs, the whole load: the normalisation keeps the settled knots,
// the derived values are finite, and the reloaded Blob has the same loudness and length (it
// sounds the same).
// One Blob serves every input; each read starts it from the even mesh.

#include <algorithm>
#include <cmath>
#include <span>
#include <string>
#include <vector>

#include "engine/Blob.h"
#include "fuzz/FuzzInput.h"

using tarvo::Blob;

namespace {

// Accepted inputs that also get the whole load with its loudness measurement.
constexpr uint32_t fullLoadOneIn = 512;

std::vector<uint8_t> written(const Blob& blob) {
    std::vector<uint8_t> bytes(Blob::byteSize);
    TARVO_FUZZ_CHECK(blob.serialize(bytes) == Blob::byteSize);
    return bytes;
}

bool sameKnots(const Blob& a, const Blob& b) {
    return a.timeWarps == b.timeWarps && a.freqWarps == b.freqWarps;
}

template <typename List> void checkList(const List& list) {
    for (size_t k = 0; k < list.size(); ++k) {
        TARVO_FUZZ_CHECK(std::isfinite(list[k]));
        if (k > 0) TARVO_FUZZ_CHECK(list[k] >= list[k - 1]);
    }
}

const Blob& evenMesh() {
    static const Blob even = [] {
        Blob b;
        b.clear();
        return b;
    }();
    return even;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Blob blob;
    static const std::vector<uint8_t> evenBytes = written(evenMesh());
    blob.copyFrom(evenMesh(), false);
    const std::span<const uint8_t> in(data, size);

    std::string reason;
    const size_t used = blob.readKnots(in, &reason);
    if (used != Blob::byteSize) {
        TARVO_FUZZ_CHECK(used <= 1);
        TARVO_FUZZ_CHECK(!reason.empty());
        TARVO_FUZZ_CHECK(sameKnots(blob, evenMesh()) && written(blob) == evenBytes);
        return 0;
    }
    for (const Blob::TimeRow& row : blob.timeWarps) checkList(row);
    for (const Blob::FreqColumn& column : blob.freqWarps) checkList(column);

    // Settled knots survive saving and reading again.
    const std::vector<uint8_t> once = written(blob);
    Blob again = evenMesh();
    TARVO_FUZZ_CHECK(again.readKnots(once) == Blob::byteSize);
    TARVO_FUZZ_CHECK(sameKnots(again, blob));
    TARVO_FUZZ_CHECK(written(again) == once);

    if (!tarvo::fuzz::inSample(data, size, fullLoadOneIn)) return 0;
    Blob loaded;
    TARVO_FUZZ_CHECK(loaded.deserialize(in) == Blob::byteSize);
    // The normalisation keeps settled knots where they are.
    TARVO_FUZZ_CHECK(sameKnots(loaded, blob));
    TARVO_FUZZ_CHECK(std::isfinite(loaded.energy) && loaded.energy >= 0.0f);
    TARVO_FUZZ_CHECK(std::isfinite(loaded.length));
    for (float tail : loaded.tailTime) TARVO_FUZZ_CHECK(std::isfinite(tail));
    Blob reloaded;
    TARVO_FUZZ_CHECK(reloaded.deserialize(written(loaded)) == Blob::byteSize);
    TARVO_FUZZ_CHECK(sameKnots(reloaded, loaded));
    TARVO_FUZZ_CHECK(reloaded.energy == loaded.energy);
    TARVO_FUZZ_CHECK(reloaded.length == loaded.length);
    TARVO_FUZZ_CHECK(reloaded.audibleKnots == loaded.audibleKnots);
    TARVO_FUZZ_CHECK(reloaded.tailTime == loaded.tailTime);
    return 0;
}
