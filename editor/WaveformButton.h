#pragma once
// A track's waveform button: a picture of the track's sound; pressing it plays the track.

#include "editor/Widget.h"

namespace tarvo {

class WaveformButton : public Widget {
public:
    explicit WaveformButton(int track);
    int track() const { return track_; }
    void paint(juce::Graphics& g) override;

private:
    int track_;
};

} // namespace tarvo
