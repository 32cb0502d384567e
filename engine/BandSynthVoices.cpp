// Note handling (voice allocation, stealing, release, pressure) and the per-hop synthesis
// of a track's voices: frames from the Blob reader, shaped by release, damping and the DJ
// filter, turned into bin values by the hop kernel and summed into the track's bank.
#include <algorithm>
#include <cmath>

#include "engine/BandSynth.h"
#include "engine/ResynthBank.h"

namespace tarvo {

namespace {

// Tracks are chosen by note class; classes 8 to 11 play no track.
constexpr int notesPerOctave = 12;
// Velocity models from this "Model" value on are table models (the reader's model 0 ...).
constexpr int firstTableModel = 4;
// MIDI velocity that plays at unity whatever "Dynamics" says.
constexpr float unityVelocity = 100.0f / 127.0f;
// A Blob shorter than this (warped frames) ends when the reader has passed its length; longer
// ones run into their tail.
constexpr float shortBlobFrames = 95.0f;
// Lowest length a Blob that sounds at all has.
constexpr float minBlobFrames = 1.0f;
// Below this level (release gain times tail level) a voice is inaudible and ends.
constexpr float endLevel = 1e-5f;
// Keeps the release division finite for a release of zero.
constexpr float minRelease = 1e-5f;
// Frames the hop kernel reads: the oldest, the one that sounds and one of look-ahead.
constexpr int framesPerHop = 3;
// Below this (-100 dB relative to full scale) a voice's share of its track is inaudible, the
// level below which the effect slots sleep too.
constexpr float inaudibleLevel = 1e-5f;
// Largest track sample per unit of the voice's bins (sum of |re| + |im|): the real inverse
// transform counts every bin twice, the four overlapping synthesis windows sum to at most
// 77.71 / 256, the track's shelf and the subsonic cut after it raise it by their peak gain
// and the mixer's level by up to 4.
constexpr float binsToTrackLevel =
    2.0f * (77.71f / 256.0f) * static_cast<float>(ResynthBank::outputFilterPeakGain) * 4.0f;
// Room for what the row speeds do not tell on the plane: the frequency layout of later frames
// may crowd the knots of a band more than the present one (20 dB). In the tail the layout
// stays where the plane left it.
constexpr float layoutMargin = 10.0f;
// Quiet hops after which a voice ends: longer than one hop.
constexpr int quietHopsToEnd = 2;

int trackOfNote(int note) {
    const int key = note % notesPerOctave;
    return key >= 0 && key < BandSynth::trackCount ? key : -1;
}

bool bothSlotsAbsent(const Track& track) {
    return !track.blobs.slotA.isPresent() && !track.blobs.slotB.isPresent();
}

} // namespace

void BandSynth::noteEvent(int note, float velocity, int channel) {
    if (eventTap != nullptr) eventTap->noteEvent(note, velocity, channel);
    const int t = trackOfNote(note);
    if (t < 0) return;
    Track& track = tracks[static_cast<size_t>(t)];

    if (!(velocity > 0.0f)) {
        // Note off reaches all four voices, whatever the polyphony.
        for (Voice& voice : track.voices) {
            if (voice.state != Voice::stateHeld || voice.note != note) continue;
            if (channel >= 0 && channel != voice.channel) continue;
            voice.state = Voice::stateReleased;
            modSystem.noteOffRelease(voice.modState);
        }
        return;
    }

    if (bothSlotsAbsent(track)) return;
    const int polyphony =
        std::clamp(static_cast<int>(std::trunc(trackValue(t, trackPolyphony))), 1, Track::voiceCount);
    // Voices above a lowered polyphony are cut now, at the track's next note.
    for (int v = polyphony; v < track.voicesInUse; ++v) {
        Voice& voice = track.voices[static_cast<size_t>(v)];
        voice.state = Voice::stateFree;
        voice.age = 0.0f;
        voice.velocity = 0.0f;
        voice.pressure = 0.0f;
        voice.clearBins();
    }

    // The first free voice, else the oldest (the lower index on a tie).
    int chosen = -1;
    for (int v = 0; v < polyphony && chosen < 0; ++v)
        if (track.voices[static_cast<size_t>(v)].state == Voice::stateFree) chosen = v;
    if (chosen < 0) {
        chosen = 0;
        for (int v = 1; v < polyphony; ++v)
            if (track.voices[static_cast<size_t>(v)].age > track.voices[static_cast<size_t>(chosen)].age)
                chosen = v;
    }
    track.voicesInUse = std::max(track.voicesInUse, chosen + 1);

    Voice& voice = track.voices[static_cast<size_t>(chosen)];
    voice.age = 0.0f;
    voice.releaseProgress = 0.0f;
    voice.damping = 0.0f;
    voice.framesFilled = 0;
    voice.quietHops = 0;
    voice.inaudible = 0;
    voice.clearBins();
    voice.channel = channel;
    voice.velocity = velocity;
    voice.note = note;
    voice.track = t;
    voice.state = Voice::stateHeld;
    voice.newNote = 1;

    lastTriggeredTrack = t;
    track.lastVelocity = velocity;
    modSystem.noteOnReset(voice.modState);
}

void BandSynth::polyPressure(float pressure, int note, int channel) {
    if (eventTap != nullptr) eventTap->polyPressure(pressure, note, channel);
    const int t = trackOfNote(note);
    if (t < 0) return;
    Track& track = tracks[static_cast<size_t>(t)];
    for (int v = 0; v < track.voicesInUse; ++v) {
        Voice& voice = track.voices[static_cast<size_t>(v)];
        if (voice.state == Voice::stateFree || voice.note != note) continue;
        if (channel >= 0 && channel != voice.channel) continue;
        voice.pressure = pressure;
    }
}

void BandSynth::synthesizeTracksHop(float hopSeconds, float hopBeats,
                                    std::optional<double> position) noexcept {
    // Why a track may be completed after later tracks have run up to their solve: the part
    // before the solve (modulation passes, parameter reads, Blob readers, the shared tail
    // noise, the voices' seeds) still runs track after track and voice after voice, and reads
    // nothing the part after it writes. That part (solution, amplitude and noise mixing, the
    // track's spectrum sum and bank hop, its voice count) touches only the lane, the voice's
    // bins, the sum and the track's own bank, and reads no parameter. Every voice's arithmetic
    // and every track's sum keep their order, so the output is the same to the bit.
    loadedLanes_ = 0;
    completedTracks_ = 0;
    accumTrack_ = -1;
    for (int t = 0; t < trackCount; ++t) {
        prepareTrackHop(t, hopSeconds, hopBeats, position);
        // With none of its voices waiting for the solve, the track is complete.
        if (loadedLanes_ == 0) completeTracksBefore(t + 1);
    }
    if (loadedLanes_ > 0) solveLoadedLanes();
    completeTracksBefore(trackCount);
}

void BandSynth::prepareTrackHop(int t, float hopSeconds, float hopBeats,
                                std::optional<double> position) noexcept {
    Track& track = tracks[static_cast<size_t>(t)];
    // With both slots emptied every voice of the track is dropped. The dropped voices are
    // freed too: left held, they would come back to life when a later note raised
    // `voicesInUse` over them again.
    if (track.voicesInUse > 0 && bothSlotsAbsent(track)) {
        for (int v = 0; v < track.voicesInUse; ++v)
            track.voices[static_cast<size_t>(v)].state = Voice::stateFree;
        track.voicesInUse = 0;
    }

    int active = 0;
    for (int v = 0; v < track.voicesInUse; ++v) {
        const Voice& voice = track.voices[static_cast<size_t>(v)];
        if (voice.state == Voice::stateFree) continue;
        // A voice that ended below audibility adds nothing: its bank may come to rest.
        if (voice.inaudible == 0) ++active;
        if (!synthesizeVoice(t, v, loadedLanes_, hopSeconds, hopBeats, position)) continue;
        laneTrack_[static_cast<size_t>(loadedLanes_)] = t;
        laneVoice_[static_cast<size_t>(loadedLanes_)] = v;
        if (++loadedLanes_ == solveLanes) solveLoadedLanes();
    }
    hopActive_[static_cast<size_t>(t)] = active;
}

void BandSynth::beginAccumulation(int t) noexcept {
    if (accumTrack_ == t) return;
    std::fill_n(bandAccum_.begin(), tables.bandCount, Complex{});
    std::fill_n(extraAccum_.begin(), tables.extraCount, Complex{});
    accumTrack_ = t;
}

void BandSynth::completeTracksBefore(int end) noexcept {
    for (; completedTracks_ < end; ++completedTracks_) {
        const int t = completedTracks_;
        Track& track = tracks[static_cast<size_t>(t)];
        const int active = hopActive_[static_cast<size_t>(t)];
        if (active > 0) {
            // Voices that all ended before sounding still add their (zero) sum.
            beginAccumulation(t);
            track.resynth.addBands(bandAccum_.data());
            track.resynth.addExtraBins(extraAccum_.data());
        }
        // The bank hops every time: an idle track still moves its overlap-add ring on.
        track.resynth.hop();
        while (track.voicesInUse > 0 &&
               track.voices[static_cast<size_t>(track.voicesInUse - 1)].state == Voice::stateFree)
            --track.voicesInUse;
        track.activeVoices = active;
    }
}

bool BandSynth::synthesizeVoice(int t, int v, int lane, float hopSeconds, float hopBeats,
                                std::optional<double> position) noexcept {
    Track& track = tracks[static_cast<size_t>(t)];
    Voice& voice = track.voices[static_cast<size_t>(v)];

    // Modulation of this voice into its track's parameters; every value below includes it.
    const ModVoice modVoice{t, voice.note, voice.channel, voice.velocity, voice.pressure, voice.newNote != 0};
    modSystem.voicePass(voice.modState, modVoice, hopSeconds, hopBeats, position);

    // Release: the level falls as (1 - progress)^2 while damping builds up.
    if (voice.state == Voice::stateReleased) {
        const float k = hopSeconds / (trackValue(t, trackRelease) + minRelease);
        voice.releaseProgress += k;
        const float damping = trackValue(t, trackDamping) * 0.01f;
        voice.damping += damping * damping * k;
    }

    // Morph: 0 reads A alone, 1 reads B alone; a missing slot forces the other.
    const float presentA = track.blobs.slotA.isPresent() ? 1.0f : 0.0f;
    const float presentB = track.blobs.slotB.isPresent() ? 1.0f : 0.0f;
    float transform = std::clamp(trackValue(t, trackTransform) * 0.01f, 0.0f, 1.0f);
    transform = (1.0f - std::fabs(transform - 1.0f) * presentA) * presentB;
    float contrast = std::clamp(trackValue(t, trackContrast) * 0.01f, -1.0f, 1.0f);
    const float releaseLeft = 1.0f - voice.releaseProgress;
    const float relGain = releaseLeft * releaseLeft;
    const int model = static_cast<int>(std::trunc(trackValue(t, trackModel)));

    const Blob& blobA = track.blobs.slotA.acquire();
    const Blob& blobB = track.blobs.slotB.acquire();
    const bool firstHop = voice.newNote != 0;
    if (!firstHop) {
        // Edits reach sounding notes.
        voice.reader.setBlobs(&blobA, &blobB);
    } else {
        voice.curvedVelocity = track.velocityCurve.evaluate(std::clamp(voice.velocity, 0.0f, 1.0f));
        voice.dynGain = std::pow(voice.velocity / unityVelocity, trackValue(t, trackDynamics) / 100.0f);
        // Engine hops per Blob frame: 1 wherever the hop lasts what it lasts at 44.1 kHz.
        voice.reader.hopScale =
            static_cast<float>(tables.gridRate) /
            (static_cast<float>(plane::framesPerSecond) * static_cast<float>(tables.hopFrames));
        voice.reader.start(&blobA, &blobB, transform, model - firstTableModel, voice.velocity, voice.dynGain);
        voice.newNote = 0;
        if (trackValue(t, trackSeedMode) > 0.0f)
            voice.seed = static_cast<uint32_t>(std::max(std::trunc(trackValue(t, trackSeed)), 0.0f));
    }

    // The sound has run past its Blob's length.
    const float length = std::max(blobB.length, std::max(blobA.length, -999.0f));
    if ((length < shortBlobFrames && length + 1.0f < voice.reader.lastPos()) || length < minBlobFrames) {
        voice.state = Voice::stateFree;
        return false;
    }

    // Velocity models that bend one control.
    float timescale = std::max(trackValue(t, trackTimescale), 0.01f);
    const float cv = voice.curvedVelocity;
    // The velocity bends the morph only between two sounds: with one slot empty the other
    // plays at every velocity, as it does at every "Transform", instead of what the empty slot
    // last held.
    if (model == 1 && presentA > 0.0f && presentB > 0.0f)
        transform = std::clamp(2.0f * cv - 1.0f + transform, 0.0f, 1.0f);
    if (model == 2) timescale *= 2.0f * cv;
    if (model == 3) contrast = std::clamp(2.0f * cv - 1.0f + contrast, -1.0f, 1.0f);
    const float shift = std::clamp(trackValue(t, trackFrequency) / 40.0f, -64.0f, 64.0f);
    const float density = std::clamp(trackValue(t, trackDensity) * 0.01f, -1.0f, 1.0f);
    const float filter = trackValue(t, trackFilter);
    const FrameControls controls{transform, shift, contrast};

    if (voice.inaudible != 0) {
        // Only the clocks of the hop: the reader's frame and the noise generator's step.
        const float rate = playbackRate(voice.reader.lastPos(), timescale,
                                        static_cast<float>(tables.gridRate), tables.hopFrames);
        voice.reader.skipFrame(rate, controls, tailNoise);
        voice.seed = lcgNext(voice.seed);
        voice.age += hopSeconds;
        if (voice.releaseProgress > 1.0f || relGain * voice.reader.tailLevel() < endLevel)
            voice.state = Voice::stateFree;
        return false;
    }

    // New frames: three on the first hop, one on every later one.
    do {
        float* frame = voice.frames[static_cast<size_t>(voice.frameIndex)].data();
        float* bands = frame + 1;
        const float rate = playbackRate(voice.reader.lastPos(), timescale,
                                        static_cast<float>(tables.gridRate), tables.hopFrames);
        voice.reader.renderFrame(rate, controls, tailNoise, bands, *frameKernels_);
        if (relGain != 1.0f || voice.damping > 0.0f) {
            // Damping dulls high bands faster than low ones.
            for (int k = 0; k < frameBands; ++k) {
                const float d = 2.0f * static_cast<float>(k) * voice.damping;
                bands[k] *= relGain / (d * d * d + 1.0f);
            }
        }
        djFilterBands(bands, filter);
        setFrameGuards(frame);
        voice.frameSpeeds[static_cast<size_t>(voice.frameIndex)] = voice.reader.frameSpeed();
        voice.framesFilled = std::min(voice.framesFilled + 1, Voice::frameRingSize);
        voice.frameIndex = (voice.frameIndex + 1) % Voice::frameRingSize;
    } while (voice.framesFilled < framesPerHop);

    const auto frameAt = [&voice](int back) {
        return voice
            .frames[static_cast<size_t>((voice.frameIndex - back + Voice::frameRingSize) %
                                        Voice::frameRingSize)]
            .data();
    };
    const float* oldest = frameAt(3);
    const float* middle = frameAt(2);
    const float* newest = frameAt(1);
    kernels_->features(oldest, middle, newest, tables.freqPoly, features_);

    const auto l = static_cast<size_t>(lane);
    const HopWork work{laneAmp_[l].data(),
                       laneNoiseFrac_[l].data(),
                       laneTonalWeight_[l].data(),
                       laneCouplingWeight_[l].data(),
                       freqEst_.data(),
                       laneStepPhasor_[l].data(),
                       phasorPower_.data(),
                       solverScratch_.data(),
                       &extraBands_};
    kernels_->prepare(tables, features_, middle, density, firstHop,
                      VoiceBins{voice.binState.data(), voice.noiseState.data(), &voice.seed}, work);
    laneOperands_[l] = {work.tonalWeight, work.couplingWeight, work.stepPhasor, voice.binState.data()};
    laneDensity_[l] = density;

    // The voice still sounds this hop (solveLoadedLanes adds it); it ends after it.
    voice.age += hopSeconds;
    if (voice.releaseProgress > 1.0f || relGain * voice.reader.tailLevel() < endLevel)
        voice.state = Voice::stateFree;
    return true;
}

void BandSynth::solveLoadedLanes() noexcept {
    const int binCount = tables.binCount;
    // The lanes not loaded solve their own earlier operands into a state nobody hears.
    for (int lane = loadedLanes_; lane < solveLanes; ++lane) {
        const auto l = static_cast<size_t>(lane);
        laneOperands_[l] = {laneTonalWeight_[l].data(), laneCouplingWeight_[l].data(),
                            laneStepPhasor_[l].data(), unheardState_.data()};
    }
    kernels_->loadLanes(binCount, laneOperands_.data(), laneSolve_);
    kernels_->solve(binCount, laneSolve_, loadedLanes_);
    kernels_->storeLanes(binCount, laneOperands_.data(), laneSolve_);
    for (int lane = 0; lane < loadedLanes_; ++lane) {
        const auto l = static_cast<size_t>(lane);
        const int t = laneTrack_[l];
        // The tracks before this voice's have run all their voices: they are complete.
        completeTracksBefore(t);
        beginAccumulation(t);
        Voice& voice = tracks[static_cast<size_t>(t)].voices[static_cast<size_t>(laneVoice_[l])];
        kernels_->finish(binCount, laneDensity_[l], laneAmp_[l].data(), laneNoiseFrac_[l].data(),
                         VoiceBins{voice.binState.data(), voice.noiseState.data(), &voice.seed});
        if (endInaudibleVoices && voice.state != Voice::stateFree && endsInaudible(voice))
            voice.inaudible = 1;
        for (int b = 0; b < tables.bandCount; ++b)
            bandAccum_[static_cast<size_t>(b)] += voice.binState[static_cast<size_t>(b)];
        for (int e = 0; e < tables.extraCount; ++e)
            extraAccum_[static_cast<size_t>(e)] += voice.binState[static_cast<size_t>(tables.bandCount + e)];
    }
    loadedLanes_ = 0;
}

bool BandSynth::endsInaudible(Voice& voice) const noexcept {
    // Sum of |re| + |im| over the voice's bins, in independent lanes so that it vectorises.
    constexpr int lanes = 8;
    const float* bins = reinterpret_cast<const float*>(voice.binState.data());
    const int values = 2 * tables.binCount;
    float lane[lanes] = {};
    int j = 0;
    for (; j + lanes <= values; j += lanes)
        for (int l = 0; l < lanes; ++l) lane[l] += std::fabs(bins[j + l]);
    for (; j < values; ++j) lane[0] += std::fabs(bins[j]);
    float level = 0.0f;
    for (const float v : lane) level += v;
    const bool inTail = voice.reader.lastPos() >= static_cast<float>(plane::frameCount);
    level *= binsToTrackLevel * (inTail ? 1.0f : layoutMargin);
    if (!(level < inaudibleLevel)) {
        voice.quietHops = 0;
        return false;
    }
    // The sounding frame is the middle one of the three the hop read. Its bands scale with
    // the row speeds around them, and its values are the bins' amplitudes, so a later frame
    // is louder by the square of the speed ratio at most.
    const auto sounding =
        static_cast<size_t>((voice.frameIndex + Voice::frameRingSize - 2) % Voice::frameRingSize);
    const float now = voice.frameSpeeds[sounding];
    const float ahead = std::max(voice.reader.speedAhead(), voice.reader.frameSpeed());
    if (ahead > now) {
        // Louder frames to come than a silent one now: the voice goes on.
        if (!(now > 0.0f) || !(level * (ahead / now) * (ahead / now) < inaudibleLevel)) {
            voice.quietHops = 0;
            return false;
        }
    }
    return ++voice.quietHops >= quietHopsToEnd;
}

} // namespace tarvo
