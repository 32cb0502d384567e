#include "editor/EditorGl.h"

#include "editor/BlobEditor.h"

namespace tarvo {

EditorGl::EditorGl(juce::Component& window) {
    context_.setRenderer(this);
    context_.setOpenGLVersionRequired(juce::OpenGLContext::openGL3_2);
    context_.setComponentPaintingEnabled(true);
    context_.setContinuousRepainting(false);
    context_.attachTo(window);
}

EditorGl::~EditorGl() {
    context_.detach();
}

void EditorGl::renderOpenGL() {
    juce::OpenGLHelpers::clear(juce::Colours::black);
    for (BlobEditorWidget* widget : widgets_) widget->renderGl();
}

void EditorGl::openGLContextClosing() {
    for (BlobEditorWidget* widget : widgets_) widget->releaseGl();
}

} // namespace tarvo
