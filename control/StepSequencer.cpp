#include "control/StepSequencer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/SequencerParams.h"

namespace tarvo {

namespace {

// Generator constants of the shared linear congruential generator.
constexpr uint32_t lcgMultiplier = 1664525u;
constexpr uint32_t lcgIncrement = 1013904223u;
// Scales a 32-bit state to 0..1.
constexpr double lcgScale = 2.3283e-10;

// Remainder of a by l taken into 0 .. l − 1.
int32_t positiveMod(int64_t a, int32_t l) {
    const int64_t r = a % l;
    return static_cast<int32_t>(r < 0 ? r + l : r);
}

// Little-endian primitives of the state data: writes stay inside size, reads past the end
// give zeros; both always advance the position.
void putInt(uint8_t* buffer, int& position, int size, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i, ++position)
        if (buffer != nullptr && position >= 0 && position < size)
            buffer[position] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getInt(const uint8_t* buffer, int& position, int size, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i, ++position)
        if (buffer != nullptr && position >= 0 && position < size)
            value |= static_cast<uint32_t>(buffer[position]) << (8 * i);
    return value;
}

int32_t getSigned8(const uint8_t* buffer, int& position, int size) {
    return static_cast<int8_t>(getInt(buffer, position, size, 1));
}

int32_t getSigned16(const uint8_t* buffer, int& position, int size) {
    return static_cast<int16_t>(getInt(buffer, position, size, 2));
}

} // namespace

uint32_t SharedRandom::next() noexcept {
    uint32_t x = state_.load(std::memory_order_relaxed);
    uint32_t stepped;
    do {
        stepped = x * lcgMultiplier + lcgIncrement;
    } while (!state_.compare_exchange_weak(x, stepped, std::memory_order_relaxed));
    return stepped;
}

float SharedRandom::uniform() noexcept {
    return static_cast<float>(next() * lcgScale);
}

StepSequencer::StepSequencer(int trackCount, int loopStepCount, int reserveNotes)
    : patterns(static_cast<size_t>(std::max(trackCount, 1))), loopSteps(std::max(loopStepCount, 1)),
      playStates(patterns.size()), reserveNotes_(std::clamp(reserveNotes, 1, maxNotesPerTrack)) {
    defineSequencerParams(params.data());
    for (TrackPattern& pattern : patterns) {
        pattern.length = loopSteps;
        pattern.notes.reserve(static_cast<size_t>(reserveNotes_));
    }
}

int StepSequencer::advance(double seconds) noexcept {
    const double steps = param(paramBpm).effective() * 4.0 / 60.0 * seconds;
    clockSixteenths += steps;
    positionSixteenths += steps;
    if (positionSixteenths > positionWrapSteps) positionSixteenths -= positionWrapSteps;
    if (seconds == 0.0) return -1;
    std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
    if (!guard.owns_lock()) return 0;

    // Swing maps real time inside each pair of steps to grid time, so the second step of
    // every pair starts f steps late (early for negative f).
    const float f = param(paramSwing).effective() / 100.0f;
    const float h = static_cast<float>(clockSixteenths);
    const float h2 = std::fmod(h, 2.0f);
    const float g = h2 < 1.0f + f ? h2 / (1.0f + f) : (h2 - 2.0f) / (1.0f - f) + 2.0f;
    const auto now = static_cast<int32_t>(std::trunc((h - h2 + g) * static_cast<float>(ticksPerStep)));

    const int32_t oldTick = tick;
    tick = std::max(tick, now);
    const int32_t diff = tick - oldTick;
    const int32_t loopTicks = loopSteps * ticksPerStep;
    while (tick >= loopTicks) {
        tick -= loopTicks;
        clockSixteenths -= loopSteps;
    }

    // First-order random walk per track: decay c per call, fresh spread sqrt(1 − c²).
    const double c = 1.0 - seconds / (seconds + looseTimeSeconds);
    const double spread =
        std::sqrt(std::max(0.0, 1.0 - c * c)) * (param(paramLooseTime).effective() * 0.2 / 100.0);

    int reported = -1;
    const uint32_t cleared = clearedTracks.exchange(0, std::memory_order_acquire);
    for (int i = 0; i < trackCount(); ++i) {
        TrackPattern& pattern = patterns[static_cast<size_t>(i)];
        TrackPlayState& play = playStates[static_cast<size_t>(i)];
        if ((cleared & (1u << i)) != 0) play.nextNote = 0;
        const int32_t length = std::clamp(pattern.length.load(), 1, loopSteps);
        const int32_t l = length * ticksPerStep;

        const int32_t w = play.jitterTicks + play.pos; // previous jittered position
        // Tracks whose length divides the loop stay locked to it; the others run on.
        play.pos = positiveMod(loopSteps % length == 0 ? int64_t{tick} : int64_t{play.pos} + diff, l);
        play.jitter = static_cast<float>(spread * (2.0 * SharedRandom::uniform() - 1.0) + c * play.jitter);
        // The jittered position never runs backwards.
        play.jitterTicks =
            std::max(play.jitterTicks - diff,
                     static_cast<int32_t>(std::trunc(play.jitter * static_cast<float>(ticksPerStep))));
        const int32_t window = positiveMod(int64_t{play.jitterTicks} + play.pos - w, l);
        const auto count = static_cast<int32_t>(pattern.notes.size());
        if (window > maxWindowTicks || count == 0) continue;
        if (play.nextNote < 0 || play.nextNote >= count) play.nextNote = 0;

        if (play.state == TrackPlayState::sounding) {
            const SeqNote& note = pattern.notes[static_cast<size_t>(play.nextNote)];
            const int32_t toEnd = positiveMod(int64_t{note.start} + note.length - w, l);
            if (toEnd >= window && positiveMod(int64_t{w} + window - note.start, l) <= note.length) continue;
            play.state = TrackPlayState::noteOffDue;
            play.nextNote = (play.nextNote + 1) % count;
            reported = i;
        }

        // The next note is the first one starting at or after w, or the first of the pattern
        // when every note starts before w.
        if (pattern.notes[static_cast<size_t>(count - 1)].start < w) {
            play.nextNote = 0;
        } else {
            while (play.nextNote < count && pattern.notes[static_cast<size_t>(play.nextNote)].start < w)
                ++play.nextNote;
            while (play.nextNote > 0 && pattern.notes[static_cast<size_t>(play.nextNote - 1)].start >= w)
                --play.nextNote;
        }
        // A note starting at or beyond the track length never plays.
        if (pattern.notes[static_cast<size_t>(play.nextNote)].start >= l) {
            if (play.nextNote == 0) continue;
            play.nextNote = 0;
        }
        const SeqNote& next = pattern.notes[static_cast<size_t>(play.nextNote)];
        if (positiveMod(int64_t{next.start} - w, l) < window) {
            // A note-off due from above is replaced by this note-on; the voice takes over.
            play.state = TrackPlayState::noteOnDue;
            play.dueVelocity = next.velocity;
            reported = i;
        }
    }
    return reported;
}

int StepSequencer::takeTrigger(int track) noexcept {
    if (track < 0 || track >= trackCount()) return -1;
    TrackPlayState& play = playStates[static_cast<size_t>(track)];
    if (play.state == TrackPlayState::noteOnDue) {
        play.state = TrackPlayState::sounding;
        const auto spread = static_cast<int>(
            std::trunc((SharedRandom::uniform() - 0.5f) * param(paramLooseVelo).effective()));
        return std::clamp(play.dueVelocity + spread, 1, 127);
    }
    if (play.state == TrackPlayState::noteOffDue) {
        play.state = TrackPlayState::idle;
        return 0;
    }
    return -1;
}

void StepSequencer::rewind() noexcept {
    for (TrackPlayState& play : playStates) {
        play.nextNote = -1;
        play.pos = 0;
        play.jitterTicks = 0;
        play.jitter = 0.0f;
        play.state = TrackPlayState::idle;
    }
    clockSixteenths = 0.0;
    positionSixteenths = 0.0;
    tick = 0;
}

void StepSequencer::locate(double steps) noexcept {
    if (!std::isfinite(steps)) return;
    double inLoop = std::fmod(steps, static_cast<double>(loopSteps));
    if (inLoop < 0.0) inLoop += loopSteps;
    // A tiny negative remainder can round up to the loop length itself.
    if (inLoop >= loopSteps) inLoop = 0.0;
    clockSixteenths = inLoop;
    positionSixteenths = inLoop;
    tick = static_cast<int32_t>(std::trunc(inLoop * ticksPerStep));
    const double absoluteTicks = std::trunc(steps * ticksPerStep);
    for (size_t i = 0; i < playStates.size(); ++i) {
        const double l = std::clamp(patterns[i].length.load(), 1, loopSteps) * ticksPerStep;
        double pos = std::fmod(absoluteTicks, l);
        if (pos < 0.0) pos += l;
        playStates[i].pos = std::min(static_cast<int32_t>(pos), static_cast<int32_t>(l) - 1);
    }
}

bool StepSequencer::insertNote(int track, int start, int length, int velocity) {
    if (track < 0 || track >= trackCount()) return false;
    std::lock_guard<std::mutex> guard(lock);
    ++changeCount;
    std::vector<SeqNote>& notes = patterns[static_cast<size_t>(track)].notes;
    if (notes.size() >= notes.capacity()) return false;
    SeqNote note;
    note.start = static_cast<uint16_t>(std::clamp(start, 0, 0xFFFF));
    note.length = static_cast<uint16_t>(std::clamp(length, 0, 0xFFFF));
    note.velocity = static_cast<uint8_t>(std::clamp(velocity, 1, 127));
    note.track = static_cast<uint8_t>(track);
    const auto at =
        std::find_if(notes.begin(), notes.end(), [&](const SeqNote& n) { return n.start >= note.start; });
    notes.insert(at, note); // within the reserved room: no reallocation
    return true;
}

bool StepSequencer::removeNote(int track, int index) {
    // Every call counts as a change, so an editor comparing counts redraws after any removal
    // attempt, including one that raced with another edit and found no note.
    ++changeCount;
    if (track < 0 || track >= trackCount()) return false;
    std::lock_guard<std::mutex> guard(lock);
    std::vector<SeqNote>& notes = patterns[static_cast<size_t>(track)].notes;
    if (index < 0 || index >= static_cast<int>(notes.size())) return false;
    notes.erase(notes.begin() + index);
    return true;
}

void StepSequencer::clear(int track) {
    if (track != allTracks && (track < 0 || track >= trackCount())) return;
    std::lock_guard<std::mutex> guard(lock);
    for (int i = 0; i < trackCount(); ++i) {
        if (track != allTracks && i != track) continue;
        patterns[static_cast<size_t>(i)].notes.clear();
        patterns[static_cast<size_t>(i)].length = loopSteps;
        clearedTracks.fetch_or(1u << i, std::memory_order_release);
    }
    ++changeCount;
}

float StepSequencer::noteAt(int track, int tickPos) const {
    if (track < 0 || track >= trackCount()) return -1.0f;
    const std::vector<SeqNote>& notes = patterns[static_cast<size_t>(track)].notes;
    for (size_t i = 0; i < notes.size(); ++i) {
        const SeqNote& n = notes[i];
        if (n.start < tickPos && tickPos < n.start + n.length)
            return static_cast<float>(i) +
                   static_cast<float>(tickPos - n.start) / static_cast<float>(n.length + 1);
    }
    return -1.0f;
}

void StepSequencer::write(uint8_t* buffer, int& position, int size) const {
    for (const TrackPattern& pattern : patterns) {
        const size_t count = std::min(pattern.notes.size(), static_cast<size_t>(maxNotesPerTrack));
        putInt(buffer, position, size, static_cast<uint32_t>(count), 1);
        putInt(buffer, position, size, static_cast<uint32_t>(pattern.length), 1);
        for (size_t i = 0; i < count; ++i) {
            const SeqNote& note = pattern.notes[i];
            putInt(buffer, position, size, note.start, 2);
            putInt(buffer, position, size, note.length, 2);
            putInt(buffer, position, size, note.velocity, 2);
        }
    }
    for (const Param& p : params) p.writeValue(buffer, position, size);
}

bool StepSequencer::read(const uint8_t* buffer, int& position, int size, int version) {
    // Everything is parsed before anything changes, so damaged data leaves the patterns intact.
    int at = position;
    std::vector<TrackPattern> loaded(patterns.size());
    for (size_t t = 0; t < loaded.size(); ++t) {
        const int32_t count = getSigned8(buffer, at, size);
        if (count < 0) return false; // a count byte above 127 is never written
        loaded[t].length = std::clamp(getSigned8(buffer, at, size), 1, loopSteps);
        loaded[t].notes.reserve(static_cast<size_t>(std::max(count, reserveNotes_)));
        for (int32_t i = 0; i < count; ++i) {
            SeqNote note;
            note.start = static_cast<uint16_t>(getSigned16(buffer, at, size));
            note.length = static_cast<uint16_t>(getSigned16(buffer, at, size));
            note.velocity = static_cast<uint8_t>(getSigned16(buffer, at, size));
            note.track = static_cast<uint8_t>(t);
            loaded[t].notes.push_back(note);
        }
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        for (size_t t = 0; t < loaded.size(); ++t) {
            patterns[t].length = loaded[t].length;
            patterns[t].notes.swap(loaded[t].notes);
        }
    }
    for (Param& p : params) p.readValue(buffer, at, size, version);
    position = at;
    ++changeCount;
    return true;
}

} // namespace tarvo
