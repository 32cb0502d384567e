#include "persistence/MidiExport.h"

#include <algorithm>
#include <cmath>

#include "persistence/AtomicFile.h"
#include "persistence/Folders.h"

namespace tarvo {

namespace {

// Ticks per quarter note: four steps of 1024 ticks.
constexpr int ticksPerQuarter = 4 * StepSequencer::ticksPerStep;
// Every note plays channel 1; track t plays this note number plus t.
constexpr int baseNote = 36;
constexpr uint8_t noteOnStatus = 0x90, noteOffStatus = 0x80;
// Velocity sent with every note-off.
constexpr uint8_t noteOffVelocity = 64;
// Bytes of the track's meta events: track name, two time signatures and the end of track.
constexpr uint32_t metaEventBytes = 24;
// Largest tick an event can carry.
constexpr int maxTick = 0xFFFF;
// The export walks "Loose Time" as if a step lasted this many seconds.
constexpr double secondsPerStep = 2.0;

constexpr uint8_t headerChunkId[] = {'M', 'T', 'h', 'd'};
constexpr uint8_t trackChunkId[] = {'M', 'T', 'r', 'k'};
constexpr uint8_t trackNameEvent[] = {0x00, 0xFF, 0x03, 0x00};
// 4/4, 36 MIDI clocks per click, eight thirty-second notes per quarter.
constexpr uint8_t timeSignatureEvent[] = {0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x24, 0x08};
constexpr uint8_t endOfTrackEvent[] = {0x00, 0xFF, 0x2F, 0x00};

// The sequencer's "Loose Time" random walk over dt seconds: a first-order random process
// with a 0.2 s time constant and a spread of up to ±0.2 steps.
float looseTimeStep(float jitter, double dt, float looseTime) {
    const double c = 1.0 - dt / (dt + StepSequencer::looseTimeSeconds);
    const double spread = std::sqrt(std::max(0.0, 1.0 - c * c)) * (looseTime * 0.2 / 100.0);
    return static_cast<float>(spread * (2.0 * SharedRandom::uniform() - 1.0) + c * jitter);
}

uint16_t clampTick(double tick) {
    return static_cast<uint16_t>(std::clamp(tick, 0.0, static_cast<double>(maxTick)));
}

void putBytes(std::vector<uint8_t>& out, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) out.push_back(bytes[i]);
}

void putBigEndian(std::vector<uint8_t>& out, uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A MIDI variable-length quantity: 7-bit groups, most significant first, bit 7 on all but the last.
void putVariableLength(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) out.push_back(static_cast<uint8_t>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

} // namespace

std::vector<ExportEvent> buildExportEvents(const StepSequencer& sequencer) {
    const float swing = sequencer.param(StepSequencer::paramSwing).effective() / 100.0f;
    const float looseTime = sequencer.param(StepSequencer::paramLooseTime).effective();
    const float looseVelo = sequencer.param(StepSequencer::paramLooseVelo).effective();

    std::vector<ExportEvent> events;
    for (int track = 0; track < sequencer.trackCount(); ++track) {
        const size_t first = events.size();
        float jitter = 0.0f;
        double previous = 0.0; // steps
        for (const SeqNote& note : sequencer.patterns[static_cast<size_t>(track)].notes) {
            const double s = note.start / static_cast<double>(StepSequencer::ticksPerStep);
            jitter = looseTimeStep(jitter, (s - previous) * secondsPerStep, looseTime);
            const double g = s + jitter;
            // Every second step is pushed later by the swing, the most at its centre.
            double p = std::fmod(g, 2.0);
            if (p < 0.0) p += 2.0;
            const double swung = g + swing * (p < 1.0 ? p : 2.0 - p);
            // A jittered note never starts before the pattern does.
            const uint16_t on = clampTick(std::trunc(swung * StepSequencer::ticksPerStep + 0.5));
            const float spread = std::trunc((SharedRandom::uniform() - 0.5f) * looseVelo);
            const auto velocity =
                static_cast<uint8_t>(std::clamp(note.velocity + static_cast<int>(spread), 1, 127));
            const uint16_t off = clampTick(static_cast<double>(on) + note.length - 1);
            events.push_back({on, note.length, velocity, static_cast<uint8_t>(track)});
            events.push_back({off, note.length, 0, static_cast<uint8_t>(track)});
            previous = s;
        }
        // No event of a track lies later than the one after it: a note-off that runs into the
        // next note moves back to that note's start.
        for (size_t i = events.size(); i-- > first + 1;)
            events[i - 1].tick = std::min(events[i - 1].tick, events[i].tick);
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const ExportEvent& a, const ExportEvent& b) { return a.tick < b.tick; });
    return events;
}

std::vector<uint8_t> encodeMidiFile(const std::vector<ExportEvent>& events) {
    std::vector<uint8_t> track;
    track.reserve(events.size() * 8);
    uint16_t previous = 0;
    for (const ExportEvent& e : events) {
        putVariableLength(track, static_cast<uint32_t>(std::max(e.tick - previous, 0)));
        const bool on = e.velocity > 0;
        track.push_back(on ? noteOnStatus : noteOffStatus);
        track.push_back(static_cast<uint8_t>(baseNote + e.track));
        track.push_back(on ? e.velocity : noteOffVelocity);
        previous = e.tick;
    }

    std::vector<uint8_t> file;
    file.reserve(track.size() + 64);
    putBytes(file, headerChunkId, 4);
    putBigEndian(file, 6, 4);               // header length
    putBigEndian(file, 0, 2);               // format 0
    putBigEndian(file, 1, 2);               // one track
    putBigEndian(file, ticksPerQuarter, 2); // time division
    putBytes(file, trackChunkId, 4);
    putBigEndian(file, static_cast<uint32_t>(track.size()) + metaEventBytes, 4);
    putBytes(file, trackNameEvent, sizeof trackNameEvent);
    putBytes(file, timeSignatureEvent, sizeof timeSignatureEvent);
    putBytes(file, timeSignatureEvent, sizeof timeSignatureEvent);
    putBytes(file, track.data(), track.size());
    putBytes(file, endOfTrackEvent, sizeof endOfTrackEvent);
    return file;
}

std::filesystem::path midiExportPath() {
    return folderPath(Folder::Data) / "sequence_export.mid";
}

std::filesystem::path exportMidi(const StepSequencer& sequencer) {
    const std::filesystem::path path = midiExportPath();
    const std::vector<uint8_t> bytes = encodeMidiFile(buildExportEvents(sequencer));
    if (!writeFileAtomically(path, bytes)) return {};
    return path;
}

} // namespace tarvo
