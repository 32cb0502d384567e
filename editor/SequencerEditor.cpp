#include "editor/SequencerEditor.h"

#include <mutex>

#include "instrument/Ombrix.h"

namespace tarvo {

SequencerEditor::SequencerEditor() : Widget("sequencer", "Sequencer") {}

void SequencerEditor::tick() {
    EditorContext* owner = context();
    if (owner == nullptr) return;
    const int32_t changes = owner->instrument().sequencer.changeCount.load(std::memory_order_relaxed);
    const auto step = static_cast<int32_t>(owner->display().sequencerSteps);
    if (changes != shownChanges_ || step != shownStep_) {
        shownChanges_ = changes;
        shownStep_ = step;
        repaint();
    }
}

void SequencerEditor::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    g.setColour(colour("_bg"));
    g.fillRect(area);
    EditorContext* owner = context();
    if (owner == nullptr) return;
    StepSequencer& sequencer = owner->instrument().sequencer;
    const int tracks = sequencer.trackCount();
    const int steps = std::max(1, static_cast<int>(sequencer.loopSteps));
    const float rowHeight = area.getHeight() / static_cast<float>(std::max(1, tracks));
    const float stepWidth = area.getWidth() / static_cast<float>(steps);
    // The pattern is read under its lock; when the audio thread holds it, the grid waits for
    // the next frame.
    std::unique_lock<std::mutex> guard(sequencer.lock, std::try_to_lock);
    for (int t = 0; t < tracks; ++t) {
        const float y = area.getY() + rowHeight * static_cast<float>(tracks - 1 - t);
        const TrackPattern& pattern = sequencer.patterns[static_cast<size_t>(t)];
        const int length = std::clamp(static_cast<int>(pattern.length), 1, steps);
        for (int s = 0; s < steps; ++s) {
            const auto cell = juce::Rectangle<float>(area.getX() + stepWidth * static_cast<float>(s), y,
                                                     stepWidth, rowHeight)
                                  .reduced(1.0f);
            g.setColour(
                colour(s < length ? "_step_on" : "_step_off").withMultipliedAlpha(s % 4 == 0 ? 1.0f : 0.7f));
            g.fillRect(cell);
        }
        if (!guard.owns_lock()) continue;
        const juce::Colour ink = toJuce(style().colorOf("track" + std::to_string(t + 1)));
        for (const SeqNote& note : pattern.notes) {
            const float x =
                area.getX() + stepWidth * static_cast<float>(note.start) / StepSequencer::ticksPerStep;
            const float w = stepWidth * static_cast<float>(note.length) / StepSequencer::ticksPerStep;
            const float h = (rowHeight - 4.0f) * (0.3f + 0.7f * static_cast<float>(note.velocity) / 127.0f);
            g.setColour(ink);
            g.fillRoundedRectangle(x + 1.0f, y + rowHeight - 2.0f - h, std::max(2.0f, w - 2.0f), h, 2.0f);
        }
    }
    const double position = owner->display().sequencerSteps;
    if (owner->display().playing != 0) {
        g.setColour(juce::Colours::white.withAlpha(0.5f));
        const float x = area.getX() + stepWidth * static_cast<float>(std::fmod(position, steps));
        g.drawVerticalLine(juce::roundToInt(x), area.getY(), area.getBottom());
    }
}

} // namespace tarvo
