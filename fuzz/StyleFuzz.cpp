// Style text (theme files in the theme folder) and theme file names, read from hostile data.
// Input: the first byte picks the part; the rest is the text or the name.
// Checks: parsing never fails and gives the same tables for the same text, whatever was
// loaded before (a theme always lays over the built-in look); the text ends at its first zero
// byte; numbers are finite; a theme name gives either no path or a file directly inside the
// theme folder.

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/FuzzInput.h"
#include "instrument/StyleOwner.h"
#include "persistence/Folders.h"

using tarvo::StyleOwner;

namespace {

bool sameTables(const StyleOwner& a, const StyleOwner& b) {
    return a.colours() == b.colours() && a.values() == b.values();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Reading touches no files; keep any that might be touched out of the user's.
    tarvo::fuzz::useFuzzHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    if (data[0] % 2 == 1) {
        const std::filesystem::path path = StyleOwner::themeFilePath(std::string(text));
        if (path.empty()) return 0;
        TARVO_FUZZ_CHECK(path.parent_path() == tarvo::folderPath(tarvo::Folder::Themes));
        const std::string name = path.filename().string();
        TARVO_FUZZ_CHECK(name == text && name != "." && name != "..");
        return 0;
    }

    static StyleOwner reused;
    reused.loadBuiltIn();
    reused.parseStyleText(text, false);
    StyleOwner fresh;
    fresh.loadBuiltIn();
    fresh.parseStyleText(text, false);
    TARVO_FUZZ_CHECK(sameTables(reused, fresh));
    for (const auto& [name, value] : fresh.values()) TARVO_FUZZ_CHECK(std::isfinite(value));

    const size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        StyleOwner cut;
        cut.loadBuiltIn();
        cut.parseStyleText(text.substr(0, zero), false);
        TARVO_FUZZ_CHECK(sameTables(cut, fresh));
    }

    // Single values: whatever the text, a colour and a finite number.
    (void)StyleOwner::parseColour(text);
    TARVO_FUZZ_CHECK(std::isfinite(StyleOwner::parseNumber(text)));
    return 0;
}
