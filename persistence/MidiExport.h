#pragma once
// Renders the sequencer's patterns into a Standard MIDI File (format 0, one track, 4096 ticks
// per quarter note) that the editor's "Export MIDI" control drags into the host.
//
// The export applies the sequencer's current "Swing", "Loose Time" and "Loose Velo" and draws
// from the shared random generator, so two exports with randomisation differ.
//
// Threads: editor thread. It reads the pattern data without the sequencer's lock (the editor
// is the only thread that changes it outside state loads). Allocates.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "control/StepSequencer.h"

namespace tarvo {

// One note-on or note-off of the export, in ticks of 1/1024 step.
struct ExportEvent {
    uint16_t tick = 0;
    uint16_t length = 0;  // the note's length; used only while building
    uint8_t velocity = 0; // 0 marks a note-off
    uint8_t track = 0;    // 0..7; plays note 36 + track
};

// The events of every track's pattern, once each, ordered by tick (equal ticks keep track
// order, and within a track the order they were made in).
std::vector<ExportEvent> buildExportEvents(const StepSequencer& sequencer);

// The complete file bytes for a list of events ordered by tick.
std::vector<uint8_t> encodeMidiFile(const std::vector<ExportEvent>& events);

// Where the export is written: "sequence_export.mid" in the data folder.
std::filesystem::path midiExportPath();

// Builds the events, writes the file (creating missing folders) and returns its path; an
// empty path when the file could not be written, so no drag hands the host an older export.
std::filesystem::path exportMidi(const StepSequencer& sequencer);

} // namespace tarvo
