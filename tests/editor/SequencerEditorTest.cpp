// The sequencer grid driven by mouse events as JUCE delivers them.
#include "editor/SequencerEditor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "editor/WidgetHarness.h"

namespace tarvo {
namespace {

// The grid at its place in the Sequence view: cells of 38 × 58 pixels.
class SequencerEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor = &harness.place(std::make_unique<SequencerEditor>(), {140, 74, 646, 464});
        ASSERT_NE(editor->grid(), nullptr);
    }
    StepSequencer& seq() { return harness.instrument().sequencer; }
    std::vector<SeqNote>& notes(int track) { return seq().patterns[static_cast<size_t>(track)].notes; }
    juce::Point<float> at(int track, float step) const { return {step * 38.0f, (7 - track) * 58.0f + 29.0f}; }
    void press(juce::Point<float> p, int64_t ms) {
        editor->mouseMove(mouseEvent(*editor, p, ms, {}));
        editor->mouseDown(mouseEvent(*editor, p, ms));
    }
    void dragTo(juce::Point<float> p, int64_t ms) { editor->mouseDrag(mouseEvent(*editor, p, ms)); }
    void release(juce::Point<float> p, int64_t ms) { editor->mouseUp(mouseEvent(*editor, p, ms, {})); }
    void click(juce::Point<float> p, int64_t ms, int64_t held) {
        press(p, ms);
        release(p, ms + held);
    }

    WidgetHarness harness;
    SequencerEditor* editor = nullptr;
};

TEST_F(SequencerEditorTest, ClicksAddNotesAndQuickClicksOnNotesDeleteThem) {
    click(at(0, 3.5f), 0, 100);
    ASSERT_EQ(notes(0).size(), 1u);
    EXPECT_EQ(notes(0)[0].start, 3072);
    EXPECT_EQ(notes(0)[0].length, 1024);
    EXPECT_EQ(notes(0)[0].velocity, 100);

    click(at(0, 3.3f), 1000, 400);
    EXPECT_EQ(notes(0).size(), 1u) << "held too long";
    click(at(0, 3.3f), 2000, 100);
    EXPECT_TRUE(notes(0).empty()) << "a quick click deletes";

    click(at(0, 16.0f), 3000, 100);
    EXPECT_TRUE(notes(0).empty()) << "the pattern's very end";
}

TEST_F(SequencerEditorTest, DraggingResizesMovesAndChangesVelocity) {
    seq().insertNote(4, 2048, 1024, 100);
    seq().insertNote(4, 5120, 1024, 100);
    press(at(4, 2.8f), 0);
    dragTo(at(4, 2.8f) + juce::Point<float>(50, 0), 50);
    EXPECT_EQ(notes(4)[0].length, 1536);
    dragTo(at(4, 2.8f) + juce::Point<float>(800, 0), 100);
    EXPECT_EQ(notes(4)[0].length, 3072) << "stops at the next note";
    release(at(4, 2.8f), 2000);
    EXPECT_EQ(notes(4).size(), 2u) << "a press that moved deletes nothing";

    press(at(4, 5.2f), 3000);
    dragTo(at(4, 5.2f) + juce::Point<float>(0, -10), 3050);
    EXPECT_EQ(notes(4)[1].velocity, 120);
    dragTo(at(4, 5.2f) + juce::Point<float>(-100, -10), 3100);
    EXPECT_EQ(notes(4)[1].start, 5120) << "the first note already reaches it";
    release(at(4, 5.2f), 5000);
}

TEST_F(SequencerEditorTest, PresetNotesThatOverlapStayInOrderWhenDragged) {
    // A pattern as a damaged or foreign preset may hold it: the second note inside the first.
    notes(2) = {{0, 3072, 100, 2}, {1024, 1024, 100, 2}, {1100, 20, 100, 2}};
    press(at(2, 0.5f), 0);
    for (float dx : {-60.0f, 60.0f, 400.0f, -400.0f}) dragTo(at(2, 0.5f) + juce::Point<float>(dx, 0), 100);
    release(at(2, 0.5f), 1000);
    EXPECT_EQ(notes(2)[0].start, 0);
    for (size_t i = 0; i + 1 < notes(2).size(); ++i) EXPECT_LE(notes(2)[i].start, notes(2)[i + 1].start);
    const juce::Image drawn = paintWidget(*editor); // painting such a pattern is safe too
    EXPECT_EQ(drawn.getWidth(), 646);
}

TEST_F(SequencerEditorTest, TheLengthHandleAndTheMenu) {
    seq().patterns[6].length = 8;
    press(at(6, 8.2f), 0);
    dragTo(at(6, 8.2f) + juce::Point<float>(5000, 0), 100);
    EXPECT_EQ(seq().patterns[6].length, 16);
    dragTo(at(6, 8.2f) + juce::Point<float>(-5000, 0), 200);
    EXPECT_EQ(seq().patterns[6].length, 1);
    release(at(6, 8.2f), 300);

    seq().insertNote(6, 0, 1024, 100);
    seq().insertNote(1, 0, 1024, 100);
    // The menu is read and answered here instead of being shown.
    juce::StringArray items;
    std::function<void(int)> answer;
    editor->setMenuShower([&](const juce::PopupMenu& menu, std::function<void(int)> chosen) {
        items.clear();
        for (juce::PopupMenu::MenuItemIterator it(menu); it.next();) items.add(it.getItem().text);
        answer = std::move(chosen);
    });
    editor->mouseDown(mouseEvent(*editor, at(6, 4.0f), 400, juce::ModifierKeys::rightButtonModifier));
    EXPECT_EQ(items, juce::StringArray({"Clear Track 7", "Clear All"}));
    answer(1);
    EXPECT_TRUE(notes(6).empty());
    EXPECT_EQ(seq().patterns[6].length, 16);
    EXPECT_EQ(notes(1).size(), 1u);
    editor->mouseDown(mouseEvent(*editor, at(1, 4.0f), 500, juce::ModifierKeys::rightButtonModifier));
    EXPECT_EQ(items, juce::StringArray({"Clear Track 2", "Clear All"}));
    answer(0);
    EXPECT_EQ(notes(1).size(), 1u) << "the menu dismissed";
    answer(2);
    EXPECT_TRUE(notes(1).empty());
}

TEST_F(SequencerEditorTest, NotesAreDrawnInTheirTracksRowAndColour) {
    Ombrix& ombrix = harness.instrument();
    ombrix.engine.tracks[0].blobs.slotA.working.clear();
    ombrix.engine.tracks[0].blobs.slotB.working.clear();
    seq().insertNote(0, 4096, 2048, 127);
    editor->tick();
    const juce::Image drawn = paintWidget(*editor);
    const juce::Colour ink = toJuce(Widget::builtInStyle().colorOf("track1"));
    // Track 1's row is the bottom one; its note covers steps 4 and 5.
    auto inkyPixels = [&](int fromX, int toX, int fromY, int toY) {
        int count = 0;
        for (int y = fromY; y < toY; ++y)
            for (int x = fromX; x < toX; ++x) {
                const juce::Colour c = drawn.getPixelAt(x, y);
                count += std::abs(c.getHue() - ink.getHue()) < 0.05f && c.getSaturation() > 0.2f;
            }
        return count;
    };
    EXPECT_GT(inkyPixels(4 * 38, 6 * 38, 7 * 58, 8 * 58), 200);
    EXPECT_EQ(inkyPixels(0, 4 * 38, 7 * 58, 8 * 58), 0) << "nothing before the note";
    EXPECT_EQ(inkyPixels(0, 646, 0, 5 * 58), 0) << "nothing in the rows of other tracks";
}

} // namespace
} // namespace tarvo
