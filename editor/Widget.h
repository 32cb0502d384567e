#pragma once
// The base of every control the editor draws itself. A widget carries a style id (the prefix
// of every style name it looks up: style id "soundParam" and suffix "_label" look up
// "soundParam_label") and a help name (the key of the help table), and is ticked once per
// display frame while it is visible.
//
// A widget reaches the instrument, the style tables and the display snapshot through the
// `EditorContext` above it (see EditorContext.h). Painting reads state and draws; it changes
// nothing. Under no context (a widget painted on its own) it draws with the built-in look.

#include <juce_gui_basics/juce_gui_basics.h>

#include <string>
#include <string_view>

#include "editor/EditorContext.h"

namespace tarvo {

juce::Colour toJuce(ArgbColour colour);

// The editor's three faces: "mainFont" for text, "boldFont" for titles, "bigFont" for the
// tabs and the tempo. Sizes are the em size in logical pixels.
struct EditorFonts {
    static juce::Font main(float size);
    static juce::Font bold(float size);
    static juce::Font big(float size);
    // By name, as widgets are told which font to use; unknown names give the main font.
    static juce::Font named(const juce::String& name, float size);
};

// A style-driven box: background `<id>_bg` (transparent when absent) with corner radius
// `<id>_corner`, then, when `<id>_border` is above 0, its outline inset by half that width in
// colour `<id>_border` (grey when absent).
void drawStyledBox(juce::Graphics& g, const StyleOwner& style, std::string_view id,
                   juce::Rectangle<float> area);

class Widget : public juce::Component {
public:
    explicit Widget(std::string styleId = {}, juce::String helpName = {});

    const std::string& styleId() const { return styleId_; }
    // Changes the style id (tabs switch between their on and off ids) and redraws.
    void setStyleId(std::string id);

    // The key of the help table for this widget; empty for none.
    virtual juce::String helpName() const { return helpName_; }
    void setHelpName(juce::String name) { helpName_ = std::move(name); }

    // Once per display frame while the widget is showing: follow the instrument and the
    // display snapshot, repainting only what changed. The base does nothing.
    virtual void tick() {}

    // The context above this widget, or null when it has none.
    EditorContext* context() const;
    // The context's style tables, or the built-in look without a context.
    const StyleOwner& style() const;

    // Lookups of this widget's style names: style id followed by suffix.
    juce::Colour colour(std::string_view suffix) const;
    juce::Colour colourOr(std::string_view suffix, juce::Colour fallback) const;
    float value(std::string_view suffix, float fallback = 0.0f) const;

    // The built-in look, shared by widgets without a context.
    static const StyleOwner& builtInStyle();

    // Draws one line in the current font and colour. Too wide a text is first narrowed (to a
    // limit at which the face still reads), and only then cut with an ellipsis, so names like
    // "Frequency" show whole in their fixed label space.
    static void drawFittedLine(juce::Graphics& g, const juce::String& text, juce::Rectangle<float> area,
                               juce::Justification justification);

private:
    std::string name(std::string_view suffix) const { return styleId_ + std::string(suffix); }

    std::string styleId_;
    juce::String helpName_;
};

} // namespace tarvo
