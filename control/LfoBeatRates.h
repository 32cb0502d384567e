#pragma once
// The note values an LFO's "Beat Rate" selects, as fractions of a whole note: the display
// texts and the LFO timing both read these tables.

namespace tarvo {

// Number of beat-synchronised LFO rates.
inline constexpr int lfoBeatRateCount = 15;
inline constexpr int lfoBeatRateNumerators[lfoBeatRateCount] = {4, 3, 2, 3, 1, 6, 1, 1, 3, 1, 1, 1, 1, 1, 1};
inline constexpr int lfoBeatRateDenominators[lfoBeatRateCount] = {1,  1, 1, 2,  1,  8,  2, 4,
                                                                  16, 6, 8, 12, 16, 24, 32};

} // namespace tarvo
