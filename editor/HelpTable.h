#pragma once
// The help table: for every help name a widget can carry, the sentence the help box shows.
// Built once from the embedded "helpStrings.txt" (lines of name "|" text).

#include <juce_core/juce_core.h>

#include <map>

namespace tarvo {

// The whole table, by help name.
const std::map<juce::String, juce::String>& helpTable();
// The text of a help name, or null when the table has none.
const juce::String* helpTextOf(const juce::String& name);
// Parses help text lines; lines without exactly one "|" are skipped.
std::map<juce::String, juce::String> parseHelpText(const juce::String& text);

} // namespace tarvo
