#pragma once
// Sound categories for random kits. Tarvo stores no category anywhere: a sound belongs to a
// category when its path inside the sounds folder (folder names included) contains the
// category's match word, whatever the letter case. Users classify sounds by naming files
// and folders; the dice are the only users of categories.
//
// User-interface thread (or a tool); allocates.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis/DiceGenerator.h"

namespace tarvo {

// Match words in lower case; vocals and cymbals lack their first letter so that "Vocal",
// "vocals", "Cymbal" and "cymbals" all match. Tracks 1 to 7 use entries 0 to 6, track 8 one
// of the last three.
inline constexpr std::array<const char*, 10> soundCategories = {
    "kick", "rim", "snare", "clap", "percussion", "tom", "hihat", "ocal", "ymbal", "fx"};

// Index into soundCategories for track index 0..7. Track index 7 draws once from dice to
// choose vocals, cymbals or effects; the others draw nothing. Other indices give -1.
int categoryOfTrack(int track, DiceGenerator& dice);

// Positions, ascending, of the entries of soundList that contain word (letter case ignored).
std::vector<int32_t> candidatesFor(const std::vector<std::string>& soundList, const std::string& word);

// Positions in soundList of the sounds for slots A and B, drawn from the candidates or, when
// there are none, from the whole list. B differs from A whenever two choices exist; with only
// one, B gets the same sound. An empty soundList gives {-1, -1}.
std::pair<int32_t, int32_t> pickSoundPair(const std::vector<std::string>& soundList,
                                          const std::vector<int32_t>& candidates, DiceGenerator& dice);

} // namespace tarvo
