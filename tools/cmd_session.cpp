// `tarvo session [--seconds S] [--rate SR] [--block N] [--channels C] [--host-notes-only]
// [--out FILE.wav]`: plays
// what a new instance opens with (the start preset) the way a host plays a drum track into it:
// a one-bar house beat on the host's notes (kick, rim, snare, clap, two toms, closed and open
// hat on General MIDI notes 36 to 42 and 46, velocities 60 to 127, notes of a fifth of a
// beat), 120 BPM, the host's transport running, blocks of --block frames (1024) into --channels
// output channels (18: every bus), an idle tick every 30 ms. The open hat's note (A sharp) also
// starts the instrument's own sequencer, as it does in a host; --host-notes-only empties the
// preset's pattern first, so that only the host's notes sound.
// Prints JSON: "realtimeFactor" (audio seconds per CPU second of the calling thread, idle
// ticks not counted), the main bus's "peak" and "rms", and "voices": the mean and largest
// number of voices sounding (holding a note or running out their sound), of those the mean
// still synthesized (not yet ended below audibility), and per note the mean seconds a voice
// sounded, was synthesized and stayed audible (until its output bound last reached -100 dB
// relative to full scale), with the share of notes cut short by the next note of their track.
// Made for profiling (`perf record tarvo session`): the same work a host's export pays.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/scenes/KitScenes.h"
#include "engine/ResynthBank.h"
#include "instrument/Ombrix.h"
#include "tools/Command.h"
#include "tools/Json.h"
#include "tools/WavWriter.h"
#include "tools/factory/FactoryContent.h"

namespace tarvo::tool {
namespace {

constexpr double beatsPerSecond = 2.0; // 120 BPM
constexpr double stepBeats = 0.25;     // sixteenth notes
constexpr double noteBeats = 0.2;      // every note lasts a fifth of a beat
constexpr int barSteps = 16;
constexpr uint8_t drumChannel = 9; // General MIDI's drum channel (channel 10)
constexpr double idleTickSeconds = 0.03;
// Below this (-100 dB relative to full scale) a voice's output bound is inaudible; the same
// bound the engine ends voices by (see BandSynth::endsInaudible), without its look-ahead.
constexpr float inaudibleLevel = 1e-5f;
constexpr float binsToTrackLevel =
    2.0f * (77.71f / 256.0f) * static_cast<float>(ResynthBank::outputFilterPeakGain) * 4.0f;

struct BeatNote {
    double startBeats;
    uint8_t note;
    uint8_t velocity;
};

// The beat of one bar (0-based): four on the floor with variations every second bar and a tom
// fill every fourth; hats on every step, their velocities jittered by a fixed generator.
void addBar(int bar, uint32_t& jitterSeed, std::vector<BeatNote>& notes) {
    std::vector<std::array<int, 3>> ev; // step, note, velocity
    const bool fill = bar % 4 == 3;
    const bool second = bar % 2 == 1;
    for (int s : {0, 4, 8, 12}) ev.push_back({s, 36, 124});
    if (second && !fill) ev.push_back({14, 36, 96});
    ev.push_back({4, 38, 118});
    ev.push_back({12, 38, 120});
    if (second && !fill) ev.push_back({15, 38, 64});
    ev.push_back({4, 39, 104});
    ev.push_back({12, 39, 100});
    if (second) ev.push_back({7, 39, 84});
    ev.push_back({3, 37, 78});
    ev.push_back({10, 37, 70});
    if (!second) ev.push_back({7, 41, 82});
    if (fill) {
        ev.push_back({12, 41, 100});
        ev.push_back({13, 40, 96});
        ev.push_back({14, 41, 108});
        ev.push_back({15, 40, 112});
    }
    for (int s = 0; s < barSteps; ++s) {
        if (s % 4 == 2)
            ev.push_back({s, 46, 92});
        else
            ev.push_back({s, 42, s % 4 == 0 ? 100 : (s % 2 == 0 ? 88 : 66)});
    }
    std::stable_sort(ev.begin(), ev.end(), [](const auto& a, const auto& b) {
        return a[0] < b[0] || (a[0] == b[0] && a[1] < b[1]);
    });
    for (const auto& e : ev) {
        int velocity = e[2];
        if (e[1] == 42 || e[1] == 46) {
            jitterSeed = (jitterSeed * 1103515245u + 12345u) % 2147483648u;
            velocity += static_cast<int>((jitterSeed / 65536u) % 13u) - 6;
        }
        notes.push_back({(bar * barSteps + e[0]) * stepBeats, static_cast<uint8_t>(e[1]),
                         static_cast<uint8_t>(std::clamp(velocity, 60, 127))});
    }
}

struct TimedMessage {
    long frame;
    MidiMessage message;
};

std::vector<TimedMessage> beatMessages(double seconds, int rate) {
    std::vector<BeatNote> notes;
    uint32_t seed = 12345;
    const double totalBeats = seconds * beatsPerSecond;
    for (int bar = 0; bar * barSteps * stepBeats < totalBeats; ++bar) addBar(bar, seed, notes);
    std::vector<TimedMessage> messages;
    const auto frameOf = [rate](double beats) { return std::lround(beats / beatsPerSecond * rate); };
    for (const BeatNote& n : notes) {
        if (n.startBeats + noteBeats > totalBeats) continue;
        messages.push_back({frameOf(n.startBeats), {0, 0x90 | drumChannel, n.note, n.velocity}});
        messages.push_back({frameOf(n.startBeats + noteBeats), {0, 0x80 | drumChannel, n.note, 0}});
    }
    std::stable_sort(messages.begin(), messages.end(),
                     [](const TimedMessage& a, const TimedMessage& b) { return a.frame < b.frame; });
    return messages;
}

// Follows every voice from its note's start to its end, once per rendered sub-block.
class VoiceWatch final : public BandSynth::EventTap {
public:
    VoiceWatch(const BandSynth& engine, float rate) : engine_(engine), rate_(rate) {}

    void noteEvent(int, float, int) override {}
    void polyPressure(float, int, int) override {}
    void subBlock(int frames, int) override {
        const double dt = frames / static_cast<double>(rate_);
        int sounding = 0, synthesized = 0;
        for (size_t t = 0; t < engine_.tracks.size(); ++t) {
            for (size_t v = 0; v < Track::voiceCount; ++v) {
                const Voice& voice = engine_.tracks[t].voices[v];
                Life& life = lives_[t][v];
                const bool on = voice.state != Voice::stateFree;
                // A voice whose age went back started a new note: the old one was cut short.
                if (life.open && (!on || voice.age < life.lastAge)) close(life, on);
                if (!on) continue;
                if (!life.open) life = Life{true};
                life.lastAge = voice.age;
                ++sounding;
                life.sounding += dt;
                if (voice.inaudible == 0) {
                    ++synthesized;
                    life.synthesized += dt;
                }
                float level = 0.0f;
                for (int b = 0; b < engine_.tables.binCount; ++b)
                    level += std::fabs(voice.binState[static_cast<size_t>(b)].real()) +
                             std::fabs(voice.binState[static_cast<size_t>(b)].imag());
                if (level * binsToTrackLevel >= inaudibleLevel) life.audible = life.sounding;
            }
        }
        seconds_ += dt;
        soundingTime_ += sounding * dt;
        synthesizedTime_ += synthesized * dt;
        maxSounding_ = std::max(maxSounding_, sounding);
    }

    void write(JsonWriter& json) const {
        const double notes = std::max(1.0, static_cast<double>(notes_));
        json.key("voices").beginObject();
        json.key("meanSounding").value(seconds_ > 0.0 ? soundingTime_ / seconds_ : 0.0);
        json.key("maxSounding").value(maxSounding_);
        json.key("meanSynthesized").value(seconds_ > 0.0 ? synthesizedTime_ / seconds_ : 0.0);
        json.key("notes").value(static_cast<int>(notes_));
        json.key("secondsSounding").value(sounding_ / notes);
        json.key("secondsSynthesized").value(synthesized_ / notes);
        json.key("secondsAudible").value(audible_ / notes);
        json.key("cutShort").value(static_cast<double>(cut_) / notes);
        json.endObject();
    }

private:
    struct Life {
        bool open = false;
        float lastAge = 0.0f;
        double sounding = 0.0, synthesized = 0.0, audible = 0.0;
    };
    void close(Life& life, bool cut) {
        ++notes_;
        if (cut) ++cut_;
        sounding_ += life.sounding;
        synthesized_ += life.synthesized;
        audible_ += life.audible;
        life.open = false;
    }

    const BandSynth& engine_;
    float rate_;
    std::array<std::array<Life, Track::voiceCount>, BandSynth::trackCount> lives_{};
    double seconds_ = 0.0, soundingTime_ = 0.0, synthesizedTime_ = 0.0;
    int maxSounding_ = 0;
    long notes_ = 0, cut_ = 0;
    double sounding_ = 0.0, synthesized_ = 0.0, audible_ = 0.0;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "tarvo session: %s\n", message.c_str());
    return 2;
}

int runSession(const std::vector<std::string>& args) {
    double seconds = 60.0, rate = 48000.0, block = 1024.0, channels = 2.0 * Ombrix::maxOutputBuses;
    if (!numberFlag(args, "--seconds", 1.0, 3600.0, false, seconds)) return fail("--seconds takes 1 to 3600");
    if (!numberFlag(args, "--rate", 8000.0, 384000.0, false, rate))
        return fail("--rate takes 8000 to 384000");
    if (!numberFlag(args, "--block", 1.0, 8192.0, true, block))
        return fail("--block takes a whole block size from 1 to 8192");
    if (!numberFlag(args, "--channels", 2.0, 2.0 * Ombrix::maxOutputBuses, true, channels))
        return fail("--channels takes a whole count from 2 to 18");
    std::string out;
    const bool writing = flagValue(args, "--out", out);
    const bool hostNotesOnly = hasFlag(args, "--host-notes-only");
    if (writing && out.empty()) return fail("--out takes a file name");

    const int sampleRate = static_cast<int>(rate);
    const int blockFrames = static_cast<int>(block);
    auto plugin = std::make_unique<Ombrix>();
    plugin->shippedContent = &factoryContent();
    plugin->reset(static_cast<float>(sampleRate));
    plugin->idleTick();
    if (plugin->presetName.empty()) std::fprintf(stderr, "tarvo session: no start preset was found\n");
    if (hostNotesOnly) plugin->sequencer.clear(StepSequencer::allTracks);
    VoiceWatch watch(plugin->engine, static_cast<float>(sampleRate));
    plugin->engine.eventTap = &watch;

    const std::vector<TimedMessage> messages = beatMessages(seconds, sampleRate);
    const long total = std::lround(seconds * sampleRate);
    std::vector<std::vector<float>> buffers(static_cast<size_t>(channels),
                                            std::vector<float>(static_cast<size_t>(blockFrames)));
    std::vector<float*> outputs;
    for (auto& b : buffers) outputs.push_back(b.data());
    std::vector<float> mainBus;
    if (writing) mainBus.reserve(2 * static_cast<size_t>(total));
    double peak = 0.0, power = 0.0;
    const long idleFrames = std::lround(idleTickSeconds * sampleRate);
    long sinceIdle = 0;
    double cpu = 0.0;
    size_t next = 0;
    for (long frame = 0; frame < total; frame += blockFrames) {
        const int n = static_cast<int>(std::min<long>(blockFrames, total - frame));
        for (; next < messages.size() && messages[next].frame < frame + n; ++next) {
            MidiMessage m = messages[next].message;
            m.offset = static_cast<int32_t>(messages[next].frame - frame);
            plugin->midiIn(m);
        }
        HostTransport transport;
        transport.tempoBpm = 60.0 * beatsPerSecond;
        transport.ppqPosition = static_cast<double>(frame) / sampleRate * beatsPerSecond;
        transport.playing = true;
        const double started = scenes::threadCpuSeconds();
        plugin->processBlock(outputs.data(), static_cast<int>(outputs.size()), n, transport);
        cpu += scenes::threadCpuSeconds() - started;
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < 2; ++c) {
                const float x = buffers[static_cast<size_t>(c)][static_cast<size_t>(i)];
                peak = std::max(peak, static_cast<double>(std::fabs(x)));
                power += static_cast<double>(x) * x;
                if (writing) mainBus.push_back(x);
            }
        }
        sinceIdle += n;
        if (sinceIdle >= idleFrames) {
            plugin->idleTick();
            sinceIdle = 0;
        }
    }
    plugin->engine.eventTap = nullptr;

    JsonWriter json;
    json.beginObject();
    json.key("preset").value(plugin->presetName);
    json.key("seconds").value(static_cast<double>(total) / sampleRate);
    json.key("realtimeFactor").value(cpu > 0.0 ? static_cast<double>(total) / sampleRate / cpu : 0.0);
    json.key("peak").value(peak);
    json.key("rms").value(total > 0 ? std::sqrt(power / (2.0 * static_cast<double>(total))) : 0.0);
    watch.write(json);
    if (writing) {
        if (const FileWriteResult written = writeFloatWav(out, mainBus, 2, sampleRate); !written)
            return fail(written.error);
        json.key("file").value(out);
    }
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration
    registration("session",
                 "[--seconds S] [--rate SR] [--block N] [--channels C] [--host-notes-only] "
                 "[--out FILE.wav]",
                 runSession);

} // namespace
} // namespace tarvo::tool
