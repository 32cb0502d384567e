#pragma once
// A bare editor context for widget tests: an instrument, a display snapshot the test fills
// in, the built-in look, and a record of parameter edits. Widgets placed in it find it as
// their context, as they find the real editor.

#include <gtest/gtest.h>

#include <memory>

#include "editor/EditorContext.h"
#include "editor/Widget.h"
#include "instrument/Ombrix.h"

namespace tarvo {

class WidgetHarness : public juce::Component, public EditorContext {
public:
    WidgetHarness() { setBounds(0, 0, 800, 600); }

    const StyleOwner& style() const override { return Widget::builtInStyle(); }
    Ombrix& instrument() override { return instrument_; }
    const DisplaySnapshot& display() const override { return shown; }
    void perform(const std::function<void(Ombrix&)>& action) override { action(instrument_); }
    void beginParamEdit(Param&) override { ++editsBegun; }
    void editParam(Param& param, float plainValue) override {
        param.set(plainValue);
        ++edits;
    }
    void endParamEdit(Param&) override { ++editsEnded; }
    void setView(int) override {}
    void selectTrack(int track, bool) override { instrument_.currentTrack = track; }
    void showStatus(const juce::String&) override {}
    void restyle() override {}

    // Puts a widget into the harness at the given bounds and returns it.
    template <typename W> W& place(std::unique_ptr<W> widget, juce::Rectangle<int> bounds) {
        W& w = *widget;
        addAndMakeVisible(w);
        w.setBounds(bounds);
        owned_.push_back(std::move(widget));
        return w;
    }

    DisplaySnapshot shown;
    int editsBegun = 0, edits = 0, editsEnded = 0;

private:
    Ombrix instrument_;
    std::vector<std::unique_ptr<juce::Component>> owned_;
};

// A mouse event on a widget at a point (widget coordinates) and a time in milliseconds.
inline juce::MouseEvent mouseEvent(juce::Component& target, juce::Point<float> at, int64_t milliseconds,
                                   juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier,
                                   int clicks = 1) {
    const auto source = juce::Desktop::getInstance().getMainMouseSource();
    const juce::Time time(milliseconds);
    return juce::MouseEvent(source, at, mods, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &target, &target, time, at, time,
                            clicks, false);
}

// Paints a component into a picture.
inline juce::Image paintWidget(juce::Component& widget) {
    juce::Image image(juce::Image::ARGB, widget.getWidth(), widget.getHeight(), true);
    juce::Graphics g(image);
    widget.paintEntireComponent(g, false);
    return image;
}

} // namespace tarvo
