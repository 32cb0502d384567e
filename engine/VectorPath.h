#pragma once
// The vector instructions the engine's hot loops are compiled for. Every path computes the
// same steps; the baseline (SSE2, as every x86-64 processor has) is the reference, and AVX2
// with fused multiply-adds rounds some products and sums once instead of twice, so its output
// differs from the baseline's by a few units of the last place per hop.

namespace tarvo {

enum class VectorPath { baseline, avx2 };

// Whether this processor and this build can run the path.
bool vectorPathAvailable(VectorPath path) noexcept;
// The fastest available path, unless the environment variable TARVO_VECTOR_PATH names
// another available one ("baseline" or "avx2"). Reads the environment: not on the audio
// thread.
VectorPath defaultVectorPath() noexcept;

} // namespace tarvo
