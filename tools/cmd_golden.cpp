// `tarvo golden --out FILE`: renders the reference scene (one bar of the main bus at 44.1 kHz,
// see bench/scenes/KitScenes.h) and writes it as raw little-endian 32-bit floats, left and right
// interleaved. The engine test compares every render with the stored file
// tests/engine/golden/reference_scene.f32; rewrite that file with this command only when
// the sound is meant to change.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <span>

#include "bench/scenes/KitScenes.h"
#include "persistence/AtomicFile.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

static_assert(std::endian::native == std::endian::little, "the reference file is little-endian");

int runGolden(const std::vector<std::string>& args) {
    std::string out;
    if (!flagValue(args, "--out", out) || out.empty()) {
        std::fputs("tarvo golden: --out FILE is required\n", stderr);
        return 2;
    }
    const std::vector<float> render = scenes::renderReferenceScene();
    const auto* renderBytes = reinterpret_cast<const uint8_t*>(render.data());
    const FileWriteResult written =
        writeFileAtomically(out, std::span<const uint8_t>(renderBytes, render.size() * sizeof(float)));
    if (!written) {
        std::fprintf(stderr, "tarvo golden: %s\n", written.error.c_str());
        return 1;
    }
    double peak = 0.0, energy = 0.0;
    for (const float v : render) {
        peak = std::max(peak, std::fabs(static_cast<double>(v)));
        energy += static_cast<double>(v) * v;
    }
    JsonWriter json;
    json.beginObject();
    json.key("frames").value(static_cast<int>(render.size() / 2));
    json.key("peak").value(peak);
    json.key("rms").value(render.empty() ? 0.0 : std::sqrt(energy / static_cast<double>(render.size())));
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("golden", "--out FILE", runGolden);

} // namespace
} // namespace tarvo::tool
