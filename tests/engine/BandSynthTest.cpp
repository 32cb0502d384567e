#include "engine/BandSynth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <optional>
#include <vector>

#include "dsp/Fft.h"
#include "instrument/Ombrix.h"
#include "support/RealtimeGuard.h"

namespace tarvo {
namespace {

constexpr float rate = 44100.0f;
constexpr int hop = BandSynth::hopSize;
constexpr float hopSeconds = hop / rate;
// The note that plays track t is this plus t.
constexpr int baseNote = 36;

struct Render {
    std::vector<float> left, right;

    double energy(size_t from, size_t to) const {
        double sum = 0.0;
        for (size_t i = from; i < std::min(to, left.size()); ++i)
            sum += left[i] * left[i] + right[i] * right[i];
        return sum;
    }
    float peak() const {
        float p = 0.0f;
        for (size_t i = 0; i < left.size(); ++i) p = std::max({p, std::fabs(left[i]), std::fabs(right[i])});
        return p;
    }
};

class BandSynthTest : public testing::Test {
protected:
    BandSynthTest() : engine(std::make_unique<BandSynth>()) { engine->prepare(rate); }

    BandSynth& synth() { return *engine; }
    Track& track(int t) { return synth().tracks[static_cast<size_t>(t)]; }
    Voice& voice(int t, int v) { return track(t).voices[static_cast<size_t>(v)]; }
    Param& trackParam(int t, int which) {
        return synth().param(synth().layout.trackBase[static_cast<size_t>(t)] + which);
    }

    // Slot A of track t holds the even mesh, slot B is empty.
    void loadClearedBlob(int t) {
        TrackBlobs& blobs = track(t).blobs;
        blobs.slotA.working.clear();
        blobs.slotA.working.present = 1;
        blobs.slotB.working.present = 0;
        blobs.publish();
    }
    void removeBlobs(int t) {
        TrackBlobs& blobs = track(t).blobs;
        blobs.slotA.working.present = 0;
        blobs.slotB.working.present = 0;
        blobs.publish();
    }

    // Renders frames in blocks of at most `block` frames into a stereo pair.
    Render render(int frames, int block = hop, int outputCount = 2) {
        Render r;
        r.left.assign(static_cast<size_t>(frames), 0.0f);
        r.right.assign(static_cast<size_t>(frames), 0.0f);
        std::vector<std::vector<float>> buses(static_cast<size_t>(std::max(outputCount - 2, 0)),
                                              std::vector<float>(static_cast<size_t>(block)));
        for (int done = 0; done < frames;) {
            const int n = std::min(block, frames - done);
            std::vector<float*> outputs{r.left.data(), r.right.data()};
            for (auto& bus : buses) outputs.push_back(bus.data());
            outputs.resize(static_cast<size_t>(outputCount));
            // The bus buffers are written from offset 0; only Main is kept.
            std::vector<float*> shifted = outputs;
            shifted[0] = r.left.data() + done;
            if (outputCount > 1) shifted[1] = r.right.data() + done;
            synth().renderSubBlock(shifted.data(), n, outputCount, 0);
            done += n;
        }
        return r;
    }
    Render renderHops(int hops) { return render(hops * hop); }

    std::unique_ptr<BandSynth> engine;
};

// Mean power of a Hann-windowed 4096-point spectrum between two frequencies.
double bandPower(const std::vector<float>& x, size_t start, double loHz, double hiHz) {
    constexpr int log2n = 12;
    constexpr int n = 1 << log2n;
    Fft fft(log2n, 1);
    std::vector<float> buffer(n), spectrum(n);
    for (int i = 0; i < n; ++i)
        buffer[static_cast<size_t>(i)] =
            x[start + static_cast<size_t>(i)] * static_cast<float>(0.5 - 0.5 * std::cos(2.0 * M_PI * i / n));
    fft.forward(buffer.data(), spectrum.data());
    double sum = 0.0;
    int count = 0;
    for (int k = 1; k < n / 2; ++k) {
        const double f = k * rate / n;
        if (f < loHz || f >= hiHz) continue;
        const double re = spectrum[static_cast<size_t>(2 * k)], im = spectrum[static_cast<size_t>(2 * k + 1)];
        sum += re * re + im * im;
        ++count;
    }
    return sum / std::max(count, 1);
}

TEST_F(BandSynthTest, ClearedBlobSoundsAsADecayingNoiseWashAcrossTheSpectrum) {
    loadClearedBlob(0);
    synth().noteEvent(baseNote, 100.0f / 127.0f, 0);
    const Render r = render(static_cast<int>(4 * rate));
    const auto second = static_cast<size_t>(rate);

    EXPECT_GT(r.peak(), 0.01f);
    EXPECT_LT(r.peak(), 4.0f);
    // Louder at the start than seconds later, but still sounding then.
    const double early = r.energy(0, second / 2);
    const double late = r.energy(3 * second + second / 2, 4 * second);
    EXPECT_GT(early, 1.2 * late);
    EXPECT_GT(late, 0.0);

    // Every region of the spectrum carries sound: no band lies more than 30 dB below the
    // loudest.
    const double ranges[][2] = {{60, 250}, {250, 1000}, {1000, 4000}, {4000, 12000}, {12000, 19000}};
    std::vector<double> powers;
    for (const auto& range : ranges) powers.push_back(bandPower(r.left, second / 10, range[0], range[1]));
    const double loudest = *std::max_element(powers.begin(), powers.end());
    for (size_t i = 0; i < powers.size(); ++i) EXPECT_GT(powers[i], loudest * 1e-3) << "range " << i;
}

TEST_F(BandSynthTest, SameStateRendersBitIdenticalAudio) {
    auto play = [](BandSynth& s) {
        for (int t = 0; t < 3; ++t) {
            TrackBlobs& blobs = s.tracks[static_cast<size_t>(t)].blobs;
            blobs.slotA.working.clear();
            blobs.slotB.working.clear();
            blobs.publish();
            s.param(s.layout.trackBase[static_cast<size_t>(t)] + trackTransform)
                .set(30.0f * static_cast<float>(t));
            s.noteEvent(baseNote + t, 0.5f + 0.2f * static_cast<float>(t), 0);
        }
    };
    BandSynth& first = synth();
    play(first);
    const Render a = render(20000, 100);

    engine = std::make_unique<BandSynth>();
    engine->prepare(rate);
    play(*engine);
    const Render b = render(20000, 100);
    EXPECT_GT(a.peak(), 0.0f);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

TEST_F(BandSynthTest, FirstBlockAfterResetSynthesizesOneHopPerTrackAtItsStart) {
    for (int t = 0; t < BandSynth::trackCount; ++t) loadClearedBlob(t);
    synth().reset(0);
    for (int t = 0; t < 4; ++t) synth().noteEvent(baseNote + t, 1.0f, 0);

    // A 64-frame block: its hop is made before any frame is read, so the block holds sound.
    const Render r = renderHops(1);
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        if (t < 4)
            EXPECT_FLOAT_EQ(voice(t, 0).age, hopSeconds) << t;
        else
            EXPECT_EQ(track(t).resynth.silentHops(), 1) << t;
    }
    EXPECT_GT(r.peak(), 0.0f);
    EXPECT_EQ(synth().pendingHopSamples, 0);

    renderHops(1);
    EXPECT_FLOAT_EQ(voice(0, 0).age, 2 * hopSeconds);
    EXPECT_EQ(track(7).resynth.silentHops(), 2);
}

TEST_F(BandSynthTest, MissingBlobsGiveNoVoiceAndDropSoundingOnes) {
    removeBlobs(0);
    synth().noteEvent(baseNote, 1.0f, 0);
    EXPECT_EQ(track(0).voicesInUse, 0);
    EXPECT_EQ(renderHops(4).peak(), 0.0f);

    // Emptying both slots while voices sound drops them at the next hop.
    loadClearedBlob(0);
    trackParam(0, trackPolyphony).set(4);
    synth().noteEvent(baseNote, 1.0f, 0);
    synth().noteEvent(baseNote, 1.0f, 1);
    renderHops(3);
    ASSERT_EQ(track(0).voicesInUse, 2);
    removeBlobs(0);
    renderHops(1);
    EXPECT_EQ(track(0).voicesInUse, 0);
    EXPECT_EQ(track(0).activeVoices, 0);

    // The dropped voices stay gone when the slots come back and a new note starts.
    loadClearedBlob(0);
    synth().noteEvent(baseNote, 1.0f, 2);
    renderHops(1);
    EXPECT_EQ(track(0).activeVoices, 1);
    EXPECT_EQ(voice(0, 0).channel, 2);
}

TEST_F(BandSynthTest, DensityExtremesGivePureNoiseOrNoNoise) {
    loadClearedBlob(0);
    // +100: every bin is its noise resonator scaled by the band amplitude.
    trackParam(0, trackDensity).set(100);
    synth().noteEvent(baseNote, 1.0f, 0);
    renderHops(5);
    const Voice& v = voice(0, 0);
    int compared = 0;
    for (int j = 0; j < synth().tables.binCount; ++j) {
        const Complex out = v.binState[static_cast<size_t>(j)];
        const Complex noise = v.noiseState[static_cast<size_t>(j)];
        if (std::abs(out) < 1e-12f || std::abs(noise) < 1e-12f) continue;
        // Same phase: the ratio is real and positive.
        const Complex ratio = out / noise;
        EXPECT_NEAR(ratio.imag() / ratio.real(), 0.0f, 1e-3f) << j;
        EXPECT_GT(ratio.real(), 0.0f) << j;
        ++compared;
    }
    EXPECT_GT(compared, synth().tables.binCount / 2);

    // -100: the noise no longer reaches the output, so the noise seed makes no difference.
    auto renderWithSeed = [&](float density, float seed) {
        engine = std::make_unique<BandSynth>();
        engine->prepare(rate);
        loadClearedBlob(0);
        trackParam(0, trackDensity).set(density);
        trackParam(0, trackSeedMode).set(1);
        trackParam(0, trackSeed).set(seed);
        synth().noteEvent(baseNote, 1.0f, 0);
        return renderHops(40);
    };
    const Render quietA = renderWithSeed(-100, 1), quietB = renderWithSeed(-100, 2);
    EXPECT_GT(quietA.peak(), 0.0f);
    EXPECT_EQ(quietA.left, quietB.left);
    const Render noisyA = renderWithSeed(0, 1), noisyB = renderWithSeed(0, 2);
    EXPECT_NE(noisyA.left, noisyB.left);
}

TEST_F(BandSynthTest, TimescaleTwoHalvesTheSpeedOnlyAfterTheAttack) {
    loadClearedBlob(0);
    trackParam(0, trackTimescale).set(2);
    synth().noteEvent(baseNote, 1.0f, 0);
    const BlobReader& reader = voice(0, 0).reader;
    renderHops(1);
    float lastPos = reader.lastPos(), timePos = reader.timePos();
    int halfSpeedHops = 0;
    for (int h = 0; h < 60; ++h) {
        renderHops(1);
        const float step = reader.timePos() - timePos;
        if (lastPos < 5.0f) {
            EXPECT_NEAR(step, 1.0f, 1e-4f) << "hop " << h;
        }
        if (lastPos >= 15.0f) {
            EXPECT_NEAR(step, 0.5f, 1e-4f) << "hop " << h;
            ++halfSpeedHops;
        }
        lastPos = reader.lastPos();
        timePos = reader.timePos();
    }
    EXPECT_GT(halfSpeedHops, 10);
}

struct Steal {
    const char* name;
    int polyphony;
    int notes; // note ons of note 36 on channels 0, 1, ..., one hop apart
    int expectedInUse;
    int voiceOfLastNote;
};

TEST_F(BandSynthTest, PolyphonyChoosesFreeVoicesThenStealsTheOldest) {
    const Steal cases[] = {
        {"one voice is always reused", 1, 3, 1, 0},
        {"four voices fill up in order", 4, 4, 4, 3},
        {"a fifth note steals the oldest", 4, 5, 4, 0},
        {"a sixth note steals the next oldest", 4, 6, 4, 1},
    };
    for (const Steal& c : cases) {
        engine = std::make_unique<BandSynth>();
        engine->prepare(rate);
        loadClearedBlob(0);
        trackParam(0, trackPolyphony).set(static_cast<float>(c.polyphony));
        for (int n = 0; n < c.notes; ++n) {
            synth().noteEvent(baseNote, 1.0f, n);
            renderHops(1);
        }
        EXPECT_EQ(track(0).voicesInUse, c.expectedInUse) << c.name;
        EXPECT_EQ(voice(0, c.voiceOfLastNote).channel, c.notes - 1) << c.name;
        EXPECT_EQ(synth().lastTriggeredTrack, 0) << c.name;
    }
}

TEST_F(BandSynthTest, LoweredPolyphonyCutsVoicesAtTheNextNote) {
    loadClearedBlob(0);
    trackParam(0, trackPolyphony).set(4);
    for (int n = 0; n < 4; ++n) {
        synth().noteEvent(baseNote, 1.0f, n);
        renderHops(1);
    }
    trackParam(0, trackPolyphony).set(2);
    renderHops(2);
    // Not before the next note: all four keep sounding.
    EXPECT_EQ(track(0).activeVoices, 4);
    synth().noteEvent(baseNote, 1.0f, 9);
    EXPECT_EQ(voice(0, 2).state, Voice::stateFree);
    EXPECT_EQ(voice(0, 3).state, Voice::stateFree);
    EXPECT_EQ(voice(0, 0).channel, 9); // the older of the two that remain
    renderHops(1);
    EXPECT_EQ(track(0).voicesInUse, 2);
    EXPECT_EQ(track(0).activeVoices, 2);
}

// The voices of all tracks are solved in shared batches of lanes; a track must sound the
// same to the bit whichever other tracks fill the lanes beside its voices. Track 1's three
// voices straddle two batches when tracks 0 and 2 play too.
TEST_F(BandSynthTest, TrackSoundsTheSameWhateverOtherTracksPlay) {
    constexpr int hops = 40;
    const auto play = [&](bool others) {
        engine = std::make_unique<BandSynth>();
        engine->prepare(rate);
        for (int t = 0; t < 3; ++t) {
            loadClearedBlob(t);
            trackParam(t, trackPolyphony).set(4);
        }
        // Only track 1 is heard, so the renders compare its sound alone.
        synth().muteMask.store(0b101);
        const int voicesOf[3] = {others ? 2 : 0, 3, others ? 2 : 0};
        for (int t = 0; t < 3; ++t)
            for (int v = 0; v < voicesOf[t]; ++v) synth().noteEvent(baseNote + t, 0.5f + 0.1f * v, v);
        Render r = renderHops(hops / 2);
        synth().noteEvent(baseNote + 1, 0.0f, 1); // one voice of track 1 releases
        Render rest = renderHops(hops / 2);
        r.left.insert(r.left.end(), rest.left.begin(), rest.left.end());
        r.right.insert(r.right.end(), rest.right.begin(), rest.right.end());
        return r;
    };
    const Render alone = play(false);
    const Render beside = play(true);
    ASSERT_GT(alone.peak(), 0.0f);
    ASSERT_EQ(alone.left.size(), beside.left.size());
    for (size_t i = 0; i < alone.left.size(); ++i) ASSERT_EQ(alone.left[i], beside.left[i]) << "sample " << i;
}

TEST_F(BandSynthTest, NoteOffMatchesNoteAndChannel) {
    loadClearedBlob(0);
    trackParam(0, trackPolyphony).set(4);
    // Voices: note 36 ch 2, note 36 ch 3, note 48 ch 2, note 36 ch 2 again.
    synth().noteEvent(36, 1.0f, 2);
    synth().noteEvent(36, 1.0f, 3);
    synth().noteEvent(48, 1.0f, 2);
    synth().noteEvent(36, 1.0f, 2);
    auto states = [&] {
        std::vector<int> s;
        for (int v = 0; v < 4; ++v) s.push_back(voice(0, v).state);
        return s;
    };
    // Channel 2 releases both voices of note 36 on channel 2, nothing else.
    synth().noteEvent(36, 0.0f, 2);
    EXPECT_EQ(states(), (std::vector<int>{2, 1, 1, 2}));
    // A negative channel releases every voice of the note.
    synth().noteEvent(36, 0.0f, -1);
    EXPECT_EQ(states(), (std::vector<int>{2, 2, 1, 2}));
    synth().noteEvent(48, -0.5f, 5);
    EXPECT_EQ(states(), (std::vector<int>{2, 2, 1, 2}));
    synth().noteEvent(48, 0.0f, 2);
    EXPECT_EQ(states(), (std::vector<int>{2, 2, 2, 2}));
    // Released voices fade out and end.
    trackParam(0, trackRelease).set(0.05f);
    renderHops(60);
    EXPECT_EQ(track(0).voicesInUse, 0);
}

TEST_F(BandSynthTest, PolyPressureReachesMatchingVoicesInUse) {
    loadClearedBlob(0);
    trackParam(0, trackPolyphony).set(4);
    synth().noteEvent(36, 1.0f, 0);
    synth().noteEvent(36, 1.0f, 1);
    synth().polyPressure(0.5f, 36, 1);
    EXPECT_EQ(voice(0, 0).pressure, 0.0f);
    EXPECT_EQ(voice(0, 1).pressure, 0.5f);
    synth().polyPressure(0.25f, 36, -1);
    EXPECT_EQ(voice(0, 0).pressure, 0.25f);
    EXPECT_EQ(voice(0, 1).pressure, 0.25f);
}

TEST_F(BandSynthTest, TrackOnAMissingOutputBusIsNotMixedButKeepsPlaying) {
    loadClearedBlob(0);
    trackParam(0, trackOutput).set(2); // "Bus 2": channels 4 and 5
    synth().noteEvent(baseNote, 1.0f, 0);
    const Render r = render(20 * hop, hop, 2);
    EXPECT_EQ(r.peak(), 0.0f);
    EXPECT_TRUE(synth().mixer.silent[0]);
    EXPECT_FLOAT_EQ(voice(0, 0).age, 20 * hopSeconds);
    EXPECT_EQ(track(0).activeVoices, 1);

    // With six outputs the same track plays on its bus, and Main stays silent.
    constexpr int frames = 20 * hop;
    std::vector<std::vector<float>> channels(6, std::vector<float>(frames));
    for (int done = 0; done < frames; done += hop) {
        float* outputs[6];
        for (size_t c = 0; c < channels.size(); ++c) outputs[c] = channels[c].data();
        synth().renderSubBlock(outputs, hop, 6, done);
    }
    const auto silentChannel = [](const std::vector<float>& x) {
        return std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; });
    };
    EXPECT_TRUE(silentChannel(channels[0]) && silentChannel(channels[1]));
    EXPECT_FALSE(silentChannel(channels[4]));
    EXPECT_FALSE(silentChannel(channels[5]));
    EXPECT_FALSE(synth().mixer.silent[0]);
}

// A per-voice routing to a mixer parameter reaches the mixer whatever the host's block size.
TEST_F(BandSynthTest, PerVoiceModulationOfTheLevelHoldsForEveryBlockSize) {
    for (int block : {64, 100, 37, 512}) {
        engine = std::make_unique<BandSynth>();
        engine->prepare(rate);
        loadClearedBlob(0);
        const int slot = synth().layout.modSlotBase[0];
        // Constant scaled by velocity on track 1's Amp, all the way down.
        synth().param(slot + modSource).set(ModSystem::sourceConstant);
        synth().param(slot + modScaler).set(ModSystem::scalerVelocity);
        const auto& targets = synth().modTargets;
        const int ampIndex = synth().layout.trackBase[0] + trackAmp;
        const auto target = std::find(targets.begin(), targets.end(), ampIndex) - targets.begin();
        synth().param(slot + modTarget).set(static_cast<float>(target));
        synth().param(slot + modAmount).set(-1.0f);
        synth().noteEvent(baseNote, 1.0f, 0);
        const Render r = render(40 * hop, block);
        EXPECT_LT(r.energy(hop * 4, r.left.size()), 1e-9) << "block " << block;
        EXPECT_GT(voice(0, 0).age, 0.0f);
    }
}

TEST_F(BandSynthTest, MainEffectSlotsProcessTheMix) {
    auto renderWithMainGain = [&](bool on) {
        engine = std::make_unique<BandSynth>();
        engine->prepare(rate);
        for (int s = 0; s < FxSlot::slotCount; ++s)
            synth().param(synth().layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0);
        const int main1 = synth().layout.fxSlotBase[FxSlot::firstMainSlot];
        synth().param(main1 + fxPower).set(on ? 1.0f : 0.0f);
        swapFxUnits(synth().fxSlots, rate, synth().keepFxParamValues);
        loadClearedBlob(0);
        synth().noteEvent(baseNote, 1.0f, 0);
        return render(static_cast<int>(rate / 2), 100);
    };
    const Render dry = renderWithMainGain(false);
    const Render processed = renderWithMainGain(true);
    EXPECT_GT(dry.peak(), 0.0f);
    EXPECT_NE(dry.left, processed.left);
}

// While every track is at rest the slots are told their buses are silent and skip scanning
// them; the first note must still reach them and wake every sleeping slot.
TEST_F(BandSynthTest, EffectSlotsSleepingThroughSilenceWakeOnTheNextNote) {
    for (int s = 0; s < FxSlot::slotCount; ++s)
        synth().param(synth().layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(1.0f);
    swapFxUnits(synth().fxSlots, rate, synth().keepFxParamValues);
    trackParam(0, trackSend1).set(1.0f);
    trackParam(0, trackSend2).set(1.0f);
    loadClearedBlob(0);
    render(static_cast<int>(rate), 256);
    for (const FxSlot& slot : synth().fxSlots) ASSERT_TRUE(slot.asleep());
    synth().noteEvent(baseNote, 1.0f, 0);
    render(4 * hop, 256);
    for (const FxSlot& slot : synth().fxSlots) EXPECT_FALSE(slot.asleep());
}

// Above 44.1 kHz a hop is longer than a step of the mixer. Where nothing is mixed and every
// slot sleeps, the renderer covers the rest of a hop in one step: the sound must be what
// steps of at most 64 frames give, through the slots falling asleep and waking again.
TEST_F(BandSynthTest, QuietHopsInOneStepSoundAsInShortSteps) {
    constexpr float highRate = 48000.0f;
    const auto renderInBlocks = [&](std::initializer_list<int> blocks) {
        engine = std::make_unique<BandSynth>();
        engine->prepare(highRate);
        const int hopFrames = synth().hopFrames();
        for (int s = 0; s < FxSlot::slotCount; ++s)
            synth().param(synth().layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(1.0f);
        swapFxUnits(synth().fxSlots, highRate, synth().keepFxParamValues);
        trackParam(0, trackSend1).set(1.0f);
        trackParam(0, trackSend2).set(1.0f);
        trackParam(0, trackRelease).set(0.05f);
        loadClearedBlob(0);
        std::vector<float> left, right;
        bool slept = false;
        for (const int hopsUntilNote : {1, 4 * static_cast<int>(highRate) / hopFrames, 40}) {
            synth().noteEvent(baseNote, 1.0f, 0);
            for (int h = 0; h < hopsUntilNote; ++h) {
                if (h == 4) synth().noteEvent(baseNote, 0.0f, 0);
                for (const int block : blocks) {
                    std::vector<float> l(static_cast<size_t>(block)), r(static_cast<size_t>(block));
                    float* outputs[2] = {l.data(), r.data()};
                    synth().renderSubBlock(outputs, block, 2, 0);
                    left.insert(left.end(), l.begin(), l.end());
                    right.insert(right.end(), r.begin(), r.end());
                }
                slept = slept || std::all_of(synth().fxSlots.begin(), synth().fxSlots.end(),
                                             [](const FxSlot& slot) { return slot.asleep(); });
            }
        }
        EXPECT_TRUE(slept);
        EXPECT_EQ(std::accumulate(blocks.begin(), blocks.end(), 0), hopFrames);
        return std::make_pair(left, right);
    };
    const auto whole = renderInBlocks({70});
    const auto pieces = renderInBlocks({64, 6});
    ASSERT_EQ(whole.first.size(), pieces.first.size());
    for (size_t i = 0; i < whole.first.size(); ++i)
        ASSERT_TRUE(whole.first[i] == pieces.first[i] && whole.second[i] == pieces.second[i])
            << "frame " << i;
}

TEST_F(BandSynthTest, OutputsStayFiniteForExtremeParameters) {
    // Per case, each parameter goes to its lowest (0), highest (1) or a random end.
    const char* cases[] = {"lowest", "highest", "alternate", "random"};
    for (const char* name : cases) {
        engine = std::make_unique<BandSynth>();
        engine->prepare(rate);
        std::srand(7);
        int k = 0;
        for (Param& p : synth().params) {
            const bool high =
                name[0] == 'h' || (name[0] == 'a' && k % 2 == 1) || (name[0] == 'r' && std::rand() % 2);
            p.set(high ? p.highest() : p.lowest());
            ++k;
        }
        swapFxUnits(synth().fxSlots, rate, synth().keepFxParamValues);
        for (int t = 0; t < BandSynth::trackCount; ++t) {
            TrackBlobs& blobs = track(t).blobs;
            blobs.slotA.working.clear();
            blobs.slotB.working.clear();
            blobs.publish();
            // Every track on Main so that every voice is heard.
            trackParam(t, trackOutput).set(0);
            for (int n = 0; n < 4; ++n) synth().noteEvent(baseNote + t + 12 * n, 1.0f - 0.3f * n, n);
        }
        const Render r = render(static_cast<int>(rate), 173);
        EXPECT_TRUE(std::all_of(r.left.begin(), r.left.end(), [](float x) { return std::isfinite(x); }))
            << name;
        EXPECT_TRUE(std::all_of(r.right.begin(), r.right.end(), [](float x) { return std::isfinite(x); }))
            << name;
    }
}

TEST(BandSynthAudioThread, PlayingEveryVoiceNeverAllocates) {
    auto plugin = std::make_unique<Ombrix>();
    plugin->reset(rate);
    BandSynth& synth = plugin->engine;
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        TrackBlobs& blobs = synth.tracks[static_cast<size_t>(t)].blobs;
        blobs.slotA.working.clear();
        blobs.slotB.working.clear();
        blobs.publish();
        synth.param(synth.layout.trackBase[static_cast<size_t>(t)] + trackPolyphony).set(4);
    }
    // The default effect units run in every block too.
    swapFxUnits(synth.fxSlots, rate, synth.keepFxParamValues);
    constexpr int channels = 4, block = 256;
    std::vector<float> buffer(channels * block);
    float* outputs[channels];
    for (int c = 0; c < channels; ++c) outputs[c] = buffer.data() + c * block;
    const HostTransport transport{120.0, 0.0, true};
    plugin->setPlaying(1);

    testsupport::RealtimeGuard::clear();
    std::optional<testsupport::AudioThreadScope> audioThread(std::in_place);
    for (int b = 0; b < 200; ++b) {
        if (b % 20 == 0)
            for (int t = 0; t < BandSynth::trackCount; ++t)
                for (int n = 0; n < 4; ++n)
                    plugin->midiIn(
                        {n * 7, static_cast<uint8_t>(0x90 | n), static_cast<uint8_t>(36 + t + 12 * n), 100});
        if (b % 20 == 10) plugin->midiIn({3, 0x80, 36, 0});
        plugin->processBlock(outputs, channels, block, transport);
    }
    int sounding = 0;
    for (const Track& track : synth.tracks) sounding += track.activeVoices;
    // A reset at the same rate runs on the audio thread too.
    plugin->reset(rate);
    audioThread.reset();

    char report[160];
    testsupport::RealtimeGuard::describe(report, sizeof report);
    EXPECT_EQ(testsupport::RealtimeGuard::total(), 0) << report;
    EXPECT_EQ(sounding, 32);
}

} // namespace
} // namespace tarvo
