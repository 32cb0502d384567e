#include "engine/VelocityModels.h"

#include <cstddef>

#include "engine/VelocityModelTable.h"

namespace tarvo {

namespace {

constexpr VelocityModel modelFromTable(const char* name, int m) {
    VelocityModel model{name, {}};
    for (size_t l = 0; l < VelocityModel::layerCount; ++l)
        for (size_t i = 0; i < VelocityModel::layerSize; ++i)
            model.layers[l][i] = velocity_data::table[m][l][i];
    return model;
}

constexpr std::array<VelocityModel, velocityModelCount> models = {
    modelFromTable("Kick", 0),         modelFromTable("Snare", 1),      modelFromTable("Tom", 2),
    modelFromTable("Hihat Closed", 3), modelFromTable("Hihat Open", 4), modelFromTable("Crash", 5),
    modelFromTable("Piano", 6),
};

} // namespace

const VelocityModel& velocityModel(int m) {
    return models[static_cast<size_t>(m)];
}

} // namespace tarvo
