#include "analysis/SoundCategories.h"

#include <cctype>
#include <filesystem>
#include <system_error>

namespace tarvo {

namespace {

// Folder levels listFolder enters at most; guards against link loops.
constexpr int maxListDepth = 999;
// Draws pickSoundPair tries for a second, different sound before it takes the next choice
// after A instead; with two or more choices a fair generator needs a handful at most.
constexpr int maxRedraws = 1000;

void listInto(const std::filesystem::path& folder, const std::string& prefix, int depth,
              std::vector<std::string>& out) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error) return;
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) {
            if (depth > 0) listInto(it->path(), prefix + name + "/", depth - 1, out);
        } else if (it->is_regular_file(typeError)) {
            out.push_back(prefix + name);
        }
    }
}

std::string lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::vector<std::string> listFolder(const std::string& root) {
    std::vector<std::string> out;
    std::string folder = root;
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    listInto(std::filesystem::path(folder.empty() ? std::string(".") : folder), "", maxListDepth, out);
    return out;
}

int categoryOfTrack(int track, DiceGenerator& dice) {
    if (track >= 0 && track < 7) return track;
    if (track == 7) return 7 + static_cast<int>(dice.next() % 3);
    return -1;
}

std::vector<int32_t> candidatesFor(const std::vector<std::string>& soundList, const std::string& word) {
    const std::string key = lowered(word);
    std::vector<int32_t> out;
    for (size_t i = 0; i < soundList.size(); ++i)
        if (lowered(soundList[i]).find(key) != std::string::npos) out.push_back(static_cast<int32_t>(i));
    return out;
}

std::pair<int32_t, int32_t> pickSoundPair(const std::vector<std::string>& soundList,
                                          const std::vector<int32_t>& candidates, DiceGenerator& dice) {
    if (soundList.empty()) return {-1, -1};
    const bool fromAll = candidates.empty();
    const uint32_t choices = static_cast<uint32_t>(fromAll ? soundList.size() : candidates.size());
    const auto choice = [&](uint32_t index) {
        return fromAll ? static_cast<int32_t>(index) : candidates[index];
    };
    const uint32_t first = dice.next() % choices;
    const int32_t a = choice(first);
    if (choices == 1) return {a, a};
    for (int attempt = 0; attempt < maxRedraws; ++attempt) {
        const int32_t b = choice(dice.next() % choices);
        if (b != a) return {a, b};
    }
    return {a, choice((first + 1) % choices)};
}

} // namespace tarvo
