// Engine preparation and reset, and the sub-block renderer that runs the hop grid: per step
// it reads and mixes every track's bank, and on a new hop runs the modulation and
// synthesizes every track's next hop.
#include "engine/BandSynth.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

namespace {

// Song position the engine starts from before any block told it one.
constexpr double startPpqPosition = -100.0;
// Tempo the engine starts with.
constexpr double startTempoBpm = 120.0;
// Seed the engine reset uses after a preparation.
constexpr uint32_t preparationResetSeed = 2;

} // namespace

void BandSynth::prepare(float sampleRate) {
    tempoBpm = startTempoBpm;
    modSystem.bpm = static_cast<float>(startTempoBpm);
    ppqPosition = startPpqPosition;
    transportRunning = false;
    // An unusable rate leaves the engine unprepared: it renders silence.
    const bool usable = tables.prepare(sampleRate);
    if (!usable) tables.binCount = 0;
    sampleRate_.store(0.0f, std::memory_order_release);
    for (Track& track : tracks) {
        track.resynth.prepare(tables);
        track.resynth.setShelf(sampleRate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
        for (Voice& voice : track.voices) {
            voice.releaseProgress = 0.0f;
            voice.damping = 0.0f;
            voice.clearBins();
        }
    }
    mixer.prepare(sampleRate);
    reset(preparationResetSeed);
    // Published last, so the idle tick installs effect units only for a finished preparation.
    sampleRate_.store(usable ? sampleRate : 0.0f, std::memory_order_release);
}

void BandSynth::reset(uint32_t seed) {
    uint32_t voiceSeedValue = seed;
    for (Track& track : tracks) {
        for (Voice& voice : track.voices) {
            voice.state = Voice::stateFree;
            voice.age = 0.0f;
            voice.velocity = 0.0f;
            voice.pressure = 0.0f;
            voice.inaudible = 0;
            voice.quietHops = 0;
            voice.clearBins();
            voice.modState = ModSourceState{};
            // Voice k gets the seed advanced k times, counted track by track.
            voice.seed = voiceSeedValue;
            voiceSeedValue = lcgNext(voiceSeedValue);
        }
        track.voicesInUse = 0;
        track.activeVoices = 0;
        track.resynth.reset();
        track.resynth.clearOutputFilters();
    }
    // Nothing played before a reset sounds after it: the output filters and the channel
    // strips start from rest, and the effect slots from silence, fading their units in from
    // their reset state; so a host's reset (before an export, after a state load) is followed
    // by the sound of a fresh instance, apart from what a unit keeps by design through its
    // reset (the compressors' gains, the chorus and hall lines, the plate's filters).
    mixer.reset();
    for (FxSlot& slot : fxSlots) slot.clearTail();
    // The modulation sources start over as well: LFO phases, envelopes and noise generators
    // run on across notes, not across a reset.
    modSystem.globalState = ModSourceState{};
    // The Blob tail starts over too, so a state renders the same sound after every reset.
    tailNoise.reset();
    pendingHopSamples = 0;
    gridAheadFx_ = 0;
}

int BandSynth::nextHopLength() noexcept {
    if (!tables.resampled()) return tables.hopFrames;
    // The hop makes hopFrames more grid samples final; an output sample can be read once the
    // grid sample at its position is (see ResynthBank): count those, exactly as the banks do.
    gridAheadFx_ += static_cast<int64_t>(tables.hopFrames) << gridStepBits;
    const int64_t step = tables.gridStepFx;
    const int64_t count = gridAheadFx_ > 0 ? (gridAheadFx_ + step - 1) / step : 0;
    gridAheadFx_ -= count * step;
    return static_cast<int>(count);
}

void BandSynth::controller(int code, float value, int channel) {
    if (channel < 0 || channel >= midiChannelCount) return;
    ChannelControls& controls = channelControls[static_cast<size_t>(channel)];
    if (code == 0)
        controls.pitchBend = value;
    else if (code == 1)
        controls.aftertouch = value;
    else if (code == 1001)
        controls.modWheel = value;
}

// A quiet step runs the effect slots on the send buses over up to a whole hop.
static_assert(maxHopFrames <= TrackMixer::sendFrames);

bool BandSynth::quietStep() const noexcept {
    for (const Track& t : tracks)
        if (!t.resynth.atRest()) return false;
    for (const FxSlot& slot : fxSlots)
        if (!slot.resting()) return false;
    return true;
}

void BandSynth::renderSubBlock(float* const* outputs, int frames, int channelCount, int offset) noexcept {
    if (channelCount < 1 || outputs == nullptr) return;
    if (eventTap != nullptr) eventTap->subBlock(frames, offset);
    for (int c = 0; c < channelCount; ++c)
        if (outputs[c] != nullptr)
            std::memset(outputs[c] + offset, 0, sizeof(float) * static_cast<size_t>(frames));

    const bool ready = prepared();
    const float hopSeconds =
        ready ? static_cast<float>(tables.hopFrames) / static_cast<float>(tables.gridRate) : 0.0f;
    const float hopBeats = hopSeconds * static_cast<float>(tempoBpm) / 60.0f;
    const std::optional<double> position =
        transportRunning ? std::optional<double>(ppqPosition) : std::nullopt;
    float* const mono = trackScratch.data();

    // Hop grid: output the samples left of the current hop, in steps of at most hopSize (the
    // mixer's buffers); when they do not cover the rest of the call, the next hop is
    // synthesized after reading the last of them.
    for (int done = 0; done < frames;) {
        const int pending = pendingHopSamples;
        const int needed = frames - done;
        // Where a hop is longer than the mixer's buffers (above 44.1 kHz), a step that mixes
        // nothing and meets only resting effect slots comes out the same at any length: it
        // takes the rest of the hop at once, instead of paying each step's fixed cost twice.
        const int longest = pending > hopSize && needed > hopSize && quietStep() ? pending : hopSize;
        const int m = std::min({pending, needed, longest});
        const bool newHop = pending < needed && pending <= longest;

        for (auto& bus : sendBus) {
            std::fill_n(bus.begin(), m, 0.0f);
            std::fill_n(bus.begin() + TrackMixer::sendFrames, m, 0.0f);
        }
        // Every track's samples of this step are mixed before the new hop's modulation runs:
        // they belong to the previous hop and are mixed with its parameter offsets whatever
        // the host's block size.
        bool mixed = false;
        for (int t = 0; t < trackCount && m > 0; ++t) {
            ResynthBank& bank = tracks[static_cast<size_t>(t)].resynth;
            // A bank at rest has nothing to read and the track nothing to mix.
            if (bank.skipAtRest(m)) {
                mixer.silent[static_cast<size_t>(t)] = true;
                continue;
            }
            bool silent = true;
            const int got = bank.read(mono, m, silent);
            std::fill(mono + got, mono + m, 0.0f);
            mixed = mixer.mixTrack(t, mono, m, !silent, outputs, channelCount, offset + done) || mixed;
        }
        if (newHop && ready) {
            modSystem.globalPass(hopSeconds, hopBeats, position);
            synthesizeTracksHop(hopSeconds, hopBeats, position);
        }

        // Effects: the sends return into Main, then the main chain runs on Main in place.
        float* const mainLeft = outputs[0];
        float* const mainRight = outputs[1 % channelCount];
        if (m > 0 && ready && mainLeft != nullptr && mainRight != nullptr) {
            float* const send1[2] = {sendBus[0].data(), sendBus[0].data() + TrackMixer::sendFrames};
            float* const send2[2] = {sendBus[1].data(), sendBus[1].data() + TrackMixer::sendFrames};
            float* const mainBus[2] = {mainLeft + offset + done, mainRight + offset + done};
            runFxPass(fxSlots, send1, send2, mainBus, m, static_cast<float>(tempoBpm), sampleRate(), !mixed);
        }

        done += m;
        pendingHopSamples = newHop ? nextHopLength() : pending - m;
    }

    // What the editor shows: the meters and the modulated values. Without an editor nobody
    // reads them, and the first block after it opens brings them up to date.
    if (metersOn.load(std::memory_order_relaxed)) {
        mixer.meterBuses(outputs, channelCount / 2, frames, offset);
        modSystem.updateDisplay();
    }
}

} // namespace tarvo
