// The sequencer's part of a state chunk, read from damaged or hostile data.
// Input: version (u8, minus 1 so that -1 occurs), then the stored bytes.
// Checks: a read that succeeds leaves tracks the audio thread can play, writes back to bytes
// that read again to the same bytes, and playing the result stays inside the note arrays.
// The sequencer's clock is left out of coverage tracing (fuzz/coverage-ignore.txt): the play
// check runs on every accepted input all the same.

#include <vector>

#include "control/StepSequencer.h"
#include "fuzz/FuzzInput.h"

using tarvo::StepSequencer;
using tarvo::fuzz::FuzzInput;

namespace {

std::vector<uint8_t> written(const StepSequencer& sequencer) {
    int size = 0;
    sequencer.write(nullptr, size, 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    int position = 0;
    sequencer.write(bytes.data(), position, size);
    TARVO_FUZZ_CHECK(position == size);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int version = static_cast<int>(in.u8()) - 1;
    // What a new sequencer writes, the same for every input.
    static const std::vector<uint8_t> before = written(StepSequencer());
    StepSequencer sequencer;
    int position = 0;
    if (!sequencer.read(in.rest(), position, in.restSize(), version)) {
        TARVO_FUZZ_CHECK(position == 0);
        TARVO_FUZZ_CHECK(written(sequencer) == before);
        return 0;
    }
    TARVO_FUZZ_CHECK(position > 0);
    for (const tarvo::TrackPattern& pattern : sequencer.patterns) {
        TARVO_FUZZ_CHECK(pattern.length >= 1 && pattern.length <= sequencer.loopSteps);
        TARVO_FUZZ_CHECK(pattern.notes.size() <= static_cast<size_t>(StepSequencer::maxNotesPerTrack));
    }

    const std::vector<uint8_t> once = written(sequencer);
    StepSequencer again;
    int at = 0;
    TARVO_FUZZ_CHECK(again.read(once.data(), at, static_cast<int>(once.size()), version));
    TARVO_FUZZ_CHECK(at == static_cast<int>(once.size()));
    TARVO_FUZZ_CHECK(written(again) == once);

    // Two loops at the loaded tempo, a quarter step per call (calls more than half a step
    // apart would count as a jump).
    const double quarterStep = 60.0 / (sequencer.param(StepSequencer::paramBpm).effective() * 4.0) / 4.0;
    for (int call = 0; call < 2 * 4 * sequencer.loopSteps; ++call) {
        const int last = sequencer.advance(quarterStep);
        TARVO_FUZZ_CHECK(last < sequencer.trackCount());
        for (int track = 0; track <= last; ++track) {
            const int velocity = sequencer.takeTrigger(track);
            TARVO_FUZZ_CHECK(velocity >= -1 && velocity <= 127);
        }
    }
    return 0;
}
