#include "instrument/ImportQueue.h"

#include <filesystem>

#include "analysis/AudioImport.h"
#include "analysis/RandomKit.h"
#include "instrument/Ombrix.h"
#include "persistence/Folders.h"

namespace tarvo {

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
