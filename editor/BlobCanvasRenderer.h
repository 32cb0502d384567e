#pragma once
// Draws the Blob canvas with OpenGL 3.2 core: the mesh of a `CanvasFrame` through the canvas
// shaders into a framebuffer of device size, read back into pixels that the canvas widget
// paints under its brush and the controls above it.
//
// Threads: `setShaderSources` and `takePicture` on the user-interface thread; `render` and
// `release` on the GL thread with the editor's context current. Frames reach the GL thread
// and pictures come back through hand-overs (FrameHandOff), so neither thread waits for the
// other's work.

#include <juce_opengl/juce_opengl.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/BlobCanvasModel.h"

namespace tarvo {

// Hands the latest value from one thread to another: the writer fills its own copy and
// publishes it, the reader takes the newest published copy. A value published twice before
// the reader looks replaces the older one. The short lock guards only pointer swaps.
template <typename T> class FrameHandOff {
public:
    FrameHandOff()
        : back_(std::make_unique<T>()), pending_(std::make_unique<T>()), front_(std::make_unique<T>()) {}

    // Writer: the copy to fill before publishing.
    T& back() { return *back_; }
    void publish() {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::swap(back_, pending_);
        fresh_ = true;
    }
    // Reader: swaps in the newest published copy; returns false when none came since.
    bool take() {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!fresh_) return false;
        std::swap(front_, pending_);
        fresh_ = false;
        return true;
    }
    // Reader: the copy taken last.
    const T& front() const { return *front_; }

private:
    std::unique_ptr<T> back_;
    std::unique_ptr<T> pending_;
    std::unique_ptr<T> front_;
    std::mutex mutex_;
    bool fresh_ = false;
};

// Uniform values of one frame.
struct CanvasUniforms {
    std::array<float, 4> background{};  // blob_canvas
    std::array<float, 4> grid{};        // blob_grid
    std::array<float, 4> trackColour{}; // the shown track's colour
    float warpX = 0.0f;
    float warpY = 0.0f;
    float density = 0.0f;
    float opacity = 0.0f; // blob_opacity
    float mouseX = 0.0f;  // pointer in editor pixels
    float mouseY = 0.0f;
};

// What the GL thread draws: the frame, its uniforms and the picture's size in device pixels.
struct CanvasDrawing {
    CanvasFrame frame;
    CanvasUniforms uniforms;
    int width = 0;
    int height = 0;
};

// A picture read back from the framebuffer: top row first, 8-bit R, G, B, A per pixel.
struct CanvasPicture {
    std::vector<uint8_t> rgba;
    int width = 0;
    int height = 0;
};

class BlobCanvasRenderer {
public:
    BlobCanvasRenderer();
    ~BlobCanvasRenderer();

    // User-interface thread: new shader sources. An empty vertex source means the built-in
    // one, an empty fragment source the built-in glass shader. A fragment shader that does
    // not compile or link is replaced by the glass shader.
    void setShaderSources(std::string vertex, std::string fragment);

    // User-interface thread: the hand-over for frames to draw (fill `back()`, then publish).
    FrameHandOff<CanvasDrawing>& drawings() { return drawings_; }
    // User-interface thread: the newest picture, if one came since the last call.
    bool takePicture() { return pictures_.take(); }
    const CanvasPicture& picture() const { return pictures_.front(); }

    // GL thread: draws the newest frame, if one came, and publishes its picture. Returns
    // whether it drew. Reports failure through `failure()`.
    bool render();
    // GL thread, with the context still current: frees every GL object.
    void release();

    // Any thread: why the canvas cannot draw with OpenGL (empty while it can), and a note
    // about a theme shader that fell back to the glass shader (empty when none did).
    std::string failure() const;
    std::string shaderNote() const;
    // Any thread: whether the last render drew with OpenGL.
    bool drawing() const { return drawing_.load(std::memory_order_acquire); }

private:
    bool prepare();
    bool buildProgram(const std::string& vertex, const std::string& fragment, std::string& log);
    void ensureTarget(int width, int height);
    void setFailure(const std::string& why);
    void checkError(const char* step);

    FrameHandOff<CanvasDrawing> drawings_;
    FrameHandOff<CanvasPicture> pictures_;

    mutable std::mutex textMutex_;
    std::string vertexSource_;
    std::string fragmentSource_;
    bool sourcesChanged_ = true;
    std::string failure_;
    std::string shaderNote_;
    std::atomic<bool> drawing_{false};

    // GL thread only.
    bool prepared_ = false;
    bool broken_ = false;
    juce::uint32 program_ = 0;
    juce::uint32 vertexArray_ = 0;
    juce::uint32 vertexBuffer_ = 0;
    juce::uint32 indexBuffer_ = 0;
    juce::uint32 mapTexture_ = 0;
    juce::uint32 domeTexture_ = 0;
    juce::uint32 framebuffer_ = 0;
    juce::uint32 colourTexture_ = 0;
    int targetWidth_ = 0;
    int targetHeight_ = 0;
    int indexCount_ = 0;
    std::vector<uint8_t> readBack_;
    double startTime_ = 0.0;
};

// The built-in shader sources.
const std::string& builtInVertexShader();
const std::string& builtInFragmentShader();

// Attributes a vertex shader declares, in order: every line starting with "in " gives a name
// (between the last space and the ";") and a component count from its type.
struct ShaderAttribute {
    std::string name;
    int components = 0;
};
std::vector<ShaderAttribute> shaderAttributes(const std::string& vertexSource);

} // namespace tarvo
