#pragma once
// Where Tarvo keeps its files. This is the one place that knows the folder tree; every
// other unit asks here. The environment variable TARVO_HOME, when set, replaces the base
// folder (tests and the tool use it so they never touch a user's real folders).

#include <filesystem>
#include <string>
#include <vector>

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

// What a folder walk and the collection of dropped names ask of the file system. The one in
// use is the disk (diskTree()); the fuzz target for dropped names keeps a tree in memory, so
// that the name handling runs without a system call per path part.
// Any thread but the audio thread; allocates.
class FileTree {
public:
    enum class Kind { Missing, File, Folder, Other };
    struct Entry {
        std::string name;
        Kind kind = Kind::Missing; // of what the entry leads to, links followed
        bool isLink = false;
    };

    virtual ~FileTree() = default;
    // What the path names, links followed.
    virtual Kind kind(const std::string& path) const = 0;
    // The absolute path with every link, "." and ".." resolved and "/" between its parts, or
    // empty when the path does not lead to anything.
    virtual std::string realPath(const std::string& path) const = 0;
    // The entries of a folder in the order the tree gives them; false when it cannot be read.
    // Entries that cannot be read are left out.
    virtual bool list(const std::string& folder, std::vector<Entry>& entries) const = 0;
    // Whether the file opens for reading.
    virtual bool canRead(const std::string& file) const = 0;
};

// The file system itself.
const FileTree& diskTree();

// Folder levels below its root a scan enters at most. Sound and preset trees are a few levels
// deep; the limit only stops pathological trees.
inline constexpr int maxScanDepth = 32;

// Every file below root, depth first in the order the file system returns them, as paths
// relative to root with "/" between folder names. This is the one folder walk of the core: the
// sound list for random kits, the preset list and folder imports all use it.
// - Names starting with "." (files and folders) are skipped.
// - A folder already on the path being walked is not entered again, and a link is followed
//   only into a folder no other link led into during this scan: links back to a parent or
//   between folders can neither loop nor multiply the walk.
// - Folders deeper than maxScanDepth below root are not entered.
// - An unreadable root, folder or entry is passed over; the scan never throws.
// Any thread but the audio thread; allocates and reads the file system (or the tree given).
std::vector<std::string> listFolder(const std::string& root, const FileTree& tree = diskTree());

} // namespace tarvo
