#include "editor/CurveEditors.h"

#include <algorithm>
#include <cmath>

#include "control/ParamLayout.h"
#include "instrument/Ombrix.h"

namespace tarvo {

namespace {

// Horizontal step of the drawn curves, pixels.
constexpr float curveStep = 2.0f;
constexpr float curveLineWidth = 1.5f;
constexpr float gridLineWidth = 1.2f;
// The curve's line is fainter while the mouse is elsewhere: by `<id>_off_alpha` (this when
// absent), and a wave editor's stroke by a further factor.
constexpr float defaultOffAlpha = 0.7f;
constexpr float waveOffStroke = 0.7f;
// Handles and markers, pixels.
constexpr float handleRadius = 3.0f;
constexpr float pointSquare = 6.0f;
constexpr float pointCentre = 4.0f;
// Grid divisions and fill base level of the two wave editor kinds.
struct WaveLook {
    const char* styleId;
    const char* help;
    int divisionsX, divisionsY;
    float baseLevel;
    bool editable;
};
constexpr WaveLook velocityLook{"velocityEditor", "Velocity Curve", 2, 2, 0.0f, false};
constexpr WaveLook lfoLook{"envEditor", "LFO Editor", 4, 2, 0.5f, true};

const WaveLook& lookOf(WaveEditor::Kind kind) {
    return kind == WaveEditor::Kind::velocity ? velocityLook : lfoLook;
}

void drawHandle(juce::Graphics& g, PlotPoint p) {
    g.fillEllipse(p.x - handleRadius, p.y - handleRadius, 2 * handleRadius, 2 * handleRadius);
}

void drawPoint(juce::Graphics& g, PlotPoint p, juce::Colour line, juce::Colour background) {
    g.setColour(line);
    g.fillRect(p.x - pointSquare / 2, p.y - pointSquare / 2, pointSquare, pointSquare);
    g.setColour(background);
    g.fillRect(p.x - pointCentre / 2, p.y - pointCentre / 2, pointCentre, pointCentre);
}

// The plot: the widget less the inset on every side.
juce::Rectangle<float> plotOf(const juce::Component& c) {
    return c.getLocalBounds().toFloat().reduced(curvePlotInset);
}

// Appends a bent segment from a to b to the path in steps of about `curveStep` pixels.
void addSegment(juce::Path& path, PlotPoint a, PlotPoint b, float shape) {
    const int steps = std::max(1, static_cast<int>(std::fabs(b.x - a.x) / curveStep));
    for (int i = 1; i <= steps; ++i) {
        const float u = static_cast<float>(i) / static_cast<float>(steps);
        path.lineTo(a.x + u * (b.x - a.x), a.y + bend(u, shape) * (b.y - a.y));
    }
}

void paintCurve(juce::Graphics& g, const juce::Path& curve, PlotPoint first, PlotPoint last, float baseY,
                bool over, juce::Colour fill, juce::Colour line) {
    if (over && fill.getAlpha() > 0) {
        juce::Path area = curve;
        area.lineTo(last.x, baseY);
        area.lineTo(first.x, baseY);
        area.closeSubPath();
        g.setColour(fill);
        g.fillPath(area);
    }
    g.setColour(line);
    g.strokePath(curve, juce::PathStrokeType(curveLineWidth));
}

} // namespace

// ---- WaveEditor ----------------------------------------------------------------------------

WaveEditor::WaveEditor(Kind kind)
    : Widget(lookOf(kind).styleId, lookOf(kind).help), kind_(kind), editing_(lookOf(kind).editable) {}

Curve* WaveEditor::boundCurve() {
    EditorContext* owner = context();
    Curve* curve = nullptr;
    if (owner != nullptr) {
        Ombrix& ombrix = owner->instrument();
        lfo_ = std::clamp(static_cast<int>(ombrix.editor.lfo), 0, ModSystem::lfoCount - 1);
        curve = kind_ == Kind::velocity
                    ? &ombrix.engine.tracks[static_cast<size_t>(ombrix.currentTrackIndex())].velocityCurve
                    : &ombrix.engine.modSystem.lfoCurves[static_cast<size_t>(lfo_)];
    }
    if (curve != editing_.curve()) editing_.bind(curve);
    return curve;
}

void WaveEditor::resized() {
    editing_.setBounds(0.0f, 0.0f, static_cast<float>(getWidth()), static_cast<float>(getHeight()));
}

void WaveEditor::edited() {
    // A shaped curve is part of the preset.
    if (EditorContext* owner = context()) ++owner->instrument().presetEditCount;
    repaint();
}

void WaveEditor::tick() {
    EditorContext* owner = context();
    Curve* curve = boundCurve();
    if (owner == nullptr || curve == nullptr) return;
    std::vector<PlotPoint> markers;
    const DisplaySnapshot& shown = owner->display();
    Ombrix& ombrix = owner->instrument();
    if (kind_ == Kind::velocity) {
        for (const VoiceDisplay& v : shown.tracks[static_cast<size_t>(ombrix.currentTrackIndex())].voices)
            if (v.state != Voice::stateFree)
                markers.push_back(editing_.toScreen(v.velocity, v.curvedVelocity));
    } else {
        static const ParamLayout layout;
        const bool perVoice =
            ombrix.engine.param(layout.lfoBase[static_cast<size_t>(lfo_)] + lfoPerVoice).effective() > 0.5f;
        const size_t k = static_cast<size_t>(lfo_);
        if (!perVoice) {
            markers.push_back(editing_.toScreen(shown.lfoPhase[k], (shown.lfoOutput[k] + 1.0f) / 2.0f));
        } else {
            for (const TrackDisplay& track : shown.tracks)
                for (const VoiceDisplay& v : track.voices)
                    if (v.state != Voice::stateFree)
                        markers.push_back(editing_.toScreen(v.lfoPhase[k], (v.lfoOutput[k] + 1.0f) / 2.0f));
        }
    }
    // The curve as drawn: its points and shapes, so edits elsewhere (a preset, the dice) show.
    std::vector<float> curveNow;
    for (int i = 0; i <= curve->count; ++i) {
        const CurvePoint& p = curve->points[static_cast<size_t>(i)];
        curveNow.insert(curveNow.end(), {p.x.load(), p.y.load(), p.shape.load()});
    }
    curveNow.push_back(static_cast<float>(curve->loop.load()));
    const auto same = [](PlotPoint a, PlotPoint b) { return a.x == b.x && a.y == b.y; };
    if (curveNow != shownCurve_ ||
        !std::equal(markers.begin(), markers.end(), markers_.begin(), markers_.end(), same)) {
        shownCurve_ = std::move(curveNow);
        markers_ = std::move(markers);
        repaint();
    }
}

void WaveEditor::paint(juce::Graphics& g) {
    const WaveLook& look = lookOf(kind_);
    drawStyledBox(g, style(), styleId(), getLocalBounds().toFloat());
    juce::Colour line = colour("_line");
    const juce::Colour background = colour("_bg");
    const juce::Colour fill = colourOr("_fill", juce::Colours::transparentBlack);
    const juce::Colour grid = colourOr("_grid", juce::Colours::transparentBlack);
    if (!over_) line = line.withMultipliedAlpha(value("_off_alpha", defaultOffAlpha));
    const juce::Rectangle<float> plot = plotOf(*this);

    if (grid.getAlpha() > 0) {
        g.setColour(grid);
        for (int i = 0; i <= look.divisionsX; ++i) {
            const float x =
                plot.getX() + plot.getWidth() * static_cast<float>(i) / static_cast<float>(look.divisionsX);
            g.drawLine(x, plot.getY(), x, plot.getBottom(), gridLineWidth);
        }
        for (int i = 0; i <= look.divisionsY; ++i) {
            const float y =
                plot.getY() + plot.getHeight() * static_cast<float>(i) / static_cast<float>(look.divisionsY);
            g.drawLine(plot.getX(), y, plot.getRight(), y, gridLineWidth);
        }
    }

    const Curve* curve = editing_.curve();
    const int shownPoints = curve != nullptr ? editing_.shownPoints() : 0;
    if (shownPoints > 0) {
        juce::Path path;
        const PlotPoint first = editing_.pointAt(0);
        path.startNewSubPath(first.x, first.y);
        for (int s = 0; s < editing_.segments(); ++s)
            addSegment(path, editing_.pointAt(s), editing_.pointAt(s + 1),
                       curve->points[static_cast<size_t>(s)].shape);
        const float baseY = editing_.toScreen(0.0f, look.baseLevel).y;
        paintCurve(g, path, first, editing_.pointAt(shownPoints - 1), baseY, over_, fill,
                   over_ ? line : line.withMultipliedAlpha(waveOffStroke));
        if (over_) {
            g.setColour(line);
            for (int s = 0; s < editing_.segments(); ++s) drawHandle(g, editing_.midHandle(s));
        }
        for (int k = 0; k < shownPoints; ++k) drawPoint(g, editing_.pointAt(k), line, background);
    }
    g.setColour(line);
    for (const PlotPoint& m : markers_) drawHandle(g, m);
}

void WaveEditor::mouseDown(const juce::MouseEvent& e) {
    if (boundCurve() == nullptr) return;
    editing_.press(e.position.x, e.position.y);
    lastDrag_ = e.position;
}

void WaveEditor::mouseDrag(const juce::MouseEvent& e) {
    const juce::Point<float> delta = e.position - lastDrag_;
    // Movements below the threshold gather until they count.
    if (std::fabs(delta.x) < WaveCurveEditing::minDragPixels &&
        std::fabs(delta.y) < WaveCurveEditing::minDragPixels)
        return;
    lastDrag_ = e.position;
    if (editing_.drag(delta.x, delta.y)) edited();
}

void WaveEditor::mouseDoubleClick(const juce::MouseEvent& e) {
    if (boundCurve() == nullptr) return;
    if (editing_.doubleClick(e.position.x, e.position.y)) edited();
}

void WaveEditor::mouseEnter(const juce::MouseEvent&) {
    over_ = true;
    repaint();
}

void WaveEditor::mouseExit(const juce::MouseEvent&) {
    over_ = false;
    repaint();
}

// ---- EnvEditor -----------------------------------------------------------------------------

EnvEditor::EnvEditor() : Widget("envEditor", "Env Editor") {}

Param& EnvEditor::envelopeParam(int offset) {
    static const ParamLayout layout;
    return context()->instrument().engine.param(layout.envBase[static_cast<size_t>(envelope_)] + offset);
}

bool EnvEditor::bindParams() {
    EditorContext* owner = context();
    if (owner == nullptr) {
        editing_.bind(nullptr);
        return false;
    }
    // The tabs choose the envelope; a drag under way keeps the one it started on.
    if (editing_.selected() == EnvelopeEditing::noHandle) {
        envelope_ =
            std::clamp(static_cast<int>(owner->instrument().editor.envelope), 0, ParamLayout::envCount - 1);
        editing_.bind(&envelopeParam(0));
    }
    editing_.setSetter([owner](Param& p, float v) { owner->editParam(p, v); });
    return true;
}

void EnvEditor::resized() {
    editing_.setBounds(0.0f, 0.0f, static_cast<float>(getWidth()), static_cast<float>(getHeight()));
}

void EnvEditor::tick() {
    if (!bindParams()) return;
    const DisplaySnapshot& shown = context()->display();
    const size_t k = static_cast<size_t>(envelope_);
    const float attackEnd = editing_.value(EnvelopeEditing::attack) / EnvelopeEditing::millisecondsPerSecond;
    const float decayEnd = attackEnd + editing_.value(EnvelopeEditing::decay);
    const float release = editing_.value(EnvelopeEditing::release);
    std::vector<PlotPoint> markers;
    for (const TrackDisplay& track : shown.tracks)
        for (const VoiceDisplay& v : track.voices) {
            const float stage = v.envelopeStage[k];
            if (v.state == Voice::stateFree || stage < 0.0f || stage >= 4.0f) continue;
            // Stages: 0..1 attack, 1..2 decay, 2..3 sustain, 3..4 release.
            const float t = stage < 1.0f   ? stage * attackEnd
                            : stage < 2.0f ? attackEnd + (stage - 1.0f) * (decayEnd - attackEnd)
                            : stage < 3.0f ? decayEnd
                                           : decayEnd + (stage - 3.0f) * release;
            markers.push_back({editing_.timeX(t), editing_.levelY(v.envelopeLevel[k])});
        }
    std::array<float, EnvelopeEditing::parameterCount> values{};
    for (int p = 0; p < EnvelopeEditing::parameterCount; ++p)
        values[static_cast<size_t>(p)] = editing_.value(static_cast<EnvelopeEditing::Parameter>(p));
    const auto same = [](PlotPoint a, PlotPoint b) { return a.x == b.x && a.y == b.y; };
    if (values != shownValues_ ||
        !std::equal(markers.begin(), markers.end(), markers_.begin(), markers_.end(), same)) {
        shownValues_ = values;
        markers_ = std::move(markers);
        repaint();
    }
}

void EnvEditor::paint(juce::Graphics& g) {
    drawStyledBox(g, style(), styleId(), getLocalBounds().toFloat());
    juce::Colour line = colour("_line");
    const juce::Colour background = colourOr("_bg", juce::Colours::transparentBlack);
    const juce::Colour fill = colourOr("_fill", juce::Colours::transparentBlack);
    if (!over_) line = line.withMultipliedAlpha(value("_off_alpha", defaultOffAlpha));

    const auto h = editing_.handles();
    juce::Path contour;
    contour.startNewSubPath(h[0].x, h[0].y);
    for (int s = 0; s < 3; ++s)
        addSegment(contour, h[static_cast<size_t>(s)], h[static_cast<size_t>(s + 1)],
                   editing_.segmentShape(s));
    paintCurve(g, contour, h[0], h[3], plotOf(*this).getBottom(), over_, fill, line);
    if (over_) {
        g.setColour(line);
        for (int s = EnvelopeEditing::firstShapeHandle; s < EnvelopeEditing::handleSlots; ++s)
            drawHandle(g, h[static_cast<size_t>(s)]);
    }
    for (int c = 0; c < EnvelopeEditing::cornerCount; ++c)
        drawPoint(g, h[static_cast<size_t>(c)], line, background);
    g.setColour(line);
    for (const PlotPoint& m : markers_) drawHandle(g, m);
}

void EnvEditor::mouseDown(const juce::MouseEvent& e) {
    if (!bindParams()) return;
    editing_.press(e.position.x, e.position.y);
    lastDrag_ = e.position;
    if (editing_.selected() == EnvelopeEditing::noHandle) return;
    dragging_ = true;
    for (int p = 0; p < EnvelopeEditing::parameterCount; ++p) context()->beginParamEdit(envelopeParam(p));
}

void EnvEditor::mouseDrag(const juce::MouseEvent& e) {
    const juce::Point<float> delta = e.position - lastDrag_;
    lastDrag_ = e.position;
    if (editing_.drag(delta.x, delta.y)) tick();
}

void EnvEditor::mouseUp(const juce::MouseEvent&) {
    editing_.endDrag();
    if (!dragging_ || context() == nullptr) return;
    dragging_ = false;
    for (int p = 0; p < EnvelopeEditing::parameterCount; ++p) context()->endParamEdit(envelopeParam(p));
}

void EnvEditor::mouseEnter(const juce::MouseEvent&) {
    over_ = true;
    repaint();
}

void EnvEditor::mouseExit(const juce::MouseEvent&) {
    over_ = false;
    repaint();
}

} // namespace tarvo
