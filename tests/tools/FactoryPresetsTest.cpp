#include <gtest/gtest.h>

#include <memory>

#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"
#include "support/LfoStartShape.h"
#include "tools/factory/FactoryContent.h"

namespace tarvo {
namespace {

// Every factory preset stores the start shape its builder's instance drew for the LFOs, and
// hands it back inside the curve when loaded.
TEST(FactoryPresets, LfoShapesRiseAndFallInsideTheCurve) {
    int presets = 0;
    for (const FactoryFile& file : factoryContent().files) {
        if (file.folder != Folder::Presets) continue;
        SCOPED_TRACE(file.path);
        ++presets;
        auto plugin = std::make_unique<Ombrix>();
        ASSERT_GT(readState(*plugin, file.data, static_cast<int>(file.size)), 0) << plugin->statusText;
        for (const Curve& curve : plugin->engine.modSystem.lfoCurves)
            EXPECT_EQ(test::lfoStartShapeFault(curve), "");
    }
    EXPECT_GT(presets, 0);
}

} // namespace
} // namespace tarvo
