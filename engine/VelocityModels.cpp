#include "engine/VelocityModels.h"

#include <cstddef>

namespace tarvo {

namespace {

// A layer that changes nothing: unit band gains, a time remap that reads the plane position
// itself (point j at 96 / 20 j frames) and zero frequency offsets.
constexpr VelocityModel::Layer neutralLayer() {
    VelocityModel::Layer layer{};
    for (int i = 0; i < VelocityModel::bandGainPoints; ++i) layer[i] = 1.0f;
    constexpr float framesPerPoint = 96.0f / VelocityModel::timeRemapPoints;
    for (int row = 0; row < 7; ++row)
        for (int j = 0; j < VelocityModel::timeRemapPoints; ++j)
            layer[VelocityModel::timeRemapStart + VelocityModel::timeRemapPoints * row + j] =
                framesPerPoint * static_cast<float>(j);
    return layer;
}

constexpr VelocityModel neutralModel(const char* name) {
    VelocityModel model{name, {}};
    for (auto& layer : model.layers) layer = neutralLayer();
    return model;
}

constexpr std::array<VelocityModel, velocityModelCount> models = {
    neutralModel("Kick"),       neutralModel("Snare"), neutralModel("Tom"),   neutralModel("Hihat Closed"),
    neutralModel("Hihat Open"), neutralModel("Crash"), neutralModel("Piano"),
};

} // namespace

const VelocityModel& velocityModel(int m) {
    return models[static_cast<size_t>(m)];
}

} // namespace tarvo
