#pragma once
// The user settings: a few text pairs (the theme file, the editor size) kept in
// "userSettings.dat" in the data folder.
//
// The file is plain text: a key line, then its value line, each ended by a line feed, in key
// order. Reading pairs the lines up in order; a last unpaired line is ignored and a later
// duplicate key wins. Carriage returns at the end of a line (a file edited on Windows) are
// dropped. A key or value with a line feed, or ending in a carriage return, cannot be stored:
// its lines would pair up wrongly and shift every later pair, so it is never written.
//
// Threads: user-interface thread only; every operation allocates and may touch the disk.

#include <filesystem>
#include <map>
#include <string>

namespace tarvo {

class Settings {
public:
    static constexpr const char* fileName = "userSettings.dat";
    static constexpr const char* themeKey = "ui_theme";
    static constexpr const char* sizeKey = "ui_size_percent";
    // The theme a new settings file names.
    static constexpr const char* defaultTheme = "Default.txt";

    // The path of the settings file.
    static std::filesystem::path filePath();

    // Creates the file with the default theme when it does not exist, then reads it into
    // `values`. Returns false when the file could neither be created nor read.
    bool load();
    // Stores the pair and rewrites the file. Returns false, changing nothing, when the pair
    // cannot be stored (see `storable`), or when the file could not be written.
    bool set(const std::string& key, const std::string& value);
    // The value of key, or fallback when it has none.
    std::string get(const std::string& key, const std::string& fallback = {}) const;

    std::map<std::string, std::string> values;

    // Whether a key or value can be stored: no line feed, no carriage return at its end.
    static bool storable(const std::string& text);
    // The file text of a set of pairs (leaving out pairs that cannot be stored), and the
    // pairs of a file text.
    static std::string format(const std::map<std::string, std::string>& pairs);
    static std::map<std::string, std::string> parse(const std::string& text);

private:
    bool save() const;
};

} // namespace tarvo
