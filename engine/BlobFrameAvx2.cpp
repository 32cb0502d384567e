// The Blob reader's frame kernels compiled for AVX2 with fused multiply-adds (see the
// build's options for this file); chosen at run time on processors that have both.
#include "engine/BlobReader.h"

#if defined(TARVO_AVX2_KERNELS)
namespace tarvo::avx2 {
#include "engine/BlobFrameKernels.inl"
} // namespace tarvo::avx2
#endif
