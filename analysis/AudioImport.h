#pragma once
// Importing recordings: audio files are analysed into Blobs and stored as ".blob" files in
// the user's part of the sounds folder ("0 User/"), where the Blob selectors list them. One
// or two files go straight into the current track's slots; larger batches and dropped
// folders wait in the plug-in's import queue until the user starts them, and are then
// analysed one file per idle tick without touching any track.
//
// Threads: everything here runs on the user-interface thread (or a tool) and allocates,
// reads and writes files; analysing one file blocks the caller for its duration. A loaded
// Blob goes into a track's working slot only, and reaches the audio thread through the
// slot's publication on the next idle tick.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/AudioFile.h"
#include "persistence/Folders.h"

namespace tarvo {

// One queued file: `folder` is the leading part of its path (empty, or ending with a
// separator) and `file` the rest, a file name or a path below a dropped folder.
struct ImportEntry {
    std::string folder;
    std::string file;
};

// The folder inside the sounds folder that receives imported sounds.
inline constexpr const char* userSoundsFolder = "0 User";
// A file whose magnitudes sum to no more than this is silent and not imported.
inline constexpr double silentImportSum = 1e-30;
// The queue size from which an import waits for the user to start it.
inline constexpr size_t batchImportThreshold = 3;

// The path without the last extension of its file name ("Kicks/kick 03.blob" is
// "Kicks/kick 03"; a dot in a folder name starts no extension).
std::string withoutLastExtension(const std::string& path);

// The name an imported file's Blob gets, relative to the sounds folder and without
// extension: "0 User/" + file without its last extension ("Drums/sub/kick.wav" becomes
// "0 User/Drums/sub/kick").
std::string importedBlobName(const std::string& file);

// Queue entries for the given paths: every importable audio file (isImportableAudioPath)
// that can be opened, split at its last separator, and every importable file below a folder
// (dot-files and dot-folders skipped), stored as {the folder's parent part, folder name +
// "/" + path below it}. Anything else is left out. The names are looked up in `tree`.
std::vector<ImportEntry> collectImportEntries(const std::vector<std::string>& paths,
                                              const FileTree& tree = diskTree());

// What became of one analysed file.
struct ImportOutcome {
    bool written = false;
    // Why the file was not imported; empty on success.
    std::string message;
    // Of the decoded file; -1 when it could not be read or decoded.
    double sampleRate = -1.0;
    int64_t frames = -1;
};

// Reads source, analyses it into a Blob and writes the Blob's bytes to target, creating the
// missing folders and overwriting an older file. Fails for unreadable, undecodable or silent
// files, sample rates the analyser cannot take, and files that cannot be written.
ImportOutcome analyzeIntoBlobFile(const std::filesystem::path& source, const std::filesystem::path& target,
                                  AudioMessages messages = AudioMessages::PrintToStdout);

} // namespace tarvo
