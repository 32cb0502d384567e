// Dropped file and folder names (the editor's drops, the tool's arguments), as the importer
// collects them. Input: names, one a line; a line starting with "~" names something below a
// small prepared tree (files, a hidden folder, a link back up), the others are taken as they
// are, relative to that tree.
// Checks: every queued entry names an importable file that exists, split into a folder part
// and a file part; the Blob name it gets lies inside the user sounds folder (no "." or ".."
// part, no empty part, never absolute).

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/AudioFile.h"
#include "analysis/AudioImport.h"
#include "fuzz/FuzzInput.h"

namespace fs = std::filesystem;

namespace {

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

// The tree never changes during a run, so what the file system answered for a name holds for
// every later input: each name is resolved once, not again in every input that holds it.
// Answers are forgotten now and then to keep the memory small.
template <typename Answer>
bool remembered(std::unordered_map<std::string, bool>& answers, const std::string& name, Answer answer) {
    constexpr size_t maxRemembered = 1 << 16;
    if (const auto found = answers.find(name); found != answers.end()) return found->second;
    if (answers.size() >= maxRemembered) answers.clear();
    return answers.emplace(name, answer()).first->second;
}

// Whether a name is a folder that resolves to the tree's root or outside it. Only folders are
// listed, so only they need resolving.
bool leadsOutOfTree(const std::string& name) {
    static std::unordered_map<std::string, bool> answers;
    return remembered(answers, name, [&name] {
        const std::string root = treeRoot().string();
        std::error_code error;
        if (!fs::is_directory(fs::path(name), error)) return false;
        const std::string text = fs::weakly_canonical(fs::path(name), error).string();
        return error || text.size() <= root.size() || text.compare(0, root.size(), root) != 0;
    });
}

bool isFileInTree(const std::string& name) {
    static std::unordered_map<std::string, bool> answers;
    return remembered(answers, name, [&name] {
        std::error_code error;
        return fs::is_regular_file(fs::path(name), error);
    });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    treeRoot() = tarvo::fuzz::useFuzzHome() / "drop";
    makeTree();
    // Relative names resolve inside the tree, never in the folder the run started in.
    if (chdir(treeRoot().c_str()) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
        if (leadsOutOfTree(name)) return 0;

    for (const tarvo::ImportEntry& entry : tarvo::collectImportEntries(names)) {
        TARVO_FUZZ_CHECK(!entry.file.empty());
        TARVO_FUZZ_CHECK(entry.folder.empty() || entry.folder.back() == '/' || entry.folder.back() == '\\');
        TARVO_FUZZ_CHECK(tarvo::isImportableAudioPath(entry.file));
        TARVO_FUZZ_CHECK(isFileInTree(entry.folder + entry.file));

        const std::string blobName = tarvo::importedBlobName(entry.file);
        const std::string prefix = std::string(tarvo::userSoundsFolder) + "/";
        TARVO_FUZZ_CHECK(blobName.compare(0, prefix.size(), prefix) == 0);
        size_t start = prefix.size();
        while (true) {
            const size_t end = blobName.find_first_of("/\\", start);
            const std::string part =
                blobName.substr(start, end == std::string::npos ? std::string::npos : end - start);
            TARVO_FUZZ_CHECK(!part.empty() && part != "." && part != "..");
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    return 0;
}
