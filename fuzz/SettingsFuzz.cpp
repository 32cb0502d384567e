// The user settings file, read from hostile text, and written from any pairs.
// Input: the file text. The same bytes, cut at zero bytes, also give pairs to write (key,
// value, key, value, ...).
// Checks: what a file reads to writes back to a file that reads to the same pairs and the
// same text; written pairs read back as they were, and a pair the file cannot hold never
// disturbs the others.

#include <map>
#include <string>

#include "fuzz/FuzzInput.h"
#include "persistence/Settings.h"

using tarvo::Settings;
using Pairs = std::map<std::string, std::string>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const Pairs read = Settings::parse(text);
    const std::string written = Settings::format(read);
    const Pairs reread = Settings::parse(written);
    TARVO_FUZZ_CHECK(reread == read);
    TARVO_FUZZ_CHECK(Settings::format(reread) == written);

    Pairs pairs;
    size_t start = 0;
    std::string key;
    bool haveKey = false;
    while (start <= text.size()) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        std::string field = text.substr(start, end - start);
        if (haveKey)
            pairs[key] = std::move(field);
        else
            key = std::move(field);
        haveKey = !haveKey;
        start = end + 1;
    }
    const Pairs back = Settings::parse(Settings::format(pairs));
    for (const auto& [k, v] : back) {
        const auto found = pairs.find(k);
        TARVO_FUZZ_CHECK(found != pairs.end() && found->second == v);
    }
    for (const auto& [k, v] : pairs)
        if (Settings::storable(k) && Settings::storable(v)) TARVO_FUZZ_CHECK(back.count(k) == 1);
    return 0;
}
