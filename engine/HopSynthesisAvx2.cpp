// The hop kernels compiled for AVX2 with fused multiply-adds (see the build's options for
// this file); chosen at run time on processors that have both.
#include "engine/HopSynthesis.h"

#if defined(TARVO_AVX2_KERNELS)
#include <array>
#include <cmath>
#include <cstring>

#include <immintrin.h>

namespace tarvo::avx2 {
#include "engine/HopSynthesisKernels.inl"
} // namespace tarvo::avx2
#endif
