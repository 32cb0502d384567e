// editor-snapshot: opens the editor of a fresh instance off-screen, lets the display tick run
// while the instrument plays, and writes what the window shows as a PNG.
//
//   editor-snapshot --view Sound|Sequence|Modulate|Mix --scale PCT [--preset F.tarvo] --out F.png
//
// The window is painted at the given size in percent, as the "Resize UI" menu sets it, so a
// 200 % shot shows exactly what a user sees at that size.
#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "editor/TarvoEditor.h"
#include "host/TarvoProcessor.h"
#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "persistence/AtomicFile.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: editor-snapshot --view Sound|Sequence|Modulate|Mix --scale PCT "
                         "[--preset F.tarvo] --out F.png\n");
    return 2;
}

// Plays the instrument for a while, as a host would, so that voices, meters and positions
// show.
void play(tarvo::TarvoProcessor& processor, int blocks) {
    constexpr int blockFrames = 512;
    juce::AudioBuffer<float> buffer(processor.getTotalNumOutputChannels(), blockFrames);
    juce::MidiBuffer midi;
    for (int b = 0; b < blocks; ++b) {
        buffer.clear();
        midi.clear();
        processor.processBlock(buffer, midi);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string view = "Sound", preset, out;
    int scale = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--view") == 0)
            view = argv[i + 1];
        else if (std::strcmp(argv[i], "--scale") == 0)
            scale = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--preset") == 0)
            preset = argv[i + 1];
        else if (std::strcmp(argv[i], "--out") == 0)
            out = argv[i + 1];
        else
            return usage();
    }
    static const char* const views[] = {"Sound", "Sequence", "Modulate", "Mix"};
    int viewIndex = -1;
    for (int v = 0; v < 4; ++v)
        if (view == views[v]) viewIndex = v;
    if (viewIndex < 0 || out.empty() || scale < 10 || scale > 1000) return usage();

    const juce::ScopedJuceInitialiser_GUI juce;
    tarvo::TarvoProcessor processor;
    processor.setPlayConfigDetails(0, processor.getTotalNumOutputChannels(), 44100.0, 512);
    processor.prepareToPlay(44100.0, 512);
    processor.runIdleTick(); // the first start: factory content and the start preset
    if (!preset.empty()) {
        bool opened = false;
        processor.performEditorAction(
            [&](tarvo::Ombrix& o) { opened = tarvo::openPreset(o, std::filesystem::path(preset)); });
        if (!opened) {
            std::fprintf(stderr, "editor-snapshot: cannot open preset %s\n", preset.c_str());
            return 1;
        }
    }
    processor.instrument().setPlaying(1);

    std::unique_ptr<juce::AudioProcessorEditor> window(processor.createEditorIfNeeded());
    auto& editor = dynamic_cast<tarvo::TarvoEditor&>(*window);
    editor.setView(viewIndex);
    editor.setSizePercent(scale);
    // About half a second of playing, with a display tick per block as the window would see.
    for (int frame = 0; frame < 40; ++frame) {
        play(processor, 1);
        processor.runIdleTick();
        editor.displayTick();
    }
    const juce::Image shot = editor.createComponentSnapshot(editor.getLocalBounds(), true, 1.0f);
    const juce::File file = juce::File::getCurrentWorkingDirectory().getChildFile(juce::String(out));
    juce::MemoryOutputStream encoded;
    juce::PNGImageFormat png;
    if (!png.writeImageToStream(shot, encoded)) {
        std::fprintf(stderr, "editor-snapshot: cannot encode %s\n", out.c_str());
        return 1;
    }
    const auto* bytes = static_cast<const uint8_t*>(encoded.getData());
    if (const tarvo::FileWriteResult written =
            tarvo::writeFileAtomically(file.getFullPathName().toStdString(), {bytes, encoded.getDataSize()});
        !written) {
        std::fprintf(stderr, "editor-snapshot: %s\n", written.error.c_str());
        return 1;
    }
    processor.editorBeingDeleted(window.get());
    window.reset();
    std::printf("%s %dx%d\n", file.getFullPathName().toRawUTF8(), shot.getWidth(), shot.getHeight());
    return 0;
}
