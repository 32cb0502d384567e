#include "analysis/AudioAnalysis.h"
#include "tools/factory/FactoryGen.h"

namespace tarvo::factory {

std::vector<FactorySound> buildFactorySounds() {
    std::vector<FactorySound> sounds;
    for (const DrumRecipe& recipe : factoryDrumRecipes()) {
        FactorySound sound{&recipe,
                           std::string("Factory/") + drumCategoryFolder(categoryOfKind(recipe.kind)) + "/" +
                               recipe.name + ".blob",
                           Blob()};
        sound.blob.clear();
        analyzeAudio(sound.blob, renderDrumHit(recipe), drumSampleRate);
        sound.blob.name = recipe.name;
        sounds.push_back(std::move(sound));
    }
    return sounds;
}

} // namespace tarvo::factory
