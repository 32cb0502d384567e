// Style text (theme files in the theme folder) and theme file names, read from hostile data.
// Input: the first byte picks the part; the rest is the text or the name.
// Checks: parsing never fails; the text ends at its first zero byte; numbers are finite; a
// theme name gives either no path or a file directly inside the theme folder. On a sample of
// texts: loading the built-in look and the text into tables that hold an earlier text's
// result gives the same tables as on a fresh copy of the built-in look (a theme always lays
// over the built-in look, whatever was loaded before).

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

// Inputs whose text is also parsed into tables holding what an earlier input left.
constexpr uint32_t reusedOneIn = 16;

bool sameTables(const StyleOwner& a, const StyleOwner& b) {
    return a.colours() == b.colours() && a.values() == b.values();
}

// The built-in look, parsed once; copying it is what starting from it costs per input.
const StyleOwner& builtIn() {
    static const StyleOwner look = [] {
        StyleOwner s;
        s.loadBuiltIn();
        return s;
    }();
    return look;
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

    // Kept between inputs so that copying the built-in look reuses their table nodes.
    static StyleOwner fresh;
    static StyleOwner cut;
    static StyleOwner reused;
    fresh = builtIn();
    fresh.parseStyleText(text, false);
    for (const auto& [name, value] : fresh.values()) TARVO_FUZZ_CHECK(std::isfinite(value));

    const size_t zero = text.find('\0');
    if (zero != std::string_view::npos) {
        cut = builtIn();
        cut.parseStyleText(text.substr(0, zero), false);
        TARVO_FUZZ_CHECK(sameTables(cut, fresh));
    }

    // Loading the built-in look forgets everything an earlier text set.
    if (tarvo::fuzz::inSample(data, size, reusedOneIn)) {
        reused.loadBuiltIn();
        reused.parseStyleText(text, false);
        TARVO_FUZZ_CHECK(sameTables(reused, fresh));
    }

    // Single values: whatever the text, a colour and a finite number.
    (void)StyleOwner::parseColour(text);
    TARVO_FUZZ_CHECK(std::isfinite(StyleOwner::parseNumber(text)));
    return 0;
}
