#include "persistence/Folders.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <utility>

namespace tarvo {

namespace {

std::filesystem::path baseFolder() {
    if (const char* home = std::getenv("TARVO_HOME"); home != nullptr && home[0] != '\0')
        return std::filesystem::path(home);
#if defined(_WIN32)
    const char* programData = std::getenv("ProgramData");
    return std::filesystem::path(programData != nullptr ? programData : "C:/ProgramData") / "Brannock";
#elif defined(__APPLE__)
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / "Library/Application Support/Brannock";
#else
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] != '\0')
        return std::filesystem::path(xdg) / "Brannock";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / ".local/share/Brannock";
#endif
}

// One scan's walk: the real folders on the path from the root to the folder being listed, and
// the real folders a link has led into so far.
class FolderScan {
public:
    explicit FolderScan(std::vector<std::string>& out) : out_(out) {}

    void enter(const std::filesystem::path& folder, const std::string& prefix, int depth) {
        std::error_code error;
        std::filesystem::path real = std::filesystem::canonical(folder, error);
        if (error) return;
        path_.push_back(std::move(real));
        listEntries(folder, prefix, depth);
        path_.pop_back();
    }

private:
    void listEntries(const std::filesystem::path& folder, const std::string& prefix, int depth) {
        std::error_code error;
        std::filesystem::directory_iterator it(folder, error);
        if (error) return;
        for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
            if (error) return;
            try {
                visit(*it, prefix, depth);
            } catch (const std::exception&) {
                // A name the platform cannot convert, or memory running out on a huge tree:
                // the entry is passed over, the rest of the folder still listed.
            }
        }
    }

    void visit(const std::filesystem::directory_entry& entry, const std::string& prefix, int depth) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.') return;
        std::error_code error;
        if (entry.is_directory(error)) {
            if (depth < maxScanDepth && mayEnter(entry)) enter(entry.path(), prefix + name + "/", depth + 1);
        } else if (entry.is_regular_file(error)) {
            out_.push_back(prefix + name);
        }
    }

    // A folder already on the path (reached again through a link somewhere below it) is never
    // entered; a link is followed only into a folder no earlier link led into.
    bool mayEnter(const std::filesystem::directory_entry& folder) {
        std::error_code error;
        std::filesystem::path real = std::filesystem::canonical(folder.path(), error);
        if (error) return false;
        if (std::find(path_.begin(), path_.end(), real) != path_.end()) return false;
        const bool isLink = folder.is_symlink(error);
        if (error) return false;
        if (!isLink) return true;
        if (std::find(linkedInto_.begin(), linkedInto_.end(), real) != linkedInto_.end()) return false;
        linkedInto_.push_back(std::move(real));
        return true;
    }

    std::vector<std::string>& out_;
    std::vector<std::filesystem::path> path_;
    std::vector<std::filesystem::path> linkedInto_;
};

} // namespace

std::filesystem::path folderPath(Folder folder) {
    const std::filesystem::path base = baseFolder();
    switch (folder) {
    case Folder::Base:
        return base;
    case Folder::Presets:
        return base / "Tarvo Presets";
    case Folder::Sounds:
        return base / "Tarvo Sounds";
    case Folder::Data:
        return base / "Tarvo Data";
    case Folder::Themes:
        return base / "Tarvo Data" / "Theme";
    }
    return base;
}

std::string folderText(Folder folder) {
    return folderPath(folder).generic_string() + "/";
}

bool createParentFolders(const std::filesystem::path& file) {
    const std::filesystem::path parent = file.parent_path();
    if (parent.empty()) return true;
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    return !error && std::filesystem::is_directory(parent);
}

std::vector<std::string> listFolder(const std::string& root) {
    std::vector<std::string> out;
    try {
        FolderScan(out).enter(std::filesystem::path(root.empty() ? std::string(".") : root), "", 0);
    } catch (const std::exception&) {
        // Out of memory while listing: what was found so far stands.
    }
    return out;
}

} // namespace tarvo
