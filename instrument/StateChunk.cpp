#include "instrument/StateChunk.h"

#include <array>
#include <memory>
#include <span>
#include <string>

#include "instrument/Ombrix.h"
#include "persistence/Bytes.h"

namespace tarvo {

namespace {

constexpr const char* magicText = "OmbrixState";
// The magic text's length; its zero byte follows.
constexpr int magicLength = 11;
constexpr int magicBytes = magicLength + 1;
constexpr char editedMark = '*';
constexpr const char* absentSlotName = "<off>";
constexpr int slotCount = 2;
constexpr const char* slotLetters[slotCount] = {"A", "B"};

// The name as stored: "*" appended when the Blob or preset was edited.
std::string markedName(const std::string& name, bool edited) {
    return edited ? name + editedMark : name;
}

// Removes a trailing "*" and tells whether there was one.
bool takeEditedMark(std::string& name) {
    if (name.empty() || name.back() != editedMark) return false;
    name.pop_back();
    return true;
}

struct StagedSlot {
    int32_t present = 0;
    std::string name;
    bool edited = false;
    Blob blob;
};

// Everything a chunk holds, read and checked before any of it is applied. Parameter values
// and the sequence are applied by reading them again from their checked positions, so they
// follow exactly the rules of their own readers.
struct StagedState {
    int32_t version = 0;
    int32_t engineVersion = 0;
    int paramsAt = 0;
    std::array<std::array<StagedSlot, slotCount>, BandSynth::trackCount> slots;
    std::array<Curve, BandSynth::trackCount> velocityCurves;
    std::array<Curve, ModSystem::lfoCount> lfoCurves;
    int16_t muteMask = 0;
    int16_t soloTrack = -1;
    int sequenceAt = 0;
    bool hasPresetName = false;
    std::string presetName;
    bool presetEdited = false;
    int end = 0;
};

// Parses the chunk after its magic and version into staged. Returns an empty text on
// success, otherwise what is damaged. Touches nothing of the plug-in.
std::string stageChunk(const Ombrix& plugin, ByteReader& in, StagedState& staged) {
    staged.engineVersion = in.readInt(2, false);

    // Only the values' place is found here. The live records are not copied to read them
    // into: the audio thread writes their modulation fields all the while.
    staged.paramsAt = in.position;
    for (const Param& p : plugin.engine.params)
        if (p.storedIn(staged.engineVersion)) in.position += Param::storedValueBytes;
    if (in.ranShort()) return "the data ends within the parameter values";

    for (int t = 0; t < BandSynth::trackCount; ++t) {
        for (int s = 0; s < slotCount; ++s) {
            StagedSlot& slot = staged.slots[static_cast<size_t>(t)][static_cast<size_t>(s)];
            const std::string where = "track " + std::to_string(t + 1) + ", slot " + slotLetters[s];
            slot.present = in.readInt(1, true);
            if (slot.present == 0) continue;
            slot.name = in.readText();
            slot.edited = takeEditedMark(slot.name);
            if (in.ranShort()) return "the data ends within the sound of " + where;
            std::string reason;
            const auto rest = static_cast<size_t>(in.size - in.position);
            // Only the knots are read here; a chunk that is refused never pays for measuring
            // the loudness of its sounds.
            if (slot.blob.readKnots(std::span<const uint8_t>(in.data + in.position, rest), &reason) !=
                Blob::byteSize)
                return "the sound of " + where + " is damaged (" + reason + ")";
            in.position += static_cast<int>(Blob::byteSize);
        }
        // A curve of the live one's capacity; the live curve itself is not read, since the
        // audio thread may be writing it.
        Curve& curve = staged.velocityCurves[static_cast<size_t>(t)];
        curve = Curve(plugin.engine.tracks[static_cast<size_t>(t)].velocityCurve.capacity());
        if (!readCurve(curve, in.data, in.position, in.size))
            return "the velocity curve of track " + std::to_string(t + 1) + " is damaged";
    }
    for (int l = 0; l < ModSystem::lfoCount; ++l) {
        Curve& curve = staged.lfoCurves[static_cast<size_t>(l)];
        curve = Curve(plugin.engine.modSystem.lfoCurves[static_cast<size_t>(l)].capacity());
        if (!readCurve(curve, in.data, in.position, in.size))
            return "the shape of LFO " + std::to_string(l + 1) + " is damaged";
    }
    staged.muteMask = static_cast<int16_t>(in.readInt(2, true));
    staged.soloTrack = static_cast<int16_t>(in.readInt(2, true));
    if (in.ranShort()) return "the data ends within the mixer settings";

    staged.sequenceAt = in.position;
    {
        StepSequencer scratch(plugin.sequencer.trackCount(), plugin.sequencer.loopSteps);
        if (!scratch.read(in.data, in.position, in.size, staged.version)) return "the sequence is damaged";
    }
    if (in.ranShort()) return "the data ends within the sequence";

    staged.hasPresetName = staged.version > lastStateVersionWithoutName;
    if (staged.hasPresetName) {
        staged.presetName = in.readText();
        staged.presetEdited = takeEditedMark(staged.presetName);
        if (in.ranShort()) return "the data ends within the preset name";
    }
    staged.end = in.position;
    return {};
}

// Replaces the plug-in's state with a checked chunk.
void applyChunk(Ombrix& plugin, const ByteReader& in, StagedState& staged) {
    BandSynth& engine = plugin.engine;
    // The effect units installed after this load keep the loaded values; the listener does
    // not count these changes as edits.
    engine.keepFxParamValues.store(1, std::memory_order_relaxed);
    int at = staged.paramsAt;
    for (Param& p : engine.params) p.readValue(in.data, at, in.size, staged.engineVersion);

    for (int t = 0; t < BandSynth::trackCount; ++t) {
        TrackBlobs& blobs = engine.tracks[static_cast<size_t>(t)].blobs;
        for (int s = 0; s < slotCount; ++s) {
            StagedSlot& slot = staged.slots[static_cast<size_t>(t)][static_cast<size_t>(s)];
            Blob& working = (s == 0 ? blobs.slotA : blobs.slotB).working;
            // Both paths count the Blob's version up, so the next idle tick publishes it.
            if (slot.present != 0) {
                slot.blob.normalise();
                working.copyFrom(slot.blob, false);
                working.name = std::move(slot.name);
                working.editCount = slot.edited ? 1 : 0;
            } else {
                working.clear();
                working.name = absentSlotName;
                working.editCount = 0;
            }
            working.present = slot.present;
        }
        const Curve& curve = staged.velocityCurves[static_cast<size_t>(t)];
        engine.tracks[static_cast<size_t>(t)].velocityCurve.setPoints(curve.points.data(), curve.count);
    }
    for (int l = 0; l < ModSystem::lfoCount; ++l) {
        const Curve& curve = staged.lfoCurves[static_cast<size_t>(l)];
        engine.modSystem.lfoCurves[static_cast<size_t>(l)].setPoints(curve.points.data(), curve.count);
    }
    engine.muteMask.store(staged.muteMask, std::memory_order_relaxed);
    engine.soloTrack.store(staged.soloTrack, std::memory_order_relaxed);

    at = staged.sequenceAt;
    plugin.sequencer.read(in.data, at, in.size, staged.version);

    // The sound the load replaced stays one undo step away.
    plugin.pushUndoSnapshot(false);

    plugin.presetName.clear();
    plugin.presetEditCount.store(0, std::memory_order_relaxed);
    plugin.savedSeqCount = plugin.sequencer.changeCount.load(std::memory_order_relaxed);
    if (staged.hasPresetName) {
        // A stored mark keeps the preset modified after the project is reopened.
        if (staged.presetEdited) plugin.presetEditCount.store(100, std::memory_order_relaxed);
        plugin.presetName = std::move(staged.presetName);
    }
}

} // namespace

int writeState(const Ombrix& plugin, uint8_t* buffer, int size) {
    ByteWriter out(buffer, size);
    out.writeText(magicText, maxStoredNameLength);
    out.writeInt(stateVersion, 4);

    const BandSynth& engine = plugin.engine;
    out.writeInt(engineStateVersion, 2);
    for (const Param& p : engine.params) p.writeValue(out.data, out.position, out.size);
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        const TrackBlobs& blobs = engine.tracks[static_cast<size_t>(t)].blobs;
        for (const BlobSlot* slot : {&blobs.slotA, &blobs.slotB}) {
            const Blob& blob = slot->working;
            out.writeInt(blob.present, 1);
            if (blob.present == 0) continue;
            out.writeText(markedName(blob.name, blob.editCount > 0), maxStoredNameLength);
            if (out.data != nullptr && out.position >= 0 &&
                int64_t{out.position} + int64_t{Blob::byteSize} <= size)
                blob.serialize(std::span<uint8_t>(out.data + out.position, Blob::byteSize));
            out.position += static_cast<int>(Blob::byteSize);
        }
        writeCurve(engine.tracks[static_cast<size_t>(t)].velocityCurve, out.data, out.position, out.size);
    }
    for (const Curve& curve : engine.modSystem.lfoCurves) writeCurve(curve, out.data, out.position, out.size);
    out.writeInt(engine.muteMask.load(std::memory_order_relaxed), 2);
    out.writeInt(engine.soloTrack.load(std::memory_order_relaxed), 2);

    plugin.sequencer.write(out.data, out.position, out.size);

    out.writeText(markedName(plugin.presetName, plugin.presetModified()), maxStoredNameLength);
    return out.position;
}

std::vector<uint8_t> saveState(const Ombrix& plugin) {
    std::vector<uint8_t> chunk(stateBufferSize, 0);
    int length = writeState(plugin, chunk.data(), static_cast<int>(chunk.size()));
    // Too long for the usual room: measure and write again into room that holds it all.
    while (length > static_cast<int>(chunk.size())) {
        chunk.assign(static_cast<size_t>(length), 0);
        length = writeState(plugin, chunk.data(), static_cast<int>(chunk.size()));
    }
    chunk.resize(static_cast<size_t>(length));
    return chunk;
}

namespace {

// Reads and checks a whole chunk into staged. Returns the bytes it holds, or 0 with the
// status text that says why it is not read.
int stageState(const Ombrix& plugin, const uint8_t* buffer, int size, StagedState& staged, std::string& why) {
    ByteReader in(buffer, size < 0 ? 0 : size);
    if (!in.matchText(0, std::min(in.size, magicLength), magicText)) {
        why = unrecognizedStateText;
        return 0;
    }
    in.position = magicBytes;
    staged.version = in.readInt(4, true);
    if (in.ranShort()) {
        why = std::string(damagedStatePrefix) + "the data ends within the version.";
        return 0;
    }
    if (staged.version >= firstUnknownStateVersion) {
        why = newerStateText;
        return 0;
    }
    if (staged.version <= lastUnreadableStateVersion) {
        why = olderStateText;
        return 0;
    }
    const std::string damage = stageChunk(plugin, in, staged);
    if (!damage.empty()) {
        why = std::string(damagedStatePrefix) + damage + ".";
        return 0;
    }
    return staged.end;
}

} // namespace

int checkState(const Ombrix& plugin, const uint8_t* buffer, int size, std::string* why) {
    auto staged = std::make_unique_for_overwrite<StagedState>();
    std::string reason;
    const int used = stageState(plugin, buffer, size, *staged, reason);
    if (why != nullptr) *why = std::move(reason);
    return used;
}

int readState(Ombrix& plugin, const uint8_t* buffer, int size) {
    ++plugin.loadCount;
    auto staged = std::make_unique_for_overwrite<StagedState>();
    std::string why;
    const int used = stageState(plugin, buffer, size, *staged, why);
    if (used == 0) {
        plugin.setStatus(why);
        return 0;
    }
    const ByteReader in(buffer, size);
    applyChunk(plugin, in, *staged);
    return used;
}

} // namespace tarvo
