#include "editor/SequencerEditor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "control/ParamLayout.h"
#include "control/TrackMixer.h"
#include "editor/WaveButton.h"
#include "engine/CanonicalPlane.h"
#include "instrument/Ombrix.h"

namespace tarvo {

namespace {

// Outline values below this count as silence: trailing ones are dropped, and the drawn
// height is measured from it.
constexpr float silentValue = 0.02f;
// Room left between a note's sound and the next note, in pixels.
constexpr float noteSpacing = 2.0f;
// Note heights leave this much of the row free.
constexpr float rowHeadroom = 4.0f;
// Least drawn height of a note, in pixels.
constexpr float minNoteHeight = 2.0f;
// A note's alpha is scaled by this when it starts past the pattern's end or its track is
// silenced.
constexpr float faded = 0.3f;
// Alpha of the notes' fill: base, and how much the hovered row takes off.
constexpr float fillAlpha = 0.8f;
constexpr float fillAlphaHovered = 0.6f;
// Alpha of steps past the pattern's end.
constexpr float pastEndAlpha = 0.2f;
// Brightening of the hovered row's steps.
constexpr int hoveredRowLift = 10;
// Shortest release fade, seconds, so that a release of 0 still fades over a few pixels.
constexpr float releaseFadeFloor = 0.1f;
// Velocity bar and note handles, pixels.
constexpr float velocityBarWidth = 3.0f;
constexpr float handleWidth = 3.0f;
constexpr float handleInset = 3.0f;
constexpr float handleLineWidth = 1.2f;
constexpr uint8_t handleAlphaPressed = 228, handleAlphaIdle = 128;
// The length handle's bar beyond a pattern's end.
constexpr float resizerWidth = 3.0f;
// Menu item ids.
constexpr int clearTrackItem = 1, clearAllItem = 2;

float shown(const Param& p) {
    return p.shownModulated == 1 ? p.shownValue.load() : p.value.load();
}

double secondsOf(const juce::MouseEvent& e) {
    return static_cast<double>(e.eventTime.toMilliseconds()) * 0.001;
}

} // namespace

bool SequencerEditor::TrackLook::operator==(const TrackLook& other) const {
    auto sameNote = [](const SeqNote& a, const SeqNote& b) {
        return a.start == b.start && a.length == b.length && a.velocity == b.velocity;
    };
    return level == other.level && timescale == other.timescale && dynamics == other.dynamics &&
           release == other.release && dim == other.dim && playStep == other.playStep &&
           length == other.length && highlight == other.highlight &&
           std::equal(notes.begin(), notes.end(), other.notes.begin(), other.notes.end(), sameNote);
}

SequencerEditor::SequencerEditor()
    : Widget("sequencer", "Sequencer"),
      showMenu_([](const juce::PopupMenu& menu, std::function<void(int)> chosen) {
          juce::PopupMenu(menu).showMenuAsync(juce::PopupMenu::Options().withMousePosition(),
                                              std::move(chosen));
      }) {
    for (TrackLook& look : looks_) look.notes.reserve(StepSequencer::defaultReserveNotes);
}

SequencerEditor::~SequencerEditor() = default;

SequencerGrid* SequencerEditor::grid() {
    if (grid_ == nullptr) {
        EditorContext* owner = context();
        if (owner == nullptr) return nullptr;
        grid_ = std::make_unique<SequencerGrid>(owner->instrument().sequencer);
        resized();
    }
    return grid_.get();
}

void SequencerEditor::resized() {
    if (grid_ != nullptr)
        grid_->setBounds(0.0f, 0.0f, static_cast<float>(getWidth()), static_cast<float>(getHeight()));
}

juce::Colour SequencerEditor::trackColour(int track) const {
    return toJuce(style().colorOf("track" + std::to_string(track + 1)));
}

bool SequencerEditor::follow(double now) {
    EditorContext* owner = context();
    SequencerGrid* g = grid();
    if (owner == nullptr || g == nullptr) return false;
    Ombrix& ombrix = owner->instrument();
    BandSynth& engine = ombrix.engine;
    StepSequencer& sequencer = ombrix.sequencer;
    const float elapsed = lastTick_ < 0.0 ? 0.0f : static_cast<float>(now - lastTick_);
    lastTick_ = now;

    bool changed = false;
    const float bpm = sequencer.param(StepSequencer::paramBpm).effective();
    changed |= bpm != bpm_;
    bpm_ = bpm;
    const int mutes = engine.muteMask.load(std::memory_order_relaxed);
    const int solo = engine.soloTrack.load(std::memory_order_relaxed);
    // Every change of the pattern counts; only then is it copied, briefly under the lock, so
    // painting never holds the lock from the audio thread.
    const int32_t changes = sequencer.changeCount.load(std::memory_order_relaxed);
    const bool patternChanged = changes != shownChanges_;
    shownChanges_ = changes;
    for (int t = 0; t < trackCount && t < sequencer.trackCount(); ++t) {
        TrackLook next = looks_[static_cast<size_t>(t)];
        if (patternChanged) {
            std::lock_guard<std::mutex> guard(sequencer.lock);
            const TrackPattern& pattern = sequencer.patterns[static_cast<size_t>(t)];
            next.notes.assign(pattern.notes.begin(), pattern.notes.end());
            next.length = pattern.length;
        }
        const int base = t * ParamLayout::trackStride;
        next.level = std::max(shown(engine.param(base + trackAmp)), 0.0f);
        next.timescale = shown(engine.param(base + trackTimescale));
        next.dynamics = shown(engine.param(base + trackDynamics)) / 100.0f;
        next.release = shown(engine.param(base + trackRelease));
        next.dim = trackMuted(t, mutes, solo);
        next.playStep =
            owner->display().tracks[static_cast<size_t>(t)].sequencerPosition / StepSequencer::ticksPerStep;
        const float target = t == g->hoveredTrack() ? 1.0f : 0.0f;
        const float step = highlightRate * elapsed;
        next.highlight = next.highlight < target ? std::min(next.highlight + step, target)
                                                 : std::max(next.highlight - step, target);
        changed |= refreshTrackOutline(outlines_[static_cast<size_t>(t)], engine, t, style(), now);
        if (!(next == looks_[static_cast<size_t>(t)])) {
            looks_[static_cast<size_t>(t)] = std::move(next);
            changed = true;
        }
    }
    return changed;
}

void SequencerEditor::tick() {
    if (follow(editorSeconds())) repaint();
}

void SequencerEditor::paint(juce::Graphics& g) {
    const float cellWidth = static_cast<float>(getWidth()) / SequencerGrid::columns;
    const float rowHeight = static_cast<float>(getHeight()) / SequencerGrid::rows;
    const juce::Colour background = colour("_bg");
    if (background.getAlpha() > 0) {
        g.setColour(background);
        g.fillRect(0.0f, 0.0f, cellWidth * StepSequencer::defaultLoopSteps, static_cast<float>(getHeight()));
    }
    const int hovered = grid_ != nullptr ? grid_->hoveredTrack() : -1;
    const ArgbColour stepOn = style().colorOf(styleId() + "_step_on");
    const ArgbColour stepOff = style().colorOf(styleId() + "_step_off");
    for (int t = 0; t < trackCount; ++t) {
        const TrackLook& look = looks_[static_cast<size_t>(t)];
        const float top = (SequencerGrid::rows - 1 - t) * rowHeight;
        const ArgbColour off = t == hovered ? brightened(stepOff, hoveredRowLift) : stepOff;
        for (int s = 0; s < StepSequencer::defaultLoopSteps; ++s) {
            ArgbColour c = s == look.playStep ? stepOn : off;
            if (s >= look.length) c = scaledAlpha(c, pastEndAlpha);
            const float x = s * cellWidth;
            const float w = cellWidth - columnGap - (s % 4 == 3 ? beatGap : 0.0f);
            g.setColour(toJuce(c));
            g.fillRect(x, top, w, rowHeight - rowGap);
        }
    }
    for (int t = 0; t < trackCount; ++t) paintTrack(g, t);
}

void SequencerEditor::paintTrack(juce::Graphics& g, int track) const {
    const TrackLook& look = looks_[static_cast<size_t>(track)];
    const float cellWidth = static_cast<float>(getWidth()) / SequencerGrid::columns;
    const float rowHeight = static_cast<float>(getHeight()) / SequencerGrid::rows;
    const float top = (SequencerGrid::rows - 1 - track) * rowHeight;
    const float base = top + rowHeight - rowGap;
    const float usable = rowHeight - rowGap - rowHeadroom;
    const juce::Colour ink = trackColour(track);
    const bool hoveredTrack = grid_ != nullptr && grid_->hoveredTrack() == track;
    const int patternEnd = look.length * StepSequencer::ticksPerStep;
    for (size_t i = 0; i < look.notes.size(); ++i) {
        const SeqNote& note = look.notes[i];
        const float alpha = (note.start >= patternEnd ? faded : 1.0f) * (look.dim ? faded : 1.0f);
        paintNoteShape(g, track, i, alpha);
        const float x0 = note.start * cellWidth / StepSequencer::ticksPerStep;
        const float w = note.length * cellWidth / StepSequencer::ticksPerStep;
        if (look.highlight > 0.0f) {
            g.setColour(ink.withMultipliedAlpha(alpha * look.highlight));
            g.drawRect(juce::Rectangle<float>(x0 + 0.5f, top, std::max(w - 2.0f, 0.0f), rowHeight), 1.0f);
            const float bar = usable * note.velocity / 127.0f + minNoteHeight;
            g.fillRect(x0 + 0.5f, base - bar, velocityBarWidth, bar);
        }
        if (hoveredTrack && grid_->hoveredNote() == static_cast<int>(i)) {
            const uint8_t a = grid_->pressed() ? handleAlphaPressed : handleAlphaIdle;
            const float hx = grid_->onNoteEnd() ? x0 + w - handleWidth - 1.0f : x0 + 1.0f;
            const juce::Rectangle<float> handle(hx, top + handleInset, handleWidth,
                                                rowHeight - 2.0f * handleInset);
            g.setColour(juce::Colours::white.withAlpha(a));
            g.fillRect(handle);
            g.setColour(juce::Colours::black.withAlpha(a));
            g.drawRect(handle, handleLineWidth);
        }
    }
    if (hoveredTrack && grid_->pastPatternEnd()) {
        g.setColour(colour("_resizer"));
        g.fillRect(look.length * cellWidth - resizerWidth / 2, top, resizerWidth, rowHeight - rowGap);
    }
}

void SequencerEditor::paintNoteShape(juce::Graphics& g, int track, size_t index, float alpha) const {
    const BlobOutline& picture = outlines_[static_cast<size_t>(track)];
    const int m = picture.size();
    if (m < 2) return;
    const TrackLook& look = looks_[static_cast<size_t>(track)];
    const SeqNote& note = look.notes[index];
    const float cellWidth = static_cast<float>(getWidth()) / SequencerGrid::columns;
    const float rowHeight = static_cast<float>(getHeight()) / SequencerGrid::rows;
    const float base = static_cast<float>(SequencerGrid::rows - track) * rowHeight - rowGap;
    const float usable = rowHeight - rowGap - rowHeadroom;
    const float x0 = note.start * cellWidth / StepSequencer::ticksPerStep;
    const float noteEnd = x0 + note.length * cellWidth / StepSequencer::ticksPerStep;

    // Pixels per second at the sequencer's tempo, and per second of the sound.
    const float pixelsPerSecond = bpm_ * 4.0f / 60.0f * cellWidth;
    const float soundPixels = std::max(pixelsPerSecond * look.timescale, 1e-3f);
    const bool followed = index + 1 < look.notes.size();
    const float limit =
        followed ? look.notes[index + 1].start * cellWidth / StepSequencer::ticksPerStep - noteSpacing
                 : std::numeric_limits<float>::max();
    const float height =
        std::pow(note.velocity / 127.0f, look.dynamics) * usable * look.level + minNoteHeight;
    const float softLimit = rowHeight - rowGap;
    auto pointAt = [&](float x, float value) {
        const float fade =
            1.0f -
            std::clamp((x - noteEnd) / (pixelsPerSecond * look.release + releaseFadeFloor), 0.0f, 1.0f);
        const float a = fade * fade * height * (value - silentValue);
        return juce::Point<float>(x, base - 2.0f * a / (std::fabs(a) / softLimit + 1.0f));
    };

    int kept = m;
    while (kept > 0 && picture[kept - 1] < silentValue) --kept;
    std::vector<juce::Point<float>> points;
    points.reserve(static_cast<size_t>(kept) + 3);
    points.emplace_back(x0, base);
    float previous = x0;
    for (int k = 0; k <= kept; ++k) {
        const double frames = plane::unwarpTime(plane::frameCount * (k + 0.5) / m);
        float x =
            std::max(x0 + static_cast<float>(frames / plane::framesPerSecond) * soundPixels, previous + 1.0f);
        if (x >= limit) {
            // The sound is cut where the next note starts: the value reached there.
            const double reached = std::max((limit - x0) / soundPixels * plane::framesPerSecond, 0.0);
            const double at =
                std::clamp(plane::warpTime(reached) * m / plane::frameCount - 0.5, 0.0, m - 1.001);
            const int i = static_cast<int>(at);
            const float f = static_cast<float>(at - i);
            points.push_back(pointAt(limit, (1.0f - f) * picture[i] + f * picture[i + 1]));
            break;
        }
        points.push_back(pointAt(x, k < m ? picture[k] : 0.0f));
        previous = x;
    }
    points.emplace_back(points.back().x, base + 2.0f);

    // Catmull-Rom smoothing through the points; the first starts straight up.
    juce::Path shape;
    shape.startNewSubPath(points[0]);
    const size_t count = points.size();
    for (size_t i = 0; i + 1 < count; ++i) {
        const juce::Point<float> from = points[i], to = points[i + 1];
        const juce::Point<float> startTangent =
            i == 0 ? juce::Point<float>(0.0f, to.y - from.y) : to - points[i - 1];
        const juce::Point<float> endTangent = i + 2 < count ? points[i + 2] - from : to - from;
        juce::Point<float> c1 = from + startTangent / 6.0f, c2 = to - endTangent / 6.0f;
        c1.x = std::min(c1.x, limit);
        c2.x = std::min(c2.x, limit);
        shape.cubicTo(c1, c2, to);
    }
    shape.closeSubPath();

    juce::Graphics::ScopedSaveState saved(g);
    g.reduceClipRegion(juce::Rectangle<float>(x0, 0.0f, std::max(look.length * cellWidth - x0, 0.0f), base)
                           .getSmallestIntegerContainer());
    g.setColour(
        trackColour(track).withMultipliedAlpha((fillAlpha - fillAlphaHovered * look.highlight) * alpha));
    g.fillPath(shape);
}

void SequencerEditor::mouseMove(const juce::MouseEvent& e) {
    if (SequencerGrid* g = grid(); g != nullptr && g->hover(e.position.x, e.position.y)) repaint();
}

void SequencerEditor::mouseExit(const juce::MouseEvent&) {
    if (SequencerGrid* g = grid(); g != nullptr && g->leave()) repaint();
}

void SequencerEditor::mouseDown(const juce::MouseEvent& e) {
    SequencerGrid* g = grid();
    if (g == nullptr) return;
    if (e.mods.isPopupMenu()) {
        g->hover(e.position.x, e.position.y);
        menuTrack_ = g->hoveredTrack();
        juce::PopupMenu menu;
        if (menuTrack_ >= 0 && menuTrack_ < trackCount)
            menu.addItem(clearTrackItem, "Clear Track " + juce::String(menuTrack_ + 1));
        menu.addItem(clearAllItem, "Clear All");
        juce::Component::SafePointer<SequencerEditor> self(this);
        showMenu_(menu, [self](int item) {
            if (self != nullptr) self->menuChosen(item);
        });
        return;
    }
    if (!e.mods.isLeftButtonDown()) return;
    g->press(e.position.x, e.position.y, secondsOf(e));
    lastDrag_ = e.position;
    tick();
    repaint();
}

void SequencerEditor::mouseDrag(const juce::MouseEvent& e) {
    SequencerGrid* g = grid();
    if (g == nullptr || !g->pressed()) return;
    const juce::Point<float> delta = e.position - lastDrag_;
    lastDrag_ = e.position;
    if (g->drag(delta.x, delta.y)) tick();
    repaint();
}

void SequencerEditor::mouseUp(const juce::MouseEvent& e) {
    SequencerGrid* g = grid();
    if (g == nullptr || !g->pressed()) return;
    g->release(secondsOf(e));
    tick();
    repaint();
}

void SequencerEditor::menuChosen(int item) {
    SequencerGrid* g = grid();
    if (g != nullptr && item == clearTrackItem && menuTrack_ >= 0) g->clearTrack(menuTrack_);
    if (g != nullptr && item == clearAllItem) g->clearAll();
    tick();
    repaint();
}

} // namespace tarvo
