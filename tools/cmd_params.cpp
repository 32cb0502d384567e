// `tarvo params`: prints the engine's parameter table and the sequencer's parameters as
// one JSON object.
#include <cstdio>
#include <cstdlib>

#include "control/SequencerParams.h"
#include "engine/BandSynth.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

// Capacity of a displayed value text.
constexpr int valueTextCapacity = 64;

// The shortest decimal that reads back as the same float, so 0.01f prints as 0.01.
double shortestDecimal(float v) {
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(v));
        if (std::strtof(text, nullptr) == v) break;
    }
    return std::strtod(text, nullptr);
}

void writeParam(JsonWriter& json, const Param& p, bool inEngineTable) {
    json.beginObject();
    json.key("index");
    if (inEngineTable)
        json.value(static_cast<int>(p.index));
    else
        json.null();
    json.key("name").value(p.name);
    json.key("group").value(p.group);
    json.key("shape").value(static_cast<int>(p.shape));
    json.key("min").value(shortestDecimal(p.min));
    json.key("max").value(shortestDecimal(p.max));
    json.key("curve");
    // Only the power curves and the logarithmic shape use the curve.
    if (p.shape == Param::PowerCurve || p.shape == Param::SignedPower || p.shape == Param::Logarithmic)
        json.value(shortestDecimal(p.curve));
    else
        json.null();
    json.key("default").value(shortestDecimal(p.defaultValue));
    char text[valueTextCapacity];
    p.formatValue(text, valueTextCapacity, p.defaultValue);
    json.key("text").value(text);
    json.key("snap").beginArray();
    for (int i = 0; i < p.snapCount; ++i) json.value(shortestDecimal(p.snapValues[i]));
    json.endArray();
    json.key("hostIndex").value(static_cast<int>(p.hostIndex));
    json.key("hostName");
    if (p.hostIndex >= 0) {
        char hostName[Param::hostNameCapacity];
        p.formatHostName(hostName, Param::hostNameCapacity);
        json.value(hostName);
    } else {
        json.null();
    }
    json.endObject();
}

int runParams(const std::vector<std::string>& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "tarvo params: unexpected argument '%s'\n", args.front().c_str());
        return 2;
    }
    const BandSynth synth;
    Param sequencer[sequencerParamCount];
    defineSequencerParams(sequencer);

    JsonWriter json;
    json.beginObject();
    json.key("params").beginArray();
    for (const Param& p : synth.params) writeParam(json, p, true);
    json.endArray();
    json.key("sequencer").beginArray();
    for (const Param& p : sequencer) writeParam(json, p, false);
    json.endArray();
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("params", "(prints every parameter as JSON)", runParams);

} // namespace
} // namespace tarvo::tool
