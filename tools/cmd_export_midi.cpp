// `tarvo export-midi FILE.tarvo --out FILE.mid`: loads a preset file as a host state load
// does and writes its patterns as the editor's "Export MIDI" would, with the stored "Swing",
// "Loose Time" and "Loose Velo" applied (the random generator starts from its initial state,
// so the result is the same on every run). Prints a short JSON summary.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "instrument/StateChunk.h"
#include "persistence/AtomicFile.h"
#include "persistence/MidiExport.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

int runExportMidi(const std::vector<std::string>& args) {
    std::string out, presetFile;
    bool extra = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out" && i + 1 < args.size())
            out = args[++i];
        else if (presetFile.empty())
            presetFile = args[i];
        else
            extra = true;
    }
    if (extra || out.empty() || presetFile.empty()) {
        std::fputs("usage: tarvo export-midi FILE.tarvo --out FILE.mid\n", stderr);
        return 2;
    }
    std::ifstream in(presetFile, std::ios::binary);
    if (!in.is_open()) {
        std::fprintf(stderr, "tarvo export-midi: %s%s\n", openPresetFailedText, presetFile.c_str());
        return 1;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    auto plugin = std::make_unique<Ombrix>();
    if (readState(*plugin, bytes.data(), static_cast<int>(bytes.size())) == 0) {
        std::fprintf(stderr, "tarvo export-midi: %s\n", plugin->statusText.c_str());
        return 1;
    }
    const std::vector<ExportEvent> events = buildExportEvents(plugin->sequencer);
    const std::vector<uint8_t> file = encodeMidiFile(events);
    if (const FileWriteResult written = writeFileAtomically(out, file); !written) {
        std::fprintf(stderr, "tarvo export-midi: %s\n", written.error.c_str());
        return 1;
    }
    JsonWriter json;
    json.beginObject();
    json.key("out").value(out);
    json.key("bytes").value(static_cast<int>(file.size()));
    json.key("events").value(static_cast<int>(events.size()));
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("export-midi", "FILE.tarvo --out FILE.mid", runExportMidi);

} // namespace
} // namespace tarvo::tool
