#pragma once
// The small widgets the layout places everywhere: framed sections, plain rectangles, labels,
// the help box, tab buttons, text buttons (Mute, Solo, Export MIDI), the effect power toggle,
// pictures and picture buttons. Each draws itself from the style tables only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

#include "editor/Widget.h"

namespace tarvo {

class Param;

// Called when a button fires, with the button.
using WidgetAction = std::function<void(Widget&)>;

// A section with a background and, on the edges its mask names, a border line and a faint
// gradient sheen (light for a positive `<id>_fade`, dark for a negative one). Never hit.
class FadeBox : public Widget {
public:
    enum Edge : int { left = 1, right = 2, top = 4, bottom = 8 };
    FadeBox(std::string styleId, int edgeMask);
    void paint(juce::Graphics& g) override;

private:
    int edges_;
};

// A rectangle filled with the colour its style id names. Never hit.
class StyledRect : public Widget {
public:
    explicit StyledRect(std::string colourName, float cornerRadius = 0.0f);
    void paint(juce::Graphics& g) override;

private:
    float corner_;
};

// A line of text over a styled box. Never hit.
class StyledLabel : public Widget {
public:
    StyledLabel(juce::String text, std::string styleId, juce::String fontName = "mainFont",
                float textSize = 0.0f, juce::Justification justification = juce::Justification::centred,
                float sidePadding = 0.0f);
    void setText(const juce::String& text);
    const juce::String& text() const { return text_; }
    void paint(juce::Graphics& g) override;

private:
    juce::String text_;
    juce::String fontName_;
    float textSize_;
    juce::Justification justification_;
    float padding_;
};

// The help box: text wrapped at spaces into rows from the top. Names: style id followed by
// "bg" and "text" (the layout uses "helpBox_").
class HelpBox : public Widget {
public:
    HelpBox(std::string styleId, float textSize);
    void setText(const juce::String& text);
    const juce::String& text() const { return text_; }
    void paint(juce::Graphics& g) override;
    // The rows the text breaks into at a width, measured in a font: greedy at spaces, line
    // breaks honoured, empty rows dropped, a word wider than the box never broken.
    static juce::StringArray wrap(const juce::String& text, const juce::Font& font, float width);

private:
    juce::String text_;
    float textSize_;
};

// A view or envelope tab; the editor switches its style id between the on and off ids.
class TabButton : public Widget {
public:
    TabButton(juce::String label, juce::String fontName, float textSize, WidgetAction action);
    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent&) override;

private:
    juce::String label_;
    juce::String fontName_;
    float textSize_;
    WidgetAction action_;
};

// A text button. With the toggle flag it flips its state (its bound parameter between 0 and 1
// or, without one, its own state) and draws with `<id>_on` or `<id>_off` colours.
class TextButton : public Widget {
public:
    TextButton(juce::String label, std::string styleId, WidgetAction action, bool toggle);
    // The parameter the toggle flips; null for the button's own state.
    void bindParam(Param* param) { param_ = param; }
    bool isOn() const;
    void setOn(bool on);
    void setFontName(juce::String name) { fontName_ = std::move(name); }
    void setTextSize(float size) { textSize_ = size; }
    bool isPressed() const { return pressed_; }
    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;

private:
    juce::String label_;
    juce::String fontName_ = "mainFont";
    float textSize_ = -1.0f; // below 0: fits the row
    WidgetAction action_;
    bool toggle_;
    bool state_ = false;
    bool pressed_ = false;
    Param* param_ = nullptr;
};

// An effect slot's power toggle: a circle with a bar, `<id>_on` or `<id>_off`.
class OnButton : public Widget {
public:
    OnButton(std::function<Param*()> param, std::string styleId);
    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent&) override;
    void tick() override;

private:
    std::function<Param*()> param_;
    float shown_ = -1.0f;
};

// A single-colour picture, coloured with the colour its style id names. Never hit.
class SvgView : public Widget {
public:
    SvgView(std::unique_ptr<juce::Drawable> picture, std::string styleId, float scale = 0.8f);
    void paint(juce::Graphics& g) override;

private:
    std::unique_ptr<juce::Drawable> picture_;
    float scale_;
};

// A picture button. Boxed (tools, mirror, undo, redo): background, border and icon colours by
// state. Plain (play, host sync): the on or off picture in `<id>_on` or `<id>_off`. A count
// label (undo and redo steps) may sit in one corner square.
class SvgButton : public Widget {
public:
    enum class Mode { boxed, plain };
    SvgButton(std::unique_ptr<juce::Drawable> offPicture, std::unique_ptr<juce::Drawable> onPicture,
              std::string styleId, WidgetAction action, Mode mode = Mode::boxed, float pictureScale = 0.8f);

    // The button's value: the shown state (a tool's, the play state); drawn on when above 0.
    void setValue(float value);
    float value() const { return value_; }
    using Widget::value;
    void setDisabled(bool disabled);
    bool isDisabled() const { return disabled_; }
    // Text in the corner square (in this widget's coordinates); empty hides it.
    void setCountLabel(const juce::String& text, juce::Rectangle<float> square);
    const juce::String& countLabel() const { return countText_; }
    // Drag steps: vertical movement reported to the action while the mouse is held.
    void setDragEnabled(bool enabled) { dragEnabled_ = enabled; }
    float dragStep() const { return dragStep_; }
    bool isPressed() const { return pressed_; }

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseDrag(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;
    void tick() override;

private:
    void fire();

    std::unique_ptr<juce::Drawable> off_, on_;
    WidgetAction action_;
    Mode mode_;
    float pictureScale_;
    float value_ = 0.0f;
    int lastDrawn_ = -1;
    bool disabled_ = false;
    bool pressed_ = false;
    bool dragEnabled_ = false;
    float dragStep_ = 0.0f;
    int lastDragY_ = 0;
    juce::String countText_;
    juce::Rectangle<float> countSquare_;
};

// Draws a single-colour picture into an area, scaled uniformly to fit it times scale and
// centred, in one colour.
void drawPicture(juce::Graphics& g, const juce::Drawable& picture, juce::Rectangle<float> area, float scale,
                 juce::Colour colour);

// One of the editor's own icons by file name ("lock.svg"); null when there is none.
std::unique_ptr<juce::Drawable> loadIcon(const char* fileName);

} // namespace tarvo
