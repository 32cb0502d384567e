// The Export MIDI drag: the file it writes and the drag it starts (a drop cannot happen
// without a display server and a target, so the drag itself is recorded).
#include "editor/MidiDrag.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "control/StepSequencer.h"
#include "persistence/MidiExport.h"

namespace tarvo {
namespace {

std::vector<uint8_t> bytesOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MidiDrag, WritesThePatternAndDragsThatFile) {
    StepSequencer seq;
    seq.insertNote(0, 0, 1024, 100);
    seq.insertNote(3, 2048, 512, 90);
    juce::Component source;
    juce::StringArray dragged;
    juce::Component* from = nullptr;
    const bool started = exportMidiDrag(seq, source, [&](const juce::StringArray& files, juce::Component& c) {
        dragged = files;
        from = &c;
        return true;
    });
    EXPECT_TRUE(started);
    ASSERT_EQ(dragged.size(), 1);
    EXPECT_EQ(from, &source);
    const std::filesystem::path file = dragged[0].toStdString();
    EXPECT_EQ(file, midiExportPath());
    EXPECT_EQ(file.filename(), "sequence_export.mid");
    // Without swing or randomisation the file is exactly the encoding of the pattern's events.
    EXPECT_EQ(bytesOf(file), encodeMidiFile(buildExportEvents(seq)));
    const std::vector<uint8_t> firstNote = {0x00, 0x90, 0x24, 0x64, 0x87, 0x7F, 0x80, 0x24, 0x40};
    const std::vector<uint8_t> written = bytesOf(file);
    EXPECT_NE(std::search(written.begin(), written.end(), firstNote.begin(), firstNote.end()), written.end());
}

TEST(MidiDrag, EachDragRewritesTheFile) {
    StepSequencer seq;
    juce::Component source;
    auto refuse = [](const juce::StringArray&, juce::Component&) { return false; };
    EXPECT_FALSE(exportMidiDrag(seq, source, refuse)) << "a drag the platform refuses is reported";
    EXPECT_EQ(bytesOf(midiExportPath()).size(), 46u) << "an empty pattern";
    seq.insertNote(1, 0, 1024, 100);
    exportMidiDrag(seq, source, refuse);
    EXPECT_GT(bytesOf(midiExportPath()).size(), 46u);
}

} // namespace
} // namespace tarvo
