#pragma once
// The factory sounds and presets compiled into the plug-in and the tool. The data is
// generated at build time by tarvo_factory_gen (the drum synthesizer, the analyser and the
// preset builder); install it with installFactoryContent(factoryContent()).

#include "persistence/FactoryInstall.h"

namespace tarvo {

// Constant data; any thread.
const FactoryContent& factoryContent();

} // namespace tarvo
