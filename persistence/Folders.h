#pragma once
// Where Tarvo keeps its files. This is the one place that knows the folder tree; every
// other unit asks here. The environment variable TARVO_HOME, when set, replaces the base
// folder (tests and the tool use it so they never touch a user's real folders).

#include <filesystem>
#include <string>

namespace tarvo {

enum class Folder {
    Base,    // the vendor folder holding the three below
    Presets, // ".tarvo" preset files, in subfolders such as "0 User/"
    Sounds,  // ".blob" files, in subfolders
    Data,    // program data: settings, clipboard Blob, MIDI export
    Themes,  // theme files, below the data folder
};

// The absolute path of a folder, ending without a separator. Does not create it.
// Any thread; allocates.
std::filesystem::path folderPath(Folder folder);

// The folder path as text with a trailing "/", for the callers that join names onto it.
std::string folderText(Folder folder);

// Creates the folders along a file's path (not the file itself). Returns false when that fails.
bool createParentFolders(const std::filesystem::path& file);

} // namespace tarvo
