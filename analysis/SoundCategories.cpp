#include "analysis/SoundCategories.h"

#include <cctype>

namespace tarvo {

namespace {

// Draws pickSoundPair tries for a second, different sound before it takes the next choice
// after A instead; with two or more choices a fair generator needs a handful at most.
constexpr int maxRedraws = 1000;

std::string lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

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
