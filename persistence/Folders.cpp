#include "persistence/Folders.h"

#include <cstdlib>
#include <system_error>

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

} // namespace tarvo
