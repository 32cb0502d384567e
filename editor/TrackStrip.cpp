#include "editor/TrackStrip.h"

#include <cmath>

namespace tarvo {

namespace {

// The track number's text size (the layout's 18) and its box: that size wide, 1.4 times high,
// in the strip's top-right corner.
constexpr float trackNumberSize = 18.0f, trackNumberBoxHeight = 1.4f;
// A dimmed strip's number keeps this share of its alpha unless the style says otherwise.
constexpr float defaultMuteAlpha = 0.5f;

// The dice: dot radius and shake as shares of half the width, the dots' spacing likewise.
constexpr float dotShare = 0.15f, shakeShare = 0.15f, dotSpacing = 0.5f;
constexpr int faceCount = 6;
// Cells (column + 3 × row) that show a dot, per face.
constexpr std::array<std::array<bool, 9>, faceCount> faceDots{{
    {false, false, false, false, true, false, false, false, false},
    {false, false, true, false, false, false, true, false, false},
    {false, false, true, false, true, false, true, false, false},
    {true, false, true, false, false, false, true, false, true},
    {true, false, true, false, true, false, true, false, true},
    {true, false, true, true, false, true, true, false, true},
}};

// A level change smaller than this counts as still rising (the display follows at once).
constexpr float riseTolerance = 0.001f;
// The lit part ends just below the lower level.
constexpr float litMargin = 0.003f;

// The panel's boxes, in pixels from the window's centre.
constexpr int panelHalfWidth = 180, panelHeight = 60;
constexpr int cancelWidth = 100, cancelGap = 20, cancelHeight = 32;
constexpr int statusAbove = 76, statusGap = 16, titleRise = 140;
constexpr float progressInset = 4.0f, outlineWidth = 2.0f;

} // namespace

// ---- Track strip --------------------------------------------------------------------------

TrackStrip::TrackStrip(int track, std::function<void(int)> onSelect)
    : Widget("track_", "Track"), track_(track), onSelect_(std::move(onSelect)) {}

void TrackStrip::setState(int state) {
    if (state == state_) return;
    state_ = state;
    repaint();
}

void TrackStrip::setDim(bool dim) {
    if (dim == dim_) return;
    dim_ = dim;
    repaint();
}

void TrackStrip::mouseDown(const juce::MouseEvent&) {
    pressed_ = true;
    repaint();
    if (onSelect_) onSelect_(track_);
}

void TrackStrip::mouseUp(const juce::MouseEvent&) {
    pressed_ = false;
    repaint();
}

void TrackStrip::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const StyleOwner& looks = style();
    static constexpr const char* overlays[] = {"track_overlay_off", "track_overlay_neutral",
                                               "track_overlay_on"};
    const ArgbColour base = looks.colorOr("track" + std::to_string(track_ + 1), StyleOwner::transparent);
    const ArgbColour overlay = looks.colorOr(overlays[std::clamp(state_, 0, 2)], StyleOwner::transparent);
    g.setColour(toJuce(blendOver(base, overlay)));
    g.fillRect(area);
    ArgbColour text = looks.colorOf("track_text");
    if (dim_) text = scaledAlpha(text, looks.valueOr("track_mute_alpha", defaultMuteAlpha));
    g.setColour(toJuce(text));
    g.setFont(EditorFonts::main(trackNumberSize));
    g.drawText(juce::String(track_ + 1),
               juce::Rectangle<float>(area.getRight() - trackNumberSize, area.getY(), trackNumberSize,
                                      trackNumberBoxHeight * trackNumberSize),
               juce::Justification::centred, false);
}

// ---- Dice ---------------------------------------------------------------------------------

DiceButton::DiceButton(std::function<void(int kind)> roll)
    : Widget("dice_", "Random Dice"), action_(std::move(roll)) {}

juce::PopupMenu DiceButton::menu() {
    juce::PopupMenu items;
    items.addItem(sounds, "Random sounds");
    items.addItem(sequence, "Random sequence");
    return items;
}

void DiceButton::fire(int kind) {
    kind_ = kind;
    repaint();
    if (action_) action_(kind);
}

void DiceButton::chooseMenuItem(int kind) {
    if (kind == sounds || kind == sequence) fire(kind);
}

void DiceButton::mouseDown(const juce::MouseEvent& e) {
    if (e.mods.isRightButtonDown() || e.mods.isPopupMenu()) {
        juce::Component::SafePointer<DiceButton> self(this);
        menu().showMenuAsync(juce::PopupMenu::Options().withMousePosition(), [self](int chosen) {
            if (self != nullptr) self->chooseMenuItem(chosen);
        });
        return;
    }
    roll_ = rollFrames;
    fire(both);
}

void DiceButton::tick() {
    kind_ = none;
    if (roll_ <= 0) return;
    --roll_;
    face_ = random_.nextInt(faceCount);
    repaint();
}

void DiceButton::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const float radius = value("corner");
    const float border = value("border");
    g.setColour(colour("bg"));
    g.fillRoundedRectangle(area, radius);
    if (border > 0.0f) {
        g.setColour(colour("border"));
        g.drawRoundedRectangle(area.reduced(border * 0.5f), radius, border);
    }
    const float d = area.getWidth() * 0.5f;
    const float dot = dotShare * d;
    auto jitter = [&] {
        return (random_.nextFloat() * 2.0f - 1.0f) * static_cast<float>(roll_) * shakeShare * d;
    };
    const juce::Point<float> centre{area.getX() + d + jitter(), area.getY() + d + jitter()};
    g.setColour(colour("dots"));
    for (int cell = 0; cell < 9; ++cell) {
        if (!faceDots[static_cast<size_t>(std::clamp(face_, 0, faceCount - 1))][static_cast<size_t>(cell)])
            continue;
        const float x = centre.x + dotSpacing * d * static_cast<float>(cell % 3 - 1);
        const float y = centre.y + dotSpacing * d * static_cast<float>(cell / 3 - 1);
        g.fillEllipse(x - dot, y - dot, 2.0f * dot, 2.0f * dot);
    }
}

// ---- Level meter --------------------------------------------------------------------------

LevelMeter::LevelMeter(std::string styleId, bool vertical, float channelGap, float segmentGap,
                       std::function<std::array<float, channels>(const DisplaySnapshot&)> levels)
    : Widget(std::move(styleId)), vertical_(vertical), channelGap_(channelGap), segmentGap_(segmentGap),
      levels_(std::move(levels)), clock_([] { return juce::Time::getMillisecondCounterHiRes() * 0.001; }) {
    setInterceptsMouseClicks(false, false);
}

void LevelMeter::tick() {
    EditorContext* owner = context();
    if (owner == nullptr || !levels_) return;
    const double now = clock_();
    const float dt = lastUpdate_ < 0.0 ? 1.0f : static_cast<float>(std::clamp(now - lastUpdate_, 0.0, 1.0));
    lastUpdate_ = now;
    const auto engine = levels_(owner->display());
    bool changed = false;
    for (size_t c = 0; c < channels; ++c) {
        const float d = shown_[c], e = engine[c];
        const float next = d < e + riseTolerance ? e : d + (e - d) * dt;
        changed = changed || next != d || e != engine_[c] || before_[c] != d;
        before_[c] = d;
        engine_[c] = e;
        shown_[c] = next;
    }
    if (changed) repaint();
}

void LevelMeter::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const juce::Colour off = colour("_bg"), on = colour("_on");
    const float length = vertical_ ? area.getHeight() : area.getWidth();
    const float across = vertical_ ? area.getWidth() : area.getHeight();
    const float fullScale = std::floor(fullScaleShare * length);
    const float thickness = (across - (channels - 1) * channelGap_) / channels;
    for (size_t c = 0; c < channels; ++c) {
        const float hi = std::sqrt(std::max(before_[c], engine_[c]));
        const float lo = std::sqrt(std::min(before_[c], engine_[c])) - litMargin;
        const float start =
            (vertical_ ? area.getX() : area.getY()) + static_cast<float>(c) * (thickness + channelGap_);
        // Positions along the meter from its start (left, or bottom for a vertical one).
        auto point = [&](float along) {
            return vertical_ ? juce::Point<float>(area.getCentreX(), area.getBottom() - along)
                             : juce::Point<float>(area.getX() + along, area.getCentreY());
        };
        const float litEnd = std::max(lo, 0.0f) * fullScale, fadeEnd = hi * fullScale;
        // Fills the part [from, to) of the meter's length, clipped to one segment.
        auto fillAlong = [&](float from, float to, float segmentFrom, float segmentTo) {
            from = std::max(from, segmentFrom);
            to = std::min(to, segmentTo);
            if (to <= from) return;
            const auto r = vertical_
                               ? juce::Rectangle<float>(start, area.getBottom() - to, thickness, to - from)
                               : juce::Rectangle<float>(area.getX() + from, start, to - from, thickness);
            g.fillRect(juce::Rectangle<float>(std::round(r.getX()), std::round(r.getY()),
                                              std::round(r.getWidth()), std::round(r.getHeight())));
        };
        // Each segment: dark, lit up to the lower level, fading out from there to the higher.
        auto segment = [&](float from, float to) {
            g.setColour(off);
            fillAlong(from, to, from, to);
            g.setColour(on);
            fillAlong(from, litEnd, from, to);
            if (fadeEnd - litEnd >= 1.0f) {
                g.setGradientFill(juce::ColourGradient(on, point(litEnd), off, point(fadeEnd), false));
                fillAlong(litEnd, fadeEnd, from, to);
            }
        };
        segment(0.0f, fullScale);
        segment(fullScale + segmentGap_, length + segmentGap_);
    }
}

// ---- Audio-analysis panel -----------------------------------------------------------------

AnalyserPanel::AnalyserPanel() : Widget("modal") {}

void AnalyserPanel::setState(State state) {
    if (state == state_) return;
    state_ = state;
    repaint();
}

void AnalyserPanel::setProgress(int count, int index, const juce::String& file) {
    if (count == count_ && index == index_ && file == file_) return;
    count_ = count;
    index_ = index;
    file_ = file;
    repaint();
}

juce::String AnalyserPanel::statusText() const {
    if (state_ == waiting) return "Found " + juce::String(count_) + " files to be analyzed";
    return "Analyzing file " + juce::String(index_ + 1) + " of " + juce::String(count_) + ": " + file_;
}

juce::Rectangle<int> AnalyserPanel::startArea() const {
    const auto c = getLocalBounds().getCentre();
    return juce::Rectangle<int>::leftTopRightBottom(c.x - panelHalfWidth, c.y, c.x + panelHalfWidth,
                                                    c.y + panelHeight);
}

juce::Rectangle<int> AnalyserPanel::cancelArea() const {
    const auto p = startArea();
    return juce::Rectangle<int>::leftTopRightBottom(p.getRight() - cancelWidth, p.getBottom() + cancelGap,
                                                    p.getRight(), p.getBottom() + cancelGap + cancelHeight);
}

void AnalyserPanel::mouseDown(const juce::MouseEvent& e) {
    if (state_ == waiting && startArea().contains(e.getPosition()))
        setState(started);
    else if (cancelArea().contains(e.getPosition()))
        setState(cancelRequested);
}

void AnalyserPanel::tick() {
    if (state_ == started) repaint();
}

void AnalyserPanel::paint(juce::Graphics& g) {
    const juce::Colour veil =
        colourOr("_bg", juce::Colour(50, 50, 50).withAlpha(static_cast<juce::uint8>(200)));
    const juce::Colour ink =
        colourOr("_txt", juce::Colour(245, 235, 90).withAlpha(static_cast<juce::uint8>(245)));
    g.fillAll(veil);
    const auto panel = startArea().toFloat();
    g.setColour(ink);
    g.drawRect(panel, outlineWidth);
    if (state_ == waiting) {
        g.setFont(EditorFonts::main(24.0f));
        g.drawText("START", panel, juce::Justification::centred, false);
    } else {
        const float share =
            count_ > 0 ? std::clamp(static_cast<float>(index_) / static_cast<float>(count_), 0.0f, 1.0f)
                       : 0.0f;
        g.fillRect(juce::Rectangle<float>::leftTopRightBottom(
            panel.getX() + progressInset, panel.getY() + progressInset,
            panel.getX() + progressInset + (panel.getWidth() - 2.0f * progressInset) * share,
            panel.getBottom() - progressInset));
    }
    const juce::String title = "Audio Analyzer";
    const juce::Font big = EditorFonts::big(48.0f);
    const float measured = big.getStringWidthFloat(title);
    g.setFont(EditorFonts::big(measured > 0.0f ? 48.0f * panel.getWidth() / measured : 48.0f));
    g.drawText(title, panel.translated(0.0f, -static_cast<float>(titleRise)), juce::Justification::centred,
               false);
    g.setFont(EditorFonts::main(16.0f));
    const auto status = juce::Rectangle<float>::leftTopRightBottom(
        panel.getX(), panel.getY() - statusAbove, panel.getRight(), panel.getY() - statusGap);
    g.drawText(statusText(), status, juce::Justification::centredLeft, true);
    const auto cancel = cancelArea().toFloat();
    g.drawRect(cancel, outlineWidth);
    g.setFont(EditorFonts::main(20.0f));
    g.drawText("CANCEL", cancel, juce::Justification::centred, false);
}

} // namespace tarvo
