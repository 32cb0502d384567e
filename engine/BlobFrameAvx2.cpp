// The Blob reader's frame kernels compiled for AVX2, without fused multiply-adds (see the
// build's options for this file); chosen at run time where the engine takes the AVX2 path.
#include "engine/BlobReader.h"

#if defined(TARVO_AVX2_KERNELS)
#include <cstring>

#include <immintrin.h>

namespace tarvo::avx2 {
#include "engine/BlobFrameKernels.inl"
} // namespace tarvo::avx2
#endif
