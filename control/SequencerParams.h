#pragma once
// The five parameters the step sequencer owns: "BPM", "Host Sync", "Swing", "Loose Time" and
// "Loose Velo". They are not host parameters and belong to no group.

#include "control/Param.h"

namespace tarvo {

// User-interface thread (construction). Defines five consecutive records in the order BPM,
// Host Sync, Swing, Loose Time, Loose Velo.
void defineSequencerParams(Param* five);

} // namespace tarvo
