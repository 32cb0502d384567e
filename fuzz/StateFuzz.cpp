// A state chunk (host project state, ".tarvo" preset file) read from hostile data.
// Input: the chunk.
// Checks, every input: the check a load starts with refuses with a status text, or accepts no
// more bytes than it was given; it changes nothing.
// On a sample of accepted inputs, the whole load into an instance reset to a new one's state:
// it agrees with the check, and the state it leaves saves, loads again and saves to the same
// bytes. A refused load leaves the state exactly as it was.
// One instrument serves every input; a load in between is undone by loading a new
// instance's chunk (tests/instrument checks that this makes it behave as a new one).

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"

using tarvo::Ombrix;

namespace {

// Accepted inputs that also get the whole load, save and reload.
constexpr uint32_t fullLoadOneIn = 4096;

struct Instance {
    Ombrix plugin;
    std::vector<uint8_t> fresh = tarvo::saveState(plugin);

    void resetToFresh() {
        TARVO_FUZZ_CHECK(tarvo::readState(plugin, fresh.data(), static_cast<int>(fresh.size())) ==
                         static_cast<int>(fresh.size()));
        TARVO_FUZZ_CHECK(tarvo::saveState(plugin) == fresh);
    }
};

Instance& instance() {
    static Instance* shared = new Instance;
    return *shared;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Reading touches no files; keep any that might be touched out of the user's.
    tarvo::fuzz::useFuzzHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Instance& it = instance();
    Ombrix& plugin = it.plugin;
    std::string why;
    const int checked = tarvo::checkState(plugin, data, static_cast<int>(size), &why);
    if (checked == 0) {
        TARVO_FUZZ_CHECK(!why.empty());
    } else {
        TARVO_FUZZ_CHECK(checked > 0 && static_cast<size_t>(checked) <= size);
        TARVO_FUZZ_CHECK(why.empty());
    }
    if (checked == 0 || !tarvo::fuzz::inSample(data, size, fullLoadOneIn)) return 0;

    const int used = tarvo::readState(plugin, data, static_cast<int>(size));
    TARVO_FUZZ_CHECK(used == checked);
    const std::vector<uint8_t> once = tarvo::saveState(plugin);
    it.resetToFresh();
    TARVO_FUZZ_CHECK(tarvo::readState(plugin, once.data(), static_cast<int>(once.size())) ==
                     static_cast<int>(once.size()));
    TARVO_FUZZ_CHECK(tarvo::saveState(plugin) == once);

    // A refusal after an accepted load keeps that load's state and says why.
    const std::vector<uint8_t> cut(once.begin(), once.begin() + static_cast<long>(once.size() / 2));
    TARVO_FUZZ_CHECK(tarvo::readState(plugin, cut.data(), static_cast<int>(cut.size())) == 0);
    TARVO_FUZZ_CHECK(!plugin.statusText.empty());
    TARVO_FUZZ_CHECK(tarvo::saveState(plugin) == once);
    it.resetToFresh();
    return 0;
}
