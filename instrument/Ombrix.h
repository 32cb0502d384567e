#pragma once
// The plug-in object, framework-neutral: owns the engine, the step sequencer and the MIDI
// queue, and offers the callbacks a host adapter turns host calls into.
//
// Threads: construction, `paramChanged` from the user-interface thread and the idle tick
// run on the user-interface thread. `reset` runs on the host's preparation path, which some
// hosts call on their audio thread: it never touches files (the start preset waits for the
// idle tick). `midiIn` and `processBlock` run on the host's audio thread, never concurrently
// with `reset` or each other; they do not allocate and never wait.
// The editor reads and writes the transport flag `seqRunning` (an atomic word) and stops the
// sequencer through `setPlaying`, which leaves the rewind of the play position to the next
// block so that only the audio thread ever moves it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/AudioImport.h"
#include "control/StepSequencer.h"
#include "engine/BandSynth.h"
#include "instrument/EditorState.h"
#include "persistence/Settings.h"

namespace tarvo {

struct FactoryContent;

// One MIDI message of the current host block.
struct MidiMessage {
    int32_t offset = 0; // sample offset within the host block
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;
};

// The host's transport as seen at the start of a block.
struct HostTransport {
    double tempoBpm = 120.0;
    double ppqPosition = 0.0; // quarter notes
    bool playing = false;
};

class Ombrix : public Param::Listener {
public:
    static constexpr int maxOutputBuses = 9;
    // Room of the MIDI queue, reserved at construction; the audio thread never grows it and
    // drops messages beyond it.
    static constexpr int midiQueueCapacity = 4096;
    // The sequencer plays track t on this note number plus t.
    static constexpr int sequencerBaseNote = 36;

    // User-interface thread; allocates.
    Ombrix();
    ~Ombrix() override;

    BandSynth engine;
    StepSequencer sequencer;
    // The internal transport: 1 while the sequencer advances. The editor's Play button, the
    // host transport under host sync and the transport notes set it.
    std::atomic<int32_t> seqRunning{0};
    // The host's play state in the previous block, or -1 while host sync is off.
    int32_t lastHostRunning = -1;
    // Frame count of the latest host block (shown in the product information).
    std::atomic<int32_t> lastBlockSize{0};

    // Host preparation path (possibly the audio thread): prepares for a new rate (allocates)
    // or reseeds at an unchanged one, and asks the next idle tick for the first start.
    void reset(float hostSampleRate);
    // Audio thread: queues one host MIDI message of the next block; never allocates.
    void midiIn(const MidiMessage& message);
    // Audio thread: renders n frames into channelCount output channels (pairs per bus).
    void processBlock(float* const* outputs, int channelCount, int frames,
                      const HostTransport& transport) noexcept;
    // Any thread: "Main" for output bus 0, "Bus %d" for the others; empty for inputs.
    static std::string busName(bool isInput, int bus);

    // User-interface thread (Play button): on < 0 toggles, otherwise sets the transport.
    // Stopping rewinds the sequencer at the start of the next block. Never allocates.
    void setPlaying(int on);

    // Param::Listener: any thread that sets a parameter. Counts the change as a preset edit
    // unless a state load is handing effect parameter values over (`keepFxParamValues`).
    void paramChanged() override;

    // User-interface thread, driven by a timer whether or not an editor is open: runs the
    // first start when a preparation asked for it, installs effect units whose "Type"
    // changed, publishes edited Blobs to the audio thread, then analyses one file of a
    // running import batch. May allocate and touch files.
    void idleTick();
    // User-interface thread, the part of the idle tick that cannot wait for the timer after a
    // state load or a preparation: installs effect units whose "Type" changed and publishes
    // edited Blobs. Allocates.
    void handOverToAudio();

    // ---- First start -----------------------------------------------------------------------
    // The factory sounds and presets shipped inside the front end (plug-in or tool), installed
    // into the user's folders before the start preset is looked for; null installs nothing.
    // The front end sets it once, before the first `reset`.
    const FactoryContent* shippedContent = nullptr;
    // User-interface thread (the idle tick calls it): after a preparation, while nothing has
    // been loaded yet (`loadCount` 0, so a state the host restored first always wins),
    // installs `shippedContent` and opens the start preset, or rolls a random kit when no
    // preset loads. Otherwise does nothing. Returns whether anything was loaded. Allocates
    // and does file I/O.
    bool firstStart();
    // Any thread: the front end has put its own content in place after `reset` (a scene of
    // its own, for example), so no start preset is opened. Never allocates.
    void skipFirstStart() { firstStartPending_.store(false, std::memory_order_release); }
    // ---- end of first start ----------------------------------------------------------------

    // ---- Presets, state and settings -----------------------------------------------------
    // Loading and saving live in instrument/StateChunk.h and instrument/Presets.h; these are
    // the plug-in's records of them. User-interface thread, except `presetEditCount`, which
    // parameter changes may count up from any thread.
    //
    // The name of the loaded or saved preset; empty after a host load of an old state.
    std::string presetName;
    // Edits since the last load or save: parameter changes and recorded Blob edits.
    std::atomic<int32_t> presetEditCount{0};
    // The sequencer's `changeCount` at the last load or save.
    int32_t savedSeqCount = 0;
    // State load attempts plus start-preset steps; 0 only until the first of them.
    int32_t loadCount = 0;
    // The latest message about loading or saving, for the editor, and when it was set.
    static constexpr size_t statusTextCapacity = 512;
    std::string statusText;
    std::chrono::system_clock::time_point statusTime{};
    // The user settings ("ui_theme", "ui_size_percent"). The host adapter loads them once,
    // on its first idle tick (`settings.load()`); construction touches no files.
    Settings settings;

    // Sets `statusText` (cut to its capacity) and its time. Allocates.
    void setStatus(const std::string& text);
    // Stores a setting and rewrites the settings file. Allocates and writes a file.
    bool setSetting(const std::string& key, const std::string& value) { return settings.set(key, value); }
    // Whether the preset was changed since it was loaded or saved.
    bool presetModified() const {
        return presetEditCount.load(std::memory_order_relaxed) > 0 ||
               sequencer.changeCount.load(std::memory_order_relaxed) != savedSeqCount;
    }
    // ---- end of presets, state and settings ----------------------------------------------

    // ---- Dice and audio import -----------------------------------------------------------
    // User-interface thread only (the start preset's fallback: the host's preparation
    // thread); all of it allocates and touches files.
    //
    // The track the editor shows; imports into slots go to it.
    int32_t currentTrack = 0;
    // Audio files waiting for the "Audio Analyzer" panel's START (analysis/AudioImport.h).
    std::vector<ImportEntry> importQueue;
    // -1 while no batch runs; otherwise the queue position of the next file to analyse.
    int32_t importIndex = -1;

    // `currentTrack` kept within the engine's tracks.
    int currentTrackIndex() const;
    // The dice: 1 renews the kit, 2 the pattern, tempo and feel, 3 both and the tempo
    // routing (analysis/RandomKit.h). Returns false when nothing changed (an empty sounds
    // folder in modes 1 and 3), so the editor knows whether to refresh.
    bool randomize(int mode);
    // ---- end of dice and audio import ----------------------------------------------------

    // ---- Editor services -----------------------------------------------------------------
    // What the editor keeps across openings (style, view, tool, undo history, errors) and the
    // display snapshots; see EditorState.h. User-interface thread, except the snapshots.
    EditorState editor;
    // Records the current track's two Blobs in the undo history; with restart the history
    // begins again (a new current track). A recorded edit counts as a preset edit. Allocates.
    void pushUndoSnapshot(bool restart);
    // Undo (-1) or redo (+1) of the current track's Blobs; false beyond the history's ends.
    // The restored Blobs reach the audio thread with the next hand-over.
    bool undoStep(int direction);
    // Mirrors the Blobs the current track's Transform plays (A below the far right, B above the
    // far left) across frequency or time, and records the result.
    void mirrorCurrentTrack(bool frequency);
    // Sets the error the editor shows once, in a box, with its time. Allocates.
    void setError(const std::string& text);
    // Audio thread: the display snapshot of this block, when an editor wants one. Never
    // allocates or waits.
    void publishDisplay() noexcept;
    // ---- end of editor services -----------------------------------------------------------

    float sampleRate() const { return sampleRate_; }
    // Audio thread (or tests between blocks): messages waiting for a later block.
    int queuedMidiCount() const { return static_cast<int>(midiQueue_.size()); }

private:
    void dispatch(const MidiMessage& message) noexcept;
    void stopSequencer() noexcept;

    // Ordered by offset; equal offsets keep their arrival order.
    std::vector<MidiMessage> midiQueue_;
    // Raised by `setPlaying` when it stops; the next block rewinds the sequencer.
    std::atomic<bool> rewindPending_{false};
    // Raised by `reset`, taken by `firstStart` on the user-interface thread.
    std::atomic<bool> firstStartPending_{false};
    float sampleRate_ = 0.0f;
};

} // namespace tarvo
