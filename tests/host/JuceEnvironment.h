#pragma once
// JUCE's message manager for the test binary: plug-in hosting and parameter notifications need
// it on the main thread, which runs every test.

#include <juce_gui_basics/juce_gui_basics.h>

namespace tarvo {

struct JuceEnvironment {
    // Main thread: starts JUCE's message manager once; it lives until the binary exits.
    static void require() { static juce::ScopedJuceInitialiser_GUI initialiser; }
};

} // namespace tarvo
