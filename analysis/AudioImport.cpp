#include "analysis/AudioImport.h"

#include <cmath>
#include <fstream>
#include <system_error>

#include "analysis/AudioAnalysis.h"
#include "engine/Blob.h"
#include "persistence/AtomicFile.h"
#include "persistence/Folders.h"

namespace tarvo {

namespace {

void appendFolder(std::string folder, const FileTree& tree, std::vector<ImportEntry>& entries) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    size_t slash = folder.find_last_of("/\\");
    std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    // "." or ".." would become part of every Blob name and lead its file out of the user
    // sounds folder: the folder goes by its real name instead.
    if (name == "." || name == "..") {
        folder = tree.realPath(folder);
        if (folder.empty()) return;
        slash = folder.find_last_of('/');
        name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    }
    const std::string parent = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    const std::string prefix = name.empty() ? std::string() : name + "/";
    for (const std::string& relative : listFolder(folder, tree))
        if (isImportableAudioPath(relative)) entries.push_back({parent, prefix + relative});
}

} // namespace

std::string withoutLastExtension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

std::string importedBlobName(const std::string& file) {
    return std::string(userSoundsFolder) + "/" + withoutLastExtension(file);
}

std::vector<ImportEntry> collectImportEntries(const std::vector<std::string>& paths, const FileTree& tree) {
    std::vector<ImportEntry> entries;
    for (const std::string& path : paths) {
        // No file name holds a zero byte: the system would read the name only up to it and
        // the entry would name another file than the one it reads.
        if (path.find('\0') != std::string::npos) continue;
        const FileTree::Kind kind = tree.kind(path);
        if (kind == FileTree::Kind::Folder) {
            appendFolder(path, tree, entries);
        } else if (kind == FileTree::Kind::File && isImportableAudioPath(path) && tree.canRead(path)) {
            const size_t slash = path.find_last_of("/\\");
            if (slash == std::string::npos)
                entries.push_back({std::string(), path});
            else
                entries.push_back({path.substr(0, slash + 1), path.substr(slash + 1)});
        }
    }
    return entries;
}

ImportOutcome analyzeIntoBlobFile(const std::filesystem::path& source, const std::filesystem::path& target,
                                  AudioMessages messages) {
    ImportOutcome outcome;
    const MonoAudio audio = loadAudioFile(source, messages);
    if (!audio.ok()) {
        outcome.message = audio.message;
        return outcome;
    }
    outcome.sampleRate = audio.sampleRate;
    outcome.frames = static_cast<int64_t>(audio.samples.size());
    double sum = 0.0;
    for (float s : audio.samples) sum += std::abs(static_cast<double>(s));
    if (!(sum > silentImportSum)) {
        outcome.message = "silent: nothing to analyse";
        return outcome;
    }
    if (!(audio.sampleRate >= minAnalysisRate && audio.sampleRate <= maxAnalysisRate)) {
        outcome.message = "ERROR: the sample rate of this file is out of range";
        return outcome;
    }
    Blob blob;
    const int32_t freshVersion = blob.version;
    analyzeAudio(blob, audio.samples, audio.sampleRate);
    // The analyser leaves the Blob untouched when nothing audible remains after trimming;
    // storing that untouched Blob would pass an empty sound off as an import.
    if (blob.version == freshVersion) {
        outcome.message = "silent: nothing to analyse";
        return outcome;
    }
    std::vector<uint8_t> bytes(Blob::byteSize);
    if (blob.serialize(bytes) != bytes.size()) {
        outcome.message = "ERROR: the Blob could not be serialised";
        return outcome;
    }
    if (!writeFileAtomically(target, bytes)) {
        outcome.message = "ERROR: could not write " + target.generic_string();
        return outcome;
    }
    outcome.written = true;
    return outcome;
}

} // namespace tarvo
