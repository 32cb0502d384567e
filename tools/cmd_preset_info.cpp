// `tarvo preset-info FILE.tarvo`: loads a preset file (or a saved host state) the way a host
// state load does, into a fresh instance, and prints what it holds as JSON. A file that does
// not load prints the status text the editor would show and exits with 1.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "instrument/StateChunk.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

// Offset of the chunk version, after the magic text and its zero byte.
constexpr size_t versionOffset = 12;

void writeCurve(JsonWriter& json, const Curve& curve) {
    json.beginArray();
    for (int i = 0; i < curve.count; ++i) {
        const CurvePoint& p = curve.points[static_cast<size_t>(i)];
        json.beginArray().value(p.x).value(p.y).value(p.shape).endArray();
    }
    json.endArray();
}

void writeSlot(JsonWriter& json, const char* key, const Blob& blob) {
    json.key(key).beginObject();
    json.key("present").value(blob.present != 0);
    json.key("name").value(blob.name);
    json.key("edited").value(blob.editCount > 0);
    json.endObject();
}

int rejected(const std::string& statusText) {
    JsonWriter json;
    json.beginObject().key("status").value("rejected").key("statusText").value(statusText).endObject();
    json.print();
    return 1;
}

int runPresetInfo(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: tarvo preset-info FILE.tarvo\n", stderr);
        return 2;
    }
    std::ifstream in(args[0], std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.is_open() || in.bad()) return rejected(openPresetFailedText + args[0]);

    auto plugin = std::make_unique<Ombrix>();
    if (readState(*plugin, bytes.data(), static_cast<int>(bytes.size())) == 0)
        return rejected(plugin->statusText);
    int32_t version = 0;
    std::memcpy(&version, bytes.data() + versionOffset, sizeof version);

    JsonWriter json;
    json.beginObject();
    json.key("status").value("ok");
    json.key("version").value(static_cast<int>(version));
    json.key("presetName").value(plugin->presetName);
    json.key("modified").value(plugin->presetModified());
    json.key("params").beginArray();
    for (const Param& p : plugin->engine.params) json.value(p.value);
    json.endArray();
    json.key("tracks").beginArray();
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        const TrackBlobs& blobs = plugin->engine.tracks[static_cast<size_t>(t)].blobs;
        json.beginObject();
        writeSlot(json, "slotA", blobs.slotA.working);
        writeSlot(json, "slotB", blobs.slotB.working);
        json.key("velocityCurve");
        writeCurve(json, plugin->engine.tracks[static_cast<size_t>(t)].velocityCurve);
        json.endObject();
    }
    json.endArray();
    json.key("lfoCurves").beginArray();
    for (const Curve& curve : plugin->engine.modSystem.lfoCurves) writeCurve(json, curve);
    json.endArray();
    json.key("muteMask").value(static_cast<int>(plugin->engine.muteMask.load()));
    json.key("soloTrack").value(static_cast<int>(plugin->engine.soloTrack.load()));
    json.key("patterns").beginArray();
    for (const TrackPattern& pattern : plugin->sequencer.patterns) {
        json.beginObject();
        json.key("length").value(static_cast<int>(pattern.length));
        json.key("notes").beginArray();
        for (const SeqNote& note : pattern.notes)
            json.beginArray()
                .value(static_cast<int>(note.start))
                .value(static_cast<int>(note.length))
                .value(static_cast<int>(note.velocity))
                .endArray();
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.key("sequencer").beginObject();
    for (const Param& p : plugin->sequencer.params) json.key(p.name).value(p.value);
    json.endObject();
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("preset-info", "FILE.tarvo", runPresetInfo);

} // namespace
} // namespace tarvo::tool
