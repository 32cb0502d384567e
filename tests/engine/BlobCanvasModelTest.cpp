#include "engine/BlobCanvasModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/BlobTools.h"

namespace tarvo {
namespace {

constexpr CanvasRect canvas{180.0f, 76.0f, 612.0f, 506.0f};

Blob evenBlob() {
    Blob blob;
    blob.clear();
    return blob;
}

// A Blob with the mesh gathered around the canvas middle by a held Attract.
Blob gatheredBlob() {
    Blob blob = evenBlob();
    BlobStroke stroke;
    stroke.setCanvas(canvas);
    stroke.press(396.0f, 291.0f, 0.0);
    for (int step = 1; step <= 20; ++step)
        stroke.drag(396.0f, 291.0f, 0.0f, 0.0f, step * 0.1, BlobTool::attract, 0.2f, {&blob, nullptr, 0.0f});
    stroke.release();
    return blob;
}

float texel(const CanvasFrame& frame, int x, int y, int channel) {
    return frame
        .map[static_cast<size_t>((x + CanvasFrame::mapSize * y) * CanvasFrame::mapChannels + channel)];
}

bool allFinite(const CanvasFrame& frame) {
    return std::all_of(frame.vertices.begin(), frame.vertices.end(),
                       [](float v) { return std::isfinite(v); }) &&
           std::all_of(frame.map.begin(), frame.map.end(), [](float v) { return std::isfinite(v); });
}

// The frame a model showing slot A alone draws after one second, when the view has settled.
std::unique_ptr<CanvasFrame> frameOf(const Blob& a, const CanvasViewParams& view = {}) {
    BlobCanvasModel model;
    model.setSource(&a, nullptr, 0, 0.0);
    model.setMix(0.0f, 0.0);
    auto frame = std::make_unique<CanvasFrame>();
    for (int i = 0; i < 60; ++i) model.build(i / 60.0, view, {}, CanvasStyle{}, *frame);
    return frame;
}

TEST(BlobCanvasModel, MeshIndicesCoverEveryCellWithTwoTriangles) {
    const std::vector<uint32_t> indices = canvasMeshIndices();
    ASSERT_EQ(indices.size(), 40u * 48u * 2u * 3u);
    const std::vector<uint32_t> firstCell = {0, 1, 49, 49, 1, 50};
    EXPECT_TRUE(std::equal(firstCell.begin(), firstCell.end(), indices.begin()));
    EXPECT_EQ(*std::max_element(indices.begin(), indices.end()),
              static_cast<uint32_t>(CanvasFrame::vertexCount - 1));
}

TEST(BlobCanvasModel, TheMeshSpansTheCanvasAndTheMapShowsWhereTheSoundIsLoud) {
    const auto even = frameOf(evenBlob());
    ASSERT_TRUE(even->hasBlob);
    ASSERT_TRUE(allFinite(*even));
    // Outer nodes lie just outside the -1..1 square, inner ones inside.
    const auto vertex = [](const CanvasFrame& f, int i, int k, int c) {
        return f
            .vertices[static_cast<size_t>((k + CanvasFrame::columns * i) * CanvasFrame::vertexFloats + c)];
    };
    EXPECT_NEAR(vertex(*even, 0, 0, 0), -1.002f, 1e-5f);
    EXPECT_NEAR(vertex(*even, 0, 0, 1), -1.002f, 1e-5f);
    EXPECT_NEAR(vertex(*even, 40, 48, 0), 1.002f, 1e-5f);
    EXPECT_NEAR(vertex(*even, 40, 48, 1), 1.002f, 1e-5f);
    EXPECT_NEAR(vertex(*even, 20, 24, 0), 0.0f, 1e-4f);
    EXPECT_NEAR(vertex(*even, 20, 24, 1), 0.0f, 1e-4f);
    // Map coordinates address the texel centre of each node.
    EXPECT_FLOAT_EQ(vertex(*even, 3, 5, 2), 5.5f / 64.0f);
    EXPECT_FLOAT_EQ(vertex(*even, 3, 5, 3), 3.5f / 64.0f);
    // The even mesh is one flat wash: no slope inside.
    EXPECT_GT(texel(*even, 24, 20, 0), 0.3f);
    EXPECT_NEAR(texel(*even, 24, 20, 0), texel(*even, 10, 30, 0), 1e-3f);
    EXPECT_NEAR(texel(*even, 24, 20, 1), 0.0f, 1e-3f);

    const auto gathered = frameOf(gatheredBlob());
    ASSERT_TRUE(allFinite(*gathered));
    // The middle node now sits in a bright hill, the corners in a dim plain.
    EXPECT_GT(texel(*gathered, 24, 20, 0), 2.0f * texel(*gathered, 6, 6, 0));
    // The hill's band gradient rises on its left flank and falls on its right one.
    EXPECT_GT(texel(*gathered, 18, 20, 1), 0.0f);
    EXPECT_LT(texel(*gathered, 30, 20, 1), 0.0f);
}

TEST(BlobCanvasModel, DegenerateMeshesGiveFiniteMapsAndNoFalseBrightness) {
    struct Case {
        const char* what;
        void (*shape)(Blob&);
    };
    const Case cases[] = {
        // Every inner knot stacked on one value: zero spans everywhere.
        {"collapsed",
         [](Blob& b) {
             for (auto& v : b.timeWarps) std::fill(v.begin() + 1, v.end() - 1, 48.0f);
             for (auto& v : b.freqWarps) std::fill(v.begin() + 1, v.end() - 1, 40.0f);
         }},
        // Lists running backwards: negative spans.
        {"folded",
         [](Blob& b) {
             for (auto& v : b.freqWarps) std::reverse(v.begin() + 1, v.end() - 1);
         }},
        // The even mesh is quieter than full contrast lets through: every amplitude becomes 0.
        {"silenced by contrast", [](Blob& b) { b.clear(); }},
    };
    for (const Case& c : cases) {
        Blob blob;
        c.shape(blob);
        const auto frame = frameOf(blob, {0.3f, -0.2f, 1.0f, -0.5f});
        EXPECT_TRUE(allFinite(*frame)) << c.what;
        if (std::string(c.what) == "silenced by contrast") {
            EXPECT_LT(texel(*frame, 24, 20, 0), 1e-6f) << c.what;
        }
    }
}

TEST(BlobCanvasModel, PlayheadsSwellTheRowsOnlyWithASwellValue) {
    const Blob blob = gatheredBlob();
    const CanvasPlayhead heads[] = {{0.5f, 1.0f}};
    for (const float swell : {0.0f, 0.1f}) {
        CanvasStyle style;
        style.playSwell = swell;
        BlobCanvasModel still;
        BlobCanvasModel playing;
        auto stillFrame = std::make_unique<CanvasFrame>();
        auto playingFrame = std::make_unique<CanvasFrame>();
        for (BlobCanvasModel* model : {&still, &playing}) {
            model->setSource(&blob, nullptr, 0, 0.0);
            model->setMix(0.0f, 0.0);
        }
        for (int frame = 0; frame < 5; ++frame) {
            still.build(frame / 60.0, {}, {}, style, *stillFrame);
            EXPECT_TRUE(playing.build(frame / 60.0, {}, heads, style, *playingFrame));
        }
        float largest = 0.0f;
        for (size_t v = 0; v < stillFrame->vertices.size(); ++v)
            largest = std::max(largest, std::abs(stillFrame->vertices[v] - playingFrame->vertices[v]));
        if (swell == 0.0f) {
            EXPECT_EQ(largest, 0.0f);
        } else {
            EXPECT_GT(largest, 0.01f);
        }
        // Once the voices stop the swell dies away and the canvas stops asking for frames.
        bool redraw = true;
        for (int frame = 5; frame < 200 && redraw; ++frame)
            redraw = playing.build(frame / 60.0, {}, {}, style, *playingFrame);
        EXPECT_FALSE(redraw);
    }
}

TEST(BlobCanvasModel, TheShownBlobEasesTowardsANewTrackWithinTheAnimationTime) {
    const Blob first = evenBlob();
    const Blob second = gatheredBlob();
    BlobCanvasModel model;
    auto frame = std::make_unique<CanvasFrame>();
    model.setSource(&first, nullptr, 0, 0.0);
    model.setMix(0.0f, 0.0);
    model.build(0.0, {}, {}, CanvasStyle{}, *frame);
    model.build(0.02, {}, {}, CanvasStyle{}, *frame);
    EXPECT_FALSE(model.animating());

    model.setSource(&second, nullptr, 1, 0.03);
    const float gap = std::abs(second.timeWarps[3][15] - first.timeWarps[3][15]);
    ASSERT_GT(gap, 1.0f);
    model.build(0.05, {}, {}, CanvasStyle{}, *frame);
    const float partway = std::abs(model.shown().timeWarps[3][15] - second.timeWarps[3][15]);
    EXPECT_GT(partway, 0.1f * gap);
    EXPECT_LT(partway, 0.9f * gap);
    // At 60 frames per second the shown Blob arrives when the 0.12 s are over.
    for (double now = 0.05 + 1.0 / 60.0; now < 0.25; now += 1.0 / 60.0)
        model.build(now, {}, {}, CanvasStyle{}, *frame);
    EXPECT_FALSE(model.animating());
    EXPECT_EQ(model.shown().timeWarps, second.timeWarps);
}

TEST(BlobCanvasModel, TheTargetMixesTheSlotsKnotByKnot) {
    Blob a = evenBlob();
    Blob b = gatheredBlob();
    BlobCanvasModel model;
    auto frame = std::make_unique<CanvasFrame>();
    model.setSource(&a, &b, 0, 0.0);
    model.setMix(0.25f, 0.0);
    model.build(0.0, {}, {}, CanvasStyle{}, *frame);
    EXPECT_FLOAT_EQ(model.target().timeWarps[3][15], 0.75f * a.timeWarps[3][15] + 0.25f * b.timeWarps[3][15]);
    // Nothing to show: "<off>", no mesh.
    model.setMix(-1.0f, 0.1);
    EXPECT_FALSE(model.build(0.1, {}, {}, CanvasStyle{}, *frame));
    EXPECT_FALSE(frame->hasBlob);
}

TEST(BlobCanvasModel, ShownMixAndViewParametersFollowTheSlotsAndTheSoundParameters) {
    struct MixCase {
        bool a, b;
        float transform, mix;
    };
    const MixCase mixes[] = {{false, false, 0.3f, -1.0f}, {true, false, 0.7f, 0.0f},
                             {false, true, 0.2f, 1.0f},   {true, true, 0.3f, 0.3f},
                             {true, true, 1.5f, 1.0f},    {true, true, NAN, 0.0f}};
    for (const MixCase& c : mixes)
        EXPECT_FLOAT_EQ(shownMix(c.a, c.b, c.transform), c.mix) << c.a << c.b << c.transform;

    const CanvasViewParams middle = canvasViewParams(0.5f, 0.5f, 0.5f, 0.5f);
    EXPECT_FLOAT_EQ(middle.warpX, 0.0f);
    EXPECT_FLOAT_EQ(middle.contrast, 0.0f);
    const CanvasViewParams top = canvasViewParams(1.0f, 0.0f, 1.0f, 0.0f);
    EXPECT_FLOAT_EQ(top.warpX, 0.5f / 0.9f);
    EXPECT_FLOAT_EQ(top.warpY, -0.5f / 0.9f);
    EXPECT_FLOAT_EQ(top.contrast, 1.0f);
    EXPECT_FLOAT_EQ(top.density, -1.0f);
}

TEST(BlobCanvasModel, TheMapCarriesTheTrackColoursForShaders) {
    const Blob blob = evenBlob();
    BlobCanvasModel model;
    model.setSource(&blob, nullptr, 0, 0.0);
    model.setMix(0.0f, 0.0);
    CanvasStyle style;
    style.trackColours[2] = {0.8f, 0.4f, 0.5f};
    auto frame = std::make_unique<CanvasFrame>();
    model.build(0.0, {}, {}, style, *frame);
    EXPECT_FLOAT_EQ(texel(*frame, 63, 2, 0), 0.8f);
    EXPECT_FLOAT_EQ(texel(*frame, 63, 2, 1), 0.4f);
    EXPECT_FLOAT_EQ(texel(*frame, 63, 2, 2), 0.5f);
}

TEST(BlobCanvasModel, CopyThenPasteGivesTheSameBytes) {
    Blob a = gatheredBlob();
    BlobCanvasModel model;
    auto frame = std::make_unique<CanvasFrame>();
    model.setSource(&a, nullptr, 0, 0.0);
    model.setMix(0.0f, 0.0);
    model.build(0.0, {}, {}, CanvasStyle{}, *frame);
    std::vector<uint8_t> copied(Blob::byteSize);
    ASSERT_EQ(model.target().serialize(copied), Blob::byteSize);
    Blob pasted;
    ASSERT_EQ(pasted.deserialize(copied), Blob::byteSize);
    std::vector<uint8_t> again(Blob::byteSize);
    pasted.serialize(again);
    EXPECT_EQ(again, copied);
}

TEST(BlobCanvasModel, TheDomePictureIsALitVaultWithoutAlpha) {
    const std::vector<float> dome = generateDomePicture(64);
    ASSERT_EQ(dome.size(), 64u * 64u * 4u);
    float lowest = 1.0f, highest = 0.0f;
    for (size_t i = 0; i < dome.size(); ++i) {
        if (i % 4 == 3) {
            EXPECT_EQ(dome[i], 0.0f);
            continue;
        }
        lowest = std::min(lowest, dome[i]);
        highest = std::max(highest, dome[i]);
    }
    EXPECT_GE(lowest, 0.0f);
    EXPECT_LE(highest, 1.0f);
    EXPECT_GT(highest - lowest, 0.5f);
    // Brighter at the crown than on the floor.
    EXPECT_GT(dome[(5 * 64 + 32) * 4], dome[(60 * 64 + 32) * 4]);
}

} // namespace
} // namespace tarvo
