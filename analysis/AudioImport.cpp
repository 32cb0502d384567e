#include "analysis/AudioImport.h"

#include <cmath>
#include <fstream>
#include <system_error>

#include "analysis/AudioAnalysis.h"
#include "analysis/RandomKit.h"
#include "analysis/SoundCategories.h"
#include "engine/Blob.h"
#include "engine/Ombrix.h"
#include "persistence/Folders.h"

namespace tarvo {

namespace {

bool canOpen(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return false;
    return std::ifstream(file, std::ios::binary).is_open();
}

bool writeBytes(const std::filesystem::path& target, const std::vector<uint8_t>& bytes) {
    if (!createParentFolders(target)) return false;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

void appendFolder(std::string folder, std::vector<ImportEntry>& entries) {
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    const size_t slash = folder.find_last_of("/\\");
    const std::string parent = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    const std::string prefix = name.empty() ? std::string() : name + "/";
    for (const std::string& relative : listFolder(folder))
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

std::vector<ImportEntry> collectImportEntries(const std::vector<std::string>& paths) {
    std::vector<ImportEntry> entries;
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            appendFolder(path, entries);
        } else if (isImportableAudioPath(path) && canOpen(path)) {
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
    if (!writeBytes(target, bytes)) {
        outcome.message = "ERROR: could not write " + target.generic_string();
        return outcome;
    }
    outcome.written = true;
    return outcome;
}

bool importAudioFile(Ombrix& plugin, const std::string& folder, const std::string& file, int slot) {
    const std::string name = importedBlobName(file);
    const std::filesystem::path target = folderPath(Folder::Sounds) / (name + ".blob");
    if (!analyzeIntoBlobFile(std::filesystem::path(folder + file), target).written) return false;
    if (slot == 0 || slot == 1) {
        TrackBlobs& blobs = plugin.engine.tracks[static_cast<size_t>(plugin.currentTrackIndex())].blobs;
        loadSoundIntoSlot(slot == 0 ? blobs.slotA : blobs.slotB, name + ".blob");
    }
    return true;
}

int automaticImportSlot(const Ombrix& plugin) {
    const int track = plugin.currentTrackIndex();
    const Param& transform =
        plugin.engine.param(plugin.engine.layout.trackBase[static_cast<size_t>(track)] + trackTransform);
    return transform.toNormalized(transform.value) > 0.5f ? 1 : 0;
}

void importAudioPaths(Ombrix& plugin, const std::vector<std::string>& paths, int slot) {
    plugin.importIndex = -1;
    plugin.importQueue = collectImportEntries(paths);
    if (plugin.importQueue.size() >= batchImportThreshold) return;
    const int first = slot >= 0 ? slot % 2 : automaticImportSlot(plugin);
    for (size_t i = 0; i < plugin.importQueue.size(); ++i) {
        const ImportEntry& entry = plugin.importQueue[i];
        importAudioFile(plugin, entry.folder, entry.file, (static_cast<int>(i) + first) % 2);
    }
    plugin.importQueue.clear();
}

void importIdleStep(Ombrix& plugin) {
    if (plugin.importIndex >= static_cast<int32_t>(plugin.importQueue.size())) {
        plugin.importQueue.clear();
        plugin.importIndex = -1;
    } else if (plugin.importIndex >= 0) {
        const ImportEntry entry = plugin.importQueue[static_cast<size_t>(plugin.importIndex)];
        importAudioFile(plugin, entry.folder, entry.file, -1);
        ++plugin.importIndex;
    }
}

} // namespace tarvo
