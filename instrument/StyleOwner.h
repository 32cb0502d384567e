#pragma once
// The style tables the editor draws with: colours, numbers and variables read from plain style
// text. The instrument owns them, so a chosen look survives closing and reopening the editor.
//
// Style text: one "key: value" pair per line (lines end at LF, CR or NUL; the first NUL ends
// the text). Leading spaces and line breaks are skipped, "#" starts a comment, runs of ":"
// count as one separator and fields past the second are ignored; key and value are trimmed
// of spaces. A value naming an already defined "var_" variable is replaced by its text. Keys
// "color_<name>" set colours, "value_<name>" numbers and "var_<name>" variables; any other
// key is ignored and later lines win.
//
// Numbers are an optional "-", digits and an optional "." with more digits; anything after
// them is ignored, and a number too large for a float reads as the largest one.
//
// Colours are written "#rgb", "#rgba", "#rrggbb" or "#rrggbbaa". Any other length after "#"
// gives opaque black, a value not starting with "#" opaque red: both stand out on screen
// without stopping the rest of the text from loading.
//
// A theme is a style text file in the theme folder. Loading one always starts from the
// built-in style text and lays the theme over it, so a theme naming a few keys changes those
// and leaves the rest of the look intact, whatever was loaded before.
//
// Threads: user-interface thread only. Lookups never allocate (they are called while painting);
// parsing and loading allocate, and loading reads files.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace tarvo {

class Settings;

// A colour as the style text gives it: opacity (255 opaque), red, green, blue.
struct ArgbColour {
    uint8_t a = 255, r = 0, g = 0, b = 0;
    friend bool operator==(const ArgbColour&, const ArgbColour&) = default;
};

class StyleOwner {
public:
    // Drawn for a colour no style text names: a neutral grey that never hides a control.
    static constexpr ArgbColour missingColour{255, 150, 150, 150};
    static constexpr ArgbColour transparent{0, 0, 0, 0};
    // Theme menu entries that recolour the running instance instead of naming a file.
    static constexpr const char* invertEntry = "Invert Colors";
    static constexpr const char* randomizeEntry = "Randomize Colors";
    // The variable naming the Blob canvas's fragment shader file in the theme folder.
    static constexpr const char* shaderVariable = "var_shader";

    // The built-in style text, compiled into the core.
    static std::string_view builtInText();

    // Parses style text on top of the tables; with clearFirst the colour and number tables are
    // emptied first (variables stay).
    void parseStyleText(const char* text, size_t length, bool clearFirst);
    void parseStyleText(std::string_view text, bool clearFirst) {
        parseStyleText(text.data(), text.size(), clearFirst);
    }
    // Empties all three tables, then parses the built-in text.
    void loadBuiltIn();

    // Loads a theme file (a plain file name in the theme folder): the built-in text, then the
    // file's text over it. A file that is empty, missing or unreadable, and a name that is
    // empty or not a plain file name, leave the built-in look. When the file loaded, its name
    // is stored under "ui_theme" in settings (only if it differs, so merely opening the editor
    // writes nothing). Returns whether the file loaded.
    bool loadTheme(const std::string& fileName, Settings* settings);

    // Menu recolourings of the running instance: nothing is written, the next theme load
    // replaces them. Inverting keeps opacity; randomizing draws from the C library's rand.
    void invertColours();
    void randomizeColours();

    // Lookups by name without the "color_" or "value_" prefix.
    ArgbColour colorOf(std::string_view name) const { return colorOr(name, missingColour); }
    ArgbColour colorOr(std::string_view name, ArgbColour fallback) const;
    float valueOf(std::string_view name) const { return valueOr(name, 0.0f); }
    float valueOr(std::string_view name, float fallback) const;
    // A variable by its whole key ("var_shader"), or null.
    const std::string* variable(std::string_view key) const;

    // Counts every change of the tables, so the editor can tell when to redraw.
    uint32_t revision() const { return revision_; }

    const std::map<std::string, ArgbColour, std::less<>>& colours() const { return colours_; }
    const std::map<std::string, float, std::less<>>& values() const { return values_; }

    // The parsing rules of single values, for tests and other readers of style text.
    static ArgbColour parseColour(std::string_view text);
    static float parseNumber(std::string_view text);
    // The path of a file named in the theme folder, or an empty path when the name is empty,
    // absolute, holds a folder separator or climbs out of the folder.
    static std::filesystem::path themeFilePath(const std::string& fileName);

private:
    void parseLine(std::string_view line);

    std::map<std::string, ArgbColour, std::less<>> colours_;
    std::map<std::string, float, std::less<>> values_;
    std::map<std::string, std::string, std::less<>> variables_;
    uint32_t revision_ = 0;
};

// Colour helpers; every channel is rounded to nearest and kept within 0..255.
ArgbColour scaledAlpha(ArgbColour c, float factor);
ArgbColour scaledRgb(ArgbColour c, float factor);
ArgbColour brightened(ArgbColour c, int amount);
// Composites top over base.
ArgbColour blendOver(ArgbColour base, ArgbColour top);

} // namespace tarvo
