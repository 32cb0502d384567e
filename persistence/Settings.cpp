#include "persistence/Settings.h"

#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "persistence/AtomicFile.h"
#include "persistence/Folders.h"

namespace tarvo {

std::filesystem::path Settings::filePath() {
    return folderPath(Folder::Data) / fileName;
}

bool Settings::load() {
    const std::filesystem::path path = filePath();
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        values[themeKey] = defaultTheme;
        if (!save()) return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (auto& [key, value] : parse(text)) values[key] = value;
    return true;
}

bool Settings::set(const std::string& key, const std::string& value) {
    if (!storable(key) || !storable(value)) return false;
    const std::map<std::string, std::string> previous = values;
    values[key] = value;
    if (save()) return true;
    values = previous;
    return false;
}

std::string Settings::get(const std::string& key, const std::string& fallback) const {
    const auto found = values.find(key);
    return found != values.end() ? found->second : fallback;
}

bool Settings::storable(const std::string& text) {
    return text.find('\n') == std::string::npos && (text.empty() || text.back() != '\r');
}

std::string Settings::format(const std::map<std::string, std::string>& pairs) {
    std::string text;
    for (const auto& [key, value] : pairs)
        if (storable(key) && storable(value)) text += key + "\n" + value + "\n";
    return text;
}

std::map<std::string, std::string> Settings::parse(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    std::map<std::string, std::string> pairs;
    for (size_t i = 0; i + 1 < lines.size(); i += 2) pairs[lines[i]] = lines[i + 1];
    return pairs;
}

bool Settings::save() const {
    return writeFileAtomically(filePath(), format(values)).ok;
}

} // namespace tarvo
