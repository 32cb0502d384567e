#pragma once
// The "Export MIDI" button's action: writes the pattern as a MIDI file into the data folder
// and starts dragging that file out of the window, so it can be dropped onto a host's track
// or into a file manager.
//
// Message thread only.

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace tarvo {

class StepSequencer;

// Starts an external drag of files from a component; returns whether the drag began.
using FileDragStarter = std::function<bool(const juce::StringArray& files, juce::Component& source)>;

// The platform's drag of files out of the application.
bool startExternalFileDrag(const juce::StringArray& files, juce::Component& source);

// Writes the file and hands it to the drag starter. Returns whether the drag began; the file
// is written either way.
bool exportMidiDrag(const StepSequencer& sequencer, juce::Component& source,
                    const FileDragStarter& startDrag = startExternalFileDrag);

} // namespace tarvo
