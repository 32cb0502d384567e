#include "engine/BlobSlots.h"

#include <fstream>
#include <system_error>
#include <vector>

#include "persistence/Folders.h"

namespace tarvo {

bool BlobSlot::publish() noexcept {
    present_.store(working.present, std::memory_order_release);
    // Only this thread writes index_, so a relaxed load sees its own latest value.
    const uint32_t index = index_.load(std::memory_order_relaxed);
    if (working.version == ring_[index % ringSize].version) return false;
    // The next entry is the one the audio thread took three publications ago at the
    // earliest; if it may still hold it, wait for it to move on.
    const uint32_t taken = taken_.load(std::memory_order_acquire);
    if (index - taken >= ringSize - 1) return false;
    Blob& next = ring_[(index + 1) % ringSize];
    next.copyFrom(working, false);
    next.version = working.version;
    index_.store(index + 1, std::memory_order_release);
    return true;
}

const Blob& BlobSlot::acquire() noexcept {
    const uint32_t index = index_.load(std::memory_order_acquire);
    taken_.store(index, std::memory_order_release);
    return ring_[index % ringSize];
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
