// Dropped file and folder names (the editor's drops, the tool's arguments), as the importer
// collects them. Input: names, one a line; a line starting with "~" names something below a
// small prepared tree (files, a hidden folder, a link back up), the others are taken as they
// are, relative to that tree.
// Checks: every queued entry names an importable file that exists, split into a folder part
// and a file part; the Blob name it gets lies inside the user sounds folder (no "." or ".."
// part, no empty part, never absolute).
// The importer looks the names up in a copy of the tree kept in memory, which resolves names
// the way the system does (links, "." and "..", a file where a folder is needed); names that
// leave the tree, follow many links or are very long go to the disk. On a sample of inputs the
// same names are collected from the disk as well, and both must queue the same entries.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/AudioFile.h"
#include "analysis/AudioImport.h"
#include "fuzz/FuzzInput.h"
#include "persistence/Folders.h"

namespace fs = std::filesystem;
using tarvo::FileTree;

namespace {

// Inputs whose names are also collected from the disk.
constexpr uint32_t diskCheckOneIn = 64;

fs::path& treeRoot() {
    static fs::path root;
    return root;
}

void makeTree() {
    const fs::path root = treeRoot();
    std::error_code error;
    fs::remove_all(root, error);
    for (const char* file : {"kick.wav", "Snares/snare 1.aif", "Snares/deep/rim.flac", ".hidden/hat.wav",
                             "notes.txt", "Toms/.cache/tom.ogg", "odd name..mp3", "Toms/tom.WAV"}) {
        const fs::path path = root / file;
        fs::create_directories(path.parent_path(), error);
        std::ofstream(path) << "x";
    }
    fs::create_directory_symlink(root, root / "Snares" / "up", error);
}

std::vector<std::string> splitParts(const std::string& absolute) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < absolute.size()) {
        const size_t end = std::min(absolute.find('/', start), absolute.size());
        if (end > start) parts.push_back(absolute.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The prepared tree as the disk holds it, copied once. The way down to the tree's root is
// taken to be plain folders (the root's real path is known); anything else outside the tree
// is asked of the disk, as are names beyond the limits the model leaves to the system.
// Looking a name up allocates nothing: the name is walked in place, part by part.
class MemoryTree final : public FileTree {
public:
    explicit MemoryTree(const fs::path& realRoot) : rootParts_(splitParts(realRoot.generic_string())) {
        nodes_.push_back(Node{Kind::Folder, noNode, noNode, realRoot.generic_string(), {}});
        std::vector<std::pair<int, fs::path>> links;
        for (auto it = fs::recursive_directory_iterator(realRoot); it != fs::recursive_directory_iterator();
             ++it) {
            const std::string real = it->path().generic_string();
            Node node{Kind::Other, noNode, find(real.substr(0, real.find_last_of('/'))), real, {}};
            if (it->is_symlink()) {
                node.kind = fs::is_directory(it->path()) ? Kind::Folder : Kind::File;
                links.emplace_back(static_cast<int>(nodes_.size()), fs::canonical(it->path()));
            } else if (it->is_directory()) {
                node.kind = Kind::Folder;
            } else if (it->is_regular_file()) {
                node.kind = Kind::File;
            }
            nodes_[static_cast<size_t>(node.parent)].children.emplace_back(it->path().filename().string(),
                                                                           static_cast<int>(nodes_.size()));
            nodes_.push_back(std::move(node));
        }
        for (const auto& [link, target] : links) {
            nodes_[static_cast<size_t>(link)].link = find(target.generic_string());
            if (nodes_[static_cast<size_t>(link)].link == noNode) std::abort(); // links stay inside the tree
        }
    }

    Kind kind(const std::string& path) const override {
        const Place found = resolve(path);
        if (found.state == Place::Disk) return tarvo::diskTree().kind(path);
        if (found.state == Place::Missing) return Kind::Missing;
        return found.node == noNode ? Kind::Folder : nodes_[static_cast<size_t>(found.node)].kind;
    }

    std::string realPath(const std::string& path) const override {
        const Place found = resolve(path);
        if (found.state == Place::Disk) return tarvo::diskTree().realPath(path);
        if (found.state == Place::Missing) return {};
        if (found.node != noNode) return nodes_[static_cast<size_t>(found.node)].real;
        std::string real;
        for (int i = 0; i < found.depth; ++i) real += "/" + rootParts_[static_cast<size_t>(i)];
        return real.empty() ? "/" : real;
    }

    bool list(const std::string& folder, std::vector<Entry>& entries) const override {
        const Place found = resolve(folder);
        if (found.state == Place::Disk || (found.state == Place::Found && found.node == noNode))
            return tarvo::diskTree().list(folder, entries);
        if (found.state == Place::Missing) return false;
        const Node& node = nodes_[static_cast<size_t>(found.node)];
        if (node.kind != Kind::Folder) return false;
        for (const auto& [name, id] : node.children) {
            const Node& child = nodes_[static_cast<size_t>(id)];
            entries.push_back({name, child.kind, child.link != noNode});
        }
        return true;
    }

    bool canRead(const std::string& file) const override {
        const Place found = resolve(file);
        if (found.state == Place::Disk) return tarvo::diskTree().canRead(file);
        return found.state == Place::Found;
    }

private:
    static constexpr int noNode = -1;
    struct Node {
        Kind kind;
        int link;   // the node a link leads to; noNode for anything else
        int parent; // noNode for the root
        std::string real;
        std::vector<std::pair<std::string, int>> children;
    };
    // A folder or file of the tree, or (node noNode) the folder `depth` parts down the root's
    // own path.
    struct Place {
        enum State { Missing, Found, Disk } state = Missing;
        int node = 0;
        int depth = 0;
    };

    // Longer names, and names through more links, are left to the disk: the system refuses
    // paths beyond its length limit and chains of more than forty links.
    static constexpr size_t longestModelledName = 1024;
    static constexpr int mostModelledLinks = 8;

    int find(const std::string& real) const {
        for (size_t i = 0; i < nodes_.size(); ++i)
            if (nodes_[i].real == real) return static_cast<int>(i);
        return noNode;
    }

    Place resolve(const std::string& path) const {
        Place place;
        if (path.empty()) return place;
        if (path.size() > longestModelledName) {
            place.state = Place::Disk;
            return place;
        }
        const int rootDepth = static_cast<int>(rootParts_.size());
        if (path[0] == '/') {
            place.node = noNode;
            place.depth = 0;
        }
        const std::string_view text(path);
        int links = 0;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = std::min(text.find('/', start), text.size());
            const std::string_view part = text.substr(start, end - start);
            start = end + 1;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                if (place.node == noNode) {
                    place.depth = std::max(place.depth - 1, 0);
                } else if (place.node == 0) {
                    place.node = noNode;
                    place.depth = rootDepth - 1;
                } else {
                    place.node = nodes_[static_cast<size_t>(place.node)].parent;
                }
            } else if (place.node == noNode) {
                // On the way down to the root only the next folder of the root's path is known.
                if (part != rootParts_[static_cast<size_t>(place.depth)]) {
                    place.state = Place::Disk;
                    return place;
                }
                if (++place.depth == rootDepth) place.node = 0;
            } else {
                const auto& children = nodes_[static_cast<size_t>(place.node)].children;
                const auto child = std::find_if(children.begin(), children.end(),
                                                [part](const auto& named) { return named.first == part; });
                if (child == children.end()) return place;
                place.node = child->second;
                if (const int link = nodes_[static_cast<size_t>(place.node)].link; link != noNode) {
                    if (++links > mostModelledLinks) {
                        place.state = Place::Disk;
                        return place;
                    }
                    place.node = link;
                }
                // A file with more of the path after it: the system says "not a folder".
                if (nodes_[static_cast<size_t>(place.node)].kind != Kind::Folder && end < text.size())
                    return place;
            }
        }
        place.state = Place::Found;
        return place;
    }

    std::vector<std::string> rootParts_;
    std::vector<Node> nodes_;
};

MemoryTree& memoryTree() {
    static MemoryTree* tree = new MemoryTree(treeRoot());
    return *tree;
}

// Whether a name is a folder that resolves to the tree's root or outside it.
bool leadsOutOfTree(const FileTree& tree, const std::string& name) {
    if (tree.kind(name) != FileTree::Kind::Folder) return false;
    const std::string root = treeRoot().generic_string() + "/";
    const std::string real = tree.realPath(name);
    return real.size() <= root.size() || real.compare(0, root.size(), root) != 0;
}

std::vector<std::pair<std::string, std::string>>
sortedEntries(const std::vector<tarvo::ImportEntry>& entries) {
    std::vector<std::pair<std::string, std::string>> sorted;
    for (const tarvo::ImportEntry& entry : entries) sorted.emplace_back(entry.folder, entry.file);
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    treeRoot() = tarvo::fuzz::useFuzzHome() / "drop";
    makeTree();
    treeRoot() = fs::canonical(treeRoot());
    memoryTree();
    // Relative names resolve inside the tree, never in the folder the run started in.
    if (chdir(treeRoot().c_str()) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const FileTree& tree = memoryTree();
    std::vector<std::string> names;
    std::string line;
    const std::string root = treeRoot().string();
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == '\n') {
            if (!line.empty() && line[0] == '~') line = root + line.substr(1);
            names.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(data[i]);
        }
    }
    // Dropping the tree's own root or above it would list more of the disk than a fuzz run wants.
    for (const std::string& name : names)
        if (leadsOutOfTree(tree, name)) return 0;

    const std::vector<tarvo::ImportEntry> entries = tarvo::collectImportEntries(names, tree);
    for (const tarvo::ImportEntry& entry : entries) {
        TARVO_FUZZ_CHECK(!entry.file.empty());
        TARVO_FUZZ_CHECK(entry.folder.empty() || entry.folder.back() == '/' || entry.folder.back() == '\\');
        TARVO_FUZZ_CHECK(tarvo::isImportableAudioPath(entry.file));
        TARVO_FUZZ_CHECK(tree.kind(entry.folder + entry.file) == FileTree::Kind::File);

        const std::string blobName = tarvo::importedBlobName(entry.file);
        const std::string prefix = std::string(tarvo::userSoundsFolder) + "/";
        TARVO_FUZZ_CHECK(blobName.compare(0, prefix.size(), prefix) == 0);
        const std::string_view name(blobName);
        size_t start = prefix.size();
        while (true) {
            const size_t end = name.find_first_of("/\\", start);
            const std::string_view part =
                name.substr(start, end == std::string::npos ? std::string::npos : end - start);
            TARVO_FUZZ_CHECK(!part.empty() && part != "." && part != "..");
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    if (tarvo::fuzz::inSample(data, size, diskCheckOneIn))
        TARVO_FUZZ_CHECK(sortedEntries(tarvo::collectImportEntries(names)) == sortedEntries(entries));
    return 0;
}
