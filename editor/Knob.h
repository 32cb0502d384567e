#pragma once
// The one control for parameters, in six kinds: 1 rotary knob with its name below, 2 vertical
// bar, 3 value field or menu, 4 horizontal fader, 5 value box with a fill bar and the name
// below, 6 labelled row (name left, value box right).
//
// Gestures, the same for every kind:
// - drag: up and right increase (kind 4 follows the pointer along its track); slow motion is
//   finer than a flick; a snap value holds the knob until the drag has pushed past it by 5 %
//   of the range;
// - a short click opens a text entry over the value 0.3 s later; a double click sets the
//   default and opens nothing;
// - an enumerated parameter of two values toggles; one of more values opens its menu (labels
//   "group|entry" go into a submenu per group), unless the menu is turned off for the knob.
// Every change of a host parameter is one host gesture (begin, values, end), so hosts record
// automation from the editor.
//
// A knob is bound through a function that finds its parameter in the instrument each time it
// is needed, so knobs that follow the current track, envelope or LFO rebind by themselves.
//
// Threads: the message thread only.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "editor/Widget.h"

namespace tarvo {

class Ombrix;
class Param;

struct KnobSetup {
    std::function<Param*(Ombrix&)> param;
    int kind = 1;
    std::string styleId;
    juce::String helpName; // empty: the parameter's name
    juce::String name;     // shown name; empty: the parameter's name
    bool showName = true;
    juce::Justification nameJustification = juce::Justification::centred;
    juce::Justification valueJustification = juce::Justification::centred;
    juce::String fontName = "mainFont";
    float textSize = 14.0f;
    float textHeight = 0.0f;     // 0: by kind
    float valueBoxHeight = 0.0f; // 0: by kind
    float valueRightInset = 0.0f;
    bool menu = true;        // a click on an enumerated parameter opens its menu
    bool bipolar = true;     // parameters centred on 0 fill from the centre
    std::string trackColour; // mix knobs: "track1" .. "track8"
};

// The texts of an enumerated parameter's values in order (its value texts, or the fields of a
// "a|b|c" format); empty for a parameter that is not enumerated.
std::vector<std::string> enumerationLabels(const Param& param);
// An enumerated parameter of exactly the values 0 and 1: clicking flips it.
bool isToggle(const Param& param);
// A menu of the labels: an entry's item id is its position + 1; a label "group|entry" goes
// into the submenu "group", made at its first use and shared by the labels that follow.
juce::PopupMenu enumerationMenu(const std::vector<std::string>& labels, int current);

// Reads typed text as a number the way the value entry does: leading spaces skipped, trailing
// text ignored. Nothing for text that is not a finite number (including "nan", "inf" and
// numbers beyond the float range).
std::optional<float> parseTypedNumber(const juce::String& text);

class KnobWidget : public Widget, private juce::TextEditor::Listener {
public:
    // Seconds on a steady clock; tests give the knob a clock of their own.
    using Clock = std::function<double()>;

    // Pixels of a vertical drag over the full range (before the speed factor).
    static constexpr float dragPixels = 70.0f;
    // The speed (pixels per second) at which a drag moves at half its nominal rate.
    static constexpr float halfSpeed = 50.0f;
    // The shortest time a drag step is measured over.
    static constexpr double shortestStep = 0.01;
    // Drag that a snap value absorbs before the knob leaves it (normalized).
    static constexpr float snapHold = 0.05f;
    // How far a knob leaving a snap value jumps off it (normalized).
    static constexpr float snapLeave = 0.001f;
    // A snap value counts as reached within this distance (normalized).
    static constexpr float onSnap = 1e-4f;
    // Share of the absorbed drag kept from one step to the next.
    static constexpr float residualKeep = 0.99f;
    // A click: less travel than this (pixels) and shorter than clickSeconds.
    static constexpr float clickTravel = 10.0f;
    static constexpr double clickSeconds = 0.2;
    // The value entry opens this long after a click, and not within entryRest of the last one.
    static constexpr double entryDelay = 0.3;
    static constexpr double entryRest = 0.5;
    // Changes smaller than this (normalized) are not redrawn.
    static constexpr float redrawStep = 0.001f;
    // Fader track length until the first drawing measures it.
    static constexpr float initialFaderLength = 200.0f;

    explicit KnobWidget(KnobSetup setup);
    ~KnobWidget() override;

    // The bound parameter now, or null (no context, or the binding finds none).
    Param* param() const;
    const KnobSetup& setup() const { return setup_; }
    juce::String helpName() const override;
    void setClock(Clock clock) { clock_ = std::move(clock); }

    // Whether a value entry waits to open, or is open.
    bool entryPending() const { return entryDue_ >= 0.0; }
    juce::TextEditor* entry() const { return entry_.get(); }
    // Completes the open value entry with text (as pressing Return does).
    void completeEntry(const juce::String& text);
    // Sets the parameter to an enumeration value chosen from the menu (item id − 1).
    void chooseMenuItem(int itemId);
    // The menu a click opens, or an empty one for parameters without a menu.
    juce::PopupMenu menu() const;
    bool isDragging() const { return dragging_; }

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;
    void tick() override;

private:
    double now() const;
    float textHeight() const;
    bool nameShown() const;
    bool valueShown() const;
    juce::Rectangle<float> valueBox() const;
    juce::String shownName(const Param& param) const;
    // One host gesture around a single change.
    void setOnce(Param& param, float plain);
    void openEntry();
    void closeEntry();
    void textEditorReturnKeyPressed(juce::TextEditor&) override;
    void textEditorEscapeKeyPressed(juce::TextEditor&) override;
    void textEditorFocusLost(juce::TextEditor&) override;

    KnobSetup setup_;
    Clock clock_;
    // The parameter a drag edits, held from press to release so a rebind mid-drag never
    // leaves a host gesture open.
    Param* dragged_ = nullptr;
    bool dragging_ = false;
    bool hover_ = false;
    bool menuOpened_ = false;
    float travel_ = 0.0f;
    double downTime_ = 0.0;
    double lastStepTime_ = 0.0;
    float residual_ = 0.0f;
    double lastEntryEnd_ = -1e9;
    double entryDue_ = -1.0;
    juce::Point<float> lastPosition_;
    float faderLength_ = initialFaderLength;
    // What was drawn last: normalized value, normalized shown value and modulation flag.
    float drawnValue_ = -1.0f, drawnShown_ = -1.0f;
    int drawnModulated_ = -1;
    // The parameter and name drawn last: a rebinding or an effect's new parameter names redraw.
    const Param* drawnParam_ = nullptr;
    const char* drawnName_ = nullptr;
    std::unique_ptr<juce::TextEditor> entry_;
    // The entry closed last, deleted by a message after its callbacks have returned, or with
    // the knob when no message comes any more.
    std::unique_ptr<juce::TextEditor> closedEntry_;
};

} // namespace tarvo
