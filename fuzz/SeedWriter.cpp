// Writes the fuzz targets' seed corpora with the project's own writers, so that every run
// starts from well-formed data and mutates outwards from it.
// Usage: fuzz_seed_writer <corpus folder>; writes <corpus folder>/<Name>/seed-<n> for the target
// <Name>Fuzz.cpp.

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/scenes/KitScenes.h"
#include "control/Curve.h"
#include "control/StepSequencer.h"
#include "engine/BandSynth.h"
#include "engine/Blob.h"
#include "fuzz/FuzzInput.h"
#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"
#include "persistence/Settings.h"
#include "tools/WavWriter.h"

using tarvo::fuzz::FuzzOutput;
namespace fs = std::filesystem;

namespace {

using Seeds = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> sequencerBytes(const tarvo::StepSequencer& sequencer) {
    int size = 0;
    sequencer.write(nullptr, size, 0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    int position = 0;
    sequencer.write(bytes.data(), position, size);
    return bytes;
}

Seeds sequencerSeeds() {
    Seeds seeds;
    tarvo::StepSequencer empty;
    tarvo::StepSequencer busy;
    for (int track = 0; track < busy.trackCount(); ++track) {
        for (int step = track % 3; step < busy.loopSteps; step += 1 + track % 4)
            busy.insertNote(track, step * tarvo::StepSequencer::ticksPerStep, 512, 20 + 13 * track);
        busy.patterns[static_cast<size_t>(track)].length = 3 + 2 * track;
    }
    busy.param(tarvo::StepSequencer::paramSwing).set(25.0f);
    busy.param(tarvo::StepSequencer::paramLooseTime).set(40.0f);
    busy.param(tarvo::StepSequencer::paramBpm).set(174.0f);
    for (const tarvo::StepSequencer* s : {&empty, &busy})
        for (uint8_t version : {0, 1}) {
            FuzzOutput out;
            out.u8(version);
            out.append(sequencerBytes(*s));
            seeds.push_back(out.bytes);
        }
    return seeds;
}

Seeds curveSeeds() {
    Seeds seeds;
    const tarvo::CurvePoint shapes[][4] = {
        {{0.0f, 0.0f, 0.0f}, {0.25f, 1.0f, 0.5f}, {0.5f, 0.2f, -0.7f}, {0.9f, 0.8f, 1.0f}},
        {{0.0f, 1.0f, -1.0f}, {0.1f, 0.0f, 0.0f}, {0.2f, 0.5f, 0.3f}, {1.0f, 0.0f, 0.0f}},
    };
    for (int capacity : {4, 64})
        for (int loop : {0, 1})
            for (const auto& points : shapes) {
                tarvo::Curve curve(capacity);
                curve.setPoints(points, 4);
                curve.setLoop(loop != 0);
                std::vector<uint8_t> bytes(static_cast<size_t>(tarvo::curveByteSize(curve)));
                int position = 0;
                tarvo::writeCurve(curve, bytes.data(), position, static_cast<int>(bytes.size()));
                FuzzOutput out;
                out.u8(static_cast<uint8_t>(capacity - 1));
                out.u8(static_cast<uint8_t>(loop));
                out.append(bytes);
                seeds.push_back(out.bytes);
            }
    return seeds;
}

Seeds paramSeeds() {
    Seeds seeds;
    const auto engine = std::make_unique<tarvo::BandSynth>();
    const tarvo::StepSequencer sequencer;
    const size_t count = engine->params.size();
    // Every shape of mapping and both ends of the table.
    for (size_t index : {size_t{0}, size_t{1}, size_t{5}, size_t{19}, count / 2, count - 1, count}) {
        if (index >= count) index = count; // the sequencer's first parameter
        FuzzOutput out;
        out.u16(static_cast<uint16_t>(index));
        out.u8(1);
        std::vector<uint8_t> value(4);
        int position = 0;
        const tarvo::Param& p = index < count ? engine->params[index] : sequencer.params[0];
        p.writeValue(value.data(), position, 4);
        out.append(value);
        seeds.push_back(out.bytes);
    }
    return seeds;
}

// One MIDI message in the queue target's command layout.
void message(FuzzOutput& out, int16_t offset, uint8_t status, uint8_t data1, uint8_t data2) {
    out.u8(0x00);
    out.u16(static_cast<uint16_t>(offset));
    out.u8(status);
    out.u8(data1);
    out.u8(data2);
}

void block(FuzzOutput& out, uint16_t frames, uint8_t channels) {
    out.u8(0x80);
    out.u16(frames);
    out.u8(channels);
}

Seeds midiSeeds() {
    Seeds seeds;
    for (uint8_t flags : {0, 2, 5, 7}) {
        FuzzOutput out;
        out.u8(flags);
        out.f32(128.0f);
        out.f64(3.5);
        // A note on every track, controllers, the wheel and the transport keys.
        for (uint8_t track = 0; track < 8; ++track)
            message(out, static_cast<int16_t>(track * 40), 0x90, 36 + track, 100);
        message(out, 10, 0xB3, 1, 64);
        message(out, 20, 0xE0, 0, 96);
        message(out, 30, 0xD1, 50, 0);
        message(out, 40, 0xA0, 36, 90);
        block(out, 512, 18);
        message(out, 0, 0x90, 45, 100); // A: start the sequencer
        for (uint8_t track = 0; track < 8; ++track) message(out, 5, 0x80, 36 + track, 0);
        block(out, 63, 2);
        block(out, 1, 2);
        message(out, 700, 0x90, 47, 100); // B, in a later block: stop
        block(out, 4096, 18);
        seeds.push_back(out.bytes);
    }
    return seeds;
}

Seeds blobSeeds() {
    Seeds seeds;
    tarvo::Blob blob;
    blob.clear();
    auto add = [&] {
        std::vector<uint8_t> bytes(tarvo::Blob::byteSize);
        blob.serialize(bytes);
        seeds.push_back(bytes);
    };
    add();
    for (int r = 0; r < tarvo::Blob::timeRowCount; ++r) blob.timeWarps[static_cast<size_t>(r)][10] += 3.0f;
    blob.freqWarps[2][20] -= 5.0f;
    blob.normalise();
    add();
    blob.mirrorTime();
    add();
    blob.mirrorFrequency();
    add();
    return seeds;
}

// The state of a new instance, and of one playing the start kit with every kind of field set:
// an edited and an absent sound, LFO shapes, mute and solo, and a modified preset's name.
Seeds stateSeeds() {
    Seeds seeds;
    const auto plugin = std::make_unique<tarvo::Ombrix>();
    seeds.push_back(tarvo::saveState(*plugin));
    plugin->reset(44100.0f);
    tarvo::scenes::loadStartKit(*plugin);
    tarvo::TrackBlobs& blobs = plugin->engine.tracks[1].blobs;
    blobs.slotA.working.name = "Snare";
    blobs.slotA.working.editCount = 2;
    blobs.slotB.working.present = 0;
    const tarvo::CurvePoint shape[] = {{0.0f, 0.2f, 0.5f}, {0.4f, 1.0f, -0.3f}, {0.8f, 0.0f, 0.0f}};
    plugin->engine.modSystem.lfoCurves[2].setPoints(shape, 3);
    plugin->engine.muteMask.store(0b100);
    plugin->engine.soloTrack.store(3);
    plugin->presetName = "Start Kit";
    plugin->presetEditCount.store(1);
    seeds.push_back(tarvo::saveState(*plugin));
    return seeds;
}

// Settings files as the instance writes them: the first one, and one with every key in use.
Seeds settingsSeeds() {
    Seeds seeds;
    const std::map<std::string, std::string> files[] = {
        {{tarvo::Settings::themeKey, tarvo::Settings::defaultTheme}},
        {{tarvo::Settings::themeKey, "Dark Room.txt"}, {tarvo::Settings::sizeKey, "150"}},
    };
    for (const auto& pairs : files) {
        const std::string text = tarvo::Settings::format(pairs);
        seeds.emplace_back(text.begin(), text.end());
    }
    return seeds;
}

// A short decaying tone, interleaved.
std::vector<float> tone(int frames, int channels) {
    std::vector<float> samples;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(0.8f * std::exp(-i / 40.0f) * std::sin(0.3f * static_cast<float>(i * (c + 1))));
    return samples;
}

// Audio files as the tool renders them, and as libsndfile writes the other layouts the
// importer reads; written straight into the corpus folder.
bool writeAudioSeeds(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return false;
    if (!tarvo::tool::writeFloatWav((folder / "seed-float.wav").string(), tone(64, 2), 2, 44100).ok)
        return false;
    struct Layout {
        const char* name;
        int format;
        int channels;
        int rate;
    };
    const Layout layouts[] = {
        {"seed-16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100},
        {"seed-24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48000},
        {"seed-8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 22050},
        {"seed-32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1, 96000},
        {"seed-16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2, 44100},
        {"seed-8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 1, 8000},
        {"seed-float.aifc", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 1, 44100},
    };
    for (const Layout& layout : layouts) {
        SF_INFO info{};
        info.samplerate = layout.rate;
        info.channels = layout.channels;
        info.format = layout.format;
        SNDFILE* file = sf_open((folder / layout.name).string().c_str(), SFM_WRITE, &info);
        if (file == nullptr) return false;
        const std::vector<float> samples = tone(48, layout.channels);
        sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()) / layout.channels);
        sf_close(file);
    }
    return true;
}

bool writeSeeds(const fs::path& folder, const Seeds& seeds) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return false;
    for (size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream file(folder / ("seed-" + std::to_string(i)), std::ios::binary);
        file.write(reinterpret_cast<const char*>(seeds[i].data()),
                   static_cast<std::streamsize>(seeds[i].size()));
        if (!file) return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seed_writer <corpus folder>\n");
        return 2;
    }
    const fs::path root(argv[1]);
    const bool ok =
        writeSeeds(root / "SequencerState", sequencerSeeds()) && writeSeeds(root / "Curve", curveSeeds()) &&
        writeSeeds(root / "ParamValue", paramSeeds()) && writeSeeds(root / "MidiQueue", midiSeeds()) &&
        writeSeeds(root / "Blob", blobSeeds()) && writeSeeds(root / "State", stateSeeds()) &&
        writeSeeds(root / "Settings", settingsSeeds()) && writeAudioSeeds(root / "AudioFile");
    if (!ok) std::fprintf(stderr, "fuzz_seed_writer: cannot write below %s\n", argv[1]);
    return ok ? 0 : 1;
}
