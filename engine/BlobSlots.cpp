#include "engine/BlobSlots.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "persistence/Folders.h"

namespace tarvo {

bool BlobSlot::publish() noexcept {
    present_.store(working.present, std::memory_order_release);
    // Only this thread writes newest_, so a relaxed load sees its own latest value.
    const uint32_t newest = newest_.load(std::memory_order_relaxed);
    if (working.version == ring_[newest].version) return false;
    // Sequentially consistent with the audio thread's announcement in acquire: an entry it
    // announced after this load is checked against newest_ there and dropped if stale.
    const uint32_t held = held_.load(std::memory_order_seq_cst);
    uint32_t next = (newest + 1) % ringSize;
    while (next == newest || next == held) next = (next + 1) % ringSize;
    Blob& entry = ring_[next];
    entry.copyFrom(working, false);
    entry.version = working.version;
    newest_.store(next, std::memory_order_seq_cst);
    index_.store(index_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    return true;
}

const Blob& BlobSlot::acquire() noexcept {
    uint32_t entry = newest_.load(std::memory_order_acquire);
    for (;;) {
        held_.store(entry, std::memory_order_seq_cst);
        const uint32_t newest = newest_.load(std::memory_order_seq_cst);
        if (newest == entry) return ring_[entry];
        entry = newest;
    }
}

std::filesystem::path blobFilePath(const std::string& name) {
    if (name.empty()) return {};
    std::filesystem::path relative(name);
    if (relative.has_root_path() || relative.has_root_name()) return {};
    for (const auto& part : relative)
        if (part == "..") return {};
    if (relative.extension() != ".blob") relative += ".blob";
    return folderPath(Folder::Sounds) / relative;
}

bool readBlobFile(const std::filesystem::path& file, Blob& out, std::string& reason) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        reason = "no Blob file at " + file.generic_string();
        return false;
    }
    const auto size = std::filesystem::file_size(file, error);
    if (error) {
        reason = "cannot read " + file.generic_string() + ": " + error.message();
        return false;
    }
    if (size != Blob::byteSize) {
        reason = file.filename().generic_string() + " holds " + std::to_string(size) +
                 " bytes; a Blob file holds " + std::to_string(Blob::byteSize);
        return false;
    }
    std::vector<uint8_t> bytes(Blob::byteSize);
    std::ifstream stream(file, std::ios::binary);
    if (!stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        reason = "cannot read " + file.generic_string();
        return false;
    }
    Blob loaded;
    std::string why;
    if (loaded.deserialize(bytes, &why) != bytes.size()) {
        reason = file.filename().generic_string() + ": " + why;
        return false;
    }
    out = loaded;
    return true;
}

bool loadBlobIntoSlot(Blob& working, const std::string& name, std::string& reason) {
    const std::filesystem::path file = blobFilePath(name);
    if (file.empty()) {
        reason = "\"" + name + "\" is not a Blob name inside the sounds folder";
        return false;
    }
    Blob loaded;
    if (!readBlobFile(file, loaded, reason)) return false;
    working.copyFrom(loaded, false);
    working.editCount = 0;
    working.name = file.stem().string();
    working.present = 1;
    return true;
}

} // namespace tarvo
