#pragma once
// The instrument's import of recordings: one or two chosen or dropped files go straight into
// the current track's slots; larger batches wait in `Ombrix::importQueue` until the user
// starts them, and are then analysed one file per idle tick without touching any track.
// Analysing a file and the queue's entries live in analysis/AudioImport.h.
//
// Threads: user-interface thread only; everything here allocates, reads and writes files.

#include <string>
#include <vector>

namespace tarvo {

class Ombrix;

// Analyses folder + file into the sounds folder as importedBlobName(file). With slot 0 (A)
// or 1 (B) the stored Blob is also loaded into that slot of the current track, named
// importedBlobName(file). Returns whether the Blob file was written.
bool importAudioFile(Ombrix& plugin, const std::string& folder, const std::string& file, int slot);

// The slot an automatic import starts with: B when the current track's "Transform" stands
// above half its range, else A.
int automaticImportSlot(const Ombrix& plugin);

// The import of a file dialog's choice (slot 0 or 1) or of a drop (slot -1, automatic).
// Discards any queued batch, then queues the paths' audio files. One or two files are
// imported at once, the first into the chosen slot and a second into the other; three or
// more stay queued for the "Audio Analyzer" panel, with `importIndex` -1.
void importAudioPaths(Ombrix& plugin, const std::vector<std::string>& paths, int slot);

// One idle tick of a batch: imports the next queued file into the sounds folder (loading it
// nowhere) while a batch runs, and empties the queue once the batch has passed its end.
void importIdleStep(Ombrix& plugin);

} // namespace tarvo
