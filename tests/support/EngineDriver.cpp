#include "support/EngineDriver.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <vector>

#include "instrument/StateChunk.h"

namespace tarvo::testsupport {

namespace {

// Block sizes hosts commonly use, and the odd ones that stress the hop grid.
constexpr int typicalBlockSizes[] = {1,   2,   3,   16,  32,   63,   64,   65,   100,  127, 128,
                                     256, 441, 480, 512, 1000, 1024, 2048, 4096, 8191, 8192};
// MIDI status bytes (channel 0) of the message kinds the plug-in reads, and two it ignores.
constexpr uint8_t noteOffStatus = 0x80, noteOnStatus = 0x90, polyPressureStatus = 0xA0,
                  controlChangeStatus = 0xB0, programChangeStatus = 0xC0, channelPressureStatus = 0xD0,
                  pitchWheelStatus = 0xE0, systemStatus = 0xF0;
// Note classes that play tracks (C..G) and the transport keys (A, A sharp, B).
constexpr int trackKeyCount = 8, firstTransportKey = 9, transportKeyCount = 3;

} // namespace

OutputBuffers::OutputBuffers() : data_(channelCount, std::vector<float>(maxFrames, 0.0f)) {
    for (int c = 0; c < channelCount; ++c)
        pointers_[static_cast<size_t>(c)] = data_[static_cast<size_t>(c)].data();
}

void OutputBuffers::poison(int frames) {
    for (auto& channel : data_) std::fill(channel.begin(), channel.begin() + frames, 1.0e30f);
}

float OutputBuffers::peak(int frames) const {
    float peak = 0.0f;
    for (const auto& channel : data_)
        for (int i = 0; i < frames; ++i) {
            const float v = channel[static_cast<size_t>(i)];
            if (!std::isfinite(v)) return std::numeric_limits<float>::infinity();
            peak = std::max(peak, std::fabs(v));
        }
    return peak;
}

int AudioDriver::pickBlockSize() {
    if (random.chance(0.7f))
        return typicalBlockSizes[random.below(static_cast<int>(std::size(typicalBlockSizes)))];
    return 1 + random.below(OutputBuffers::maxFrames);
}

void AudioDriver::queueMidi(Ombrix& plugin, int frames) {
    const int count = midiPerBlock > 0 ? random.below(2 * midiPerBlock + 1) : 0;
    for (int i = 0; i < count; ++i) {
        MidiMessage m;
        m.offset = random.below(frames);
        const uint8_t channel = static_cast<uint8_t>(random.below(16));
        const int octave = random.below(11);
        const int kind = random.below(100);
        if (kind < 40) {
            m.status = noteOnStatus | channel;
            m.data1 = static_cast<uint8_t>(std::min(127, octave * 12 + random.below(trackKeyCount)));
            m.data2 = static_cast<uint8_t>(random.below(128)); // 0 is a note off
        } else if (kind < 70) {
            m.status = noteOffStatus | channel;
            m.data1 = static_cast<uint8_t>(std::min(127, octave * 12 + random.below(trackKeyCount)));
            m.data2 = static_cast<uint8_t>(random.below(128));
        } else if (kind < 73) {
            // Transport keys start and stop the sequencer.
            m.status = (random.chance(0.5f) ? noteOnStatus : noteOffStatus) | channel;
            m.data1 = static_cast<uint8_t>(
                std::min(127, octave * 12 + firstTransportKey + random.below(transportKeyCount)));
            m.data2 = static_cast<uint8_t>(random.below(128));
        } else {
            static constexpr uint8_t others[] = {polyPressureStatus,  controlChangeStatus,
                                                 programChangeStatus, channelPressureStatus,
                                                 pitchWheelStatus,    systemStatus};
            m.status = others[random.below(static_cast<int>(std::size(others)))] | channel;
            m.data1 = static_cast<uint8_t>(random.below(128));
            m.data2 = static_cast<uint8_t>(random.below(128));
        }
        plugin.midiIn(m);
    }
}

void AudioDriver::moveTransport(int frames, float sampleRate) {
    if (random.chance(0.02f)) transport.playing = !transport.playing;
    if (random.chance(0.01f)) transport.ppqPosition = random.uniform() * 68.0 - 4.0; // pre-roll included
    if (random.chance(0.02f)) transport.tempoBpm = 20.0 + random.uniform() * 280.0;
    if (transport.playing && sampleRate > 0.0f)
        transport.ppqPosition += frames / static_cast<double>(sampleRate) * transport.tempoBpm / 60.0;
}

BlockResult AudioDriver::renderBlock(Ombrix& plugin, OutputBuffers& out) {
    BlockResult result;
    result.frames = pickBlockSize();
    queueMidi(plugin, result.frames);
    out.poison(result.frames);
    plugin.processBlock(out.channels(), OutputBuffers::channelCount, result.frames, transport);
    moveTransport(result.frames, plugin.sampleRate());
    result.peak = out.peak(result.frames);
    return result;
}

void fillPatterns(StepSequencer& sequencer, TestRandom& random) {
    for (int track = 0; track < sequencer.trackCount(); ++track)
        for (int step = 0; step < sequencer.loopSteps; step += 1 + random.below(4))
            sequencer.insertNote(track, step * StepSequencer::ticksPerStep, StepSequencer::ticksPerStep / 2,
                                 1 + random.below(127));
}

namespace {

// Moves a few knots of a Blob and normalises it, as a drag on the canvas does; now and then
// mirrors it or starts it over.
void editBlob(Blob& blob, TestRandom& random) {
    switch (random.below(8)) {
    case 0:
        blob.mirrorTime();
        return;
    case 1:
        blob.mirrorFrequency();
        return;
    case 2:
        blob.clear();
        return;
    default:
        break;
    }
    for (int i = 0; i < 6; ++i) {
        Blob::TimeRow& row = blob.timeWarps[static_cast<size_t>(random.below(Blob::timeRowCount))];
        row[static_cast<size_t>(random.below(Blob::timeKnotCount))] += (random.uniform() - 0.5f) * 8.0f;
        Blob::FreqColumn& column = blob.freqWarps[static_cast<size_t>(random.below(Blob::freqColumnCount))];
        column[static_cast<size_t>(random.below(Blob::freqKnotCount))] += (random.uniform() - 0.5f) * 8.0f;
    }
    blob.normalise();
}

} // namespace

void loadKit(Ombrix& plugin, TestRandom& random) {
    for (Track& track : plugin.engine.tracks) {
        track.blobs.slotA.working.clear();
        track.blobs.slotB.working.clear();
        editBlob(track.blobs.slotA.working, random);
        editBlob(track.blobs.slotB.working, random);
    }
    plugin.idleTick();
}

float randomValue(const Param& p, TestRandom& random, ValueRange range) {
    if (range == ValueRange::hostile) {
        switch (random.below(8)) {
        case 0:
            return std::numeric_limits<float>::quiet_NaN();
        case 1:
            return random.chance(0.5f) ? std::numeric_limits<float>::infinity()
                                       : -std::numeric_limits<float>::infinity();
        case 2:
            return (random.uniform() - 0.5f) * 2.0e6f;
        case 3:
            return random.chance(0.5f) ? std::numeric_limits<float>::max()
                                       : -std::numeric_limits<float>::max();
        default:
            break;
        }
    }
    return p.lowest() + random.uniform() * (p.highest() - p.lowest());
}

bool editorStep(Ombrix& plugin, TestRandom& random, ValueRange range) {
    BandSynth& engine = plugin.engine;
    StepSequencer& sequencer = plugin.sequencer;
    switch (random.below(15)) {
    case 0:
    case 1:
    case 2: {
        // A host automation write: plain value, or normalized as hosts send it.
        Param& p = engine.param(random.below(static_cast<int>(engine.params.size())));
        if (random.chance(0.5f)) {
            p.set(randomValue(p, random, range));
        } else {
            float n = random.uniform();
            if (range == ValueRange::hostile && random.chance(0.2f)) n = randomValue(p, random, range);
            p.setNormalized(n);
        }
        break;
    }
    case 3: {
        Param& p = sequencer.params[static_cast<size_t>(random.below(StepSequencer::paramCount))];
        p.set(randomValue(p, random, range));
        break;
    }
    case 4: {
        const int track = random.below(sequencer.trackCount());
        sequencer.insertNote(track, random.below(sequencer.loopSteps * StepSequencer::ticksPerStep),
                             1 + random.below(2 * StepSequencer::ticksPerStep), 1 + random.below(127));
        break;
    }
    case 5:
        sequencer.removeNote(random.below(sequencer.trackCount()), random.below(8));
        break;
    case 6: {
        // A track length edit; made under the pattern lock like every structural change.
        const int track = random.below(sequencer.trackCount());
        const std::lock_guard<std::mutex> guard(sequencer.lock);
        sequencer.patterns[static_cast<size_t>(track)].length = 1 + random.below(sequencer.loopSteps);
        break;
    }
    case 7:
        if (random.chance(0.1f)) sequencer.clear(random.below(sequencer.trackCount()));
        break;
    case 8:
        plugin.setPlaying(random.below(3) - 1);
        break;
    case 9:
        plugin.seqRunning.store(random.below(2), std::memory_order_relaxed);
        break;
    case 10: {
        Track& track = engine.tracks[static_cast<size_t>(random.below(BandSynth::trackCount))];
        editBlob(random.chance(0.5f) ? track.blobs.slotA.working : track.blobs.slotB.working, random);
        break;
    }
    case 11: {
        // An effect slot switched to another unit; the next idle tick swaps it in.
        const int base =
            engine.layout.fxSlotBase[static_cast<size_t>(random.below(ParamLayout::fxSlotCount))];
        Param& type = engine.param(base + fxType);
        type.set(randomValue(type, random, ValueRange::valid));
        if (random.chance(0.2f)) engine.param(base + fxPower).set(random.chance(0.5f) ? 1.0f : 0.0f);
        break;
    }
    case 12: {
        // The host saves the project and restores it, or restores the state it saved earlier
        // (another kit, pattern and mix), while the audio thread plays.
        static thread_local std::vector<uint8_t> earlier;
        if (earlier.empty() || random.chance(0.3f)) earlier = saveState(plugin);
        const std::vector<uint8_t> chunk = random.chance(0.5f) ? saveState(plugin) : earlier;
        readState(plugin, chunk.data(), static_cast<int>(chunk.size()));
        return true;
    }
    default:
        plugin.idleTick();
        break;
    }
    return false;
}

} // namespace tarvo::testsupport
