// The Blob editor in the editor window: strokes, undo, the right-click menu's actions, "<off>",
// the tool size, Note Follow and, on a display with OpenGL, the canvas drawn by its shaders.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

#include "editor/BlobEditor.h"
#include "editor/SmallWidgets.h"
#include "editor/TarvoEditor.h"
#include "engine/BlobSlots.h"
#include "host/TarvoProcessor.h"
#include "instrument/Ombrix.h"
#include "persistence/Folders.h"
#include "support/ScopedHome.h"
#include "tools/WavWriter.h"

// JUCE's own step of its message loop: handles one pending message, or returns false when none
// waits. The editor's GL thread needs the message thread to answer while a test waits.
namespace juce {
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
}

namespace tarvo {
namespace {

// Handles the messages that arrived, for about `ms` milliseconds.
void pumpMessages(int ms) {
    const double until = juce::Time::getMillisecondCounterHiRes() + ms;
    while (juce::Time::getMillisecondCounterHiRes() < until)
        if (!juce::dispatchNextMessageOnSystemQueue(true)) juce::Thread::sleep(1);
}

struct Opened {
    TarvoProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> window{processor.createEditor()};
    TarvoEditor& editor = dynamic_cast<TarvoEditor&>(*window);
    BlobEditorWidget& blob = dynamic_cast<BlobEditorWidget&>(*editor.find("blobEditor"));
    double clock = 10.0;

    Opened() {
        blob.setClock([this] { return clock; });
        Ombrix& o = instrument();
        TrackBlobs& blobs = o.engine.tracks[static_cast<size_t>(o.currentTrackIndex())].blobs;
        blobs.slotA.working.clear();
        blobs.slotB.working.clear();
        blobs.slotA.working.present = 1;
        blobs.slotB.working.present = 0;
        o.pushUndoSnapshot(true);
        editor.displayTick();
    }
    ~Opened() {
        processor.editorBeingDeleted(window.get());
        window.reset();
    }
    Ombrix& instrument() { return editor.instrument(); }
    Blob& slot(int i) {
        TrackBlobs& blobs =
            instrument().engine.tracks[static_cast<size_t>(instrument().currentTrackIndex())].blobs;
        return i == 0 ? blobs.slotA.working : blobs.slotB.working;
    }

    juce::MouseEvent event(juce::Point<float> at, bool right = false, bool down = true) {
        const auto mods =
            right ? juce::ModifierKeys::rightButtonModifier : juce::ModifierKeys::leftButtonModifier;
        return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), at,
                                down ? mods : juce::ModifierKeys(), 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &blob,
                                &blob, juce::Time::getCurrentTime(), at, juce::Time::getCurrentTime(), 1,
                                true);
    }
    // A stroke with the left button from `from` by `by` in `steps` drag events, each 1/60 s apart.
    void stroke(juce::Point<float> from, juce::Point<float> by, int steps = 6) {
        blob.mouseDown(event(from));
        for (int s = 1; s <= steps; ++s) {
            clock += 1.0 / 60.0;
            blob.mouseDrag(event(from + by * (static_cast<float>(s) / static_cast<float>(steps))));
            editor.displayTick();
        }
        blob.mouseUp(event(from + by, false, false));
        editor.displayTick();
    }
};

// The middle of the canvas in the widget's coordinates.
juce::Point<float> middle(const BlobEditorWidget& blob) {
    return blob.canvasBounds().toFloat().getCentre();
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(BlobEditor, StrokesEditTheShownSlotAndEachIsOneUndoStep) {
    const test::ScopedHome home;
    Opened opened;
    const Blob before = opened.slot(0);
    opened.stroke(middle(opened.blob), {0.0f, -30.0f});
    EXPECT_NE(opened.slot(0).timeWarps, before.timeWarps);
    EXPECT_GT(opened.slot(0).editCount, 0);
    EXPECT_EQ(opened.slot(1).editCount, 0) << "B is switched off and never edited";
    EXPECT_EQ(opened.instrument().editor.undo.undoCount(), 1);

    // 89 edits keep 88 undo steps; undoing them all gives back the first recorded state.
    for (int i = 1; i < 89; ++i) opened.stroke(middle(opened.blob), {i % 2 == 0 ? 8.0f : -8.0f, 0.0f}, 2);
    EXPECT_EQ(opened.instrument().editor.undo.undoCount(), 88);
    int undone = 0;
    while (opened.instrument().undoStep(-1)) ++undone;
    EXPECT_EQ(undone, 88);
    EXPECT_EQ(opened.instrument().editor.undo.redoCount(), 88);
}

TEST(BlobEditor, CopyPasteAndClearGoThroughTheClipboardFileAndTheUndoHistory) {
    const test::ScopedHome home;
    Opened opened;
    opened.stroke(middle(opened.blob), {25.0f, -25.0f});
    const std::filesystem::path clipboard = folderPath(Folder::Data) / "clipboard.blob";
    ASSERT_FALSE(std::filesystem::exists(clipboard));
    EXPECT_FALSE(opened.blob.pasteBlob()) << "no clipboard file, nothing pasted";

    ASSERT_TRUE(opened.blob.copyBlobMix());
    const std::vector<uint8_t> copied = fileBytes(clipboard);
    ASSERT_EQ(copied.size(), Blob::byteSize);
    const int undoBefore = opened.instrument().editor.undo.undoCount();
    ASSERT_TRUE(opened.blob.clearBlob());
    EXPECT_EQ(opened.instrument().editor.undo.undoCount(), undoBefore + 1);
    EXPECT_EQ(opened.slot(0).timeWarps, Blob().timeWarps) << "clear gives the even mesh";
    ASSERT_TRUE(opened.blob.pasteBlob());
    EXPECT_EQ(opened.instrument().editor.undo.undoCount(), undoBefore + 2);
    opened.editor.displayTick();
    ASSERT_TRUE(opened.blob.copyBlobMix());
    EXPECT_EQ(fileBytes(clipboard), copied) << "copy, paste and copy again give the same bytes";

    // A damaged clipboard file pastes nothing and changes nothing.
    std::ofstream(clipboard, std::ios::binary | std::ios::trunc) << "not a blob";
    const Blob kept = opened.slot(0);
    EXPECT_FALSE(opened.blob.pasteBlob());
    EXPECT_EQ(opened.slot(0).timeWarps, kept.timeWarps);
}

TEST(BlobEditor, SaveWritesTheShownMixAndADropImportsIntoTheShownTrack) {
    const test::ScopedHome home;
    Opened opened;
    opened.stroke(middle(opened.blob), {20.0f, -20.0f});
    opened.editor.displayTick();

    // "Save Blob Mix" writes what the canvas shows; a folder in the way of the file writes
    // nothing and keeps the folder.
    const std::filesystem::path saved = home.path() / "mix.blob";
    ASSERT_TRUE(opened.blob.saveBlobMix(juce::File(juce::String(saved.string()))));
    Blob reread;
    std::string why;
    ASSERT_TRUE(readBlobFile(saved, reread, why)) << why;
    // The file keeps knots to a thousandth of a band.
    for (size_t row = 0; row < reread.timeWarps.size(); ++row)
        for (size_t k = 0; k < reread.timeWarps[row].size(); ++k)
            ASSERT_NEAR(reread.timeWarps[row][k], opened.slot(0).timeWarps[row][k], 2e-3) << row << " " << k;
    const std::filesystem::path blocked = home.path() / "blocked.blob";
    std::filesystem::create_directories(blocked / "inside");
    EXPECT_FALSE(opened.blob.saveBlobMix(juce::File(juce::String(blocked.string()))));
    EXPECT_TRUE(std::filesystem::is_directory(blocked / "inside"));

    // A recording dropped on the canvas becomes the shown track's sound, as one undo step.
    std::vector<float> hit(2205);
    for (size_t i = 0; i < hit.size(); ++i)
        hit[i] = 0.5f * std::exp(-static_cast<float>(i) / 300.0f) * std::sin(0.06f * static_cast<float>(i));
    const std::filesystem::path wav = home.path() / "dropped.wav";
    ASSERT_TRUE(tool::writeFloatWav(wav.string(), hit, 1, 44100).ok);
    const int undoBefore = opened.instrument().editor.undo.undoCount();
    const auto centre = middle(opened.blob).toInt();
    opened.blob.filesDropped({juce::String(wav.string())}, centre.x, centre.y);
    EXPECT_EQ(opened.slot(0).name, "0 User/dropped");
    EXPECT_EQ(opened.instrument().editor.undo.undoCount(), undoBefore + 1);
}

TEST(BlobEditor, WithNeitherSlotPresentTheCanvasShowsOffAndToolsEditNothing) {
    const test::ScopedHome home;
    Opened opened;
    opened.slot(0).present = 0;
    opened.editor.displayTick();
    const Blob a = opened.slot(0), b = opened.slot(1);
    opened.stroke(middle(opened.blob), {30.0f, -30.0f});
    EXPECT_EQ(opened.slot(0).timeWarps, a.timeWarps);
    EXPECT_EQ(opened.slot(1).timeWarps, b.timeWarps);
    EXPECT_FALSE(opened.blob.clearBlob());

    // The canvas is one flat colour with the text: no mesh.
    const juce::Image shot = opened.blob.createComponentSnapshot(opened.blob.getLocalBounds(), false, 1.0f);
    const juce::Rectangle<int> corner = opened.blob.canvasBounds().withSize(60, 60).translated(4, 4);
    const juce::Colour first = shot.getPixelAt(corner.getX(), corner.getY());
    for (int y = corner.getY(); y < corner.getBottom(); y += 5)
        for (int x = corner.getX(); x < corner.getRight(); x += 5) EXPECT_EQ(shot.getPixelAt(x, y), first);
}

TEST(BlobEditor, DraggingUpOnAToolButtonSizesTheTool) {
    const test::ScopedHome home;
    Opened opened;
    auto& button = dynamic_cast<SvgButton&>(*opened.editor.find("tool1"));
    const auto at = [&](float y) {
        const juce::Point<float> p(16.0f, y);
        return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), p,
                                juce::ModifierKeys::leftButtonModifier, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &button,
                                &button, juce::Time::getCurrentTime(), p, juce::Time::getCurrentTime(), 1,
                                true);
    };
    EXPECT_FLOAT_EQ(opened.blob.toolSize(), 64.0f);
    button.mouseDown(at(16.0f));
    EXPECT_EQ(opened.instrument().editor.tool, 1);
    for (int step = 1; step <= 20; ++step) button.mouseDrag(at(16.0f - 10.0f * static_cast<float>(step)));
    // The ring of the size reaches over the buttons below and the track strips: it is drawn over them.
    juce::Component* ring = opened.editor.find("toolSize");
    ASSERT_NE(ring, nullptr);
    juce::Component* parent = ring->getParentComponent();
    for (const char* name : {"tool2", "mirrorX", "mirrorY", "undo", "redo", "velocityCurve"}) {
        juce::Component* other = opened.editor.find(name);
        ASSERT_EQ(other->getParentComponent(), parent) << name;
        EXPECT_GT(parent->getIndexOfChildComponent(ring), parent->getIndexOfChildComponent(other)) << name;
    }
    button.mouseUp(at(-184.0f));
    EXPECT_FLOAT_EQ(opened.blob.toolSize(), 128.0f);
}

TEST(BlobEditor, NoteFollowWaitsForTheStrokeToEnd) {
    const test::ScopedHome home;
    Opened opened;
    for (Track& t : opened.instrument().engine.tracks) t.blobs.slotA.working.clear();
    opened.instrument().handOverToAudio();
    opened.blob.setNoteFollow(true);
    // A note on another track sounds while a stroke runs: the shown track stays until it ends.
    opened.processor.setPlayConfigDetails(0, opened.processor.getTotalNumOutputChannels(), 44100.0, 512);
    opened.processor.prepareToPlay(44100.0, 512);
    juce::AudioBuffer<float> buffer(opened.processor.getTotalNumOutputChannels(), 512);
    juce::MidiBuffer midi;
    midi.addEvent(juce::MidiMessage::noteOn(1, 38, 0.9f), 0);
    opened.blob.mouseDown(opened.event(middle(opened.blob)));
    for (int b = 0; b < 4; ++b) {
        opened.processor.processBlock(buffer, midi);
        midi.clear();
    }
    opened.editor.displayTick();
    const int played = opened.editor.display().lastTriggeredTrack;
    ASSERT_NE(played, 0);
    EXPECT_EQ(opened.instrument().currentTrackIndex(), 0);
    opened.blob.mouseUp(opened.event(middle(opened.blob), false, false));
    opened.processor.processBlock(buffer, midi);
    opened.editor.displayTick();
    EXPECT_EQ(opened.instrument().currentTrackIndex(), played);
}

TEST(BlobEditor, AThemeShaderMustBeAFileInTheThemeFolder) {
    const test::ScopedHome home;
    std::filesystem::create_directories(folderPath(Folder::Themes));
    std::ofstream(folderPath(Folder::Themes) / "mine.frag") << "#version 150 core\nvoid main() {}\n";
    std::ofstream(folderPath(Folder::Data) / "outside.frag") << "outside";
    struct Case {
        const char* name;
        bool reads;
        bool complains;
    };
    const Case cases[] = {{"mine.frag", true, false},       {"missing.frag", false, false},
                          {"../outside.frag", false, true}, {"/etc/hostname", false, true},
                          {"sub/mine.frag", false, true},   {"..", false, true}};
    for (const Case& c : cases) {
        std::string why;
        EXPECT_EQ(!readThemeShader(c.name, why).empty(), c.reads) << c.name;
        EXPECT_EQ(!why.empty(), c.complains) << c.name;
    }
}

// ---- On a display with OpenGL --------------------------------------------------------------

bool haveDisplay() {
    return std::getenv("DISPLAY") != nullptr;
}

// A JUCE application ignores the X server's complaints about window-manager properties that a
// bare server without a window manager does not know; a test process does the same, or the
// first such complaint would end it.
int ignoreXError(void*, void*) {
    return 0;
}
void ignoreXErrors() {
    static const bool done = [] {
        void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
        if (x11 == nullptr) return false;
        using Handler = int (*)(void*, void*);
        using SetHandler = Handler (*)(Handler);
        auto set = reinterpret_cast<SetHandler>(dlsym(x11, "XSetErrorHandler"));
        if (set != nullptr) set(ignoreXError);
        return set != nullptr;
    }();
    (void)done;
}

// The editor on screen; skips when there is no display (the GL tests run under Xvfb).
struct OnScreen : Opened {
    juce::Component holder;
    OnScreen() {
        ignoreXErrors();
        holder.setBounds(window->getBounds());
        holder.addAndMakeVisible(*window);
        holder.addToDesktop(0);
        holder.setVisible(true);
    }
    ~OnScreen() { holder.removeChildComponent(window.get()); }
    // Lets the display tick and the GL thread run until the canvas has a new picture.
    bool waitForPicture() {
        const int seen = blob.glPictureCount();
        for (int i = 0; i < 400; ++i) {
            pumpMessages(10);
            editor.displayTick();
            if (blob.drawsWithOpenGL() && blob.glPictureCount() > seen) return true;
        }
        return false;
    }
};

juce::Image copyOf(const juce::Image& image) {
    return image.createCopy();
}

int differingPixels(const juce::Image& a, const juce::Image& b) {
    int count = 0;
    for (int y = 0; y < a.getHeight(); y += 2)
        for (int x = 0; x < a.getWidth(); x += 2) count += a.getPixelAt(x, y) != b.getPixelAt(x, y) ? 1 : 0;
    return count;
}

TEST(BlobCanvasGl, TheShadersDrawTheBlobAndAStrokeChangesThePicture) {
    if (!haveDisplay()) GTEST_SKIP() << "no display";
    const test::ScopedHome home;
    OnScreen opened;
    ASSERT_TRUE(opened.waitForPicture()) << opened.blob.renderer().failure();
    EXPECT_TRUE(opened.blob.renderer().failure().empty());
    const juce::Image before = copyOf(opened.blob.glPicture());
    EXPECT_EQ(before.getWidth(), opened.blob.canvasBounds().getWidth());
    // Not one flat colour.
    std::set<uint32_t> colours;
    for (int y = 0; y < before.getHeight(); y += 7)
        for (int x = 0; x < before.getWidth(); x += 7) colours.insert(before.getPixelAt(x, y).getARGB());
    EXPECT_GT(colours.size(), 20u);
    // TARVO_CANVAS_PNG names a file to look at the picture in.
    if (const char* file = std::getenv("TARVO_CANVAS_PNG")) {
        juce::File(file).deleteFile();
        if (auto stream = juce::File(file).createOutputStream())
            juce::PNGImageFormat().writeImageToStream(before, *stream);
    }

    opened.stroke(middle(opened.blob), {40.0f, -60.0f});
    ASSERT_TRUE(opened.waitForPicture());
    EXPECT_GT(differingPixels(before, opened.blob.glPicture()), 100);
}

TEST(BlobCanvasGl, AThemeShaderThatDoesNotBuildFallsBackToTheGlassShader) {
    if (!haveDisplay()) GTEST_SKIP() << "no display";
    const test::ScopedHome home;
    OnScreen opened;
    ASSERT_TRUE(opened.waitForPicture());
    const juce::Image glass = copyOf(opened.blob.glPicture());
    opened.blob.renderer().setShaderSources({}, "#version 150 core\nthis is not a shader\n");
    opened.slot(0).version++; // a new frame to draw
    ASSERT_TRUE(opened.waitForPicture());
    EXPECT_FALSE(opened.blob.renderer().shaderNote().empty());
    EXPECT_TRUE(opened.blob.renderer().failure().empty());
    EXPECT_EQ(differingPixels(glass, opened.blob.glPicture()), 0)
        << "the glass shader draws the same picture";

    // A replacement that declares none of the uniforms still draws.
    opened.blob.renderer().setShaderSources({}, "#version 150 core\nin vec2 vTexCoord;\nout vec4 "
                                                "fragColor;\nvoid main() { fragColor = vec4(vTexCoord, "
                                                "0.5, 1.0); }\n");
    opened.slot(0).version++;
    ASSERT_TRUE(opened.waitForPicture());
    EXPECT_TRUE(opened.blob.renderer().shaderNote().empty());
    EXPECT_GT(differingPixels(glass, opened.blob.glPicture()), 100);
}

} // namespace
} // namespace tarvo
