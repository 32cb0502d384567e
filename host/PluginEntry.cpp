// The entry point through which every plug-in format wrapper creates the processor.

#include "host/TarvoProcessor.h"

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter() {
    return new tarvo::TarvoProcessor();
}
