#pragma once
// Where everything sits in the editor window, in logical pixels (792 × 602 at 100 %). The
// editor builds its widgets from these figures and nothing else places a widget.

#include <juce_graphics/juce_graphics.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace tarvo::layout {

constexpr int width = 792, height = 602;
constexpr int trackCount = 8;

// The user's window sizes, in percent; other stored values fall back to 100.
constexpr int minimumPercent = 10, maximumPercent = 1000, defaultPercent = 100;
constexpr std::array<int, 5> resizeChoices{100, 125, 150, 175, 200};

// Corners (left, top, right, bottom).
inline juce::Rectangle<int> edges(int l, int t, int r, int b) {
    return juce::Rectangle<int>::leftTopRightBottom(l, t, r, b);
}
// Corner and size.
inline juce::Rectangle<int> box(int x, int y, int w, int h) {
    return {x, y, w, h};
}

// ---- Always visible ----------------------------------------------------------------------
inline const auto topBar = edges(0, 0, 792, 40);
inline const auto bottomBar = edges(0, 538, 792, 602);
inline const auto logo = edges(0, 0, 100, 40);
inline const auto trackLabelBackground = edges(0, 40, 136, 74);
// View tabs: from x 172, 36 high at y 2, each as wide as its text plus 16, 12 apart.
constexpr int tabStartX = 172, tabY = 2, tabHeight = 36, tabPadding = 16, tabGap = 12;
constexpr float tabTextSize = 17.0f;
inline const auto presetBrowser = box(596, 8, 160, 24);
inline const auto dice = box(760, 8, 24, 24);
inline const auto tracksBackground = edges(0, 40, 136, 538);
inline const auto tracksTitleBackground = edges(0, 40, 136, 72);
inline const auto tracksTitle = box(4, 44, 80, 28);
inline const auto bottomKnobs = edges(232, 538, 560, 602);
inline juce::Rectangle<int> macroKnob(int k) {
    return box(236 + 64 * k, 543, 64, 54);
}
inline const auto mainMeter = edges(586, 584, 782, 594);
inline const auto bpmNumber = edges(612, 548, 668, 580);
inline const auto bpmLabel = edges(668, 548, 724, 580);
inline const auto hostSync = edges(724, 548, 756, 580);
inline const auto play = edges(756, 548, 788, 580);
inline const auto helpBox = edges(4, 542, 228, 598);
inline const auto styleHelp = edges(692, 0, 792, 16);
inline const auto whole = edges(0, 0, 792, 602);

// Track rows: track 8 on top, track 1 at the bottom.
inline int trackRowTop(int track) {
    return 74 + 58 * (trackCount - 1 - track);
}
inline juce::Rectangle<int> trackStrip(int track) {
    return edges(0, trackRowTop(track), 136, trackRowTop(track) + 56);
}
inline juce::Rectangle<int> muteButton(int track) {
    return edges(4, trackRowTop(track) + 4, 26, trackRowTop(track) + 26);
}
inline juce::Rectangle<int> soloButton(int track) {
    return edges(4, trackRowTop(track) + 30, 26, trackRowTop(track) + 52);
}
inline juce::Rectangle<int> waveButton(int track) {
    return edges(30, trackRowTop(track) + 4, 90, trackRowTop(track) + 52);
}

// ---- Sound view ---------------------------------------------------------------------------
inline const auto soundColumn = edges(644, 40, 792, 538);
inline const auto blobEditor = edges(136, 40, 644, 538);
inline const auto blobCanvas = edges(180, 76, 612, 506);
inline const auto blobSelectorA = box(142, 45, 156, 24);
inline const auto blobSelectorB = box(482, 45, 156, 24);
inline const auto transformFader = edges(300, 47, 480, 67);
inline juce::Rectangle<int> toolButton(int k) {
    return box(142, 76 + 34 * k, 32, 32);
}
inline const auto mirrorX = box(142, 190, 32, 32);
inline const auto mirrorY = box(142, 224, 32, 32);
inline const auto undo = box(142, 270, 32, 32);
inline const auto redo = box(142, 304, 32, 32);
// The sound column flows down from y 44: dividers, group titles and one row per knob.
constexpr int soundColumnTop = 44;
constexpr int soundDividerStep = 4, soundTitleStep = 22, soundKnobStep = 26;
inline juce::Rectangle<int> soundDivider(int y) {
    return edges(644, y, 792, y + 1);
}
inline juce::Rectangle<int> soundTitle(int y) {
    return box(650, y, 132, 16);
}
inline juce::Rectangle<int> soundKnob(int y) {
    return box(652, y, 132, 22);
}
// The velocity curve fills what is left, up to 132 high, 6 above the bottom bar.
inline juce::Rectangle<int> velocityCurve(int y) {
    return box(652, y, 132, std::min(538 - y - 6, 132));
}

// ---- Sequence view --------------------------------------------------------------------------
inline const auto mainArea = edges(136, 40, 792, 538);
inline const auto sequencer = box(140, 74, 646, 464);
inline juce::Rectangle<int> sequenceKnob(int k) {
    return box(140 + 136 * k, 44, 132, 26);
}
inline const auto exportMidi = box(548, 44, 80, 26);

// ---- Modulate view --------------------------------------------------------------------------
// Columns Source, Scaler, Amount, Target by weight; each ends on an even pixel.
constexpr std::array<int, 4> modColumnWeights{100, 80, 120, 100};
inline std::pair<int, int> modColumn(int k) {
    int begin = 140, cumulative = 0, end = 140;
    for (int i = 0; i <= k; ++i) {
        begin = i == 0 ? 140 : end;
        cumulative += modColumnWeights[static_cast<size_t>(i)];
        end = static_cast<int>(std::floor(cumulative * 648.0 / 400.0 * 0.5 + 0.1)) * 2 + 142;
    }
    return {begin, end - begin - 2};
}
constexpr int modTitleY = 44, modTitleHeight = 28;
inline juce::Rectangle<int> modRow(int column, int slot) {
    const auto [x, w] = modColumn(column);
    return box(x, 74 + 26 * slot, w, 24);
}
inline const auto envBox = box(140, 284, 322, 250);
inline juce::Rectangle<int> envTab(int k) {
    return edges(144 + static_cast<int>(std::lround(78.5 * k)), 288,
                 144 + static_cast<int>(std::lround(78.5 * (k + 1))), 308);
}
inline const auto envEditor = box(144, 308, 314, 178);
inline juce::Rectangle<int> envKnob(int k) {
    return edges(144 + static_cast<int>(std::lround(62.8 * k)) + 1, 490,
                 144 + static_cast<int>(std::lround(62.8 * (k + 1))) - 1, 530);
}
inline const auto lfoBox = edges(466, 284, 788, 534);
inline juce::Rectangle<int> lfoTab(int k) {
    return edges(470 + static_cast<int>(std::lround(78.5 * k)), 288,
                 470 + static_cast<int>(std::lround(78.5 * (k + 1))), 308);
}
inline const auto lfoEditor = box(470, 308, 314, 178);
inline juce::Rectangle<int> lfoKnob(int column) {
    return edges(470 + static_cast<int>(std::floor(62.8 * column)) + 1, 490,
                 470 + static_cast<int>(std::floor(62.8 * (column + 1))) - 1, 530);
}

// ---- Mix view -------------------------------------------------------------------------------
// Eight columns 56 apart from x 140, with a 6-pixel gap between the groups
// Filter, Clip | Amp, Pan, Width | Send 1, Send 2 | Output.
inline int mixColumnX(int column) {
    static constexpr std::array<int, 8> groupOf{0, 0, 1, 1, 1, 2, 2, 3};
    return 140 + 56 * column + 6 * groupOf[static_cast<size_t>(column)];
}
inline int mixColumnWidth(int column) {
    return column == 7 ? 64 : 54;
}
inline juce::Rectangle<int> mixTitle(int column) {
    return box(mixColumnX(column), 44, mixColumnWidth(column), 28);
}
inline juce::Rectangle<int> mixKnob(int column, int track) {
    return box(mixColumnX(column), trackRowTop(track), mixColumnWidth(column), 56);
}
inline const auto fxColumn = edges(620, 40, 792, 538);
inline const auto sendFxLabel = box(624, 44, 164, 28);
// Slot tops: Send 1, Send 2, then (below the "Main FX" label) Main 1, Main 2.
inline int fxSlotTop(int slot) {
    return 74 + 96 * slot + (slot >= 2 ? 42 : 0);
}
inline juce::Rectangle<int> mainFxLabel() {
    return box(624, fxSlotTop(2) - 42 + 8, 164, 32);
}
inline juce::Rectangle<int> fxSlot(int slot) {
    return edges(624, fxSlotTop(slot), 788, fxSlotTop(slot) + 92);
}
inline juce::Rectangle<int> fxPower(int slot) {
    return edges(628, fxSlotTop(slot) + 5, 642, fxSlotTop(slot) + 19);
}
inline juce::Rectangle<int> fxInputMeter(int slot) {
    return edges(632, fxSlotTop(slot) + 28, 638, fxSlotTop(slot) + 84);
}
inline juce::Rectangle<int> fxType(int slot) {
    return edges(646, fxSlotTop(slot) + 2, 766, fxSlotTop(slot) + 22);
}
inline juce::Rectangle<int> fxIndex(int slot) {
    return edges(770, fxSlotTop(slot) + 5, 784, fxSlotTop(slot) + 19);
}
inline juce::Rectangle<int> fxKnob(int slot, int k) {
    return box(640 + 68 * k, fxSlotTop(slot) + 32, 64, 54);
}
inline juce::Rectangle<int> fxOutputMeter(int slot) {
    return edges(774, fxSlotTop(slot) + 28, 780, fxSlotTop(slot) + 84);
}

} // namespace tarvo::layout
