#pragma once
// The parts of the factory content generator: the sound library and the presets.
// Build-time tool; allocates freely.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Blob.h"
#include "persistence/Folders.h"
#include "tools/factory/DrumSynth.h"

namespace tarvo::factory {

// One file of the content, before it is embedded.
struct GeneratedFile {
    Folder folder;
    std::string path; // relative to the folder, "/"-separated
    std::vector<uint8_t> bytes;
};

// One analysed factory sound.
struct FactorySound {
    const DrumRecipe* recipe;
    std::string path; // "Factory/<Category>/<name>.blob", relative to the sounds folder
    Blob blob;
};

// Renders every factory recipe and analyses it into a Blob.
std::vector<FactorySound> buildFactorySounds();

// Builds the factory presets from the factory sounds, which must already be stored below the
// sounds folder; each is stored below the presets folder, played once to check its level
// (printed), and returned. Throws std::runtime_error when a preset cannot be built, stored or
// loaded, or is silent or too loud.
std::vector<GeneratedFile> buildFactoryPresets();

} // namespace tarvo::factory
