// The factory presets: each is a complete kit built the way a user would build it, through
// the plug-in object's own parameters, its sequencer and its Blob slots loaded from the
// factory sound files, and stored with the preset writer. "Start Here" is what a new
// instance opens with.
#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "effects/FxTypes.h"
#include "engine/BlobSlots.h"
#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "instrument/StateChunk.h"
#include "tools/PresetRender.h"
#include "tools/factory/FactoryGen.h"

namespace tarvo::factory {
namespace {

// Sequencer ticks per sixteenth step.
constexpr int stepTicks = StepSequencer::ticksPerStep;
// Share of a step a pattern note lasts; the tracks' release shapes what follows.
constexpr int noteTicks = stepTicks * 3 / 4;
// Effect slots in the engine's order.
constexpr int send1 = 0, send2 = 1, main1 = 2, main2 = 3;
// Audio rendered to measure a preset, in bars.
constexpr double measureBars = 4.0;
// Audio rendered to measure one track for its level, in bars.
constexpr double trackMeasureBars = 2.0;
// Largest track gain the level matching may set ("Amp" reaches +12 dB).
constexpr float maxTrackGain = 4.0f;
// The recipes' track levels are relative; this scales them into peaks that leave the mix
// headroom where hits coincide.
constexpr float mixHeadroom = 0.55f;
// Loudest sample a factory preset may reach on the main bus.
constexpr float peakLimit = 0.95f;

// Velocity of a pattern character: accent, normal, soft, ghost; anything else rests.
int velocityOf(char mark) {
    switch (mark) {
    case 'X':
        return 127;
    case 'x':
        return 100;
    case 'o':
        return 70;
    case 'g':
        return 42;
    default:
        return 0;
    }
}

// The value whose display text is text, for parameters with a list of texts.
float valueOfText(const Param& p, const std::string& text) {
    for (int i = 0; i < p.valueTextCount; ++i)
        if (text == p.valueTexts[i]) return p.min + static_cast<float>(i);
    throw std::runtime_error(std::string("no value \"") + text + "\" for " +
                             (p.name != nullptr ? p.name : "?"));
}

// Builds one preset on a fresh plug-in object; every setter goes through the parameters.
class PresetBuilder {
public:
    explicit PresetBuilder(float bpm) : plugin_(std::make_unique<Ombrix>()), engine_(plugin_->engine) {
        // Units must be installed before their parameters can be named and set.
        engine_.prepare(static_cast<float>(drumSampleRate));
        seq(StepSequencer::paramBpm, bpm);
        for (int t = 0; t < BandSynth::trackCount; ++t) {
            slotOff(engine_.tracks[static_cast<size_t>(t)].blobs.slotA.working);
            slotOff(engine_.tracks[static_cast<size_t>(t)].blobs.slotB.working);
        }
        for (int s = 0; s < ParamLayout::fxSlotCount; ++s) fxParam(s, fxPower).set(0.0f);
    }

    PresetBuilder& seq(StepSequencer::ParamId id, float value) {
        plugin_->sequencer.param(id).set(value);
        return *this;
    }
    PresetBuilder& swing(float percent) { return seq(StepSequencer::paramSwing, percent); }
    PresetBuilder& loose(float time, float velocity) {
        seq(StepSequencer::paramLooseTime, time);
        return seq(StepSequencer::paramLooseVelo, velocity);
    }

    // Loads "Factory/<sound>" into slot A (and B when given) of track t.
    PresetBuilder& sound(int t, const std::string& a, const std::string& b = {}) {
        TrackBlobs& blobs = engine_.tracks[static_cast<size_t>(t)].blobs;
        load(blobs.slotA.working, a);
        if (!b.empty()) load(blobs.slotB.working, b);
        return *this;
    }

    // Sets offset `which` of track t's parameter block.
    PresetBuilder& track(int t, int which, float value) {
        engine_.param(engine_.layout.trackBase[static_cast<size_t>(t)] + which).set(value);
        return *this;
    }
    // The track's loudness as the peak its pattern reaches alone, dry, before the main
    // chain; `matchLevels` sets the gains that get there. Factory sounds differ widely in
    // level, so gains are measured rather than guessed.
    PresetBuilder& level(int t, float peak, float pan = 0.0f) {
        targetPeak_[static_cast<size_t>(t)] = peak;
        return track(t, trackPan, pan);
    }
    PresetBuilder& sends(int t, float one, float two) {
        track(t, trackSend1, one);
        return track(t, trackSend2, two);
    }

    // One track's pattern: one character per step (see velocityOf), the track as long as the
    // text, so tracks of different lengths run against each other.
    PresetBuilder& pattern(int t, const std::string& steps) {
        StepSequencer& sequencer = plugin_->sequencer;
        sequencer.clear(t);
        sequencer.patterns[static_cast<size_t>(t)].length = static_cast<int32_t>(steps.size());
        for (size_t step = 0; step < steps.size(); ++step) {
            const int velocity = velocityOf(steps[step]);
            if (velocity > 0 &&
                !sequencer.insertNote(t, static_cast<int>(step) * stepTicks, noteTicks, velocity))
                throw std::runtime_error("a pattern note did not fit");
        }
        return *this;
    }

    // Switches effect slot s on with the unit named type and sets its unit parameters by name.
    PresetBuilder& fx(int s, const std::string& type,
                      std::initializer_list<std::pair<const char*, float>> values) {
        fxParam(s, fxType).set(valueOfText(fxParam(s, fxType), type));
        swapFxUnits(engine_.fxSlots, engine_.sampleRate(), engine_.keepFxParamValues);
        if (engine_.fxSlots[static_cast<size_t>(s)].installedUnit() == nullptr)
            throw std::runtime_error("effect unit " + type + " was not installed");
        for (const auto& [name, value] : values) {
            Param* target = nullptr;
            for (int which : {fxParam1, fxParam2})
                if (std::string(fxParam(s, which).name) == name) target = &fxParam(s, which);
            if (target == nullptr) throw std::runtime_error(type + " has no parameter " + name);
            target->set(value);
        }
        fxParam(s, fxPower).set(1.0f);
        return *this;
    }

    // Routes source to target (texts as the editor shows them, e.g. "LFO 1", "Track 3|Filter")
    // through modulation slot j.
    PresetBuilder& mod(int j, const std::string& source, const std::string& target, float amount,
                       const std::string& scaler = "-") {
        const int base = engine_.layout.modSlotBase[static_cast<size_t>(j)];
        for (auto [which, text] : {std::pair<int, const std::string&>{modSource, source},
                                   std::pair<int, const std::string&>{modTarget, target},
                                   std::pair<int, const std::string&>{modScaler, scaler}}) {
            Param& p = engine_.param(base + which);
            p.set(valueOfText(p, text));
        }
        engine_.param(base + modAmount).set(amount);
        return *this;
    }

    // Sets offset `which` of LFO k (0..3).
    PresetBuilder& lfo(int k, int which, float value) {
        engine_.param(engine_.layout.lfoBase[static_cast<size_t>(k)] + which).set(value);
        return *this;
    }
    // A tempo-locked LFO k with the beat rate text ("1/4", "1/1", ...).
    PresetBuilder& beatLfo(int k, const std::string& rate) {
        lfo(k, lfoBeatsync, 1.0f);
        Param& p = engine_.param(engine_.layout.lfoBase[static_cast<size_t>(k)] + lfoBeatRate);
        return lfo(k, lfoBeatRate, valueOfText(p, rate));
    }
    // Sets offset `which` of envelope k (0..3).
    PresetBuilder& envelope(int k, int which, float value) {
        engine_.param(engine_.layout.envBase[static_cast<size_t>(k)] + which).set(value);
        return *this;
    }

    // Plays every track with a level alone, without effects, and sets its "Amp" so that its
    // peak is the one asked for (as far as the gain range allows).
    void matchLevels() {
        const std::vector<uint8_t> state = saveState(*plugin_);
        for (int t = 0; t < BandSynth::trackCount; ++t) {
            const float target = mixHeadroom * targetPeak_[static_cast<size_t>(t)];
            if (!(target > 0.0f)) continue;
            auto probe = std::make_unique<Ombrix>();
            if (readState(*probe, state.data(), static_cast<int>(state.size())) == 0)
                throw std::runtime_error("a preset state does not read back");
            BandSynth& engine = probe->engine;
            for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
                engine.param(engine.layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0.0f);
            engine.soloTrack.store(static_cast<int16_t>(t));
            tool::RenderSettings settings;
            settings.seconds = tool::barSeconds(*probe, trackMeasureBars);
            settings.sampleRate = static_cast<int>(drumSampleRate);
            const float peak = tool::renderPattern(*probe, settings).peak[0];
            if (!(peak > 0.0f)) throw std::runtime_error("track " + std::to_string(t + 1) + " is silent");
            const float gain = engine.param(engine.layout.trackBase[static_cast<size_t>(t)] + trackAmp).value;
            const float matched = gain * target / peak;
            if (matched > maxTrackGain)
                std::printf("tarvo_factory_gen:   track %d stays at %.2f of its level\n", t + 1,
                            maxTrackGain / matched);
            track(t, trackAmp, std::min(matched, maxTrackGain));
        }
    }

    Ombrix& plugin() { return *plugin_; }

private:
    Param& fxParam(int s, int which) {
        return engine_.param(engine_.layout.fxSlotBase[static_cast<size_t>(s)] + which);
    }
    static void slotOff(Blob& blob) {
        blob.clear();
        blob.present = 0;
        blob.name = "<off>";
    }
    static void load(Blob& slot, const std::string& sound) {
        std::string reason;
        if (!loadBlobIntoSlot(slot, "Factory/" + sound, reason))
            throw std::runtime_error("cannot load Factory/" + sound + ": " + reason);
    }

    std::unique_ptr<Ombrix> plugin_;
    BandSynth& engine_;
    std::array<float, BandSynth::trackCount> targetPeak_{};
};

// Track numbers of the kits, named for reading.
constexpr int t1 = 0, t2 = 1, t3 = 2, t4 = 3, t5 = 4, t6 = 5, t7 = 6, t8 = 7;

// Warm four-on-the-floor groove with an answering conga and a tom fill: every track sounds, so
// a new user hears the whole machine at once.
void startHere(PresetBuilder& b) {
    b.swing(8).loose(6, 12);
    b.sound(t1, "Kick/Round House").level(t1, 0.9f).pattern(t1, "x...x...x...x...");
    b.sound(t2, "Clap/Wide").level(t2, 0.55f, 6).sends(t2, 0.35f, 0).pattern(t2, "....x.......x...");
    b.sound(t3, "Hihat/Closed Analog").level(t3, 0.35f, -22).pattern(t3, "x.o.x.oxx.o.x.og");
    b.sound(t4, "Hihat/Open Analog").level(t4, 0.3f, 18).sends(t4, 0, 0.2f).pattern(t4, "..x...x...x...x.");
    b.sound(t5, "Percussion/Conga High", "Percussion/Conga Low")
        .level(t5, 0.4f, 35)
        .sends(t5, 0.2f, 0.15f)
        .track(t5, trackTransform, 0)
        .pattern(t5, "...o..x.o..x..o.");
    b.sound(t6, "Rim/Woody").level(t6, 0.35f, -35).sends(t6, 0.25f, 0.3f).pattern(t6, "...x.....o....x.");
    b.sound(t7, "Tom/Mid Analog").level(t7, 0.45f, -15).sends(t7, 0.3f, 0).pattern(t7, "..........o..xo.");
    b.sound(t8, "Percussion/Shaker").level(t8, 0.25f, 25).pattern(t8, "gogxgogxgogxgogo");
    b.fx(send1, "Room Reverb", {{"Length", 45}, {"Color", 45}});
    b.fx(send2, "Tempo Delay", {{"Length", 3}, {"Feedback", 35}});
    b.fx(main1, "Sticky Compressor", {{"Gain", 3}, {"Speed", 55}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    // The conga leans from high to low with the velocity; a slow LFO opens the hats.
    b.mod(0, "Constant", "Track 5|Transform", 0.6f, "Velocity");
    b.beatLfo(0, "1/1").mod(1, "LFO 1", "Track 3|Filter", 0.18f);
}

// Syncopated electro: tight kick, snappy snare, cowbell and zaps, hats with a moving filter.
void analogElectro(PresetBuilder& b) {
    b.swing(0);
    b.sound(t1, "Kick/Tight Electro").level(t1, 1.0f).pattern(t1, "x..x..x...x..x..");
    b.sound(t2, "Snare/Analog").level(t2, 0.6f).sends(t2, 0.25f, 0.15f).pattern(t2, "....x.......x...");
    b.sound(t3, "Hihat/Closed Tight").level(t3, 0.35f, -20).pattern(t3, "xoxoxoxoxoxoxoxX");
    b.sound(t4, "Percussion/Cowbell").level(t4, 0.25f, 30).sends(t4, 0, 0.3f).pattern(t4, "..x....x..x.....");
    b.sound(t5, "Tom/Electro").level(t5, 0.5f, -30).sends(t5, 0.2f, 0).pattern(t5, "...........x.xx.");
    b.sound(t6, "FX/Zap Down").level(t6, 0.35f, 25).sends(t6, 0, 0.4f).pattern(t6, "......x.........");
    b.sound(t7, "Clap/Bright").level(t7, 0.4f, 10).sends(t7, 0.3f, 0).pattern(t7, "....x.......x..o");
    b.sound(t8, "Rim/Click").level(t8, 0.3f, -40).pattern(t8, ".x....x..x....x.");
    b.fx(send1, "Plate Reverb", {{"Length", 35}, {"Brightness", 65}});
    b.fx(send2, "Tempo Delay", {{"Length", 3}, {"Feedback", 45}});
    b.fx(main1, "Tape Simulator", {{"Drive", 35}, {"Age", 25}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    b.beatLfo(0, "1/2").mod(0, "LFO 1", "Track 3|Filter", 0.25f);
    b.mod(1, "Env 1", "Track 1|Frequency", 0.12f);
    b.envelope(0, envInitial, 1.0f).envelope(0, envDecay, 0.08f).envelope(0, envSustain, 0.0f);
}

// Deep house: round kick, wide clap, open hats on the off-beats, a three-step conga line
// against the sixteen-step bar, swung shaker.
void deepHouse(PresetBuilder& b) {
    b.swing(16).loose(8, 20);
    b.sound(t1, "Kick/Round House").level(t1, 1.0f).pattern(t1, "x...x...x...x...");
    b.sound(t2, "Clap/Wide").level(t2, 0.45f, -5).sends(t2, 0.45f, 0).pattern(t2, "....x.......x...");
    b.sound(t3, "Hihat/Open Wash").level(t3, 0.28f, 15).sends(t3, 0.15f, 0).pattern(t3, "..x...x...x...x.");
    b.sound(t4, "Percussion/Shaker").level(t4, 0.25f, -25).pattern(t4, "oxgxoxgxoxgxoxgx");
    b.sound(t5, "Percussion/Conga Low").level(t5, 0.35f, 35).sends(t5, 0.2f, 0).pattern(t5, "x.o");
    b.sound(t6, "Percussion/Conga High").level(t6, 0.3f, -35).sends(t6, 0.2f, 0).pattern(t6, "..o..x.");
    b.sound(t7, "Rim/Woody").level(t7, 0.3f, 20).sends(t7, 0, 0.35f).pattern(t7, ".......x.......o");
    b.sound(t8, "Cymbal/Ride Ping").level(t8, 0.18f, -10).pattern(t8, "x...x...x...x...");
    b.fx(send1, "Plate Reverb", {{"Length", 55}, {"Brightness", 40}});
    b.fx(send2, "Tempo Delay", {{"Length", 3}, {"Feedback", 40}});
    b.fx(main1, "L.A. Optical", {{"Gain", 6}, {"Speed", 45}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    b.beatLfo(0, "1/1").mod(0, "LFO 1", "Track 3|Filter", -0.2f);
    b.mod(1, "Noise Pink", "Track 4|Pan", 0.15f);
}

// Boom bap: heavy swing, punchy kick, fat snare, a vocal shout at the end of the bar.
void boomBap(PresetBuilder& b) {
    b.swing(28).loose(10, 25);
    b.sound(t1, "Kick/Punch").level(t1, 1.0f).pattern(t1, "x.......x.x.....");
    b.sound(t2, "Snare/Fat").level(t2, 0.7f).sends(t2, 0.3f, 0).pattern(t2, "....x.......x..g");
    b.sound(t3, "Hihat/Closed Tight").level(t3, 0.35f, 18).pattern(t3, "x.x.x.x.x.x.x.xo");
    b.sound(t4, "Vocal/Yeah", "Vocal/Hey")
        .level(t4, 0.3f, -10)
        .sends(t4, 0.2f, 0.3f)
        .pattern(t4, "..............x.");
    b.sound(t5, "Rim/Woody").level(t5, 0.3f, -25).pattern(t5, "......g.......g.");
    b.sound(t6, "Cymbal/Crash Dark").level(t6, 0.2f, 25).sends(t6, 0.2f, 0).pattern(t6, "x...............");
    b.sound(t7, "Percussion/Shaker").level(t7, 0.18f, -30).pattern(t7, "..g...g...g...g.");
    b.sound(t8, "Kick/Deep 808")
        .level(t8, 0.45f)
        .track(t8, trackFrequency, -40)
        .pattern(t8, "...........o....");
    b.fx(send1, "Room Reverb", {{"Length", 30}, {"Color", 55}});
    b.fx(send2, "Tempo Delay", {{"Length", 6}, {"Feedback", 30}});
    b.fx(main1, "Transformer Amp", {{"Gain", 6}, {"Bias", 15}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    // Harder hits darken less: velocity opens the snare's filter; a slow LFO morphs the shout.
    b.mod(0, "Constant", "Track 2|Filter", 0.15f, "Velocity");
    b.lfo(1, lfoRate, 0.3f).mod(1, "LFO 2", "Track 4|Transform", 0.5f);
}

// Brushes and toms in a loose, unquantised feel, with a ride pattern and a room around them.
void brushKit(PresetBuilder& b) {
    b.swing(20).loose(22, 30);
    b.sound(t1, "Kick/Soft Acoustic").level(t1, 0.7f).pattern(t1, "x.....x...x.....");
    b.sound(t2, "Snare/Brush", "Snare/Fat")
        .level(t2, 0.6f, 8)
        .sends(t2, 0.4f, 0)
        .pattern(t2, "g...x..gg.g.x..g");
    b.sound(t3, "Cymbal/Ride Ping").level(t3, 0.22f, -25).sends(t3, 0.2f, 0).pattern(t3, "x..ox.x.x..ox.x.");
    b.sound(t4, "Rim/Woody").level(t4, 0.3f, 15).sends(t4, 0.3f, 0).pattern(t4, "...........o....");
    b.sound(t5, "Tom/Low Floor").level(t5, 0.5f, 30).sends(t5, 0.35f, 0).pattern(t5, "..............ox");
    b.sound(t6, "Tom/High Analog").level(t6, 0.45f, -20).sends(t6, 0.35f, 0).pattern(t6, ".............x..");
    b.sound(t7, "Cymbal/Crash Dark").level(t7, 0.2f, 35).sends(t7, 0.25f, 0).pattern(t7, "x...............");
    b.sound(t8, "Hihat/Closed Analog").level(t8, 0.2f, -35).pattern(t8, "....x.......x...");
    b.fx(send1, "Room Reverb", {{"Length", 60}, {"Color", 35}});
    b.fx(send2, "Spring Reverb", {{"Length", 30}, {"Color", 40}});
    b.fx(main1, "Upward Compressor", {{"Ratio", 1.5f}, {"Speed", 40}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    // Soft strokes are brushes, hard ones turn into the fat snare.
    b.mod(0, "Constant", "Track 2|Transform", 0.7f, "Velocity");
    b.mod(1, "Noise Brown", "Track 3|Frequency", 0.03f);
}

// Glitch: lasers, clicks and noise drops in five- and seven-step loops against the bar, a
// sample-and-hold noise throwing the pitch around, and a fuzz send.
void glitchGarden(PresetBuilder& b) {
    b.swing(0).loose(0, 35);
    b.sound(t1, "Kick/Tight Electro").level(t1, 0.9f).pattern(t1, "x.....x...x..x..");
    b.sound(t2, "Snare/Tight")
        .level(t2, 0.5f)
        .track(t2, trackTimescale, 0.6f)
        .sends(t2, 0, 0.3f)
        .pattern(t2, "....x.......x.x.");
    b.sound(t3, "Rim/Click").level(t3, 0.35f, -30).pattern(t3, "x.xxo");
    b.sound(t4, "FX/Laser").level(t4, 0.25f, 30).sends(t4, 0.3f, 0.2f).pattern(t4, "..o...x");
    b.sound(t5, "FX/Noise Drop").level(t5, 0.3f, -15).sends(t5, 0.4f, 0).pattern(t5, "...........x....");
    b.sound(t6, "Hihat/Closed Crisp")
        .level(t6, 0.3f, 20)
        .track(t6, trackTimescale, 0.5f)
        .pattern(t6, "xgxxgxgxxgxgxxgx");
    b.sound(t7, "FX/Sweep Down").level(t7, 0.2f, 0).sends(t7, 0, 0.5f).pattern(t7, "x...............");
    b.sound(t8, "Vocal/Uh").level(t8, 0.25f, -40).track(t8, trackFrequency, 200).pattern(t8, "......x..x.");
    b.fx(send1, "Stereo Fuzz", {{"Drive", 55}, {"Color", 65}});
    b.fx(send2, "Tempo Delay", {{"Length", 1.5f}, {"Feedback", 55}});
    b.fx(main1, "Sticky Compressor", {{"Gain", 6}, {"Speed", 75}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    b.lfo(0, lfoRate, 6.0f).mod(0, "Noise Hold", "Track 3|Frequency", 0.25f);
    b.beatLfo(1, "1/4").mod(1, "LFO 2", "Track 8|Pan", 0.6f);
    b.mod(2, "Noise White", "Track 4|Timescale", 0.15f);
}

// Industrial: distorted kick, metal rims and crashes through a spring and the transformer amp.
void ironWorks(PresetBuilder& b) {
    b.swing(0).loose(4, 15);
    b.sound(t1, "Kick/Punch").level(t1, 0.85f).track(t1, trackClip, 35).pattern(t1, "x..x..x.x..x..x.");
    b.sound(t2, "Snare/Crisp")
        .level(t2, 0.5f)
        .track(t2, trackClip, 40)
        .sends(t2, 0.35f, 0)
        .pattern(t2, "....X.......X...");
    b.sound(t3, "Rim/Metallic").level(t3, 0.35f, -30).sends(t3, 0.2f, 0).pattern(t3, "x.xxx.xxx.xxx.xo");
    b.sound(t4, "Cymbal/Crash Bright").level(t4, 0.15f, 30).sends(t4, 0.2f, 0).pattern(t4, "x.......");
    b.sound(t5, "FX/Noise Drop").level(t5, 0.3f, 20).sends(t5, 0, 0.4f).pattern(t5, "..x.....");
    b.sound(t6, "Tom/Electro")
        .level(t6, 0.4f, -15)
        .track(t6, trackFrequency, -120)
        .pattern(t6, "......o...x..x..");
    b.sound(t7, "Percussion/Woodblock")
        .level(t7, 0.25f, 40)
        .track(t7, trackFrequency, -200)
        .pattern(t7, "x..x..");
    b.sound(t8, "Clap/Bright").level(t8, 0.3f, -5).sends(t8, 0.3f, 0).pattern(t8, "............x...");
    b.fx(send1, "Spring Reverb", {{"Length", 55}, {"Color", 70}});
    b.fx(send2, "Stereo Fuzz", {{"Drive", 70}, {"Color", 35}});
    b.fx(main1, "Transformer Amp", {{"Gain", 8}, {"Bias", 30}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    b.beatLfo(0, "1/8").mod(0, "LFO 1", "Track 3|Contrast", 0.3f);
    b.mod(1, "Env 2", "Track 1|Density", -0.2f);
    b.envelope(1, envInitial, 1.0f).envelope(1, envDecay, 0.15f).envelope(1, envSustain, 0.0f);
}

// Minimal: few sounds, small shifts; a three-step woodblock and a five-step rim turn the bar.
void minimalTick(PresetBuilder& b) {
    b.swing(10).loose(5, 15);
    b.sound(t1, "Kick/Tight Electro").level(t1, 0.95f).pattern(t1, "x...x...x...x...");
    b.sound(t2, "Rim/Click").level(t2, 0.3f, 25).sends(t2, 0, 0.35f).pattern(t2, "..x.o");
    b.sound(t3, "Hihat/Closed Tight").level(t3, 0.3f, -15).pattern(t3, "..x...x...x...xo");
    b.sound(t4, "Percussion/Woodblock").level(t4, 0.22f, -35).sends(t4, 0.3f, 0).pattern(t4, "x.o");
    b.sound(t5, "Clap/Wide").level(t5, 0.35f, 5).sends(t5, 0.4f, 0).pattern(t5, "............x...");
    b.sound(t6, "Percussion/Shaker").level(t6, 0.18f, 30).pattern(t6, "gxgogxgogxgogxgx");
    b.sound(t7, "Tom/High Analog")
        .level(t7, 0.25f, -25)
        .track(t7, trackFrequency, 120)
        .sends(t7, 0, 0.3f)
        .pattern(t7, ".......o.......");
    b.sound(t8, "Kick/Deep 808")
        .level(t8, 0.4f)
        .track(t8, trackFrequency, 60)
        .pattern(t8, "..........o.....");
    b.fx(send1, "Diffuser", {{"Length", 40}, {"Pre-delay", 30}});
    b.fx(send2, "Tempo Delay", {{"Length", 3}, {"Feedback", 50}});
    b.fx(main1, "Sticky Compressor", {{"Gain", 2}, {"Speed", 50}});
    b.fx(main2, "Limiter", {{"Gain", 0}, {"Speed", 60}});
    b.beatLfo(0, "4/1").mod(0, "LFO 1", "Track 3|Filter", 0.3f);
    b.beatLfo(1, "3/1").mod(1, "LFO 2", "Track 2|Pan", -0.4f);
}

struct PresetRecipe {
    const char* path; // relative to the presets folder
    float bpm;
    void (*build)(PresetBuilder&);
};

constexpr PresetRecipe recipes[] = {
    {"Factory/Start Here.tarvo", 120, startHere}, {"Factory/Analog Electro.tarvo", 126, analogElectro},
    {"Factory/Deep House.tarvo", 122, deepHouse}, {"Factory/Boom Bap.tarvo", 90, boomBap},
    {"Factory/Brush Kit.tarvo", 104, brushKit},   {"Factory/Glitch Garden.tarvo", 112, glitchGarden},
    {"Factory/Iron Works.tarvo", 132, ironWorks}, {"Factory/Minimal Tick.tarvo", 124, minimalTick},
};

std::vector<uint8_t> readWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::vector<GeneratedFile> buildFactoryPresets() {
    std::vector<GeneratedFile> files;
    for (const PresetRecipe& recipe : recipes) {
        PresetBuilder builder(recipe.bpm);
        recipe.build(builder);
        builder.matchLevels();
        const std::filesystem::path file = folderPath(Folder::Presets) / recipe.path;
        if (!savePreset(builder.plugin(), file)) throw std::runtime_error("cannot write " + file.string());

        // Measured the way a user hears it: the stored file, opened by a new instance.
        auto listener = std::make_unique<Ombrix>();
        if (!openPreset(*listener, file))
            throw std::runtime_error(std::string(recipe.path) + " does not load");
        tool::RenderSettings settings;
        settings.seconds = tool::barSeconds(*listener, measureBars);
        settings.sampleRate = static_cast<int>(drumSampleRate);
        const tool::RenderResult heard = tool::renderPattern(*listener, settings);
        std::printf("tarvo_factory_gen: %-34s %5.1f BPM  peak %.3f  rms %.3f\n", recipe.path, recipe.bpm,
                    heard.peak[0], heard.rms[0]);
        if (!(heard.peak[0] < peakLimit) || !(heard.rms[0] > 0.0f))
            throw std::runtime_error(std::string(recipe.path) + " is silent or too loud");
        files.push_back({Folder::Presets, recipe.path, readWhole(file)});
    }
    return files;
}

} // namespace tarvo::factory
