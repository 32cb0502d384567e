#include "instrument/Ombrix.h"

#include <algorithm>
#include <cmath>

#include "analysis/RandomKit.h"
#include "instrument/ImportQueue.h"
#include "instrument/Presets.h"
#include "persistence/FactoryInstall.h"

#if defined(__SSE__) || defined(_M_X64) || defined(_M_AMD64)
#include <pmmintrin.h>
#include <xmmintrin.h>
#define TARVO_X86_FLOAT_MODE 1
#elif defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
#define TARVO_ARM64_FLOAT_MODE 1
#endif

namespace tarvo {

namespace {

// Sets flush-to-zero and denormals-are-zero for its lifetime and restores the previous mode:
// the engine's many decaying filters would otherwise slow down near silence.
class FlushDenormals {
public:
    FlushDenormals() noexcept {
#if defined(TARVO_X86_FLOAT_MODE)
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON);
#elif defined(TARVO_ARM64_FLOAT_MODE)
        uint64_t mode;
        asm volatile("mrs %0, fpcr" : "=r"(mode));
        saved_ = mode;
        asm volatile("msr fpcr, %0" : : "r"(mode | flushToZeroBit));
#endif
    }
    ~FlushDenormals() {
#if defined(TARVO_X86_FLOAT_MODE)
        _mm_setcsr(saved_);
#elif defined(TARVO_ARM64_FLOAT_MODE)
        asm volatile("msr fpcr, %0" : : "r"(saved_));
#endif
    }
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

private:
#if defined(TARVO_X86_FLOAT_MODE)
    unsigned int saved_ = 0;
#elif defined(TARVO_ARM64_FLOAT_MODE)
    // FPCR.FZ: flush denormal inputs and results to zero.
    static constexpr uint64_t flushToZeroBit = uint64_t{1} << 24;
    uint64_t saved_ = 0;
#endif
};

// MIDI status nibbles.
constexpr int noteOff = 8, noteOn = 9, polyPressureStatus = 10, controlChange = 11, programChange = 12,
              channelPressure = 13, pitchWheel = 14;
// Note classes (note mod 12) of the transport keys and the first key that plays no track.
constexpr int firstTransportKey = 8, keyA = 9, keyASharp = 10, keyB = 11;
// Controller codes understood by the engine.
constexpr int pitchBendCode = 0, aftertouchCode = 1, controllerCodeBase = 1000;
// Centre and half range of the 14-bit pitch wheel.
constexpr float pitchWheelCentre = 8192.0f;

} // namespace

Ombrix::Ombrix() {
    midiQueue_.reserve(midiQueueCapacity);
    for (Param& p : engine.params) p.listener = this;
}
Ombrix::~Ombrix() = default;

void Ombrix::reset(float hostSampleRate) {
    if (hostSampleRate != sampleRate_) {
        sampleRate_ = hostSampleRate;
        engine.prepare(hostSampleRate);
    } else {
        engine.reset(0);
    }
    engine.modSystem.bpm = static_cast<float>(engine.tempoBpm);
    // File work is left to the user-interface thread: this may be the audio thread.
    firstStartPending_.store(true, std::memory_order_release);
}

void Ombrix::midiIn(const MidiMessage& message) {
    const int kind = message.status >> 4;
    if (kind < noteOff || kind > pitchWheel) return;
    if (static_cast<int>(midiQueue_.size()) >= midiQueueCapacity) return;
    const auto at = std::upper_bound(midiQueue_.begin(), midiQueue_.end(), message.offset,
                                     [](int32_t offset, const MidiMessage& m) { return offset < m.offset; });
    midiQueue_.insert(at, message); // within the reserved room: no reallocation
}

void Ombrix::processBlock(float* const* outputs, int channelCount, int frames,
                          const HostTransport& transport) noexcept {
    const FlushDenormals flushDenormals;
    const int n = std::max(frames, 0);
    lastBlockSize.store(n, std::memory_order_relaxed);
    if (rewindPending_.exchange(false)) sequencer.rewind();

    // Host transport.
    Param& bpm = sequencer.param(StepSequencer::paramBpm);
    const bool sync = sequencer.param(StepSequencer::paramHostSync).effective() > 0.0f;
    const int32_t hostRunning = transport.playing ? 1 : 0;
    // A position whose sixteenths overflow would turn the sequencer clock into NaN.
    const double hostQuarters = std::isfinite(transport.ppqPosition * 4.0) ? transport.ppqPosition : 0.0;
    if (!sync) lastHostRunning = -1;
    const bool changed = hostRunning != lastHostRunning;
    lastHostRunning = sync ? hostRunning : -1;
    double phaseError = 0.0; // seconds

    if (sync) {
        bpm.set(static_cast<float>(transport.tempoBpm));
        if (changed) seqRunning.store(hostRunning, std::memory_order_relaxed);
        const double target = hostQuarters * 4.0;
        const double loop = sequencer.loopSteps;
        double error = std::fmod(target - sequencer.clockSixteenths, loop);
        if (error > loop / 2) error -= loop;
        if (hostRunning == 1 || seqRunning.load(std::memory_order_relaxed) == 0) {
            if (std::fabs(error) > 0.5) {
                sequencer.rewind();
                sequencer.locate(target);
            } else {
                // The sequencer runs at the clamped tempo, so its error in seconds uses that.
                phaseError = error * 60.0 / (bpm.effective() * 4.0);
            }
        }
    }

    // Musical position for beat-synchronised modulation.
    if (hostRunning == 1) {
        engine.ppqPosition = hostQuarters;
        engine.transportRunning = true;
    } else {
        engine.ppqPosition = sequencer.positionSixteenths * 0.25;
        engine.transportRunning = seqRunning.load(std::memory_order_relaxed) != 0;
    }
    engine.tempoBpm = bpm.effective();
    engine.modSystem.bpm = static_cast<float>(engine.tempoBpm);

    // Sub-blocks end on the engine's hop grid.
    size_t consumed = 0;
    for (int done = 0; done < n;) {
        const int hop = engine.pendingHopSamples > 0 ? engine.pendingHopSamples : engine.hopFrames();
        const int m = std::min(n - done, hop);

        if (seqRunning.load(std::memory_order_relaxed) != 0 && sampleRate_ > 0.0f) {
            // A small clock error is absorbed by running at most 25 % faster or slower.
            const double dt = m / static_cast<double>(sampleRate_);
            const double limit = 0.25 * dt;
            const double correction = std::clamp(phaseError, -limit, limit);
            phaseError -= correction;
            const int last = sequencer.advance(dt + correction);
            for (int track = 0; track <= last; ++track) {
                const int velocity = sequencer.takeTrigger(track);
                if (velocity >= 0) engine.noteEvent(sequencerBaseNote + track, velocity / 127.0f, 0);
            }
        }

        // MIDI timing is quantised to the sub-block start.
        while (consumed < midiQueue_.size() && midiQueue_[consumed].offset < done + m)
            dispatch(midiQueue_[consumed++]);

        engine.renderSubBlock(outputs, m, channelCount, done);
        done += m;
    }

    midiQueue_.erase(midiQueue_.begin(), midiQueue_.begin() + static_cast<std::ptrdiff_t>(consumed));
    for (MidiMessage& message : midiQueue_) message.offset -= n;
    if (editor.displayWanted.load(std::memory_order_relaxed)) publishDisplay();
}

void Ombrix::dispatch(const MidiMessage& message) noexcept {
    const int channel = message.status & 0x0F;
    const int d1 = message.data1;
    const int d2 = message.data2;
    switch (message.status >> 4) {
    case noteOn:
    case noteOff: {
        // A note on with velocity 0 is a note off, for the tracks and the transport keys alike.
        const bool pressed = (message.status >> 4) == noteOn && d2 > 0;
        const int key = d1 % 12;
        if (key < firstTransportKey)
            engine.noteEvent(d1, pressed ? d2 / 127.0f : 0.0f, channel);
        else if (key == keyA && pressed)
            seqRunning.store(1, std::memory_order_relaxed);
        else if (key == keyA)
            stopSequencer();
        else if (key == keyASharp && pressed)
            seqRunning.store(1, std::memory_order_relaxed);
        else if (key == keyB && pressed)
            stopSequencer();
        break;
    }
    case polyPressureStatus:
        engine.polyPressure(d2 / 127.0f, d1, channel);
        break;
    case controlChange:
        engine.controller(controllerCodeBase + d1, d2 / 127.0f, channel);
        break;
    case channelPressure:
        engine.controller(aftertouchCode, d1 / 127.0f, channel);
        break;
    case pitchWheel:
        engine.controller(pitchBendCode,
                          (static_cast<float>(d2 * 128 + d1) - pitchWheelCentre) / pitchWheelCentre, channel);
        break;
    case programChange:
    default:
        break;
    }
}

void Ombrix::stopSequencer() noexcept {
    seqRunning.store(0, std::memory_order_relaxed);
    sequencer.rewind();
}

void Ombrix::setPlaying(int on) {
    const int32_t running = seqRunning.load(std::memory_order_relaxed);
    const int32_t next = on < 0 ? (running == 0 ? 1 : 0) : (on != 0 ? 1 : 0);
    if (next == 0) rewindPending_.store(true);
    seqRunning.store(next, std::memory_order_relaxed);
}

std::string Ombrix::busName(bool isInput, int bus) {
    if (isInput) return {};
    return bus == 0 ? std::string("Main") : "Bus " + std::to_string(bus);
}

void Ombrix::paramChanged() {
    if (engine.keepFxParamValues.load(std::memory_order_relaxed) == 0)
        presetEditCount.fetch_add(1, std::memory_order_relaxed);
}

void Ombrix::pushUndoSnapshot(bool restart) {
    const TrackBlobs& blobs = engine.tracks[static_cast<size_t>(currentTrackIndex())].blobs;
    if (editor.undo.record(blobs.slotA.working, blobs.slotB.working, restart))
        presetEditCount.fetch_add(1, std::memory_order_relaxed);
}

bool Ombrix::undoStep(int direction) {
    const UndoHistory::Entry* entry = editor.undo.step(direction);
    if (entry == nullptr) return false;
    TrackBlobs& blobs = engine.tracks[static_cast<size_t>(currentTrackIndex())].blobs;
    blobs.slotA.working.copyFrom(entry->a, true);
    blobs.slotB.working.copyFrom(entry->b, true);
    return true;
}

void Ombrix::mirrorCurrentTrack(bool frequency) {
    const int track = currentTrackIndex();
    const Param& transform =
        engine.param(engine.layout.trackBase[static_cast<size_t>(track)] + trackTransform);
    const float mix = transform.toNormalized(transform.value);
    TrackBlobs& blobs = engine.tracks[static_cast<size_t>(track)].blobs;
    // A Blob the mix does not play at all is left alone.
    constexpr float unheard = 0.001f;
    auto mirror = [frequency](Blob& blob) { frequency ? blob.mirrorFrequency() : blob.mirrorTime(); };
    if (mix < 1.0f - unheard) mirror(blobs.slotA.working);
    if (mix > unheard) mirror(blobs.slotB.working);
    pushUndoSnapshot(false);
}

void Ombrix::setError(const std::string& text) {
    editor.errorText = text.substr(0, statusTextCapacity);
    editor.errorTime = std::chrono::system_clock::now();
}

void Ombrix::publishDisplay() noexcept {
    DisplaySnapshot& shown = editor.display.back();
    for (size_t t = 0; t < shown.tracks.size() && t < engine.tracks.size(); ++t) {
        const Track& track = engine.tracks[t];
        TrackDisplay& out = shown.tracks[t];
        out.soundingVoices = 0;
        for (size_t v = 0; v < out.voices.size(); ++v) {
            const Voice& voice = track.voices[v];
            VoiceDisplay& d = out.voices[v];
            d.state = voice.state;
            if (voice.state != Voice::stateFree) ++out.soundingVoices;
            d.readerPosition = voice.framesFilled > 0 ? voice.reader.lastPos() : -1.0f;
            d.releaseProgress = voice.releaseProgress;
            d.dynGain = voice.dynGain;
            d.velocity = voice.velocity;
            d.curvedVelocity = voice.curvedVelocity;
            d.age = voice.age;
            for (size_t e = 0; e < d.envelopeStage.size(); ++e) {
                d.envelopeStage[e] = voice.modState.envelopes[e].stage;
                d.envelopeLevel[e] = voice.modState.envelopes[e].level;
            }
            for (size_t l = 0; l < d.lfoPhase.size(); ++l) {
                d.lfoPhase[l] = voice.modState.lfos[l].phase;
                d.lfoOutput[l] = voice.modState.lfos[l].output;
            }
        }
        out.sequencerPosition = t < sequencer.playStates.size() ? sequencer.playStates[t].pos : 0;
        out.lastVelocity = track.lastVelocity;
    }
    const ModSourceState& global = engine.modSystem.globalState;
    for (size_t l = 0; l < shown.lfoPhase.size(); ++l) {
        shown.lfoPhase[l] = global.lfos[l].phase;
        shown.lfoOutput[l] = global.lfos[l].output;
    }
    shown.lastTriggeredTrack = engine.lastTriggeredTrack;
    shown.playing = seqRunning.load(std::memory_order_relaxed);
    shown.sequencerSteps = static_cast<double>(sequencer.tick) / StepSequencer::ticksPerStep;
    for (size_t c = 0; c < shown.meters.size() && c < engine.meterLevel.size(); ++c)
        shown.meters[c] = engine.meterLevel[c].load(std::memory_order_relaxed);
    for (size_t s = 0; s < shown.fxMeters.size() && s < engine.fxSlots.size(); ++s) {
        const FxSlot& slot = engine.fxSlots[s];
        shown.fxMeters[s] = {slot.inLevel[0].load(std::memory_order_relaxed),
                             slot.inLevel[1].load(std::memory_order_relaxed),
                             slot.outLevel[0].load(std::memory_order_relaxed),
                             slot.outLevel[1].load(std::memory_order_relaxed)};
    }
    editor.display.publish();
}

void Ombrix::setStatus(const std::string& text) {
    statusText = text.substr(0, statusTextCapacity);
    statusTime = std::chrono::system_clock::now();
}

bool Ombrix::firstStart() {
    if (!firstStartPending_.exchange(false, std::memory_order_acquire) || loadCount != 0) return false;
    if (shippedContent != nullptr) {
        const FactoryInstallReport report = installFactoryContent(*shippedContent);
        // A failed install still leaves whatever was written usable; the next start retries.
        if (report.failed > 0) setStatus(report.error);
    }
    // No preset to start with: a random kit from the user's sounds is the next best start.
    return startPreset(*this) || randomize(3);
}

void Ombrix::idleTick() {
    // First, so a start preset's effect units and Blobs go out in this same tick.
    firstStart();
    handOverToAudio();
    importIdleStep(*this);
}

void Ombrix::handOverToAudio() {
    swapFxUnits(engine.fxSlots, engine.sampleRate(), engine.keepFxParamValues);
    for (Track& track : engine.tracks) track.blobs.publish();
}

int Ombrix::currentTrackIndex() const {
    return std::clamp(static_cast<int>(currentTrack), 0, BandSynth::trackCount - 1);
}

bool Ombrix::randomize(int mode) {
    DiceGenerator dice = DiceGenerator::fromClock();
    return rollDice(engine, sequencer, mode, dice);
}

} // namespace tarvo
