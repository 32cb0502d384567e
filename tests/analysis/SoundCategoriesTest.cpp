#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "analysis/SoundCategories.h"

namespace tarvo {
namespace {

TEST(SoundCategories, CandidatesAreCaseInsensitiveSubstrings) {
    const std::vector<std::string> sounds = {
        "Kick Drums/one.blob", "Drums/Snare Rimshot.blob",
        "CYMBALS/Ride.blob",   "Vocal/ah.blob",
        "Bottom/thud.blob",    "sfx/zap.blob",
        "hihat 01.blob",       "Kick.blob",
        "Perc/ki.blob",        "Drums/Trim.blob",
        "vocals.blob",         "k",
    };
    struct Case {
        const char* word;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {
        {"kick", {0, 7}},  // a folder name makes every file below it a kick; short entries never match
        {"rim", {1, 9}},   // "Rimshot", and the plain substring "Trim"
        {"snare", {1}},    // one file can be in two categories
        {"ymbal", {2}},    // upper case paths
        {"ocal", {3, 10}}, // Vocal and vocals
        {"tom", {4}},      // "Bottom"
        {"fx", {5}},       // "sfx"
        {"hihat", {6}},    {"clap", {}}, {"KICK", {0, 7}}, // the word's case does not matter either
    };
    for (const Case& c : cases) EXPECT_EQ(candidatesFor(sounds, c.word), c.expected) << c.word;
}

TEST(SoundCategories, CategoryOfTrack) {
    DiceGenerator dice(1);
    for (int track = 0; track < 7; ++track) {
        const uint32_t before = dice.state();
        EXPECT_EQ(categoryOfTrack(track, dice), track);
        EXPECT_EQ(dice.state(), before) << "tracks 1 to 7 draw nothing";
    }
    std::set<int> seen;
    for (int roll = 0; roll < 60; ++roll) {
        DiceGenerator probe = dice;
        const int expected = 7 + static_cast<int>(probe.next() % 3);
        const int category = categoryOfTrack(7, dice);
        EXPECT_EQ(category, expected);
        EXPECT_EQ(dice.state(), probe.state()) << "track 8 draws exactly once";
        seen.insert(category);
    }
    EXPECT_EQ(seen, (std::set<int>{7, 8, 9}));
    EXPECT_EQ(categoryOfTrack(8, dice), -1);
    EXPECT_EQ(categoryOfTrack(-1, dice), -1);
}

TEST(SoundCategories, PickSoundPair) {
    const std::vector<std::string> five = {"a", "b", "c", "d", "e"};
    const std::vector<std::string> one = {"only"};
    struct Case {
        const char* name;
        const std::vector<std::string>* list;
        std::vector<int32_t> candidates;
        bool mustDiffer;
    };
    const Case cases[] = {
        {"two candidates", &five, {1, 3}, true},
        {"no candidates: whole list", &five, {}, true},
        {"one candidate", &five, {2}, false},
        {"one file, no candidates", &one, {}, false},
    };
    for (const Case& c : cases) {
        for (uint32_t seed = 0; seed < 200; ++seed) {
            DiceGenerator dice(seed);
            const auto [a, b] = pickSoundPair(*c.list, c.candidates, dice);
            const std::vector<int32_t> allowed =
                c.candidates.empty() ? std::vector<int32_t>{0, 1, 2, 3, 4} : c.candidates;
            ASSERT_LT(a, static_cast<int32_t>(c.list->size())) << c.name;
            ASSERT_NE(std::find(allowed.begin(), allowed.end(), a), allowed.end()) << c.name;
            ASSERT_NE(std::find(allowed.begin(), allowed.end(), b), allowed.end()) << c.name;
            if (c.mustDiffer)
                ASSERT_NE(a, b) << c.name << " seed " << seed;
            else
                ASSERT_EQ(a, b) << c.name;
        }
    }
    DiceGenerator dice(5);
    EXPECT_EQ(pickSoundPair({}, {}, dice), std::make_pair(-1, -1));
}

TEST(SoundCategories, FirstPickUsesTheFirstDraw) {
    const std::vector<std::string> list = {"a", "b", "c", "d", "e", "f", "g"};
    const std::vector<int32_t> candidates = {1, 4, 6};
    DiceGenerator dice(12345);
    DiceGenerator probe = dice;
    const auto [a, b] = pickSoundPair(list, candidates, dice);
    EXPECT_EQ(a, candidates[probe.next() % 3]);
    int32_t expectedB;
    do expectedB = candidates[probe.next() % 3];
    while (expectedB == a);
    EXPECT_EQ(b, expectedB);
    EXPECT_EQ(dice.state(), probe.state());
}

TEST(DiceGenerator, StepsAndNeverSticksAtZero) {
    DiceGenerator dice(1);
    uint32_t s = 1;
    s ^= s << 5;
    s ^= s >> 7;
    EXPECT_EQ(dice.next(), s);

    // A clock reading of 0 must still give a moving, non-zero sequence.
    DiceGenerator zero(0);
    std::set<uint32_t> values;
    for (int i = 0; i < 100; ++i) {
        const uint32_t v = zero.next();
        EXPECT_NE(v, 0u);
        values.insert(v);
    }
    EXPECT_EQ(values.size(), 100u);
    for (int i = 0; i < 1000; ++i) {
        const float u = zero.uniform();
        ASSERT_GE(u, 0.0f);
        ASSERT_LT(u, 1.0f);
    }
}

} // namespace
} // namespace tarvo
