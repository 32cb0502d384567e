// `tarvo analyze FILE... [--out-dir DIR]`: analyses audio files, or every audio file below
// given folders, into Blob files, as the editor's batch import does. Prints one JSON object
// per line and file: path, ok, blob (the written file or null), message (why it failed, or
// null), sampleRate and frames (null when the file could not be read). Exits 0 once it ran,
// whatever happened to single files.
#include <cstdio>
#include <filesystem>

#include "analysis/AudioImport.h"
#include "persistence/Folders.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

void printOutcome(const std::string& path, const ImportOutcome& outcome, const std::string& blob) {
    JsonWriter json;
    json.beginObject();
    json.key("path").value(path);
    json.key("ok").value(outcome.written);
    json.key("blob");
    outcome.written ? json.value(blob) : json.null();
    json.key("message");
    outcome.message.empty() ? json.null() : json.value(outcome.message);
    json.key("sampleRate");
    outcome.sampleRate >= 0.0 ? json.value(outcome.sampleRate) : json.null();
    json.key("frames");
    outcome.frames >= 0 ? json.value(static_cast<long long>(outcome.frames)) : json.null();
    json.endObject();
    json.print();
    std::fflush(stdout);
}

// Imports one file below outDir under the name the editor's import gives it.
void importEntry(const ImportEntry& entry, const std::filesystem::path& outDir) {
    const std::filesystem::path source(entry.folder + entry.file);
    const std::filesystem::path target = outDir / (withoutLastExtension(entry.file) + ".blob");
    printOutcome(source.generic_string(), analyzeIntoBlobFile(source, target, AudioMessages::Silent),
                 target.generic_string());
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
            for (const ImportEntry& entry : collectImportEntries({input})) importEntry(entry, outDir);
            continue;
        }
        if (!isImportableAudioPath(input)) {
            ImportOutcome refused;
            refused.message = "ERROR: not a .wav, .aif, .aiff, .flac, .ogg or .mp3 file";
            printOutcome(input, refused, {});
            continue;
        }
        const size_t slash = input.find_last_of("/\\");
        importEntry(slash == std::string::npos
                        ? ImportEntry{{}, input}
                        : ImportEntry{input.substr(0, slash + 1), input.substr(slash + 1)},
                    outDir);
    }
    return 0;
}

const CommandRegistration registration("analyze", "FILE... [--out-dir DIR]", runAnalyze);

} // namespace
} // namespace tarvo::tool
