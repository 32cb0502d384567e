#pragma once
// What every widget of the editor may reach: the instrument, its style tables, the latest
// display snapshot of the audio thread, and the one way to change the instrument's state.
//
// A widget finds the context through its parents (`Widget::context()`); it never stores a
// pointer to it or to anything behind it, so a widget can be rebuilt, moved or tested on its
// own under a context of a test's making.
//
// Threads: the message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

#include "instrument/DisplaySnapshot.h"
#include "instrument/StyleOwner.h"

namespace tarvo {

class Ombrix;
class Param;

class EditorContext {
public:
    virtual ~EditorContext() = default;

    // The style tables to draw with.
    virtual const StyleOwner& style() const = 0;

    // The instrument, for reading what the editor shows (parameters, Blobs, patterns, names).
    // Parameter values may be set directly (`editParam` below tells the host); everything else
    // changes through `perform`.
    virtual Ombrix& instrument() = 0;

    // What the audio thread showed at the latest display tick: voices, positions, meters.
    virtual const DisplaySnapshot& display() const = 0;

    // Runs an editor action on the instrument (open or save a preset, the dice, an import, a
    // Blob load or edit, undo and redo) under the host adapter's lock, so no host state call
    // or idle tick runs meanwhile, then tells the host of every parameter the action moved.
    virtual void perform(const std::function<void(Ombrix&)>& action) = 0;

    // A user's edit of one parameter: begin, any number of values (plain, in the parameter's
    // range), end. Hosts record automation from parameters they see; the others are set directly.
    virtual void beginParamEdit(Param& param) = 0;
    virtual void editParam(Param& param, float plainValue) = 0;
    virtual void endParamEdit(Param& param) = 0;

    // The editor's frame: the shown view (0 Sound, 1 Sequence, 2 Modulate, 3 Mix), the current
    // track (switching to the Sound view when asked), a status line in the help box, and a
    // request to redraw everything (after a change that alters many widgets).
    virtual void setView(int view) = 0;
    virtual void selectTrack(int track, bool showSoundView) = 0;
    virtual void showStatus(const juce::String& text) = 0;
    virtual void restyle() = 0;
};

} // namespace tarvo
