// The editor tests run with JUCE's message manager and fonts set up, as in a plug-in host.
#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
