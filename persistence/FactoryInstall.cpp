#include "persistence/FactoryInstall.h"

#include <fstream>
#include <set>
#include <system_error>

#include "persistence/AtomicFile.h"

namespace tarvo {

namespace {

// Name of the record in the data folder.
constexpr const char* recordFileName = "factoryContent.txt";
// First word of the record's version line.
constexpr std::string_view versionKey = "version ";

// The folder's name in the record, so the same relative path in two folders stays apart.
const char* folderKey(Folder folder) {
    switch (folder) {
    case Folder::Sounds:
        return "Sounds";
    case Folder::Presets:
        return "Presets";
    default:
        return nullptr;
    }
}

struct Record {
    std::string version;
    std::set<std::string> offered;
};

// Reads the record; a missing or damaged record reads as empty, which at worst offers files
// again (and existing files are never overwritten).
Record readRecord() {
    Record record;
    std::ifstream in(factoryRecordPath(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.starts_with(versionKey))
            record.version = line.substr(versionKey.size());
        else
            record.offered.insert(line);
    }
    return record;
}

// A relative path that stays inside its folder: not empty, not absolute, no "." or ".."
// parts and no empty parts.
bool isSafeRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.find('\\') != std::string::npos ||
        path.find(':') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part(path.data() + start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

} // namespace

std::filesystem::path factoryRecordPath() {
    return folderPath(Folder::Data) / recordFileName;
}

FactoryInstallReport installFactoryContent(const FactoryContent& content) {
    FactoryInstallReport report;
    Record record = readRecord();
    const std::string version = content.version != nullptr ? content.version : "";
    if (!version.empty() && record.version == version) {
        report.upToDate = true;
        return report;
    }

    auto fail = [&report](const std::string& why) {
        ++report.failed;
        if (report.error.empty()) report.error = why;
    };
    for (const FactoryFile& file : content.files) {
        const char* key = folderKey(file.folder);
        const std::string path = file.path != nullptr ? file.path : "";
        if (key == nullptr || !isSafeRelativePath(path)) {
            fail("Unusable factory file path " + path);
            continue;
        }
        const std::string entry = std::string(key) + "/" + path;
        if (record.offered.count(entry) != 0) continue;
        const std::filesystem::path target = folderPath(file.folder) / path;
        std::error_code ignored;
        if (std::filesystem::exists(std::filesystem::symlink_status(target, ignored))) {
            ++report.kept;
            record.offered.insert(entry);
            continue;
        }
        if (const FileWriteResult result = writeFileAtomically(target, {file.data, file.size}); !result) {
            fail(result.error);
            continue;
        }
        ++report.written;
        record.offered.insert(entry);
    }

    // The version is recorded only when every file is in place, so a failed file is tried
    // again on the next start.
    std::string text;
    if (report.failed == 0) text += std::string(versionKey) + version + "\n";
    for (const std::string& entry : record.offered) text += entry + "\n";
    if (const FileWriteResult result = writeFileAtomically(factoryRecordPath(), text); !result)
        fail(result.error);
    return report;
}

} // namespace tarvo
