#include "control/SequencerParams.h"

namespace tarvo {

void defineSequencerParams(Param* five) {
    five[0].init(Param::Linear, 1.0f, 400.0f, 0.0f, "%.0f", "BPM", 120.0f, false, nullptr);
    five[1].init(Param::Stepped, 0.0f, 1.0f, 0.0f, "off|on", "Host Sync", 0.0f, false, nullptr);
    five[2].init(Param::Linear, -50.0f, 50.0f, 0.0f, "%.0f%%", "Swing", 0.0f, false, nullptr);
    five[2].setSnapValues(0.0f);
    five[3].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Loose Time", 0.0f, false, nullptr);
    five[4].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Loose Velo", 0.0f, false, nullptr);
}

} // namespace tarvo
