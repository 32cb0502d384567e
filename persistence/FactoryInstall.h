#pragma once
// Installing the factory content: the sounds and presets that ship inside the plug-in and the
// tool are written to the user's folders on first use, so a new user opens Tarvo and hears a
// kit at once.
//
// Rules. A user's file is never overwritten or deleted: a factory file is written only where
// no file exists. A factory file the user deleted stays deleted: a record in the data folder
// lists every file already offered and the content version that was installed. A newer
// content version (a different version text) offers only the files the record does not list
// yet. When a write fails the version is not recorded, so the next start tries again.
//
// User-interface thread (plug-in start) or the tool; allocates and does file I/O.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "persistence/Folders.h"

namespace tarvo {

// One embedded file.
struct FactoryFile {
    Folder folder;       // Folder::Sounds or Folder::Presets
    const char* path;    // relative to the folder, "/"-separated, e.g. "Factory/Kick/Punch.blob"
    const uint8_t* data; // the file's bytes
    size_t size;
};

// The embedded content: its files and a version text that changes whenever they change.
struct FactoryContent {
    const char* version;
    std::span<const FactoryFile> files;
};

struct FactoryInstallReport {
    bool upToDate = false; // the recorded version was this content's; nothing was looked at
    int written = 0;       // files written
    int kept = 0;          // files not written because a file of that name already existed
    int failed = 0;        // files that could not be written, or had an unusable path
    std::string error;     // the first failure, for the status line; empty on success
};

// Writes the content's files that were never offered before and do not exist, and updates
// the record. Calling it again with the same content does nothing.
FactoryInstallReport installFactoryContent(const FactoryContent& content);

// The path of the record of installed factory files, in the data folder.
std::filesystem::path factoryRecordPath();

} // namespace tarvo
