#pragma once
// The Blob editor of the Sound view: the canvas that shows the current track's sound over time
// (upwards) and frequency (to the right) as a glass relief, and where the Drag, Attract and
// Repel tools shape it while it plays.
//
// The widget follows the instrument once per display frame (tick): it eases the shown Blob
// towards the mix of the track's two Blobs, works out the canvas mesh and map, and hands them
// to the OpenGL renderer, which draws on the editor's GL thread and hands a picture back. The
// widget paints that picture, or, where OpenGL is not available, the same mesh with 2D
// graphics, then the brush rings over it. Edits go through the editor's `perform`, so they
// reach the audio thread with the instrument's next publication.
//
// Threads: the message thread, except `renderGl` and `releaseGl` (the editor's GL thread).

#include <functional>
#include <memory>
#include <string>

#include "editor/BlobCanvasRenderer.h"
#include "editor/Widget.h"
#include "engine/BlobCanvasModel.h"
#include "engine/BlobTools.h"

namespace tarvo {

class BlobEditorWidget : public Widget, public juce::FileDragAndDropTarget {
public:
    // The canvas, within the widget's bounds.
    explicit BlobEditorWidget(juce::Rectangle<int> canvas);
    ~BlobEditorWidget() override;

    juce::Rectangle<int> canvasBounds() const { return canvas_; }

    // Tool size in pixels (16..128), which sets the tools' radius against the canvas width.
    float toolSize() const { return toolSize_; }
    void setToolSize(float pixels);

    bool noteFollow() const { return noteFollow_; }
    void setNoteFollow(bool on) { noteFollow_ = on; }

    // Right-click menu actions. Copy writes the shown mix to the clipboard Blob file; paste
    // reads it into the slot the mix leans to; save writes the mix to a file; clear resets the
    // shown slots. Paste and clear are undo steps. Return whether they did anything.
    bool copyBlobMix();
    bool pasteBlob();
    bool saveBlobMix(const juce::File& file);
    bool clearBlob();

    // Seconds for the tools' timing; tests may replace the clock.
    void setClock(std::function<double()> clock) { clock_ = std::move(clock); }

    // What is drawn: the model of the shown Blob, and whether OpenGL draws the canvas.
    const BlobCanvasModel& model() const { return model_; }
    bool drawsWithOpenGL() const;
    // The newest picture OpenGL drew (invalid before the first).
    const juce::Image& glPicture() const { return picture_; }
    // Pictures taken from OpenGL so far.
    int glPictureCount() const { return pictureCount_; }
    BlobCanvasRenderer& renderer() { return *renderer_; }

    // GL thread: draws the newest canvas frame, if one came; frees the GL objects.
    void renderGl();
    void releaseGl();

    void paint(juce::Graphics& g) override;
    void tick() override;
    void visibilityChanged() override;
    void mouseMove(const juce::MouseEvent& event) override;
    void mouseExit(const juce::MouseEvent& event) override;
    void mouseDown(const juce::MouseEvent& event) override;
    void mouseDrag(const juce::MouseEvent& event) override;
    void mouseUp(const juce::MouseEvent& event) override;
    bool isInterestedInFileDrag(const juce::StringArray& files) override;
    void filesDropped(const juce::StringArray& files, int x, int y) override;

private:
    BlobStroke::Target strokeTarget(Ombrix& o) const;
    void followTheme();
    void publishFrame(Ombrix& o, double now);
    void paintFallback(juce::Graphics& g, juce::Rectangle<float> canvas) const;
    void paintBrush(juce::Graphics& g) const;
    void showMenu();
    double now() const { return clock_(); }

    juce::Rectangle<int> canvas_;
    std::unique_ptr<BlobCanvasRenderer> renderer_;
    BlobCanvasModel model_;
    BlobStroke stroke_;
    // The frame the 2D fallback draws (OpenGL has its own copy).
    std::unique_ptr<CanvasFrame> shownFrame_;
    juce::Image picture_;
    std::function<double()> clock_;
    float toolSize_ = startToolSize;
    bool noteFollow_ = false;
    bool brushShown_ = false;
    bool failureReported_ = false;
    int framesWithoutGl_ = 0;
    int pictureCount_ = 0;
    bool frameWanted_ = true;
    int lastDragX_ = 0;
    int lastDragY_ = 0;
    // What the shown frame was built from, to redraw only on change.
    int32_t builtVersionA_ = -1;
    int32_t builtVersionB_ = -1;
    float builtMix_ = -2.0f;
    int builtTrack_ = -1;
    int builtWidth_ = 0;
    int builtHeight_ = 0;
    uint32_t builtDisplay_ = 0;
    std::string appliedShader_ = "\x01"; // none applied yet
    std::string shownShaderNote_;
};

// The ring that shows the tool size while a tool button is held: centred on the button, with
// the radius of the tool size.
class ToolSizeOverlay : public Widget {
public:
    ToolSizeOverlay();
    // Shows the ring around `centre` (content coordinates) at `size` pixels; hide() ends it.
    void show(juce::Point<float> centre, float size);
    void hide();
    void paint(juce::Graphics& g) override;
    bool hitTest(int, int) override { return false; }

private:
    juce::Point<float> centre_;
    float size_ = 0.0f;
    bool shown_ = false;
};

// Reads a theme's canvas shader: `name` must be a plain file name inside the theme folder.
// Returns the file's text, or empty (the glass shader draws) for any other name or a missing
// file, with `why` saying what was wrong.
std::string readThemeShader(const std::string& name, std::string& why);

} // namespace tarvo
