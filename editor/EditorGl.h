#pragma once
// The editor window's one OpenGL context. It paints the window's components and, on its GL
// thread before them, lets every GL widget draw; when the window closes, each widget frees its
// GL objects there.
//
// Threads: construction, `add` and destruction on the message thread; the widgets' GL work on
// the context's GL thread.

#include <juce_opengl/juce_opengl.h>

#include <vector>

namespace tarvo {

class BlobEditorWidget;

class EditorGl : private juce::OpenGLRenderer {
public:
    // Attaches an OpenGL 3.2 core context to the window.
    explicit EditorGl(juce::Component& window);
    // Detaches, waiting for the GL thread to release every widget.
    ~EditorGl() override;

    // Registers a GL widget; before the window shows.
    void add(BlobEditorWidget& widget) { widgets_.push_back(&widget); }

private:
    void newOpenGLContextCreated() override {}
    void renderOpenGL() override;
    void openGLContextClosing() override;

    juce::OpenGLContext context_;
    std::vector<BlobEditorWidget*> widgets_;
};

} // namespace tarvo
