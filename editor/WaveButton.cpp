#include "editor/WaveButton.h"

#include <algorithm>

#include "control/ParamLayout.h"
#include "control/TrackMixer.h"
#include "engine/CanonicalPlane.h"
#include "instrument/Ombrix.h"

namespace tarvo {

namespace {

// Padding of the outline inside the button when the theme names none.
constexpr float defaultPadding = 4.0f;
// Alpha of a silenced track's outline when the theme names none.
constexpr float defaultMuteAlpha = 0.5f;
// The playing tint shows once the glow adds more than this to the outline.
constexpr float visibleGlow = 0.001f;
// The playing tint is full once the glow adds a quarter of the slice count.
constexpr float glowTintGain = 4.0f;

ArgbColour hovered(const StyleOwner& style, bool hover, const char* name, const char* overName) {
    const ArgbColour plain = style.colorOr(name, StyleOwner::transparent);
    return hover ? style.colorOr(overName, plain) : plain;
}

} // namespace

MidiMessage previewMessage(int track, bool on) {
    constexpr uint8_t noteOn = 0x90, noteOff = 0x80;
    MidiMessage m;
    m.status = on ? noteOn : noteOff;
    m.data1 = static_cast<uint8_t>(Ombrix::sequencerBaseNote + track);
    m.data2 = static_cast<uint8_t>(on ? previewVelocity : 0);
    return m;
}

double editorSeconds() {
    return juce::Time::getMillisecondCounterHiRes() * 0.001;
}

bool refreshTrackOutline(BlobOutline& outline, BandSynth& engine, int track, const StyleOwner& style,
                         double now) {
    if (track < 0 || track >= BandSynth::trackCount) return false;
    const Track& t = engine.tracks[static_cast<size_t>(track)];
    const Param& transform = engine.param(track * ParamLayout::trackStride + trackTransform);
    const float mix = transform.toNormalized(transform.shownModulated == 1 ? transform.shownValue.load()
                                                                           : transform.value.load());
    const int slices = BlobOutline::slicesFor(
        style.valueOr("wave_resolution", static_cast<float>(BlobOutline::defaultSlices)));
    return outline.refresh(t.blobs.slotA.working, t.blobs.slotB.working, mix, slices, now);
}

WaveButton::WaveButton(int track, PreviewAction preview)
    : Widget("wave", "Track Waveform"), track_(track), preview_(std::move(preview)) {}

WaveButton::~WaveButton() {
    if (pressed_ && preview_) preview_(track_, false);
}

void WaveButton::setDim(bool dim) {
    if (dim == dim_) return;
    dim_ = dim;
    repaint();
}

void WaveButton::addPlayhead(float position, float width, float intensity) {
    glow_.addPlayhead(picture_.size(), position, width, intensity);
    repaint();
}

void WaveButton::lightUp(double now) {
    litExtra_ = glow_.light(picture_.values(), picture_.size(), now, lit_.data());
}

void WaveButton::tick() {
    EditorContext* owner = context();
    if (owner == nullptr || track_ < 0 || track_ >= BandSynth::trackCount) return;
    BandSynth& engine = owner->instrument().engine;
    const double now = editorSeconds();
    bool redraw = refreshTrackOutline(picture_, engine, track_, style(), now);

    setDim(trackMuted(track_, engine.muteMask.load(std::memory_order_relaxed),
                      engine.soloTrack.load(std::memory_order_relaxed)));

    for (const VoiceDisplay& voice : owner->display().tracks[static_cast<size_t>(track_)].voices) {
        if (voice.state == Voice::stateFree || voice.readerPosition < 0.0f) continue;
        addPlayhead(voice.readerPosition / plane::frameCount, 0.0f,
                    (1.0f - voice.releaseProgress) * voice.dynGain);
        redraw = true;
    }
    if (redraw || glow_.glowing()) {
        lightUp(now);
        repaint();
    }
}

void WaveButton::paint(juce::Graphics& g) {
    const int n = picture_.size();
    if (n < 1) return;
    const StyleOwner& s = style();
    ArgbColour boxFill = hovered(s, hover_, "wavebox_fill", "wavebox_fill_over");
    if (pressed_) boxFill = s.colorOr("wavebox_fill_down", boxFill);
    const ArgbColour boxLine = hovered(s, hover_, "wavebox_border", "wavebox_border_over");
    ArgbColour curveFill = hovered(s, hover_, "wave_fill", "wave_fill_over");
    ArgbColour curveLine = hovered(s, hover_, "wave_border", "wave_border_over");
    if (dim_) {
        const float alpha = s.valueOr("track_mute_alpha", defaultMuteAlpha);
        curveFill = scaledAlpha(curveFill, alpha);
        curveLine = scaledAlpha(curveLine, alpha);
    }
    const float radius = s.valueOf("wavebox_corner");
    const float boxWidth = s.valueOf("wavebox_border");
    const float lineWidth = s.valueOf("wave_border");
    const float padding = s.valueOr("wave_padding", defaultPadding);

    const juce::Rectangle<float> area = getLocalBounds().toFloat();
    if (boxFill.a > 0) {
        g.setColour(toJuce(boxFill));
        g.fillRoundedRectangle(area, radius);
    }
    if (boxWidth > 0.0f && boxLine.a > 0) {
        g.setColour(toJuce(boxLine));
        g.drawRoundedRectangle(area.reduced(boxWidth / 2), radius, boxWidth);
    }

    if (litExtra_ > visibleGlow) {
        const ArgbColour play = s.colorOr("wave_fill_play", StyleOwner::transparent);
        curveFill = blendOver(curveFill, scaledAlpha(play, std::min(glowTintGain * litExtra_ / n, 1.0f)));
    }

    const float* y = lit_.data();
    const float end = outlineEnd(y, n);
    const float x0 = area.getX() + padding, x1 = area.getRight() - padding;
    const float base = area.getBottom() - padding, top = area.getY() + padding;
    const float dx = (x1 - x0) / static_cast<float>(n);
    auto level = [&](float v) { return base - std::clamp(v, 0.0f, 1.0f) * (base - top); };
    // Slope at point l; at 0 as if the outline rose from 0 one slice earlier.
    auto slope = [&](int l) {
        if (l == 0) return y[0];
        const int m = std::min(l + 1, n - 1);
        return (y[m] - y[l - 1]) / static_cast<float>(m - l + 1);
    };
    juce::Path outline;
    outline.startNewSubPath(x0, base);
    outline.lineTo(x0, level(y[0]));
    for (int l = 1; static_cast<float>(l) < end; ++l) {
        const float from = static_cast<float>(l - 1), to = static_cast<float>(l);
        outline.cubicTo(x0 + (from + 1.0f / 3.0f) * dx, level(y[l - 1] + slope(l - 1) / 3.0f),
                        x0 + (to - 1.0f / 3.0f) * dx, level(y[l] - slope(l) / 3.0f), x0 + to * dx,
                        level(y[l]));
    }
    outline.lineTo(x0 + end * dx, base);
    outline.closeSubPath();
    if (curveFill.a > 0) {
        g.setColour(toJuce(curveFill));
        g.fillPath(outline);
    }
    if (lineWidth > 0.0f && curveLine.a > 0) {
        g.setColour(toJuce(curveLine));
        g.strokePath(outline, juce::PathStrokeType(lineWidth));
    }
}

void WaveButton::mouseDown(const juce::MouseEvent& e) {
    if (!e.mods.isLeftButtonDown() || pressed_) return;
    pressed_ = true;
    if (preview_) preview_(track_, true);
    repaint();
}

void WaveButton::mouseUp(const juce::MouseEvent&) {
    if (!pressed_) return;
    pressed_ = false;
    if (preview_) preview_(track_, false);
    repaint();
}

void WaveButton::mouseEnter(const juce::MouseEvent&) {
    hover_ = true;
    repaint();
}

void WaveButton::mouseExit(const juce::MouseEvent&) {
    hover_ = false;
    repaint();
}

} // namespace tarvo
