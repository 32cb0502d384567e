#pragma once
// The instrument's whole state as one binary chunk: what the host keeps in its project and
// what a preset file holds, byte for byte.
//
// Layout: the text "OmbrixState" with its zero byte, the chunk version (int32), the engine
// state (its own version, every parameter value, per track both Blob slots and the velocity
// curve, the LFO shapes, mute and solo), the sequencer state and, in chunks newer than 1.0.16,
// the preset name ("*" appended while the preset is modified).
//
// Reading checks the whole chunk before anything changes: a chunk that is foreign, too new,
// too old, ends early or holds damaged parts leaves the instrument exactly as it was and says
// why in `statusText`.
//
// Threads: the host's state thread or the user-interface thread (the one that also runs the
// idle tick), while the audio thread may run. Parameters are plain float writes, the
// sequencer's patterns are swapped under its lock, Blobs are written into the working slots
// and reach the audio thread through the next publication, curves are replaced in place
// (see Curve). Both operations allocate.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

class Ombrix;

// Chunk version written: 1.1.2 as major × 65536 + minor × 256 + patch.
constexpr int32_t stateVersion = 65794;
// Chunks from this version on are too new to read.
constexpr int32_t firstUnknownStateVersion = 65795;
// Chunks up to this version are too old to read.
constexpr int32_t lastUnreadableStateVersion = 2307;
// Chunks above this version end with the preset name.
constexpr int32_t lastStateVersionWithoutName = 65552;
// Version of the engine part written.
constexpr int32_t engineStateVersion = 2;
// Room a host state and a preset file are first prepared with.
constexpr int stateBufferSize = 65536;
// Longest preset or Blob name stored.
constexpr int maxStoredNameLength = 4096;

// The status texts of a chunk that is not read.
inline constexpr const char* unrecognizedStateText =
    "The saved data is not recognized, possibly corrupted data.";
inline constexpr const char* newerStateText =
    "This preset was created with a newer version of Tarvo. You need to upgrade to load this.";
inline constexpr const char* olderStateText =
    "This preset is too old to open with your version of Tarvo, sorry!";
// The prefix of the status text of a chunk that ends early or holds a damaged part.
inline constexpr const char* damagedStatePrefix = "The saved data is damaged and was not loaded: ";

// Writes the state into buffer and returns its length. Fields beyond size are not stored but
// still counted, so a length above size means the buffer was too small (or null: measuring).
int writeState(const Ombrix& plugin, uint8_t* buffer, int size);

// The complete chunk, however long: a state that does not fit the usual 64 KB (long Blob
// names, many notes) is written whole into a larger buffer, never cut.
std::vector<uint8_t> saveState(const Ombrix& plugin);

// Reads a chunk. Returns the bytes consumed, or 0 when nothing was loaded (then the state is
// untouched and `statusText` says why). Counts `loadCount` up either way.
int readState(Ombrix& plugin, const uint8_t* buffer, int size);

// Reads and checks a chunk exactly as readState does but changes nothing: returns the bytes a
// load would consume, or 0 and (when why is given) the status text a load would set. It skips
// the loudness measurement of the chunk's sounds, so it is much cheaper than a load.
int checkState(const Ombrix& plugin, const uint8_t* buffer, int size, std::string* why = nullptr);

} // namespace tarvo
