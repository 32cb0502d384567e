#pragma once
// The dice: random kits (two sounds per track, chosen by category from the sounds folder), a
// random drum pattern for every track with a new tempo and feel, and the routing that ties
// the kit's time scale to the tempo.
//
// Threads: user-interface thread (the dice button) or the host's preparation thread (the
// start preset's fallback); never the audio callback. Allocates and reads files. Blobs are
// loaded into the tracks' working slots only, so they reach the audio thread through the
// slots' publication on the next idle tick; the pattern changes take the sequencer's lock
// inside `clear` and `insertNote`; the parameters change through `Param::set`.

#include <array>
#include <cstdint>
#include <string>

#include "analysis/DiceGenerator.h"

namespace tarvo {

class BandSynth;
class BlobSlot;
class StepSequencer;

// What a roll of the dice renews.
enum RandomizeMode : int {
    randomSounds = 1,   // the kit only
    randomSequence = 2, // pattern, tempo and feel only
    randomAll = 3,      // kit, tempo routing, pattern, tempo and feel
};

// Chance, in tenths, that a track (row) gets a note on a step (column) of a random pattern:
// a strong first step for the kick, backbeats for the snare, an off-beat pulse for the hi-hat.
inline constexpr std::array<std::array<int32_t, 16>, 8> stepChanceTable = {{
    {9, 1, 4, 6, 2, 2, 5, 3, 5, 3, 6, 4, 1, 3, 5, 3},
    {0, 2, 2, 3, 2, 2, 2, 2, 0, 2, 2, 3, 2, 2, 2, 2},
    {0, 1, 0, 3, 8, 1, 4, 4, 0, 3, 0, 3, 8, 1, 4, 4},
    {0, 1, 1, 1, 2, 2, 2, 2, 0, 1, 1, 2, 3, 3, 3, 3},
    {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},
    {0, 0, 2, 2, 0, 0, 2, 2, 0, 0, 2, 2, 0, 0, 2, 2},
    {4, 1, 6, 3, 4, 1, 6, 3, 4, 1, 6, 3, 4, 1, 6, 3},
    {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 2, 0, 2, 2, 2},
}};

// After a note the next step's chance is multiplied by this; each step without one raises
// it again by `runRecovery`, up to the table's value. Thins out runs of adjacent notes.
inline constexpr float runThinning = 0.333f;
inline constexpr float runRecovery = 1.66f;

// The tempo routing: modulation slot 1 scales the global "Timescale" by 120 / tempo. "BPM
// Octave" is log2(tempo / 120) and "Timescale" spans six octaves of its normalized range,
// so an amount of -1/6 undoes one octave of time scale per octave of tempo.
inline constexpr float tempoRoutingAmount = -0.16666667f;

// Loads the sounds-folder entry `entry` (a path relative to the folder, ".blob" added when
// missing) into a working slot, naming the slot after the entry without its extension (for
// example "Kicks/kick 03"). A file that is missing or not a Blob file leaves the slot as it
// was and returns false.
bool loadSoundIntoSlot(BlobSlot& slot, const std::string& entry);

// Fills both slots of every track from the sounds folder, by category. Returns false and
// changes nothing when the folder holds no files. Reads at most two files per track.
bool randomizeKit(BandSynth& engine, DiceGenerator& dice);

// Points modulation slot 1 from "BPM Octave" at the global "Timescale" with
// `tempoRoutingAmount`; its "Scaler" and the other slots stay as they are.
void routeTempoToTimescale(BandSynth& engine);

// Clears every track's pattern and draws a new one from `stepChanceTable`: notes one step
// long on whole steps, velocities 100 on track 1 down to 51..100 on track 8.
void randomizePattern(StepSequencer& sequencer, DiceGenerator& dice);

// Draws "BPM" (105 to 120, whole numbers), then "Swing", "Loose Time" and "Loose Velo"
// (0 to 20 each).
void randomizeTempoAndFeel(StepSequencer& sequencer, DiceGenerator& dice);

// One roll of the dice in the given mode, drawing from dice in a fixed order. Returns false
// when nothing changed (modes 1 and 3 with an empty sounds folder, or an unknown mode), so
// the editor knows whether to refresh its views of the current track.
bool rollDice(BandSynth& engine, StepSequencer& sequencer, int mode, DiceGenerator& dice);

} // namespace tarvo
