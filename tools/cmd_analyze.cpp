// `tarvo analyze FILE... [--out-dir DIR]`: analyses audio files, or every audio file below
// given folders, into Blob files, as the editor's batch import does. Prints one JSON object
// per line and file: path, ok, blob (the written file or null), message (why it failed, or
// null), sampleRate and frames (null when the file could not be read). Exits 0 once it ran,
// whatever happened to single files.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "analysis/AudioAnalysis.h"
#include "analysis/AudioFile.h"
#include "analysis/SoundCategories.h"
#include "engine/Blob.h"
#include "persistence/Folders.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

// Where imported sounds go inside the sounds folder.
constexpr const char* userSoundsFolder = "0 User";
// A file whose magnitudes sum to no more than this is silent and not imported.
constexpr double silentSum = 1e-30;

// One file to import: its path, and the name it is stored under (relative, with extension).
struct Entry {
    std::filesystem::path source;
    std::string name;
};

struct Outcome {
    bool ok = false;
    std::optional<std::string> blob;
    std::optional<std::string> message;
    std::optional<double> sampleRate;
    std::optional<long long> frames;
};

void printOutcome(const std::string& path, const Outcome& outcome) {
    JsonWriter json;
    json.beginObject();
    json.key("path").value(path);
    json.key("ok").value(outcome.ok);
    json.key("blob");
    outcome.blob ? json.value(*outcome.blob) : json.null();
    json.key("message");
    outcome.message ? json.value(*outcome.message) : json.null();
    json.key("sampleRate");
    outcome.sampleRate ? json.value(*outcome.sampleRate) : json.null();
    json.key("frames");
    outcome.frames ? json.value(*outcome.frames) : json.null();
    json.endObject();
    json.print();
    std::fflush(stdout);
}

// The stored name: the entry without its last extension, plus ".blob".
std::filesystem::path blobPath(const std::filesystem::path& outDir, const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    const size_t dot = name.find_last_of('.');
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash) ? name.substr(0, dot) : name;
    return outDir / (stem + ".blob");
}

Outcome importFile(const Entry& entry, const std::filesystem::path& outDir) {
    Outcome outcome;
    const MonoAudio audio = loadAudioFile(entry.source, AudioMessages::Silent);
    if (!audio.ok()) {
        outcome.message = audio.message;
        return outcome;
    }
    outcome.sampleRate = audio.sampleRate;
    outcome.frames = static_cast<long long>(audio.samples.size());
    double sum = 0.0;
    for (float s : audio.samples) sum += std::abs(static_cast<double>(s));
    if (!(sum > silentSum)) {
        outcome.message = "silent: nothing to analyse";
        return outcome;
    }
    if (!(audio.sampleRate >= minAnalysisRate && audio.sampleRate <= maxAnalysisRate)) {
        outcome.message = "ERROR: the sample rate of this file is out of range";
        return outcome;
    }
    Blob blob;
    analyzeAudio(blob, audio.samples, audio.sampleRate);
    std::vector<uint8_t> bytes(Blob::byteSize);
    if (blob.serialize(bytes) != bytes.size()) {
        outcome.message = "ERROR: the Blob could not be serialised";
        return outcome;
    }
    const std::filesystem::path target = blobPath(outDir, entry.name);
    bool written = createParentFolders(target);
    if (written) {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        written = static_cast<bool>(out.flush());
    }
    if (!written) {
        outcome.message = "ERROR: could not write " + target.generic_string();
        return outcome;
    }
    outcome.ok = true;
    outcome.blob = target.generic_string();
    return outcome;
}

int runAnalyze(const std::vector<std::string>& args) {
    std::string outDirText;
    const bool hasOutDir = flagValue(args, "--out-dir", outDirText);
    std::vector<std::string> inputs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out-dir") {
            ++i;
            continue;
        }
        inputs.push_back(args[i]);
    }
    if (inputs.empty()) {
        std::fputs("tarvo analyze: give one or more audio files or folders\n", stderr);
        return 2;
    }
    const std::filesystem::path outDir =
        hasOutDir ? std::filesystem::path(outDirText) : folderPath(Folder::Sounds) / userSoundsFolder;

    for (const std::string& input : inputs) {
        std::error_code error;
        const std::filesystem::path path(input);
        if (std::filesystem::is_directory(path, error)) {
            // A folder is imported below its own name, with its subfolders.
            std::filesystem::path folder = path;
            if (!folder.has_filename()) folder = folder.parent_path();
            const std::string folderName = folder.filename().string();
            for (const std::string& relative : listFolder(folder.string())) {
                if (!isImportableAudioPath(relative)) continue;
                const Entry entry{folder / relative, folderName + "/" + relative};
                printOutcome(entry.source.generic_string(), importFile(entry, outDir));
            }
            continue;
        }
        if (!isImportableAudioPath(input)) {
            Outcome refused;
            refused.message = "ERROR: not a .wav, .aif, .aiff, .flac, .ogg or .mp3 file";
            printOutcome(input, refused);
            continue;
        }
        printOutcome(input, importFile(Entry{path, path.filename().string()}, outDir));
    }
    return 0;
}

const CommandRegistration registration("analyze", "FILE... [--out-dir DIR]", runAnalyze);

} // namespace
} // namespace tarvo::tool
