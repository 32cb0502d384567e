#include "control/SequencerParams.h"

namespace tarvo {

void defineSequencerParams(Param* five) {
    five[seqBpm].init(Param::Linear, 1, 400, 0, "%.0f", "BPM", 120, false, nullptr);
    five[seqHostSync].init(Param::Stepped, 0, 1, 0, "off|on", "Host Sync", 0, false, nullptr);
    five[seqSwing].init(Param::Linear, -50, 50, 0, "%.0f%%", "Swing", 0, false, nullptr);
    five[seqSwing].setSnapValues(0);
    five[seqLooseTime].init(Param::Linear, 0, 100, 0, "%.0f%%", "Loose Time", 0, false, nullptr);
    five[seqLooseVelo].init(Param::Linear, 0, 100, 0, "%.0f%%", "Loose Velo", 0, false, nullptr);
}

} // namespace tarvo
