// `tarvo fidelity FILE|FOLDER... [--velocity V]`: imports audio files as the editor does,
// plays each resulting Blob as `tarvo hit` would, and prints one JSON object per line and
// file with how closely the replay follows the recording (see analysis/ImportFidelity.h),
// then one line with the means over the files that could be measured.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "analysis/AudioFile.h"
#include "analysis/AudioImport.h"
#include "analysis/ImportFidelity.h"
#include "engine/Blob.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

// The replay lasts the recording plus this, so that a tail that outlasts it shows.
constexpr double replayExtraSeconds = 1.0;
// The longest replay rendered, in seconds.
constexpr double longestReplaySeconds = 6.0;

struct Means {
    int files = 0;
    double cell = 0.0, envelope = 0.0, spectrum = 0.0;
    void add(const FidelityFigures& f) {
        ++files;
        cell += f.cellErrorDb;
        envelope += f.envelopeErrorDb;
        spectrum += f.spectrumErrorDb;
    }
};

void measure(const std::string& path, double velocity, Means& means) {
    JsonWriter json;
    json.beginObject();
    json.key("path").value(path);
    const MonoAudio audio = loadAudioFile(path, AudioMessages::Silent);
    Blob blob;
    if (!audio.ok() || !importedBlob(audio.samples, audio.sampleRate, blob)) {
        json.key("ok").value(false);
        json.key("message").value(audio.ok() ? "silent: nothing to analyse" : audio.message);
        json.endObject();
        json.print();
        return;
    }
    const std::vector<float> recording = toFidelityRate(audio.samples, audio.sampleRate);
    const double seconds = std::min(static_cast<double>(recording.size()) / fidelityRate + replayExtraSeconds,
                                    longestReplaySeconds);
    const FidelityFigures f = fidelityOf(recording, replayBlob(blob, seconds, velocity));
    means.add(f);
    json.key("ok").value(true);
    json.key("cellDb").value(f.cellErrorDb);
    json.key("envelopeDb").value(f.envelopeErrorDb);
    json.key("spectrumDb").value(f.spectrumErrorDb);
    json.key("shiftMs").value(f.shiftMs);
    json.key("peakLateMs").value(f.peakLateMs);
    json.key("recordingEndMs").value(f.recordingEndMs);
    json.key("replayEndMs").value(f.replayEndMs);
    json.key("silentTailDb").value(f.silentTailDb);
    json.key("blobLength").value(static_cast<double>(blob.length));
    json.endObject();
    json.print();
    std::fflush(stdout);
}

int runFidelity(const std::vector<std::string>& args) {
    double velocity = 100.0;
    std::vector<std::string> inputs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--velocity" && i + 1 < args.size()) {
            char* end = nullptr;
            velocity = std::strtod(args[++i].c_str(), &end);
            if (end == nullptr || *end != '\0' || !(velocity >= 0.0 && velocity <= 127.0)) {
                std::fputs("tarvo fidelity: --velocity takes a number from 0 to 127\n", stderr);
                return 2;
            }
            continue;
        }
        inputs.push_back(args[i]);
    }
    if (inputs.empty()) {
        std::fputs("tarvo fidelity: give one or more audio files or folders\n", stderr);
        return 2;
    }
    Means means;
    for (const std::string& input : inputs) {
        std::error_code error;
        if (std::filesystem::is_directory(input, error)) {
            for (const ImportEntry& entry : collectImportEntries({input}))
                measure(entry.folder + entry.file, velocity, means);
        } else {
            measure(input, velocity, means);
        }
    }
    JsonWriter json;
    json.beginObject();
    json.key("files").value(static_cast<long long>(means.files));
    const double n = std::max(means.files, 1);
    json.key("meanCellDb").value(means.cell / n);
    json.key("meanEnvelopeDb").value(means.envelope / n);
    json.key("meanSpectrumDb").value(means.spectrum / n);
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("fidelity", "FILE|FOLDER... [--velocity V]", runFidelity);

} // namespace
} // namespace tarvo::tool
