#include "persistence/MidiExport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "support/ScopedHome.h"

namespace tarvo {
namespace {

constexpr int step = StepSequencer::ticksPerStep;

// One note event as a receiving program sees it: absolute tick, status, note, velocity.
struct Heard {
    int tick;
    int status;
    int note;
    int velocity;
    bool operator==(const Heard&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Heard& h) {
    return out << "{" << h.tick << ", " << std::hex << h.status << std::dec << ", " << h.note << ", "
               << h.velocity << "}";
}

// Decodes the note events of a file written by encodeMidiFile (after its 22-byte meta prefix).
std::vector<Heard> decode(const std::vector<uint8_t>& file) {
    constexpr size_t eventsStart = 14 + 8 + 20;
    std::vector<Heard> out;
    size_t at = eventsStart;
    int tick = 0;
    while (at + 4 < file.size()) {
        int delta = 0;
        while (file[at] & 0x80) delta = (delta << 7) | (file[at++] & 0x7F);
        delta = (delta << 7) | file[at++];
        tick += delta;
        out.push_back({tick, file[at], file[at + 1], file[at + 2]});
        at += 3;
    }
    return out;
}

// A sequencer with no randomisation and no swing unless a test sets them.
struct ExportFixture : ::testing::Test {
    StepSequencer seq;
    void SetUp() override {
        SharedRandom::seed(SharedRandom::initialState);
        seq.param(StepSequencer::paramSwing).set(0.0f);
        seq.param(StepSequencer::paramLooseTime).set(0.0f);
        seq.param(StepSequencer::paramLooseVelo).set(0.0f);
    }
    void note(int track, int start, int length, int velocity = 100) {
        seq.patterns[static_cast<size_t>(track)].notes.push_back(
            {static_cast<uint16_t>(start), static_cast<uint16_t>(length), static_cast<uint8_t>(velocity),
             static_cast<uint8_t>(track)});
    }
    std::vector<Heard> heard() { return decode(encodeMidiFile(buildExportEvents(seq))); }
};

TEST_F(ExportFixture, AnEmptyPatternGivesTheBare46ByteFile) {
    const std::vector<uint8_t> expected = {
        'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    0,    0,    1,    0x10, 0x00, 'M', 'T',
        'r',  'k',  0,    0,    0,    24,   0x00, 0xFF, 0x03, 0x00, 0x00, 0xFF, 0x58, 0x04, 4,   2,
        0x24, 0x08, 0x00, 0xFF, 0x58, 0x04, 4,    2,    0x24, 0x08, 0x00, 0xFF, 0x2F, 0x00};
    EXPECT_EQ(encodeMidiFile(buildExportEvents(seq)), expected);
}

TEST_F(ExportFixture, OneNoteGivesItsOnAndOffBytes) {
    note(0, 0, 1024, 100);
    const std::vector<uint8_t> file = encodeMidiFile(buildExportEvents(seq));
    ASSERT_EQ(file.size(), 46u + 9u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 18, file.begin() + 22),
              (std::vector<uint8_t>{0, 0, 0, 24 + 9}));
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 42, file.begin() + 51),
              (std::vector<uint8_t>{0x00, 0x90, 0x24, 0x64, 0x87, 0x7F, 0x80, 0x24, 0x40}));
    EXPECT_EQ(std::vector<uint8_t>(file.end() - 4, file.end()),
              (std::vector<uint8_t>{0x00, 0xFF, 0x2F, 0x00}));
}

TEST_F(ExportFixture, SwingPushesOddStepsAndLeavesEvenOnes) {
    seq.param(StepSequencer::paramSwing).set(50.0f);
    struct Case {
        int start, swungTick;
    };
    const Case cases[] = {{step, 1536}, {2 * step, 2048}, {3 * step, 3584}, {step / 2, 768}, {0, 0}};
    for (const Case& c : cases) {
        seq.patterns[0].notes.clear();
        note(0, c.start, 100);
        const std::vector<ExportEvent> events = buildExportEvents(seq);
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].tick, c.swungTick) << c.start;
    }
}

TEST_F(ExportFixture, EqualTicksKeepTrackOrderAndAppendedOrder) {
    note(2, step, 100, 30);
    note(1, step, 100, 20);
    note(0, 0, step + 1, 10); // its note-off lands on tick 1024 too
    EXPECT_EQ(heard(), (std::vector<Heard>{{0, 0x90, 36, 10},
                                           {1024, 0x80, 36, 64},
                                           {1024, 0x90, 37, 20},
                                           {1024, 0x90, 38, 30},
                                           {1123, 0x80, 37, 64},
                                           {1123, 0x80, 38, 64}}));
}

TEST_F(ExportFixture, ANoteOffRunningIntoTheNextNoteMovesBackToItsStart) {
    seq.param(StepSequencer::paramSwing).set(50.0f);
    note(0, step, step);     // swung to 1536, would end at 2559
    note(0, 2 * step, step); // stays at 2048
    EXPECT_EQ(heard(),
              (std::vector<Heard>{
                  {1536, 0x90, 36, 100}, {2048, 0x80, 36, 64}, {2048, 0x90, 36, 100}, {3071, 0x80, 36, 64}}));
}

TEST_F(ExportFixture, ShorterTracksAreNotRepeated) {
    seq.patterns[0].length = 4;
    note(0, 0, 512);
    seq.patterns[1].length = 16;
    note(1, 8 * step, 512);
    EXPECT_EQ(heard(), (std::vector<Heard>{{0, 0x90, 36, 100},
                                           {511, 0x80, 36, 64},
                                           {8 * step, 0x90, 37, 100},
                                           {8 * step + 511, 0x80, 37, 64}}));
}

TEST_F(ExportFixture, RandomisationDrawsTwoNumbersPerNoteAndVaries) {
    seq.param(StepSequencer::paramLooseTime).set(100.0f);
    seq.param(StepSequencer::paramLooseVelo).set(100.0f);
    for (int s = 0; s < 16; ++s) note(s % 8, s * step, 200, 120);

    SharedRandom::seed(777);
    const std::vector<uint8_t> first = encodeMidiFile(buildExportEvents(seq));
    const uint32_t after = SharedRandom::next();
    SharedRandom::seed(777);
    for (int i = 0; i < 2 * 16; ++i) SharedRandom::next();
    EXPECT_EQ(SharedRandom::next(), after);

    const std::vector<uint8_t> second = encodeMidiFile(buildExportEvents(seq));
    EXPECT_NE(first, second);
    for (const Heard& h : decode(second)) {
        if (h.status == 0x90) {
            EXPECT_TRUE(h.velocity >= 70 && h.velocity <= 127) << h.velocity;
        }
    }
}

TEST_F(ExportFixture, EarlyJitterNeverWrapsANoteToTheEndOfTheFile) {
    // A note just after the pattern start can be drawn earlier than tick 0; it must start at
    // 0 rather than wrap round to a tick near 65535.
    seq.param(StepSequencer::paramLooseTime).set(100.0f);
    note(0, 40, 100);
    note(0, 4 * step, 100);
    bool sawClamp = false;
    for (uint32_t seed = 1; seed <= 64; ++seed) {
        SharedRandom::seed(seed);
        const std::vector<ExportEvent> events = buildExportEvents(seq);
        ASSERT_EQ(events.size(), 4u);
        EXPECT_LT(events[0].tick, step) << seed;
        EXPECT_LE(events[3].tick, 5 * step) << seed;
        sawClamp = sawClamp || events[0].tick == 0;
    }
    EXPECT_TRUE(sawClamp);
}

TEST_F(ExportFixture, ExportWritesTheFileInTheDataFolder) {
    test::ScopedHome home;
    note(3, 0, 1024, 90);
    SharedRandom::seed(SharedRandom::initialState);
    const std::filesystem::path path = exportMidi(seq);
    EXPECT_EQ(path, home.path() / "Tarvo Data" / "sequence_export.mid");
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    SharedRandom::seed(SharedRandom::initialState);
    EXPECT_EQ(written, encodeMidiFile(buildExportEvents(seq)));
    EXPECT_EQ(decode(written).front(), (Heard{0, 0x90, 39, 90}));
}

} // namespace
} // namespace tarvo
