#pragma once
// What the editor needs from the plug-in that opens it: the instrument, the locked entry point
// for editor actions, the host parameters, and facts about the running plug-in for the product
// information. The JUCE processor implements it; tests may implement it around a bare
// instrument.
//
// Threads: the message thread only.

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>

namespace tarvo {

class Ombrix;
class Param;
struct MidiMessage;

class EditorHost {
public:
    virtual ~EditorHost() = default;

    virtual Ombrix& instrument() = 0;
    // Runs an editor action under the lock that keeps host state calls and the idle tick out,
    // then tells the host of every parameter the action moved.
    virtual void performEditorAction(const std::function<void(Ombrix&)>& action) = 0;
    // The host parameter of an engine parameter, or null for one the host does not see.
    virtual juce::RangedAudioParameter* hostParameterOf(const Param& param) = 0;
    // The user settings as last read, without touching any file (an editor opened before the
    // plug-in's first idle tick sees them as soon as they are read).
    virtual std::string setting(const std::string& key) = 0;
    // Plays a MIDI message at the start of the next block (the waveform buttons' previews);
    // false when the queue is full.
    virtual bool sendMidiFromEditor(const MidiMessage& message) = 0;
    // Stores a setting (writes the settings file).
    virtual void storeSetting(const std::string& key, const std::string& value) = 0;
};

} // namespace tarvo
