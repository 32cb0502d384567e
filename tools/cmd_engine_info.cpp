// `tarvo engine-info --rate SR`: prints the engine's hop and FFT length at a sample rate and
// how it lays its bands onto the FFT's bins.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/EngineSetup.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

// Sample rates the engine supports.
constexpr double minRate = 8000.0;
constexpr double maxRate = 384000.0;

int runEngineInfo(const std::vector<std::string>& args) {
    std::string text;
    if (!flagValue(args, "--rate", text)) {
        std::fputs("tarvo engine-info: --rate SR is required\n", stderr);
        return 2;
    }
    char* end = nullptr;
    const double rate = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(rate) || rate < minRate || rate > maxRate) {
        std::fprintf(stderr, "tarvo engine-info: rate '%s' is not a sample rate from 8000 to 384000 Hz\n",
                     text.c_str());
        return 2;
    }
    EngineTables tables;
    tables.prepare(rate);
    JsonWriter json;
    json.beginObject()
        .key("sampleRate")
        .value(rate)
        .key("gridRate")
        .value(tables.gridRate)
        .key("hopFrames")
        .value(tables.hopFrames)
        .key("fftSize")
        .value(tables.bankSize)
        .key("bandCount")
        .value(tables.bandCount)
        .key("firstExtraBin")
        .value(tables.firstExtraBin)
        .key("topBin")
        .value(tables.topBin)
        .key("extraCount")
        .value(tables.extraCount)
        .key("binCount")
        .value(tables.binCount)
        .endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("engine-info", "--rate SR", runEngineInfo);

} // namespace
} // namespace tarvo::tool
