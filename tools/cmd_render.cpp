// `tarvo render [--preset FILE.tarvo] [--bars N] [--rate SR] [--block N] [--buses K]
// --out FILE.wav`: plays a preset's pattern on the sequencer's own clock through the whole
// plug-in object, with idle ticks between blocks as a host's timer runs them, and writes the
// main bus (with --buses K, every bus: FILE.wav, FILE-bus1.wav, ...) as stereo float WAV.
// Without --preset it plays what a new instance opens with: the factory content is installed
// below the base folder where it is missing, then the start preset is loaded.
// Prints JSON: the preset's name, per-bus "peak" and "rms" lists, "seconds", "realtimeFactor"
// (audio seconds per second of rendering), the preset and sound folders (where the factory
// content goes) and the files written.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "persistence/Folders.h"
#include "tools/Command.h"
#include "tools/Json.h"
#include "tools/PresetRender.h"
#include "tools/WavWriter.h"
#include "tools/factory/FactoryContent.h"

namespace tarvo::tool {
namespace {

// Longest render the command accepts, in bars.
constexpr double maxBars = 256.0;
// Sample rates and host block sizes a host may use.
constexpr double minRate = 8000.0, maxRate = 384000.0;
constexpr double maxBlock = 8192.0;

int fail(const std::string& message, int code = 2) {
    std::fprintf(stderr, "tarvo render: %s\n", message.c_str());
    return code;
}

// FILE.wav for the main bus, FILE-bus1.wav ... for the others.
std::string busFile(const std::string& out, int bus) {
    if (bus == 0) return out;
    const std::filesystem::path path(out);
    std::filesystem::path named = path.parent_path() / path.stem();
    named += "-bus" + std::to_string(bus);
    named += path.extension();
    return named.string();
}

int runRender(const std::vector<std::string>& args) {
    std::string out, preset;
    if (!flagValue(args, "--out", out) || out.empty()) return fail("--out FILE.wav is required");
    const bool hasPreset = flagValue(args, "--preset", preset);
    if (hasPreset && preset.empty()) return fail("--preset takes a .tarvo file");
    double bars = 4.0, rate = 44100.0, block = 512.0, buses = 1.0;
    if (!numberFlag(args, "--bars", 0.0, maxBars, false, bars) || bars <= 0.0)
        return fail("--bars takes a number of bars above 0 and up to 256");
    if (!numberFlag(args, "--rate", minRate, maxRate, false, rate))
        return fail("--rate takes a sample rate from 8000 to 384000");
    if (!numberFlag(args, "--block", 1.0, maxBlock, true, block))
        return fail("--block takes a whole block size from 1 to 8192");
    if (!numberFlag(args, "--buses", 1.0, Ombrix::maxOutputBuses, true, buses))
        return fail("--buses takes a whole count of stereo buses from 1 to 9");

    auto plugin = std::make_unique<Ombrix>();
    if (hasPreset) {
        if (!openPreset(*plugin, preset)) {
            const std::string why =
                plugin->statusText.empty() ? "it holds more than one state" : plugin->statusText;
            return fail("cannot load " + preset + ": " + why, 1);
        }
    } else {
        // What a new instance does: its first preparation and idle tick install the factory
        // content and open the start preset.
        plugin->shippedContent = &factoryContent();
        plugin->reset(static_cast<float>(rate));
        plugin->idleTick();
        if (plugin->presetName.empty())
            std::fprintf(stderr, "tarvo render: no start preset was found; playing the empty kit\n");
    }

    RenderSettings settings;
    settings.seconds = barSeconds(*plugin, bars);
    settings.sampleRate = static_cast<int>(rate);
    settings.blockFrames = static_cast<int>(block);
    settings.busCount = static_cast<int>(buses);
    const RenderResult result = renderPattern(*plugin, settings);

    JsonWriter json;
    json.beginObject();
    json.key("preset").value(plugin->presetName);
    json.key("tempo").value(plugin->sequencer.param(StepSequencer::paramBpm).effective());
    json.key("peak").beginArray();
    for (float peak : result.peak) json.value(peak);
    json.endArray();
    json.key("rms").beginArray();
    for (float rms : result.rms) json.value(rms);
    json.endArray();
    json.key("seconds").value(result.seconds);
    json.key("realtimeFactor").value(result.wallSeconds > 0.0 ? result.seconds / result.wallSeconds : 0.0);
    json.key("presetFolder").value(folderText(Folder::Presets));
    json.key("soundFolder").value(folderText(Folder::Sounds));
    json.key("files").beginArray();
    for (size_t bus = 0; bus < result.buses.size(); ++bus) {
        const std::string file = busFile(out, static_cast<int>(bus));
        if (const FileWriteResult written = writeFloatWav(file, result.buses[bus], 2, settings.sampleRate);
            !written)
            return fail(written.error, 1);
        json.value(file);
    }
    json.endArray().endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("render",
                                       "[--preset FILE.tarvo] [--bars N] [--rate SR] [--block N] [--buses K] "
                                       "--out FILE.wav",
                                       runRender);

} // namespace
} // namespace tarvo::tool
