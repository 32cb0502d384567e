#include "engine/BandSynth.h"

namespace tarvo {

BandSynth::BandSynth() : params(static_cast<size_t>(layout.paramCount)) {
    for (size_t i = 0; i < params.size(); ++i) params[i].index = static_cast<int32_t>(i);
}

} // namespace tarvo
