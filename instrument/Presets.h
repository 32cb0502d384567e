#pragma once
// Preset files (".tarvo", the state chunk as it stands), Blob files (".blob", one Blob's byte
// form) and the start preset a new instance loads.
//
// Threads: user-interface thread (the start preset: the idle tick after a preparation, see
// Ombrix::firstStart; never the host's preparation call, which may be the audio thread). Everything here
// allocates and touches the disk. Every writer creates the missing folders along its path and
// replaces a file whole, so a failed save leaves the previous file as it was.

#include <filesystem>
#include <string>
#include <vector>

namespace tarvo {

class Blob;
class Ombrix;

// Prefix of the status text of a preset file that cannot be read.
inline constexpr const char* openPresetFailedText = "couldn't open preset: ";
// Prefix of the status text of a preset file that cannot be written.
inline constexpr const char* savePresetFailedText = "couldn't save preset: ";

// The name a preset file gives its preset: the file name without folders and without its last
// extension ("My Kit.old.tarvo" is "My Kit.old").
std::string presetNameOf(const std::filesystem::path& path);

// Stores the state as the preset file at path; the preset takes the file's name and is no
// longer modified. When the file cannot be written nothing changes, `statusText` says so and
// the result is false.
bool savePreset(Ombrix& plugin, const std::filesystem::path& path);

// Loads the preset file at path, keeping "Host Sync" as it was. On success the preset takes
// the file's name and is not modified. Returns whether the whole file was read. A file that
// cannot be read, is empty or is not loaded changes nothing but `statusText`.
bool openPreset(Ombrix& plugin, const std::filesystem::path& path);

// Stores a Blob's byte form as name when isFullPath, else as "<sounds folder>/name.blob".
// Returns false when the file cannot be written.
bool saveBlob(const Blob& blob, const std::string& name, bool isFullPath);

// The Blob clipboard file: "Copy Blob Mix" stores into it with saveBlob, "Paste Blob" reads it.
std::filesystem::path clipboardBlobPath();

// Every file below the preset folder, recursively, as "/"-separated paths relative to it, in
// the order the file system lists them; names starting with "." are skipped (and so is all
// that lies below such a folder).
std::vector<std::string> listPresetFiles();

// The first preparation's preset, once per instance and never after a host state load
// (`loadCount` 0): the first file whose path contains "start" (in any letter case) that
// loads, else a file picked with the C library's rand(). Counts `loadCount` up. Returns false
// when nothing was loaded; the caller then builds a random kit.
bool startPreset(Ombrix& plugin);

} // namespace tarvo
