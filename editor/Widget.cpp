#include "editor/Widget.h"

#include <algorithm>

#include "TarvoEditorData.h"

namespace tarvo {

namespace {

juce::Typeface::Ptr loadTypeface(const char* data, int size) {
    return juce::Typeface::createSystemTypefaceFor(data, static_cast<size_t>(size));
}

juce::Font sized(const juce::Typeface::Ptr& face, float size) {
    return juce::Font(face).withPointHeight(size);
}

} // namespace

juce::Colour toJuce(ArgbColour colour) {
    return juce::Colour(colour.r, colour.g, colour.b, colour.a);
}

juce::Font EditorFonts::main(float size) {
    static const juce::Typeface::Ptr face =
        loadTypeface(TarvoEditorData::BarlowMedium_ttf, TarvoEditorData::BarlowMedium_ttfSize);
    return sized(face, size);
}

juce::Font EditorFonts::bold(float size) {
    static const juce::Typeface::Ptr face =
        loadTypeface(TarvoEditorData::BarlowSemiBold_ttf, TarvoEditorData::BarlowSemiBold_ttfSize);
    return sized(face, size);
}

juce::Font EditorFonts::big(float size) {
    static const juce::Typeface::Ptr face = loadTypeface(TarvoEditorData::BarlowCondensedSemiBold_ttf,
                                                         TarvoEditorData::BarlowCondensedSemiBold_ttfSize);
    return sized(face, size);
}

juce::Font EditorFonts::named(const juce::String& name, float size) {
    if (name == "boldFont") return bold(size);
    if (name == "bigFont") return big(size);
    return main(size);
}

void drawStyledBox(juce::Graphics& g, const StyleOwner& style, std::string_view id,
                   juce::Rectangle<float> area) {
    const std::string base(id);
    const juce::Colour background = toJuce(style.colorOr(base + "_bg", StyleOwner::transparent));
    const float radius = style.valueOf(base + "_corner");
    if (background.getAlpha() > 0) {
        g.setColour(background);
        g.fillRoundedRectangle(area, radius);
    }
    const float width = style.valueOf(base + "_border");
    if (width > 0.0f) {
        g.setColour(toJuce(style.colorOf(base + "_border")));
        g.drawRoundedRectangle(area.reduced(width * 0.5f), radius, width);
    }
}

Widget::Widget(std::string styleId, juce::String helpName)
    : styleId_(std::move(styleId)), helpName_(std::move(helpName)) {}

void Widget::setStyleId(std::string id) {
    if (id == styleId_) return;
    styleId_ = std::move(id);
    repaint();
}

EditorContext* Widget::context() const {
    return findParentComponentOfClass<EditorContext>();
}

const StyleOwner& Widget::builtInStyle() {
    static const StyleOwner builtIn = [] {
        StyleOwner style;
        style.loadBuiltIn();
        return style;
    }();
    return builtIn;
}

const StyleOwner& Widget::style() const {
    if (const EditorContext* owner = context(); owner != nullptr) return owner->style();
    return builtInStyle();
}

juce::Colour Widget::colour(std::string_view suffix) const {
    return toJuce(style().colorOf(name(suffix)));
}

juce::Colour Widget::colourOr(std::string_view suffix, juce::Colour fallback) const {
    const ArgbColour found = style().colorOr(
        name(suffix), {fallback.getAlpha(), fallback.getRed(), fallback.getGreen(), fallback.getBlue()});
    return toJuce(found);
}

float Widget::value(std::string_view suffix, float fallback) const {
    return style().valueOr(name(suffix), fallback);
}

void Widget::drawFittedLine(juce::Graphics& g, const juce::String& text, juce::Rectangle<float> area,
                            juce::Justification justification) {
    // Narrower than this, Barlow's letters run into each other.
    constexpr float narrowestScale = 0.72f;
    const juce::Font font = g.getCurrentFont();
    const float width = font.getStringWidthFloat(text);
    if (width <= area.getWidth() || width <= 0.0f) {
        g.drawText(text, area, justification, false);
        return;
    }
    const float scale = std::max(narrowestScale, area.getWidth() / width);
    g.setFont(font.withHorizontalScale(font.getHorizontalScale() * scale));
    g.drawText(text, area, justification, true);
    g.setFont(font);
}

} // namespace tarvo
