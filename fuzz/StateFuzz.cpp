// A state chunk (host project state, ".tarvo" preset file) read from hostile data.
// Input: the chunk.
// Checks: a refused chunk changes nothing and says why; an accepted one consumes no more than
// it was given, and the state it leaves saves, loads into a new instance and saves again to
// the same bytes.

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"

using tarvo::Ombrix;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Reading a chunk touches no files; keep any that might be touched out of the user's.
    const auto home = std::filesystem::temp_directory_path() / "tarvo-fuzz-home";
    setenv("TARVO_HOME", home.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto plugin = std::make_unique<Ombrix>();
    const std::vector<uint8_t> before = tarvo::saveState(*plugin);
    const int used = tarvo::readState(*plugin, data, static_cast<int>(size));
    if (used == 0) {
        TARVO_FUZZ_CHECK(!plugin->statusText.empty());
        TARVO_FUZZ_CHECK(tarvo::saveState(*plugin) == before);
        return 0;
    }
    TARVO_FUZZ_CHECK(used > 0 && static_cast<size_t>(used) <= size);

    const std::vector<uint8_t> once = tarvo::saveState(*plugin);
    const auto again = std::make_unique<Ombrix>();
    TARVO_FUZZ_CHECK(tarvo::readState(*again, once.data(), static_cast<int>(once.size())) ==
                     static_cast<int>(once.size()));
    TARVO_FUZZ_CHECK(tarvo::saveState(*again) == once);
    return 0;
}
