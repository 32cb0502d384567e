#pragma once
// The pattern player: one looping pattern of up to sixteen steps per track, played on its own
// clock or on the host's, with swing, a random timing drift per track and random velocities.
//
// Time is counted in ticks of 1/1024 step; a step is a sixteenth note.
//
// Threads: the audio thread calls `advance`, `takeTrigger`, `rewind` and `locate`; they never
// allocate and never wait. Pattern data is shared with the editor and the host's state calls:
// `insertNote`, `removeNote`, `clear` and `read` hold `lock` while they change it, and
// `advance` only tries the lock, so it never sees a half-changed pattern and never blocks.
// The editor's in-place edits of note fields change single aligned integers; track lengths
// are relaxed atomics, since moving to a host position reads them without the lock.
// Every note array has its room reserved up front; nothing grows where the audio thread can
// see it. Play states and positions belong to the audio thread; other threads only read them
// for display.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "control/Param.h"
#include "control/Relaxed.h"

namespace tarvo {

// The 32-bit linear congruential generator that every instance shares (timing drift,
// velocity spread, MIDI export). Any thread; lock-free: concurrent callers each get distinct
// draws of the one sequence.
class SharedRandom {
public:
    static constexpr uint32_t initialState = 12345;

    // Steps the generator and returns the new state.
    static uint32_t next() noexcept;
    // A uniform number in 0..1 from the next state.
    static float uniform() noexcept;
    // Restarts the sequence (tests and reproducible exports).
    static void seed(uint32_t state) noexcept { state_.store(state, std::memory_order_relaxed); }

private:
    static inline std::atomic<uint32_t> state_{initialState};
};

// One note of a track pattern; 6 bytes, the array is stored densely.
struct SeqNote {
    uint16_t start = 0;   // ticks from the pattern start
    uint16_t length = 0;  // ticks
    uint8_t velocity = 0; // 1..127
    uint8_t track = 0;    // owning track, 0..7
};
static_assert(sizeof(SeqNote) == 6, "notes are stored packed");

struct TrackPattern {
    Relaxed<int32_t> length = 16; // steps, 1..16; the editor changes it in place
    // Sorted by start; notes of one track never overlap.
    std::vector<SeqNote> notes;
};

struct TrackPlayState {
    enum State : int32_t { idle = 0, sounding = 1, noteOnDue = 2, noteOffDue = 3 };

    int32_t nextNote = -1;   // the note being watched; -1 after a reset
    int32_t pos = 0;         // play position in ticks, 0 .. length × 1024 − 1
    int32_t jitterTicks = 0; // timing offset in ticks currently applied
    float jitter = 0.0f;     // the timing random walk, in steps
    int32_t state = idle;
    // Velocity of the due note-on, taken while the pattern was locked, so that
    // `takeTrigger` never reads pattern data.
    int32_t dueVelocity = 0;
};

class StepSequencer {
public:
    static constexpr int defaultTrackCount = 8;
    static constexpr int defaultLoopSteps = 16;
    static constexpr int defaultReserveNotes = 32;
    static constexpr int ticksPerStep = 1024;
    // Stored note counts are one signed byte.
    static constexpr int maxNotesPerTrack = 127;
    // A window longer than half a step means the position jumped: nothing is reported.
    static constexpr int32_t maxWindowTicks = 512;
    // `positionSixteenths` wraps after 768 steps (48 bars of 4/4).
    static constexpr double positionWrapSteps = 768.0;
    // Pass to `clear` to clear every track.
    static constexpr int allTracks = -1;
    // Time constant of the "Loose Time" random walk, seconds.
    static constexpr double looseTimeSeconds = 0.2;

    enum ParamId : int {
        paramBpm = 0,
        paramHostSync,
        paramSwing,
        paramLooseTime,
        paramLooseVelo,
        paramCount
    };

    // User-interface thread; allocates.
    explicit StepSequencer(int trackCount = defaultTrackCount, int loopSteps = defaultLoopSteps,
                           int reserveNotes = defaultReserveNotes);

    std::array<Param, paramCount> params;
    // Counts every change of the pattern data and every state load.
    std::atomic<int32_t> changeCount{0};
    // Guards the note arrays and track lengths against structural changes.
    std::mutex lock;
    // Tracks cleared since the audio thread last advanced, one bit each: their watched note
    // index starts again from the first note. The audio thread owns the play states, so a
    // clear on the user-interface thread leaves this request instead of writing them.
    std::atomic<uint32_t> clearedTracks{0};
    double clockSixteenths = 0.0;    // steps since the loop start, before swing
    double positionSixteenths = 0.0; // runs forward only, wrapped into 0..768
    int32_t tick = 0;                // swung position in ticks within the loop
    std::vector<TrackPattern> patterns;
    int32_t loopSteps;
    std::vector<TrackPlayState> playStates;

    int trackCount() const { return static_cast<int>(patterns.size()); }
    Param& param(ParamId id) { return params[static_cast<size_t>(id)]; }
    const Param& param(ParamId id) const { return params[static_cast<size_t>(id)]; }

    // Audio thread. Moves the clock by seconds and returns the highest track with a note-on or
    // note-off due, or -1. Returns -1 at once for 0 seconds; returns 0 after moving only the
    // clock when another thread holds the lock.
    int advance(double seconds) noexcept;
    // Audio thread. The velocity 1..127 of a due note-on, 0 for a due note-off, -1 for nothing.
    int takeTrigger(int track) noexcept;
    // Audio thread. Back to the loop start; a sounding note gets no note-off.
    void rewind() noexcept;
    // Audio thread. Moves to a host position in steps; negative positions fold into the loop.
    void locate(double steps) noexcept;

    // Editor thread; takes the lock, never allocates: refuses a note when the track's room is
    // full. Returns whether the note went in.
    bool insertNote(int track, int start, int length, int velocity);
    // Editor thread; takes the lock. Returns whether a note was removed; counts a change
    // either way.
    bool removeNote(int track, int index);
    // Editor thread; takes the lock. Empties the track (or every track for `allTracks`) and sets
    // its length back to the loop length.
    void clear(int track);
    // Editor thread. Note index plus the fraction of the note at tickPos, or -1 for none.
    float noteAt(int track, int tickPos) const;

    // Host or user-interface thread. Stores the patterns and the five parameters; writes only
    // inside size but always advances position.
    void write(uint8_t* buffer, int& position, int size) const;
    // Host or user-interface thread; allocates, takes the lock to swap the new patterns in.
    // Missing bytes read as zeros; track lengths are clamped to 1..loop length. Data with a
    // note count above 127 is damaged: it is rejected, nothing changes, position stays, and
    // the result is false.
    bool read(const uint8_t* buffer, int& position, int size, int version);

private:
    int reserveNotes_;
};

} // namespace tarvo
