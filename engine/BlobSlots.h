#pragma once
// The two Blob slots (A and B) of a track and their hand-over to the audio thread.
//
// Ownership rules. A slot's `working` Blob belongs to the user-interface thread: the editor,
// the file loader, the analyser and the state loader change it there, and the audio thread
// never touches it. The audio thread reads only published copies, held in a ring of four
// entries per slot. On every idle tick the user-interface thread publishes a changed working
// Blob by copying it into an entry that is neither the newest copy nor the one the audio
// thread holds, and only then names that entry the newest.
//
// The audio thread announces the entry it is about to read before reading it, then checks
// that the entry is still the newest; the two threads order these steps sequentially
// consistently, so one of them always sees the other's: either the publisher sees the
// announcement and leaves the entry alone, or the audio thread sees the newer entry and takes
// that instead. Every change is therefore published at once, however long the audio thread
// has not read the slot (a track with no sounding voice reads nothing), and a reference from
// `acquire` stays valid until the audio thread's next `acquire` on the same slot; the audio
// thread must not keep it beyond that.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/Blob.h"

namespace tarvo {

class BlobSlot {
public:
    // Published copies per slot.
    static constexpr uint32_t ringSize = 4;

    // User-interface thread only.
    Blob working;

    // User-interface thread (idle tick); does not allocate or wait. Copies `working` into the
    // ring when its version differs from the latest published copy, and refreshes the presence
    // flag. Returns true when a new copy was published.
    bool publish() noexcept;

    // Audio thread; does not allocate or wait for the other thread. The latest published
    // copy, valid until the next call of acquire on this slot. Takes a second look only when a
    // publication lands between announcing an entry and checking it, which the once-per-tick
    // publications make rare.
    const Blob& acquire() noexcept;

    // Audio thread (or any thread); does not allocate. Whether the working Blob holds a sound,
    // as of the latest publication step.
    bool isPresent() const noexcept { return present_.load(std::memory_order_acquire) > 0; }

    // Any thread: the number of publications so far (wraps around).
    uint32_t publishedIndex() const noexcept { return index_.load(std::memory_order_acquire); }

private:
    std::array<Blob, ringSize> ring_;
    // Written by the user-interface thread after the copy is complete: the entry holding the
    // newest copy.
    std::atomic<uint32_t> newest_{0};
    // Publications so far, written by the user-interface thread after `newest_`.
    std::atomic<uint32_t> index_{0};
    // Written by the audio thread: the entry it holds (or is about to read).
    std::atomic<uint32_t> held_{0};
    std::atomic<int32_t> present_{1};
};

struct TrackBlobs {
    BlobSlot slotA;
    BlobSlot slotB;

    // User-interface thread (idle tick); does not allocate. Publishes both slots.
    void publish() noexcept {
        slotA.publish();
        slotB.publish();
    }
};

// The path of a ".blob" file named relative to the sounds folder, with or without its
// extension. Returns an empty path for names that are empty, absolute or climb out of the
// folder. Any thread; allocates.
std::filesystem::path blobFilePath(const std::string& name);

// Reads a ".blob" file: checks its size and format, then deserializes and normalises into
// out. On failure out is unchanged and reason says why. User-interface thread; allocates.
bool readBlobFile(const std::filesystem::path& file, Blob& out, std::string& reason);

// Loads the ".blob" file `name` (relative to the sounds folder) into a working slot: on
// success the knots are copied in, editCount is 0, the name is the file's name without
// extension and the slot is present. On failure the slot is unchanged and reason says why.
// User-interface thread; allocates.
bool loadBlobIntoSlot(Blob& working, const std::string& name, std::string& reason);

} // namespace tarvo
