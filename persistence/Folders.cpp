#include "persistence/Folders.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <fstream>
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

class DiskTree final : public FileTree {
public:
    Kind kind(const std::string& path) const override {
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(path, error);
        return kindOf(status);
    }

    std::string realPath(const std::string& path) const override {
        std::error_code error;
        const std::filesystem::path real = std::filesystem::canonical(path, error);
        return error ? std::string() : real.generic_string();
    }

    bool list(const std::string& folder, std::vector<Entry>& entries) const override {
        std::error_code error;
        std::filesystem::directory_iterator it(folder, error);
        if (error) return false;
        for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
            if (error) break;
            try {
                std::error_code entryError;
                Entry entry;
                entry.name = it->path().filename().string();
                // The entry's own questions use the type the listing already gave, asking the
                // system again only for links.
                if (it->is_directory(entryError))
                    entry.kind = Kind::Folder;
                else if (!entryError && it->is_regular_file(entryError))
                    entry.kind = Kind::File;
                else if (!entryError && it->exists(entryError))
                    entry.kind = Kind::Other;
                entry.isLink = !entryError && it->is_symlink(entryError);
                if (!entryError) entries.push_back(std::move(entry));
            } catch (const std::exception&) {
                // A name the platform cannot convert, or memory running out on a huge folder:
                // the entry is passed over, the rest of the folder still listed.
            }
        }
        return true;
    }

    bool canRead(const std::string& file) const override {
        return std::ifstream(file, std::ios::binary).is_open();
    }

private:
    static Kind kindOf(const std::filesystem::file_status& status) {
        switch (status.type()) {
        case std::filesystem::file_type::none:
        case std::filesystem::file_type::not_found:
            return Kind::Missing;
        case std::filesystem::file_type::regular:
            return Kind::File;
        case std::filesystem::file_type::directory:
            return Kind::Folder;
        default:
            return Kind::Other;
        }
    }
};

// A name below a folder, with one "/" between them.
std::string childPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '/' || last == std::filesystem::path::preferred_separator ? folder + name
                                                                             : folder + "/" + name;
}

// One scan's walk: the real folders on the path from the root to the folder being listed, and
// the real folders a link has led into so far.
class FolderScan {
public:
    FolderScan(const FileTree& tree, std::vector<std::string>& out) : tree_(tree), out_(out) {}

    void enter(const std::string& folder, const std::string& prefix, int depth) {
        std::string real = tree_.realPath(folder);
        if (real.empty()) return;
        std::vector<FileTree::Entry> entries;
        if (!tree_.list(folder, entries)) return;
        path_.push_back(std::move(real));
        for (const FileTree::Entry& entry : entries) visit(folder, entry, prefix, depth);
        path_.pop_back();
    }

private:
    void visit(const std::string& folder, const FileTree::Entry& entry, const std::string& prefix,
               int depth) {
        if (entry.name.empty() || entry.name[0] == '.') return;
        if (entry.kind == FileTree::Kind::Folder) {
            const std::string path = childPath(folder, entry.name);
            if (depth < maxScanDepth && mayEnter(path, entry.isLink))
                enter(path, prefix + entry.name + "/", depth + 1);
        } else if (entry.kind == FileTree::Kind::File) {
            out_.push_back(prefix + entry.name);
        }
    }

    // A folder already on the path (reached again through a link somewhere below it) is never
    // entered; a link is followed only into a folder no earlier link led into.
    bool mayEnter(const std::string& folder, bool isLink) {
        std::string real = tree_.realPath(folder);
        if (real.empty()) return false;
        if (std::find(path_.begin(), path_.end(), real) != path_.end()) return false;
        if (!isLink) return true;
        if (std::find(linkedInto_.begin(), linkedInto_.end(), real) != linkedInto_.end()) return false;
        linkedInto_.push_back(std::move(real));
        return true;
    }

    const FileTree& tree_;
    std::vector<std::string>& out_;
    std::vector<std::string> path_;
    std::vector<std::string> linkedInto_;
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

const FileTree& diskTree() {
    static const DiskTree disk;
    return disk;
}

std::vector<std::string> listFolder(const std::string& root, const FileTree& tree) {
    std::vector<std::string> out;
    try {
        FolderScan(tree, out).enter(root.empty() ? std::string(".") : root, "", 0);
    } catch (const std::exception&) {
        // Out of memory while listing: what was found so far stands.
    }
    return out;
}

} // namespace tarvo
