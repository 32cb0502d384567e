#include "editor/BlobCanvasRenderer.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "TarvoEditorData.h"

namespace tarvo {

using namespace juce::gl;

namespace {

// The dome picture's side in texels.
constexpr int domeSize = 512;
// Texture units of the map and the dome picture.
constexpr GLint mapUnit = 0;
constexpr GLint domeUnit = 1;
// Where the light stands above the canvas (x, y in canvas units, z height).
constexpr float lightPosition[3] = {1.0f, 1.0f, 0.5f};

std::string textOf(const char* data, int size) {
    return std::string(data, static_cast<size_t>(size));
}

GLint uniformLocation(GLuint program, const char* name) {
    return glGetUniformLocation(program, name);
}

// Uniform setters skip names the program does not have, so a theme's shader may leave any out.
void setUniform(GLuint program, const char* name, float value) {
    const GLint at = uniformLocation(program, name);
    if (at >= 0) glUniform1f(at, value);
}
void setUniform(GLuint program, const char* name, float x, float y) {
    const GLint at = uniformLocation(program, name);
    if (at >= 0) glUniform2f(at, x, y);
}
void setUniform(GLuint program, const char* name, const float (&v)[3]) {
    const GLint at = uniformLocation(program, name);
    if (at >= 0) glUniform3f(at, v[0], v[1], v[2]);
}
void setUniform(GLuint program, const char* name, const std::array<float, 4>& v) {
    const GLint at = uniformLocation(program, name);
    if (at >= 0) glUniform4f(at, v[0], v[1], v[2], v[3]);
}
void setUniformInt(GLuint program, const char* name, GLint value) {
    const GLint at = uniformLocation(program, name);
    if (at >= 0) glUniform1i(at, value);
}

GLuint compileShader(GLenum kind, const std::string& source, std::string& log) {
    const GLuint shader = glCreateShader(kind);
    const GLchar* text = source.c_str();
    const GLint length = static_cast<GLint>(source.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    GLchar info[1024] = {};
    glGetShaderInfoLog(shader, sizeof info, nullptr, info);
    log = info;
    glDeleteShader(shader);
    return 0;
}

} // namespace

const std::string& builtInVertexShader() {
    static const std::string source = textOf(TarvoEditorData::blob_vert, TarvoEditorData::blob_vertSize);
    return source;
}

const std::string& builtInFragmentShader() {
    static const std::string source =
        textOf(TarvoEditorData::blob_glass_frag, TarvoEditorData::blob_glass_fragSize);
    return source;
}

std::vector<ShaderAttribute> shaderAttributes(const std::string& vertexSource) {
    std::vector<ShaderAttribute> attributes;
    std::istringstream lines(vertexSource);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("in ", 0) != 0) continue;
        const size_t end = line.find(';');
        if (end == std::string::npos) continue;
        const std::string declaration = line.substr(0, end);
        const size_t lastSpace = declaration.find_last_of(' ');
        ShaderAttribute attribute;
        attribute.name = declaration.substr(lastSpace + 1);
        const std::string padded = declaration + " ";
        if (padded.find(" float ") != std::string::npos) attribute.components = 1;
        if (padded.find(" vec2 ") != std::string::npos) attribute.components = 2;
        if (padded.find(" vec3 ") != std::string::npos) attribute.components = 3;
        if (padded.find(" vec4 ") != std::string::npos) attribute.components = 4;
        if (attribute.components > 0 && !attribute.name.empty()) attributes.push_back(attribute);
    }
    return attributes;
}

BlobCanvasRenderer::BlobCanvasRenderer() : startTime_(juce::Time::getMillisecondCounterHiRes() * 0.001) {}

BlobCanvasRenderer::~BlobCanvasRenderer() = default;

void BlobCanvasRenderer::setShaderSources(std::string vertex, std::string fragment) {
    const std::lock_guard<std::mutex> lock(textMutex_);
    vertexSource_ = std::move(vertex);
    fragmentSource_ = std::move(fragment);
    sourcesChanged_ = true;
}

std::string BlobCanvasRenderer::failure() const {
    const std::lock_guard<std::mutex> lock(textMutex_);
    return failure_;
}

std::string BlobCanvasRenderer::shaderNote() const {
    const std::lock_guard<std::mutex> lock(textMutex_);
    return shaderNote_;
}

void BlobCanvasRenderer::setFailure(const std::string& why) {
    const std::lock_guard<std::mutex> lock(textMutex_);
    failure_ = why;
}

void BlobCanvasRenderer::checkError(const char* step) {
    const GLenum code = glGetError();
    if (code == GL_NO_ERROR) return;
    char text[256];
    std::snprintf(text, sizeof text, "glError code: %08x, msg: %s, T=%f\n", static_cast<unsigned>(code), step,
                  juce::Time::getMillisecondCounterHiRes() * 0.001 - startTime_);
    juce::Logger::outputDebugString(text);
}

bool BlobCanvasRenderer::prepare() {
    if (prepared_) return !broken_;
    prepared_ = true;
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    GLint major = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    GLint minor = 0;
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    if (major * 10 + minor < 32) {
        broken_ = true;
        setFailure(std::string("OpenGL 3.2 is not available (the display offers ") +
                   (version != nullptr ? version : "no version") + ")");
        return false;
    }
    while (glGetError() != GL_NO_ERROR) {
    }
    glGenVertexArrays(1, &vertexArray_);
    checkError("glGenVertexArrays");
    glGenBuffers(1, &vertexBuffer_);
    glGenBuffers(1, &indexBuffer_);
    checkError("glGenBuffers");

    const std::vector<uint32_t> indices = canvasMeshIndices();
    indexCount_ = static_cast<int>(indices.size());
    glBindVertexArray(vertexArray_);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer_);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint32_t)),
                 indices.data(), GL_STATIC_DRAW);
    glBindVertexArray(0);

    const auto makeTexture = [this](GLuint& id, int size, bool mipmaps) {
        glGenTextures(1, &id);
        glBindTexture(GL_TEXTURE_2D, id);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, size, size, 0, GL_RGBA, GL_FLOAT, nullptr);
        checkError("makeTexture");
    };
    makeTexture(mapTexture_, CanvasFrame::mapSize, false);
    makeTexture(domeTexture_, domeSize, true);
    const std::vector<float> dome = generateDomePicture(domeSize);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, domeSize, domeSize, GL_RGBA, GL_FLOAT, dome.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    checkError("makeTexture1");
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

bool BlobCanvasRenderer::buildProgram(const std::string& vertex, const std::string& fragment,
                                      std::string& log) {
    const GLuint vertexShader = compileShader(GL_VERTEX_SHADER, vertex, log);
    if (vertexShader == 0) return false;
    const GLuint fragmentShader = compileShader(GL_FRAGMENT_SHADER, fragment, log);
    if (fragmentShader == 0) {
        glDeleteShader(vertexShader);
        return false;
    }
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    checkError("glAttachShader");
    const std::vector<ShaderAttribute> attributes = shaderAttributes(vertex);
    for (size_t j = 0; j < attributes.size(); ++j)
        glBindAttribLocation(program, static_cast<GLuint>(j), attributes[j].name.c_str());
    checkError("glBindAttribLocation");
    glBindFragDataLocation(program, 0, "fragColor");
    glLinkProgram(program);
    checkError("glLinkProgram");
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLchar info[1024] = {};
        glGetProgramInfoLog(program, sizeof info, nullptr, info);
        log = info;
        glDeleteProgram(program);
        return false;
    }
    if (program_ != 0) glDeleteProgram(program_);
    program_ = program;

    // The attributes interleaved in declaration order.
    int stride = 0;
    for (const ShaderAttribute& a : attributes) stride += a.components;
    glBindVertexArray(vertexArray_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(CanvasFrame::vertices)), nullptr,
                 GL_STREAM_DRAW);
    int offset = 0;
    for (size_t j = 0; j < attributes.size(); ++j) {
        glEnableVertexAttribArray(static_cast<GLuint>(j));
        glVertexAttribPointer(static_cast<GLuint>(j), attributes[j].components, GL_FLOAT, GL_FALSE,
                              static_cast<GLsizei>(stride * sizeof(float)),
                              reinterpret_cast<const void*>(static_cast<uintptr_t>(offset * sizeof(float))));
        offset += attributes[j].components;
    }
    glBindVertexArray(0);
    checkError("glBindVertexArray");
    return true;
}

void BlobCanvasRenderer::ensureTarget(int width, int height) {
    if (framebuffer_ != 0 && width == targetWidth_ && height == targetHeight_) return;
    if (framebuffer_ != 0) {
        glDeleteFramebuffers(1, &framebuffer_);
        glDeleteTextures(1, &colourTexture_);
    }
    glGenTextures(1, &colourTexture_);
    glBindTexture(GL_TEXTURE_2D, colourTexture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colourTexture_, 0);
    targetWidth_ = width;
    targetHeight_ = height;
    readBack_.assign(static_cast<size_t>(width) * height * 4, 0);
}

bool BlobCanvasRenderer::render() {
    if (!drawings_.take()) return false;
    if (!prepare()) {
        drawing_.store(false, std::memory_order_release);
        return false;
    }
    const CanvasDrawing& drawing = drawings_.front();
    if (drawing.width <= 0 || drawing.height <= 0) return false;

    std::string vertex;
    std::string fragment;
    bool rebuild = false;
    {
        const std::lock_guard<std::mutex> lock(textMutex_);
        if (sourcesChanged_) {
            rebuild = true;
            sourcesChanged_ = false;
            vertex = vertexSource_.empty() ? builtInVertexShader() : vertexSource_;
            fragment = fragmentSource_.empty() ? builtInFragmentShader() : fragmentSource_;
        }
    }
    if (rebuild) {
        std::string log;
        std::string note;
        if (!buildProgram(vertex, fragment, log)) {
            note = "The theme's canvas shader does not build (" + juce::String(log).trim().toStdString() +
                   "); the glass shader draws instead.";
            std::string builtInLog;
            if (!buildProgram(builtInVertexShader(), builtInFragmentShader(), builtInLog)) {
                broken_ = true;
                setFailure("the canvas shader does not build here: " +
                           juce::String(builtInLog).trim().toStdString());
                drawing_.store(false, std::memory_order_release);
                return false;
            }
        }
        const std::lock_guard<std::mutex> lock(textMutex_);
        shaderNote_ = note;
    }
    if (program_ == 0) return false;

    GLint previousFramebuffer = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
    GLint previousViewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, previousViewport);

    ensureTarget(drawing.width, drawing.height);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    checkError("initDraw: get fbo id");
    glViewport(0, 0, drawing.width, drawing.height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const auto& bg = drawing.uniforms.background;
    glClearColor(bg[0], bg[1], bg[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    checkError("finishDraw viewport");

    if (drawing.frame.hasBlob) {
        glUseProgram(program_);
        checkError("initDraw glUseProgram");
        // The map is uploaded before the draw, so mesh and map always come from one frame.
        glActiveTexture(GL_TEXTURE0 + mapUnit);
        glBindTexture(GL_TEXTURE_2D, mapTexture_);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, CanvasFrame::mapSize, CanvasFrame::mapSize, GL_RGBA, GL_FLOAT,
                        drawing.frame.map.data());
        checkError("finishDraw uploadTexture");
        glActiveTexture(GL_TEXTURE0 + domeUnit);
        glBindTexture(GL_TEXTURE_2D, domeTexture_);
        checkError("initDraw glBindTexture");

        const CanvasUniforms& u = drawing.uniforms;
        setUniform(program_, "uColBg", u.background);
        setUniform(program_, "uColGrid", u.grid);
        setUniform(program_, "uColTrack", u.trackColour);
        setUniform(program_, "uDim2", static_cast<float>(drawing.width), static_cast<float>(drawing.height));
        setUniform(program_, "uGridWarp2", u.warpX, u.warpY);
        setUniform(program_, "uMousePos", u.mouseX, u.mouseY);
        setUniformInt(program_, "uTexMap", mapUnit);
        setUniformInt(program_, "uTexBG", domeUnit);
        setUniform(program_, "uLightPos", lightPosition);
        setUniform(program_, "uDensity", u.density);
        setUniform(program_, "uOpacity", u.opacity);
        checkError("setUniformFloat");

        glBindVertexArray(vertexArray_);
        glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
        glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(sizeof(drawing.frame.vertices)),
                        drawing.frame.vertices.data());
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(indexCount_), GL_UNSIGNED_INT, nullptr);
        checkError("drawElements");
        glBindVertexArray(0);
        glUseProgram(0);
        glActiveTexture(GL_TEXTURE0);
    }

    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, drawing.width, drawing.height, GL_RGBA, GL_UNSIGNED_BYTE, readBack_.data());
    checkError("finishDraw glReadPixels");
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
    glViewport(previousViewport[0], previousViewport[1], previousViewport[2], previousViewport[3]);

    // GL rows run bottom-up; the picture runs top-down.
    CanvasPicture& picture = pictures_.back();
    picture.width = drawing.width;
    picture.height = drawing.height;
    picture.rgba.resize(readBack_.size());
    const size_t rowBytes = static_cast<size_t>(drawing.width) * 4;
    for (int row = 0; row < drawing.height; ++row)
        std::copy_n(readBack_.begin() + static_cast<std::ptrdiff_t>(rowBytes * (drawing.height - 1 - row)),
                    rowBytes, picture.rgba.begin() + static_cast<std::ptrdiff_t>(rowBytes * row));
    pictures_.publish();
    drawing_.store(true, std::memory_order_release);
    return true;
}

void BlobCanvasRenderer::release() {
    if (program_ != 0) glDeleteProgram(program_);
    if (vertexArray_ != 0) glDeleteVertexArrays(1, &vertexArray_);
    if (vertexBuffer_ != 0) glDeleteBuffers(1, &vertexBuffer_);
    if (indexBuffer_ != 0) glDeleteBuffers(1, &indexBuffer_);
    if (mapTexture_ != 0) glDeleteTextures(1, &mapTexture_);
    if (domeTexture_ != 0) glDeleteTextures(1, &domeTexture_);
    if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
    if (colourTexture_ != 0) glDeleteTextures(1, &colourTexture_);
    program_ = vertexArray_ = vertexBuffer_ = indexBuffer_ = mapTexture_ = domeTexture_ = framebuffer_ =
        colourTexture_ = 0;
    targetWidth_ = targetHeight_ = 0;
    prepared_ = false;
    broken_ = false;
    const std::lock_guard<std::mutex> lock(textMutex_);
    sourcesChanged_ = true;
}

} // namespace tarvo
