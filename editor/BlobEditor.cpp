#include "editor/BlobEditor.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

#include "engine/BlobSlots.h"
#include "instrument/ImportQueue.h"
#include "instrument/Ombrix.h"
#include "persistence/AtomicFile.h"
#include "persistence/Folders.h"

namespace tarvo {

namespace {

// The clipboard Blob file in the data folder.
constexpr const char* clipboardName = "clipboard.blob";
// "<off>" is written at this fraction of the canvas width.
constexpr float offTextScale = 0.1f;
// Brightness step of "<off>" against the background.
constexpr int offTextContrast = 50;
// Display frames without a picture from OpenGL, while the canvas is on screen, after which the
// canvas says it draws without OpenGL.
constexpr int glStartFrames = 120;
// Opacity of the dark ring under the brush-coloured tool-size ring.
constexpr uint8_t overlayShadeAlpha = 100;

std::array<float, 4> rgbaOf(ArgbColour c) {
    return {c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, c.a / 255.0f};
}

std::string trackColourName(int track) {
    return "track" + std::to_string(track + 1);
}

Param& trackParam(Ombrix& o, int track, int offset) {
    return o.engine.param(o.engine.layout.trackBase[static_cast<size_t>(track)] + offset);
}

float fraction(const Param& p) {
    return p.toNormalized(p.effective());
}

std::filesystem::path clipboardFile() {
    return folderPath(Folder::Data) / clipboardName;
}

// A failed write (full disk, a folder in the way) leaves the earlier file whole.
bool writeBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
    return writeFileAtomically(file, bytes).ok;
}

} // namespace

std::string readThemeShader(const std::string& name, std::string& why) {
    why.clear();
    const std::filesystem::path relative(name);
    const bool plain = !name.empty() && name.find_first_of("/\\:") == std::string::npos && name != "." &&
                       name != ".." && !relative.has_root_path();
    if (!plain) {
        why = "The theme's shader \"" + name +
              "\" is not a file name in the theme folder; the glass shader draws.";
        return {};
    }
    const std::filesystem::path file = folderPath(Folder::Themes) / relative;
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return {};
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

BlobEditorWidget::BlobEditorWidget(juce::Rectangle<int> canvas)
    : Widget("blob", "Blob Editor"), canvas_(canvas), renderer_(std::make_unique<BlobCanvasRenderer>()),
      shownFrame_(std::make_unique<CanvasFrame>()),
      clock_([] { return juce::Time::getMillisecondCounterHiRes() * 0.001; }) {
    stroke_.setCanvas({static_cast<float>(canvas.getX()), static_cast<float>(canvas.getY()),
                       static_cast<float>(canvas.getRight()), static_cast<float>(canvas.getBottom())});
}

BlobEditorWidget::~BlobEditorWidget() = default;

void BlobEditorWidget::setToolSize(float pixels) {
    toolSize_ = std::clamp(pixels, minToolSize, maxToolSize);
    repaint();
}

bool BlobEditorWidget::drawsWithOpenGL() const {
    return renderer_->drawing() && renderer_->failure().empty() && picture_.isValid();
}

BlobStroke::Target BlobEditorWidget::strokeTarget(Ombrix& o) const {
    TrackBlobs& blobs = o.engine.tracks[static_cast<size_t>(o.currentTrackIndex())].blobs;
    return {&blobs.slotA.working, &blobs.slotB.working, model_.mix()};
}

// ---- Display frame ---------------------------------------------------------------------

void BlobEditorWidget::tick() {
    EditorContext* ctx = context();
    if (ctx == nullptr) return;
    Ombrix& o = ctx->instrument();
    const double t = now();
    const int track = o.currentTrackIndex();
    const DisplaySnapshot& display = ctx->display();

    // Note Follow: the track played last becomes the shown one, but never in the middle of a
    // stroke or while a text field has the keyboard.
    const bool typing =
        dynamic_cast<juce::TextEditor*>(juce::Component::getCurrentlyFocusedComponent()) != nullptr;
    if (noteFollow_ && !stroke_.held() && !typing) {
        const int last = display.lastTriggeredTrack;
        if (last >= 0 && last < DisplaySnapshot::trackCount && last != track &&
            display.tracks[static_cast<size_t>(last)].soundingVoices > 0) {
            ctx->selectTrack(last, true);
            return;
        }
    }

    followTheme();
    TrackBlobs& blobs = o.engine.tracks[static_cast<size_t>(track)].blobs;
    const Blob& a = blobs.slotA.working;
    const Blob& b = blobs.slotB.working;
    model_.setSource(&a, &b, track, t);
    model_.setMix(shownMix(a.present != 0, b.present != 0, fraction(trackParam(o, track, trackTransform))),
                  t);

    if (stroke_.held()) {
        const auto tool = static_cast<BlobTool>(o.editor.tool);
        const float radius = toolSize_ / static_cast<float>(canvas_.getWidth());
        bool changed = false;
        ctx->perform([&](Ombrix& inst) { changed = stroke_.hold(t, tool, radius, strokeTarget(inst)); });
        if (changed) frameWanted_ = true;
    }
    publishFrame(o, t);

    if (renderer_->takePicture()) {
        const CanvasPicture& p = renderer_->picture();
        if (!picture_.isValid() || picture_.getWidth() != p.width || picture_.getHeight() != p.height)
            picture_ = juce::Image(juce::Image::ARGB, p.width, p.height, false);
        juce::Image::BitmapData pixels(picture_, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < p.height; ++y) {
            const uint8_t* in = p.rgba.data() + static_cast<size_t>(y) * p.width * 4;
            for (int x = 0; x < p.width; ++x, in += 4)
                reinterpret_cast<juce::PixelARGB*>(pixels.getPixelPointer(x, y))
                    ->setARGB(255, in[0], in[1], in[2]);
        }
        ++pictureCount_;
        repaint(canvas_);
    }

    // Say once why the canvas draws without OpenGL, and once per theme shader that fell back.
    if (!failureReported_) {
        std::string why = renderer_->failure();
        if (why.empty() && isShowing() && !renderer_->drawing() && ++framesWithoutGl_ > glStartFrames)
            why = "OpenGL did not start";
        if (!why.empty()) {
            failureReported_ = true;
            ctx->showStatus("The Blob canvas draws without OpenGL: " + juce::String(why));
        }
    }
    const std::string note = renderer_->shaderNote();
    if (note != shownShaderNote_) {
        shownShaderNote_ = note;
        if (!note.empty()) ctx->showStatus(juce::String(note));
    }
}

void BlobEditorWidget::followTheme() {
    const std::string* variable = style().variable(StyleOwner::shaderVariable);
    const std::string name = variable != nullptr ? *variable : std::string();
    if (name == appliedShader_) return;
    // Without the variable the canvas keeps the shader it has.
    if (variable == nullptr && appliedShader_ != "\x01") return;
    appliedShader_ = name;
    std::string why;
    std::string source = name.empty() ? std::string() : readThemeShader(name, why);
    renderer_->setShaderSources({}, std::move(source));
    if (!why.empty())
        if (EditorContext* ctx = context()) ctx->showStatus(juce::String(why));
    frameWanted_ = true;
}

void BlobEditorWidget::publishFrame(Ombrix& o, double t) {
    const int track = o.currentTrackIndex();
    const TrackBlobs& blobs = o.engine.tracks[static_cast<size_t>(track)].blobs;
    float scale = juce::Component::getApproximateScaleFactorForComponent(this);
    if (juce::ComponentPeer* peer = getPeer()) scale *= static_cast<float>(peer->getPlatformScaleFactor());
    const int width = std::max(1, juce::roundToInt(static_cast<float>(canvas_.getWidth()) * scale));
    const int height = std::max(1, juce::roundToInt(static_cast<float>(canvas_.getHeight()) * scale));
    const DisplaySnapshot& display = context()->display();
    const TrackDisplay& shown = display.tracks[static_cast<size_t>(std::clamp(track, 0, 7))];

    const bool changed = blobs.slotA.working.version != builtVersionA_ ||
                         blobs.slotB.working.version != builtVersionB_ || model_.mix() != builtMix_ ||
                         track != builtTrack_ || width != builtWidth_ || height != builtHeight_ ||
                         (shown.soundingVoices > 0 && display.sequence != builtDisplay_);
    if (!changed && !frameWanted_) return;
    builtVersionA_ = blobs.slotA.working.version;
    builtVersionB_ = blobs.slotB.working.version;
    builtMix_ = model_.mix();
    builtTrack_ = track;
    builtWidth_ = width;
    builtHeight_ = height;
    builtDisplay_ = display.sequence;

    std::array<CanvasPlayhead, 4> heads{};
    size_t headCount = 0;
    for (const VoiceDisplay& v : shown.voices) {
        if (v.state == 0 || v.readerPosition < 0.0f) continue;
        heads[headCount++] = {v.readerPosition / 96.0f, (1.0f - v.releaseProgress) * v.dynGain};
    }
    std::sort(heads.begin(), heads.begin() + static_cast<std::ptrdiff_t>(headCount),
              [](const CanvasPlayhead& x, const CanvasPlayhead& y) { return x.position < y.position; });

    const StyleOwner& s = style();
    CanvasStyle canvasStyle;
    canvasStyle.animateSeconds = value("_animate_seconds", 0.12f);
    canvasStyle.playSwell = value("_play_swell", 0.0f);
    for (int k = 0; k < CanvasFrame::trackCount; ++k) {
        const auto c = rgbaOf(s.colorOf(trackColourName(k)));
        canvasStyle.trackColours[static_cast<size_t>(k)] = {c[0], c[1], c[2]};
    }
    const CanvasViewParams view = canvasViewParams(
        fraction(trackParam(o, track, trackFrequency)), fraction(trackParam(o, track, trackTimescale)),
        fraction(trackParam(o, track, trackContrast)), fraction(trackParam(o, track, trackDensity)));

    CanvasDrawing& drawing = renderer_->drawings().back();
    frameWanted_ = model_.build(t, view, std::span<const CanvasPlayhead>(heads.data(), headCount),
                                canvasStyle, drawing.frame);
    const CanvasViewParams& smoothed = model_.smoothedView();
    drawing.width = width;
    drawing.height = height;
    drawing.uniforms.background = rgbaOf(s.colorOf("blob_canvas"));
    drawing.uniforms.grid = rgbaOf(s.colorOf("blob_grid"));
    drawing.uniforms.trackColour = rgbaOf(s.colorOf(trackColourName(track)));
    drawing.uniforms.warpX = smoothed.warpX;
    drawing.uniforms.warpY = smoothed.warpY;
    drawing.uniforms.density = smoothed.density;
    drawing.uniforms.opacity = s.valueOf("blob_opacity");
    drawing.uniforms.mouseX = static_cast<float>(getX()) + stroke_.x();
    drawing.uniforms.mouseY = static_cast<float>(getY()) + stroke_.y();
    *shownFrame_ = drawing.frame;
    renderer_->drawings().publish();
    // Repainting asks the editor's GL thread for a frame, which draws the new drawing.
    repaint();
}

void BlobEditorWidget::visibilityChanged() {
    if (isVisible()) {
        model_.shownAgain();
        frameWanted_ = true;
    }
}

// ---- GL thread ---------------------------------------------------------------------------

void BlobEditorWidget::renderGl() {
    renderer_->render();
}

void BlobEditorWidget::releaseGl() {
    renderer_->release();
}

// ---- Painting ----------------------------------------------------------------------------

void BlobEditorWidget::paint(juce::Graphics& g) {
    g.fillAll(colour("_bg"));
    const float border = value("_border");
    if (border > 0.0f) {
        g.setColour(colour("_border"));
        g.drawRect(getLocalBounds().toFloat().reduced(border * 0.5f), border);
    }
    const auto canvas = canvas_.toFloat();
    const float frame = value("_frame");
    if (frame > 0.0f) {
        g.setColour(colourOr("_frame", juce::Colours::transparentBlack));
        g.drawRect(canvas.expanded(frame * 0.5f), frame);
    }
    if (!shownFrame_->hasBlob) {
        const ArgbColour bg = style().colorOf("blob_bg");
        g.setColour(toJuce(brightened(bg, bg.r < 128 ? offTextContrast : -offTextContrast)));
        g.setFont(EditorFonts::main(canvas.getWidth() * offTextScale));
        g.drawText("<off>", canvas, juce::Justification::centred, false);
        return;
    }
    if (drawsWithOpenGL())
        g.drawImage(picture_, canvas);
    else
        paintFallback(g, canvas);
    paintBrush(g);
}

// The mesh with 2D graphics: every cell filled with the track's colour by its loudness over
// the canvas colour, and every eighth row and column drawn as a grid line.
void BlobEditorWidget::paintFallback(juce::Graphics& g, juce::Rectangle<float> canvas) const {
    const CanvasFrame& f = *shownFrame_;
    const juce::Colour background = toJuce(style().colorOf("blob_canvas"));
    const juce::Colour grid = toJuce(style().colorOf("blob_grid"));
    EditorContext* ctx = context();
    const int track = ctx != nullptr ? ctx->instrument().currentTrackIndex() : 0;
    const juce::Colour tint = toJuce(style().colorOf(trackColourName(track)));
    g.setColour(background);
    g.fillRect(canvas);
    const auto point = [&](int i, int k) {
        const float* v =
            &f.vertices[static_cast<size_t>((k + CanvasFrame::columns * i) * CanvasFrame::vertexFloats)];
        return juce::Point<float>(canvas.getX() + (v[0] + 1.0f) * 0.5f * canvas.getWidth(),
                                  canvas.getBottom() - (v[1] + 1.0f) * 0.5f * canvas.getHeight());
    };
    const auto amplitude = [&](int i, int k) {
        return f.map[static_cast<size_t>((k + CanvasFrame::mapSize * i) * CanvasFrame::mapChannels)];
    };
    juce::Graphics::ScopedSaveState clip(g);
    g.reduceClipRegion(canvas.toNearestInt());
    for (int i = 0; i + 1 < CanvasFrame::rows; ++i) {
        for (int k = 0; k + 1 < CanvasFrame::columns; ++k) {
            const float level = 0.25f * (amplitude(i, k) + amplitude(i, k + 1) + amplitude(i + 1, k) +
                                         amplitude(i + 1, k + 1));
            const float shade = std::clamp(level - 0.1f, 0.0f, 1.0f);
            if (shade <= 0.0f) continue;
            juce::Path cell;
            cell.startNewSubPath(point(i, k));
            cell.lineTo(point(i, k + 1));
            cell.lineTo(point(i + 1, k + 1));
            cell.lineTo(point(i + 1, k));
            cell.closeSubPath();
            g.setColour(background.interpolatedWith(tint, shade).brighter(0.4f * shade * shade));
            g.fillPath(cell);
        }
    }
    g.setColour(grid);
    for (int i = 0; i < CanvasFrame::rows; i += Blob::knotsPerLine) {
        juce::Path line;
        line.startNewSubPath(point(i, 0));
        for (int k = 1; k < CanvasFrame::columns; ++k) line.lineTo(point(i, k));
        g.strokePath(line, juce::PathStrokeType(1.0f));
    }
    for (int k = 0; k < CanvasFrame::columns; k += Blob::knotsPerLine) {
        juce::Path line;
        line.startNewSubPath(point(0, k));
        for (int i = 1; i < CanvasFrame::rows; ++i) line.lineTo(point(i, k));
        g.strokePath(line, juce::PathStrokeType(1.0f));
    }
}

void BlobEditorWidget::paintBrush(juce::Graphics& g) const {
    const CanvasRegion region = stroke_.region();
    if (region == CanvasRegion::elsewhere) return;
    const juce::Colour colour = toJuce(style().colorOf(stroke_.held() ? "toolBrush_on" : "toolBrush_off"));
    if (colour.getAlpha() == 0) return;
    const auto canvas = canvas_.toFloat();
    const float radius = toolSize_;
    const float k = 0.1f * radius + 3.0f;
    for (int i = 0; i < 2; ++i) {
        const float d = stroke_.ringPhase() - static_cast<float>(i);
        const float thickness = (1.0f - std::abs(d)) * k;
        if (thickness < 0.1f) continue;
        g.setColour(colour.withMultipliedAlpha(std::clamp(1.0f - d * d, 0.0f, 1.0f)));
        const float r = radius + 2.0f * d * k;
        if (region == CanvasRegion::inside)
            g.drawEllipse(stroke_.x() - r, stroke_.y() - r, 2.0f * r, 2.0f * r, thickness);
        else if (region == CanvasRegion::below)
            g.drawRect(juce::Rectangle<float>(stroke_.x() - r, canvas.getY(), 2.0f * r, canvas.getHeight()),
                       thickness);
        else
            g.drawRect(juce::Rectangle<float>(canvas.getX(), stroke_.y() - r, canvas.getWidth(), 2.0f * r),
                       thickness);
    }
}

// ---- Mouse -------------------------------------------------------------------------------

void BlobEditorWidget::mouseMove(const juce::MouseEvent& event) {
    stroke_.hover(static_cast<float>(event.x), static_cast<float>(event.y));
    repaint();
}

void BlobEditorWidget::mouseExit(const juce::MouseEvent&) {
    stroke_.leave();
    repaint();
}

void BlobEditorWidget::mouseDown(const juce::MouseEvent& event) {
    if (event.mods.isPopupMenu()) {
        showMenu();
        return;
    }
    lastDragX_ = event.x;
    lastDragY_ = event.y;
    stroke_.press(static_cast<float>(event.x), static_cast<float>(event.y), now());
    repaint();
}

void BlobEditorWidget::mouseDrag(const juce::MouseEvent& event) {
    if (!stroke_.held()) return;
    EditorContext* ctx = context();
    if (ctx == nullptr) return;
    const float dx = static_cast<float>(event.x - lastDragX_);
    const float dy = static_cast<float>(event.y - lastDragY_);
    lastDragX_ = event.x;
    lastDragY_ = event.y;
    const double t = now();
    bool changed = false;
    ctx->perform([&](Ombrix& o) {
        const auto tool = static_cast<BlobTool>(o.editor.tool);
        const float radius = toolSize_ / static_cast<float>(canvas_.getWidth());
        changed = stroke_.drag(static_cast<float>(event.x), static_cast<float>(event.y), dx, dy, t, tool,
                               radius, strokeTarget(o));
    });
    if (changed) frameWanted_ = true;
    repaint();
}

void BlobEditorWidget::mouseUp(const juce::MouseEvent& event) {
    if (event.mods.isPopupMenu() && !stroke_.held()) return;
    if (stroke_.release())
        if (EditorContext* ctx = context()) ctx->perform([](Ombrix& o) { o.pushUndoSnapshot(false); });
    repaint();
}

bool BlobEditorWidget::isInterestedInFileDrag(const juce::StringArray&) {
    return true;
}

void BlobEditorWidget::filesDropped(const juce::StringArray& files, int, int) {
    EditorContext* ctx = context();
    if (ctx == nullptr) return;
    std::vector<std::string> paths;
    for (const juce::String& f : files) paths.push_back(f.toStdString());
    ctx->perform([&paths](Ombrix& o) {
        importAudioPaths(o, paths, -1);
        // Imported at once (not queued for the analyser panel): one undo step, as a drop on a
        // track or a Blob selector is.
        if (o.importQueue.empty()) o.pushUndoSnapshot(false);
    });
}

// ---- Right-click menu --------------------------------------------------------------------

bool BlobEditorWidget::copyBlobMix() {
    std::vector<uint8_t> bytes(Blob::byteSize);
    if (model_.target().serialize(bytes) != Blob::byteSize) return false;
    return writeBytes(clipboardFile(), bytes);
}

bool BlobEditorWidget::pasteBlob() {
    EditorContext* ctx = context();
    if (ctx == nullptr) return false;
    Blob pasted;
    std::string why;
    // A missing or damaged clipboard file pastes nothing.
    if (!readBlobFile(clipboardFile(), pasted, why)) return false;
    const int slot = pasteSlot(model_.mix());
    ctx->perform([&](Ombrix& o) {
        TrackBlobs& blobs = o.engine.tracks[static_cast<size_t>(o.currentTrackIndex())].blobs;
        (slot == 0 ? blobs.slotA : blobs.slotB).working.copyFrom(pasted, false);
        o.pushUndoSnapshot(false);
    });
    frameWanted_ = true;
    return true;
}

bool BlobEditorWidget::saveBlobMix(const juce::File& file) {
    std::vector<uint8_t> bytes(Blob::byteSize);
    if (model_.target().serialize(bytes) != Blob::byteSize) return false;
    return writeBytes(std::filesystem::path(file.getFullPathName().toStdString()), bytes);
}

bool BlobEditorWidget::clearBlob() {
    EditorContext* ctx = context();
    if (ctx == nullptr) return false;
    int cleared = 0;
    const float mix = model_.mix();
    ctx->perform([&](Ombrix& o) {
        TrackBlobs& blobs = o.engine.tracks[static_cast<size_t>(o.currentTrackIndex())].blobs;
        cleared = clearShownSlots(blobs.slotA.working, blobs.slotB.working, mix);
        if (cleared > 0) o.pushUndoSnapshot(false);
    });
    frameWanted_ = true;
    return cleared > 0;
}

void BlobEditorWidget::showMenu() {
    enum Item { copy = 1, paste, save, clear, follow };
    juce::PopupMenu menu;
    menu.addItem(copy, "Copy Blob Mix");
    std::error_code error;
    if (std::filesystem::is_regular_file(clipboardFile(), error)) menu.addItem(paste, "Paste Blob");
    menu.addItem(save, "Save Blob Mix");
    menu.addItem(clear, "Clear Blob");
    menu.addItem(follow, juce::String(noteFollow_ ? "Dis" : "En") + "able Note Follow");
    juce::Component::SafePointer<BlobEditorWidget> self(this);
    menu.showMenuAsync(juce::PopupMenu::Options().withMousePosition(), [self](int item) {
        if (self == nullptr) return;
        switch (item) {
        case copy:
            self->copyBlobMix();
            break;
        case paste:
            self->pasteBlob();
            break;
        case clear:
            self->clearBlob();
            break;
        case follow:
            self->noteFollow_ = !self->noteFollow_;
            break;
        case save: {
            const juce::File folder(folderPath(Folder::Sounds).string());
            auto chooser = std::make_shared<juce::FileChooser>("Save Blob Mix", folder, "*.blob");
            chooser->launchAsync(juce::FileBrowserComponent::saveMode |
                                     juce::FileBrowserComponent::canSelectFiles |
                                     juce::FileBrowserComponent::warnAboutOverwriting,
                                 [self, chooser](const juce::FileChooser& c) {
                                     const juce::File file = c.getResult();
                                     if (self != nullptr && file != juce::File())
                                         self->saveBlobMix(file.withFileExtension("blob"));
                                 });
            break;
        }
        default:
            break;
        }
        if (self != nullptr) self->repaint();
    });
}

// ---- Tool-size overlay -------------------------------------------------------------------

ToolSizeOverlay::ToolSizeOverlay() : Widget("toolBrush_on") {
    setInterceptsMouseClicks(false, false);
}

void ToolSizeOverlay::show(juce::Point<float> centre, float size) {
    centre_ = centre;
    size_ = size;
    shown_ = true;
    repaint();
}

void ToolSizeOverlay::hide() {
    if (!shown_) return;
    shown_ = false;
    repaint();
}

void ToolSizeOverlay::paint(juce::Graphics& g) {
    if (!shown_) return;
    const float r = size_;
    g.setColour(juce::Colours::black.withAlpha(overlayShadeAlpha));
    g.drawEllipse(centre_.x - r, centre_.y - r, 2.0f * r, 2.0f * r, 0.15f * size_ + 3.0f);
    g.setColour(toJuce(style().colorOf("toolBrush_on")));
    g.drawEllipse(centre_.x - r, centre_.y - r, 2.0f * r, 2.0f * r, 0.1f * size_ + 2.0f);
}

} // namespace tarvo
