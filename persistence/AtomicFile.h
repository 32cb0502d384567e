#pragma once
// Replacing a file so that it is never left half written: every file Tarvo writes (presets,
// Blobs, settings, themes, the MIDI export, the factory content) goes through here.
//
// The bytes go to a new temporary file in the target's folder, are flushed to the disk and
// then renamed over the target in one step. A reader, a crash, a full disk or a second
// instance writing the same file at the same moment therefore sees either the old file or
// the new one, whole. When anything fails the old file is left exactly as it was, the
// temporary file is removed and the result says what went wrong. Two writers racing on one
// file each use a temporary of their own; the last rename wins and the file stays complete.
//
// The temporary file's name starts with "." so folder listings pass over it.
//
// Any thread but the audio thread; allocates and does file I/O.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace tarvo {

struct FileWriteResult {
    bool ok = false;
    // Empty on success, else one line naming the file and the cause, e.g.
    // "Cannot write /home/me/Kit.tarvo: No space left on device".
    std::string error;

    explicit operator bool() const { return ok; }
};

// Writes bytes as the whole new content of target, creating the folders along its path. A
// target that is a symbolic link has the file it points to replaced, and the link is kept.
FileWriteResult writeFileAtomically(const std::filesystem::path& target, std::span<const uint8_t> bytes);
FileWriteResult writeFileAtomically(const std::filesystem::path& target, std::string_view text);

} // namespace tarvo
