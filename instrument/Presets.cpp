#include "instrument/Presets.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/Blob.h"
#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"
#include "persistence/AtomicFile.h"
#include "persistence/Folders.h"

namespace tarvo {

namespace {

bool readFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool containsStart(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("start") != std::string::npos;
}

} // namespace

std::string presetNameOf(const std::filesystem::path& path) {
    return path.stem().string();
}

bool savePreset(Ombrix& plugin, const std::filesystem::path& path) {
    const std::string previousName = plugin.presetName;
    const int32_t previousEdits = plugin.presetEditCount.load(std::memory_order_relaxed);
    const int32_t previousSeqCount = plugin.savedSeqCount;

    plugin.presetName = presetNameOf(path);
    plugin.presetEditCount.store(0, std::memory_order_relaxed);
    plugin.savedSeqCount = plugin.sequencer.changeCount.load(std::memory_order_relaxed);
    const std::vector<uint8_t> chunk = saveState(plugin);
    if (writeFileAtomically(path, chunk)) return true;

    // Nothing was saved, so the preset keeps its name and stays modified.
    plugin.presetName = previousName;
    plugin.presetEditCount.store(previousEdits, std::memory_order_relaxed);
    plugin.savedSeqCount = previousSeqCount;
    plugin.setStatus(savePresetFailedText + path.string());
    return false;
}

bool openPreset(Ombrix& plugin, const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes) || bytes.empty()) {
        plugin.setStatus(openPresetFailedText + path.string());
        return false;
    }
    // A preset never changes host sync: that belongs to the project.
    Param& hostSync = plugin.sequencer.param(StepSequencer::paramHostSync);
    const bool synced = hostSync.effective() != 0.0f;
    const int consumed = readState(plugin, bytes.data(), static_cast<int>(bytes.size()));
    if (consumed == 0) return false;
    hostSync.setNormalized(synced ? 1.0f : 0.0f);
    plugin.presetName = presetNameOf(path);
    plugin.presetEditCount.store(0, std::memory_order_relaxed);
    return consumed == static_cast<int>(bytes.size());
}

bool saveBlob(const Blob& blob, const std::string& name, bool isFullPath) {
    const std::filesystem::path path =
        isFullPath ? std::filesystem::path(name) : folderPath(Folder::Sounds) / (name + ".blob");
    std::vector<uint8_t> bytes(Blob::byteSize);
    if (blob.serialize(bytes) != Blob::byteSize) return false;
    return writeFileAtomically(path, bytes).ok;
}

std::filesystem::path clipboardBlobPath() {
    return folderPath(Folder::Data) / "clipboard.blob";
}

std::vector<std::string> listPresetFiles() {
    return listFolder(folderText(Folder::Presets));
}

bool startPreset(Ombrix& plugin) {
    if (plugin.loadCount != 0) return false;
    const std::vector<std::string> files = listPresetFiles();
    const std::filesystem::path root = folderPath(Folder::Presets);
    bool loaded = false;
    for (const std::string& file : files) {
        if (containsStart(file) && openPreset(plugin, root / file)) {
            loaded = true;
            break;
        }
    }
    if (!loaded && !files.empty())
        loaded = openPreset(plugin, root / files[static_cast<size_t>(std::rand()) % files.size()]);
    ++plugin.loadCount;
    return loaded;
}

} // namespace tarvo
