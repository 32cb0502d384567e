#pragma once
// The step sequencer's own five parameters. They belong to the sequencer, not to the
// engine's table: no group, no host exposure, no listener.

#include "control/Param.h"

namespace tarvo {

// Positions of the sequencer's parameters in its array of five.
enum SequencerParam : int {
    seqBpm = 0,
    seqHostSync = 1,
    seqSwing = 2,
    seqLooseTime = 3,
    seqLooseVelo = 4,
    sequencerParamCount = 5,
};

// Defines the five parameters at five[0..4] (the thread that builds the sequencer; does
// not allocate).
void defineSequencerParams(Param* five);

} // namespace tarvo
