#include "editor/HelpTable.h"

#include "TarvoEditorData.h"

namespace tarvo {

std::map<juce::String, juce::String> parseHelpText(const juce::String& text) {
    std::map<juce::String, juce::String> table;
    for (const juce::String& line : juce::StringArray::fromLines(text)) {
        const int bar = line.indexOfChar('|');
        if (bar <= 0 || line.indexOfChar(bar + 1, '|') >= 0) continue;
        table[line.substring(0, bar)] = line.substring(bar + 1);
    }
    return table;
}

const std::map<juce::String, juce::String>& helpTable() {
    static const std::map<juce::String, juce::String> table = parseHelpText(
        juce::String::fromUTF8(TarvoEditorData::helpStrings_txt, TarvoEditorData::helpStrings_txtSize));
    return table;
}

const juce::String* helpTextOf(const juce::String& name) {
    const auto& table = helpTable();
    const auto found = table.find(name);
    return found != table.end() ? &found->second : nullptr;
}

} // namespace tarvo
