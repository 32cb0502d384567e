// `tarvo blob-info FILE.blob`: loads a Blob file the way a track slot does and prints its
// knots and derived values as JSON.
#include <cstdio>

#include "engine/BlobSlots.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

template <typename Lists> void writeLists(JsonWriter& json, const char* key, const Lists& lists) {
    json.key(key).beginArray();
    for (const auto& list : lists) {
        json.beginArray();
        for (float v : list) json.value(v);
        json.endArray();
    }
    json.endArray();
}

int runBlobInfo(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("usage: tarvo blob-info FILE.blob\n", stderr);
        return 2;
    }
    Blob blob;
    std::string reason;
    if (!readBlobFile(args[0], blob, reason)) {
        std::fprintf(stderr, "tarvo blob-info: %s\n", reason.c_str());
        return 1;
    }
    JsonWriter json;
    json.beginObject();
    writeLists(json, "timeWarps", blob.timeWarps);
    writeLists(json, "freqWarps", blob.freqWarps);
    json.key("energy").value(blob.energy);
    json.key("length").value(blob.length);
    json.key("audibleKnots").value(static_cast<int>(blob.audibleKnots));
    json.key("tailTime").beginArray();
    for (float t : blob.tailTime) json.value(t);
    json.endArray();
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("blob-info", "FILE.blob", runBlobInfo);

} // namespace
} // namespace tarvo::tool
