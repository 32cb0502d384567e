#include "editor/SmallWidgets.h"

#include <cmath>

#include "TarvoEditorData.h"
#include "control/Param.h"

namespace tarvo {

namespace {

// Darkening of a button's background and icon while the mouse holds it.
constexpr float pressedShade = 0.7f;
// Opacity of a disabled button's icon.
constexpr float disabledIconAlpha = 0.5f;
// Share of a box's height that an automatically sized text takes.
constexpr float autoTextShare = 0.8f;

juce::Colour shaded(juce::Colour c, float factor) {
    return toJuce(scaledRgb({c.getAlpha(), c.getRed(), c.getGreen(), c.getBlue()}, factor));
}

} // namespace

// ---- FadeBox ----------------------------------------------------------------------------

FadeBox::FadeBox(std::string styleId, int edgeMask) : Widget(std::move(styleId)), edges_(edgeMask) {
    setInterceptsMouseClicks(false, false);
}

void FadeBox::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const float fade = value("_fade");
    const float size = value("_fade_size", 0.1f);
    const float border = value("_border");
    const juce::Colour background = colourOr("_bg", juce::Colours::transparentBlack);
    if (background.getAlpha() > 0) g.fillAll(background);

    const float l = area.getX(), t = area.getY(), r = area.getRight(), b = area.getBottom();
    const float half = border * 0.5f;
    struct EdgeLine {
        int bit;
        juce::Point<float> from, to;     // the border line
        juce::Point<float> inner, outer; // the sheen's start and end
    };
    const EdgeLine lines[] = {
        {left, {l + half, t}, {l + half, b}, {l + half, t}, {l + size, t}},
        {right, {r - half, t}, {r - half, b}, {r - half, t}, {r - size, t}},
        {top, {l, t + half}, {r, t + half}, {l, t + half}, {l, t + size}},
        {bottom, {l, b - half}, {r, b - half}, {l, b - half}, {l, b - size}},
    };
    const juce::Colour borderColour = colourOr("_border", juce::Colours::transparentBlack);
    for (const EdgeLine& line : lines) {
        if ((edges_ & line.bit) == 0) continue;
        if (fade != 0.0f && size > 0.0f) {
            const auto shade = static_cast<juce::uint8>(std::min(std::trunc(std::abs(fade)), 255.0f));
            const juce::Colour start = fade > 0.0f ? juce::Colour::fromRGBA(255, 255, 255, shade)
                                                   : juce::Colour::fromRGBA(0, 0, 0, shade);
            g.setGradientFill(
                juce::ColourGradient(start, line.inner, start.withAlpha(juce::uint8(0)), line.outer, false));
            g.fillRect(area);
        }
        if (border > 0.0f) {
            g.setColour(borderColour);
            g.drawLine({line.from, line.to}, border);
        }
    }
}

// ---- StyledRect -------------------------------------------------------------------------

StyledRect::StyledRect(std::string colourName, float cornerRadius)
    : Widget(std::move(colourName)), corner_(cornerRadius) {
    setInterceptsMouseClicks(false, false);
}

void StyledRect::paint(juce::Graphics& g) {
    const juce::Colour fill = colour("");
    if (fill.getAlpha() == 0) return;
    g.setColour(fill);
    g.fillRoundedRectangle(getLocalBounds().toFloat(), corner_);
}

// ---- StyledLabel ------------------------------------------------------------------------

StyledLabel::StyledLabel(juce::String text, std::string styleId, juce::String fontName, float textSize,
                         juce::Justification justification, float sidePadding)
    : Widget(std::move(styleId)), text_(std::move(text)), fontName_(std::move(fontName)), textSize_(textSize),
      justification_(justification), padding_(sidePadding) {
    setInterceptsMouseClicks(false, false);
}

void StyledLabel::setText(const juce::String& text) {
    if (text == text_) return;
    text_ = text;
    repaint();
}

void StyledLabel::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    drawStyledBox(g, style(), styleId(), area);
    const juce::Colour ink = colourOr("_text", juce::Colours::transparentBlack);
    if (text_.isEmpty() || ink.getAlpha() == 0) return;
    const float size = textSize_ > 0.0f ? textSize_ : autoTextShare * area.getHeight();
    g.setColour(ink);
    g.setFont(EditorFonts::named(fontName_, size));
    drawFittedLine(g, text_, area.reduced(padding_, 0.0f), justification_);
}

// ---- HelpBox ----------------------------------------------------------------------------

HelpBox::HelpBox(std::string styleId, float textSize) : Widget(std::move(styleId)), textSize_(textSize) {}

void HelpBox::setText(const juce::String& text) {
    if (text == text_) return;
    text_ = text;
    repaint();
}

juce::StringArray HelpBox::wrap(const juce::String& text, const juce::Font& font, float width) {
    juce::StringArray rows;
    juce::String line;
    auto finish = [&rows](const juce::String& row) {
        if (row.isNotEmpty()) rows.add(row);
    };
    for (int i = 0; i < text.length(); ++i) {
        const juce::juce_wchar c = text[i];
        if (c == '\n') {
            finish(line);
            line.clear();
            continue;
        }
        line += juce::String::charToString(c);
        if (font.getStringWidthFloat(line) <= width) continue;
        const int space = line.lastIndexOfChar(' ');
        if (space < 0) continue; // a word wider than the box stays whole
        finish(line.substring(0, space));
        line = line.substring(space + 1);
    }
    finish(line);
    return rows;
}

void HelpBox::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const juce::Colour background = colourOr("bg", juce::Colours::transparentBlack);
    if (background.getAlpha() > 0) {
        g.setColour(background);
        g.fillRect(area);
    }
    if (text_.isEmpty()) return;
    const juce::Font font = EditorFonts::main(textSize_);
    // Rows one and a fifth of the measured height of capitals with descenders apart.
    const float rowHeight = 1.2f * font.getHeight();
    g.setColour(colour("text"));
    g.setFont(font);
    float y = area.getY();
    for (const juce::String& row : wrap(text_, font, area.getWidth())) {
        g.drawText(row, juce::Rectangle<float>(area.getX(), y, area.getWidth() + 1000.0f, rowHeight),
                   juce::Justification::centredLeft, false);
        y += rowHeight;
    }
}

// ---- TabButton --------------------------------------------------------------------------

TabButton::TabButton(juce::String label, juce::String fontName, float textSize, WidgetAction action)
    : label_(std::move(label)), fontName_(std::move(fontName)), textSize_(textSize),
      action_(std::move(action)) {}

void TabButton::paint(juce::Graphics& g) {
    if (getWidth() <= 0) return;
    const auto area = getLocalBounds().toFloat();
    g.setColour(colourOr("_bg", juce::Colours::transparentBlack));
    g.fillRect(area);
    g.setColour(colour("_text"));
    g.setFont(EditorFonts::named(fontName_, textSize_ > 0.0f ? textSize_ : autoTextShare * area.getHeight()));
    g.drawText(label_, area, juce::Justification::centred, false);
}

void TabButton::mouseDown(const juce::MouseEvent&) {
    repaint();
    if (action_) action_(*this);
}

// ---- TextButton -------------------------------------------------------------------------

TextButton::TextButton(juce::String label, std::string styleId, WidgetAction action, bool toggle)
    : Widget(std::move(styleId)), label_(std::move(label)), action_(std::move(action)), toggle_(toggle) {}

bool TextButton::isOn() const {
    if (param_ != nullptr) return static_cast<int>(param_->effective()) != 0;
    return state_;
}

void TextButton::setOn(bool on) {
    if (param_ == nullptr && on != state_) {
        state_ = on;
        repaint();
    }
}

void TextButton::mouseDown(const juce::MouseEvent&) {
    pressed_ = true;
    if (toggle_) {
        if (param_ != nullptr) {
            const float flipped = static_cast<int>(param_->value) != 0 ? 0.0f : 1.0f;
            if (EditorContext* owner = context(); owner != nullptr) {
                owner->beginParamEdit(*param_);
                owner->editParam(*param_, flipped);
                owner->endParamEdit(*param_);
            } else {
                param_->set(flipped);
            }
        } else {
            state_ = !state_;
        }
    }
    if (action_) action_(*this);
    repaint();
}

void TextButton::mouseUp(const juce::MouseEvent&) {
    pressed_ = false;
    repaint();
}

void TextButton::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const std::string base = toggle_ ? (isOn() ? "_on" : "_off") : "";
    const juce::Colour background = colourOr(base + "_bg", juce::Colours::transparentBlack);
    const juce::Colour borderColour = colourOr(base + "_border", juce::Colours::transparentBlack);
    const float radius = value("_corner");
    const float border = value("_border");
    if (background.getAlpha() > 0) {
        g.setColour(pressed_ ? shaded(background, pressedShade) : background);
        g.fillRoundedRectangle(area, radius);
    }
    if (border > 0.0f && borderColour.getAlpha() > 0) {
        g.setColour(borderColour);
        g.drawRoundedRectangle(area.reduced(border * 0.5f), radius, border);
    }
    const juce::StringArray lines = juce::StringArray::fromLines(label_);
    if (lines.isEmpty()) return;
    const float rowHeight = area.getHeight() / static_cast<float>(lines.size());
    float size = textSize_ >= 0.0f ? textSize_ : autoTextShare * rowHeight;
    juce::Font font = EditorFonts::named(fontName_, size);
    float widest = 0.0f;
    for (const auto& line : lines) widest = std::max(widest, font.getStringWidthFloat(line));
    // The longest line fits the button, with a pixel to spare on each side.
    const float room = area.getWidth() - 2.0f;
    if (widest > room && widest > 0.0f) font = EditorFonts::named(fontName_, size * room / widest);
    g.setColour(colour(base + "_text"));
    g.setFont(font);
    for (int i = 0; i < lines.size(); ++i)
        g.drawText(lines[i],
                   area.withY(area.getY() + rowHeight * static_cast<float>(i)).withHeight(rowHeight),
                   juce::Justification::centred, false);
}

// ---- OnButton ---------------------------------------------------------------------------

OnButton::OnButton(std::function<Param*()> param, std::string styleId)
    : Widget(std::move(styleId)), param_(std::move(param)) {}

void OnButton::paint(juce::Graphics& g) {
    const Param* param = param_ ? param_() : nullptr;
    const bool on = param != nullptr && param->toNormalized(param->effective()) > 0.5f;
    const auto area = getLocalBounds().toFloat();
    const float w = area.getWidth();
    const auto centre = area.getCentre();
    const float stroke = 0.07f * w + 0.7f;
    const float radius = 0.5f * w - 0.7f * stroke;
    g.setColour(colour(on ? "_on" : "_off"));
    g.drawEllipse(juce::Rectangle<float>(2 * radius, 2 * radius).withCentre(centre), stroke);
    g.drawLine(centre.x, centre.y - radius * 0.5f, centre.x, centre.y + radius * 0.5f, stroke);
}

void OnButton::mouseDown(const juce::MouseEvent&) {
    Param* param = param_ ? param_() : nullptr;
    if (param == nullptr) return;
    const float flipped = param->value == 0.0f ? 1.0f : 0.0f;
    if (EditorContext* owner = context(); owner != nullptr) {
        owner->beginParamEdit(*param);
        owner->editParam(*param, flipped);
        owner->endParamEdit(*param);
    } else {
        param->set(flipped);
    }
    repaint();
}

void OnButton::tick() {
    const Param* param = param_ ? param_() : nullptr;
    const float now = param != nullptr ? param->effective() : -1.0f;
    if (now != shown_) {
        shown_ = now;
        repaint();
    }
}

// ---- Pictures ---------------------------------------------------------------------------

void drawPicture(juce::Graphics& g, const juce::Drawable& picture, juce::Rectangle<float> area, float scale,
                 juce::Colour colour) {
    const auto bounds = picture.getDrawableBounds();
    if (bounds.isEmpty() || area.isEmpty()) return;
    const float fit =
        std::min(area.getWidth() / bounds.getWidth(), area.getHeight() / bounds.getHeight()) * scale;
    const auto target = juce::Rectangle<float>(bounds.getWidth() * fit, bounds.getHeight() * fit)
                            .withCentre(area.getCentre());
    auto tinted = picture.createCopy();
    tinted->replaceColour(juce::Colours::black, colour);
    tinted->drawWithin(g, target, juce::RectanglePlacement::stretchToFit, 1.0f);
}

std::unique_ptr<juce::Drawable> loadIcon(const char* fileName) {
    for (int i = 0; i < TarvoEditorData::namedResourceListSize; ++i) {
        const char* resource = TarvoEditorData::namedResourceList[i];
        if (juce::String(TarvoEditorData::getNamedResourceOriginalFilename(resource)) != fileName) continue;
        int size = 0;
        const char* data = TarvoEditorData::getNamedResource(resource, size);
        return juce::Drawable::createFromImageData(data, static_cast<size_t>(size));
    }
    return nullptr;
}

SvgView::SvgView(std::unique_ptr<juce::Drawable> picture, std::string styleId, float scale)
    : Widget(std::move(styleId)), picture_(std::move(picture)), scale_(scale) {
    setInterceptsMouseClicks(false, false);
}

void SvgView::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const juce::Colour background = colourOr("_bg", juce::Colours::transparentBlack);
    if (background.getAlpha() > 0) g.fillAll(background);
    if (picture_ != nullptr) drawPicture(g, *picture_, area, scale_, colour(""));
}

SvgButton::SvgButton(std::unique_ptr<juce::Drawable> offPicture, std::unique_ptr<juce::Drawable> onPicture,
                     std::string styleId, WidgetAction action, Mode mode, float pictureScale)
    : Widget(std::move(styleId)), off_(std::move(offPicture)), on_(std::move(onPicture)),
      action_(std::move(action)), mode_(mode), pictureScale_(pictureScale) {}

void SvgButton::setValue(float value) {
    value_ = value;
    if (static_cast<int>(value) != lastDrawn_) repaint();
}

void SvgButton::setDisabled(bool disabled) {
    if (disabled == disabled_) return;
    disabled_ = disabled;
    repaint();
}

void SvgButton::setCountLabel(const juce::String& text, juce::Rectangle<float> square) {
    if (text == countText_ && square == countSquare_) return;
    countText_ = text;
    countSquare_ = square;
    repaint();
}

void SvgButton::fire() {
    repaint();
    if (action_) action_(*this);
}

void SvgButton::mouseDown(const juce::MouseEvent& event) {
    pressed_ = true;
    dragStep_ = 0.0f;
    lastDragY_ = event.getPosition().y;
    fire();
}

void SvgButton::mouseDrag(const juce::MouseEvent& event) {
    if (!dragEnabled_) return;
    dragStep_ = static_cast<float>(event.getPosition().y - lastDragY_);
    lastDragY_ = event.getPosition().y;
    fire();
}

void SvgButton::mouseUp(const juce::MouseEvent&) {
    pressed_ = false;
    dragStep_ = 0.0f;
    if (dragEnabled_)
        fire();
    else
        repaint();
}

void SvgButton::tick() {
    if (static_cast<int>(value_) != lastDrawn_) repaint();
}

void SvgButton::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    // Nothing fits on a button without area.
    if (area.getWidth() * area.getHeight() < 0.1f) return;
    lastDrawn_ = static_cast<int>(value_);
    const bool on = value_ > 0.0f;
    if (mode_ == Mode::plain) {
        const juce::Drawable* picture = lastDrawn_ != 0 && on_ != nullptr ? on_.get() : off_.get();
        if (picture != nullptr) drawPicture(g, *picture, area, pictureScale_, colour(on ? "_on" : "_off"));
        return;
    }
    juce::Colour background = colour(on ? "_bg_on" : "_bg_off");
    juce::Colour icon = colour(on ? "_icon_on" : "_icon_off");
    const juce::Colour border = colour(on ? "_border_on" : "_border_off");
    if (pressed_) {
        background = shaded(background, pressedShade);
        icon = shaded(icon, pressedShade);
    }
    if (disabled_) icon = icon.withMultipliedAlpha(disabledIconAlpha);
    const float radius = value("_corner");
    g.setColour(background);
    g.fillRoundedRectangle(area, radius);
    g.setColour(border);
    g.drawRoundedRectangle(area.reduced(0.5f), radius, 1.0f);
    if (off_ != nullptr) drawPicture(g, *off_, area, pictureScale_, icon);
    if (countText_.isNotEmpty()) {
        g.setColour(icon);
        g.setFont(EditorFonts::main(autoTextShare * countSquare_.getHeight()));
        g.drawText(countText_, countSquare_, juce::Justification::centred, false);
    }
}

} // namespace tarvo
