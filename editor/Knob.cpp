#include "editor/Knob.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "control/Param.h"
#include "instrument/Ombrix.h"

namespace tarvo {

namespace {

// Room for a parameter's value text.
constexpr int valueTextCapacity = 64;
// A parameter is drawn from its centre when its default sits here (normalized).
constexpr float bipolarCentre = 0.5f;
// Half the sliver a centred bipolar value still shows (normalized).
constexpr float bipolarSliver = 0.01f;
// Kinds.
constexpr int rotary = 1, verticalBar = 2, valueField = 3, fader = 4, valueBoxKind = 5, labelledRow = 6;
// The rotary's travel: 270 degrees, from 135 degrees left of 12 o'clock to 135 right.
constexpr float turnShare = 0.75f, turnStart = -0.375f;
// Where the rotary and fader centre sits within the space above the name (share of it).
constexpr float centreShare = 0.54f;
// The fader's handle radius as a share of the height.
constexpr float handleShare = 0.3f;
// Widths of the drawn lines.
constexpr float arcWidth = 1.5f, notchWidth = 1.2f, edgeWidth = 0.7f;
// A value box narrower than this takes the whole widget for the text entry.
constexpr float narrowBox = 10.0f;

juce::String valueText(const Param& param, float plain) {
    char text[valueTextCapacity];
    param.formatValue(text, valueTextCapacity, plain);
    return juce::String::fromUTF8(text);
}

float degreesOf(float normalized) {
    return (turnShare * normalized + turnStart) * 360.0f;
}

juce::Point<float> onCircle(juce::Point<float> centre, float radius, float degrees) {
    const float r = juce::degreesToRadians(degrees);
    return {centre.x + radius * std::sin(r), centre.y - radius * std::cos(r)};
}

// Room kept free beside a knob's text, so neighbouring knobs' names never touch.
constexpr float textSideRoom = 3.0f;

// The part of area a line may fill: text set from the left keeps its start.
juce::Rectangle<float> fittingArea(juce::Rectangle<float> area, juce::Justification justification) {
    return justification.testFlags(juce::Justification::left) ? area.withTrimmedRight(2.0f * textSideRoom)
                                                              : area.reduced(textSideRoom, 0.0f);
}

juce::Colour brighter(juce::Colour c, float amount) {
    return toJuce(brightened({c.getAlpha(), c.getRed(), c.getGreen(), c.getBlue()},
                             static_cast<int>(std::trunc(amount))));
}

} // namespace

std::vector<std::string> enumerationLabels(const Param& param) {
    std::vector<std::string> labels;
    if (param.valueTexts != nullptr && param.valueTextCount > 0) {
        for (int i = 0; i < param.valueTextCount; ++i)
            labels.emplace_back(param.valueTexts[i] != nullptr ? param.valueTexts[i] : "");
        return labels;
    }
    if (param.shape != Param::Stepped || param.format == nullptr || std::strchr(param.format, '|') == nullptr)
        return labels;
    const char* field = param.format;
    while (true) {
        const char* end = std::strchr(field, '|');
        labels.emplace_back(field, end != nullptr ? static_cast<size_t>(end - field) : std::strlen(field));
        if (end == nullptr) break;
        field = end + 1;
    }
    return labels;
}

bool isToggle(const Param& param) {
    return param.min == 0.0f && param.max == 1.0f && !enumerationLabels(param).empty();
}

juce::PopupMenu enumerationMenu(const std::vector<std::string>& labels, int current) {
    // Submenus are filled first and added where their group first appears.
    std::map<std::string, juce::PopupMenu> groups;
    std::vector<std::string> order; // group names, or "" + index for a plain entry
    for (size_t i = 0; i < labels.size(); ++i) {
        const std::string& label = labels[i];
        const int id = static_cast<int>(i) + 1;
        const size_t bar = label.find('|');
        if (bar == std::string::npos) {
            order.push_back(std::string(1, '\0') + std::to_string(i));
            continue;
        }
        const std::string group = label.substr(0, bar);
        if (groups.find(group) == groups.end()) order.push_back(group);
        groups[group].addItem(id, juce::String::fromUTF8(label.substr(bar + 1).c_str()), true,
                              static_cast<int>(i) == current);
    }
    juce::PopupMenu menu;
    for (const std::string& entry : order) {
        if (!entry.empty() && entry[0] == '\0') {
            const int i = std::stoi(entry.substr(1));
            menu.addItem(i + 1, juce::String::fromUTF8(labels[static_cast<size_t>(i)].c_str()), true,
                         i == current);
        } else {
            menu.addSubMenu(juce::String::fromUTF8(entry.c_str()), groups[entry]);
        }
    }
    return menu;
}

std::optional<float> parseTypedNumber(const juce::String& text) {
    const std::string typed = text.toStdString();
    const char* begin = typed.c_str();
    char* end = nullptr;
    errno = 0;
    const float number = std::strtof(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(number)) return std::nullopt;
    return number;
}

KnobWidget::KnobWidget(KnobSetup setup)
    : Widget(setup.styleId, setup.helpName), setup_(std::move(setup)),
      clock_([] { return juce::Time::getMillisecondCounterHiRes() * 0.001; }) {}

KnobWidget::~KnobWidget() {
    // A knob destroyed mid-drag still ends its host gesture.
    if (dragged_ != nullptr)
        if (EditorContext* owner = context(); owner != nullptr) owner->endParamEdit(*dragged_);
}

double KnobWidget::now() const {
    return clock_();
}

Param* KnobWidget::param() const {
    EditorContext* owner = context();
    if (owner == nullptr || !setup_.param) return nullptr;
    return setup_.param(owner->instrument());
}

juce::String KnobWidget::helpName() const {
    if (setup_.helpName.isNotEmpty()) return setup_.helpName;
    const Param* bound = param();
    return bound != nullptr && bound->name != nullptr ? juce::String::fromUTF8(bound->name) : juce::String();
}

juce::String KnobWidget::shownName(const Param& param) const {
    if (setup_.name.isNotEmpty()) return setup_.name;
    return param.name != nullptr ? juce::String::fromUTF8(param.name) : juce::String();
}

// ---- Gestures -------------------------------------------------------------------------------

void KnobWidget::setOnce(Param& param, float plain) {
    EditorContext* owner = context();
    if (owner == nullptr) return;
    owner->beginParamEdit(param);
    owner->editParam(param, plain);
    owner->endParamEdit(param);
    repaint();
}

juce::PopupMenu KnobWidget::menu() const {
    const Param* bound = param();
    if (bound == nullptr || !setup_.menu || isToggle(*bound)) return {};
    const std::vector<std::string> labels = enumerationLabels(*bound);
    if (labels.empty()) return {};
    return enumerationMenu(labels, static_cast<int>(std::trunc(bound->value - bound->min)));
}

void KnobWidget::chooseMenuItem(int itemId) {
    Param* bound = param();
    if (bound == nullptr || itemId <= 0) return;
    setOnce(*bound, bound->min + static_cast<float>(itemId - 1));
}

void KnobWidget::mouseDown(const juce::MouseEvent& e) {
    Param* bound = param();
    if (bound == nullptr) return;
    travel_ = 0.0f;
    downTime_ = now();
    entryDue_ = -1.0;
    menuOpened_ = false;
    lastPosition_ = e.position;
    repaint();
    if (isToggle(*bound)) {
        setOnce(*bound, bound->value != 0.0f ? 0.0f : 1.0f);
        return;
    }
    if (juce::PopupMenu items = menu(); items.getNumItems() > 0) {
        menuOpened_ = true;
        juce::Component::SafePointer<KnobWidget> self(this);
        items.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(this), [self](int chosen) {
            if (self != nullptr) self->chooseMenuItem(chosen);
        });
        return;
    }
    dragging_ = true;
    lastStepTime_ = downTime_;
    residual_ = 0.0f;
    dragged_ = bound;
    if (EditorContext* owner = context(); owner != nullptr) owner->beginParamEdit(*bound);
    if (setup_.kind != fader) setMouseCursor(juce::MouseCursor::NoCursor);
}

void KnobWidget::mouseDrag(const juce::MouseEvent& e) {
    if (!dragging_ || dragged_ == nullptr) return;
    Param& target = *dragged_;
    const float dx = e.position.x - lastPosition_.x;
    const float dy = e.position.y - lastPosition_.y;
    lastPosition_ = e.position;
    travel_ += std::fabs(dx) + std::fabs(dy);

    const double at = now();
    float step = 0.0f;
    if (setup_.kind == fader) {
        step = dx / std::max(faderLength_, 1.0f);
    } else {
        const float amount = 0.5f * dx - dy;
        const float speed =
            std::fabs(amount) / static_cast<float>(std::max(at - lastStepTime_, shortestStep));
        step = amount / dragPixels * speed / (speed + halfSpeed);
    }
    lastStepTime_ = at;

    const float current = std::clamp(target.toNormalized(target.value), 0.0f, 1.0f);
    float candidate = std::clamp(current + step + residual_, 0.0f, 1.0f);
    for (int i = 0; i < target.snapCount; ++i) {
        const float snap = target.toNormalized(target.snapValues[i]);
        if (std::fabs(candidate - snap) < std::fabs(candidate - current)) {
            candidate = snap;
        } else if (std::fabs(current - snap) < onSnap) {
            if (std::fabs(residual_) < snapHold)
                candidate = snap;
            else
                candidate = std::clamp(current + step + std::copysign(snapLeave, residual_), 0.0f, 1.0f);
        }
    }
    if (EditorContext* owner = context(); owner != nullptr)
        owner->editParam(target, target.fromNormalized(candidate));
    const float reached = std::clamp(target.toNormalized(target.value), 0.0f, 1.0f);
    residual_ = std::clamp(current + step, 0.0f, 1.0f) - reached + residualKeep * residual_;
    repaint();
}

void KnobWidget::mouseUp(const juce::MouseEvent& e) {
    if (dragging_) {
        dragging_ = false;
        setMouseCursor(juce::MouseCursor::NormalCursor);
        if (dragged_ != nullptr)
            if (EditorContext* owner = context(); owner != nullptr) owner->endParamEdit(*dragged_);
        dragged_ = nullptr;
    }
    const double at = now();
    // The second release of a double click opens nothing.
    if (!menuOpened_ && e.getNumberOfClicks() < 2 && travel_ < clickTravel && at - downTime_ < clickSeconds &&
        at - lastEntryEnd_ > entryRest)
        entryDue_ = at + entryDelay;
    repaint();
}

void KnobWidget::mouseDoubleClick(const juce::MouseEvent&) {
    entryDue_ = -1.0;
    closeEntry();
    Param* bound = param();
    if (bound == nullptr) return;
    setOnce(*bound, bound->defaultValue);
}

void KnobWidget::mouseEnter(const juce::MouseEvent&) {
    hover_ = true;
    repaint();
}

void KnobWidget::mouseExit(const juce::MouseEvent&) {
    hover_ = false;
    repaint();
}

// ---- Value entry ----------------------------------------------------------------------------

void KnobWidget::openEntry() {
    const Param* bound = param();
    if (bound == nullptr) return;
    closeEntry();
    auto box = valueBox();
    if (box.getWidth() <= narrowBox) box = getLocalBounds().toFloat();
    entry_ = std::make_unique<juce::TextEditor>();
    entry_->setFont(EditorFonts::named(setup_.fontName, setup_.textSize));
    entry_->setJustification(juce::Justification::centred);
    // In the knob's own colours, on an opaque box so the value below does not show through.
    entry_->setColour(juce::TextEditor::backgroundColourId,
                      colourOr("_value_bg", juce::Colours::black).withAlpha(1.0f));
    entry_->setColour(juce::TextEditor::textColourId, colour("_value"));
    entry_->setColour(juce::TextEditor::outlineColourId, colour("_value"));
    entry_->setBounds(box.getSmallestIntegerContainer());
    entry_->setText(valueText(*bound, bound->value), false);
    entry_->setSelectAllWhenFocused(true);
    entry_->addListener(this);
    addAndMakeVisible(*entry_);
    entry_->grabKeyboardFocus();
}

void KnobWidget::closeEntry() {
    if (entry_ == nullptr) return;
    entry_->removeListener(this);
    // Deleted later: the editor may be inside one of its own callbacks.
    removeChildComponent(entry_.get());
    closedEntry_ = std::move(entry_);
    juce::MessageManager::callAsync([knob = juce::Component::SafePointer<KnobWidget>(this)] {
        if (knob != nullptr) knob->closedEntry_.reset();
    });
    lastEntryEnd_ = now();
}

void KnobWidget::completeEntry(const juce::String& text) {
    closeEntry();
    Param* bound = param();
    if (bound == nullptr) return;
    // Text that is no finite number changes nothing: a typo must not wipe the value.
    const std::optional<float> typed = parseTypedNumber(text);
    if (!typed) return;
    const float plain = bound->fromText != nullptr ? bound->fromText(*typed) : *typed;
    if (!std::isfinite(plain)) return;
    setOnce(*bound, plain);
}

void KnobWidget::textEditorReturnKeyPressed(juce::TextEditor& editor) {
    completeEntry(editor.getText());
}

void KnobWidget::textEditorEscapeKeyPressed(juce::TextEditor&) {
    closeEntry();
}

void KnobWidget::textEditorFocusLost(juce::TextEditor& editor) {
    if (entry_ != nullptr) completeEntry(editor.getText());
}

// ---- Frame ----------------------------------------------------------------------------------

void KnobWidget::tick() {
    const Param* bound = param();
    if (bound == nullptr) return;
    if (entryDue_ >= 0.0 && now() >= entryDue_) {
        entryDue_ = -1.0;
        if (!isToggle(*bound)) openEntry();
    }
    const float value = std::clamp(bound->toNormalized(bound->value), 0.0f, 1.0f);
    const int modulated = bound->shownModulated;
    const float shown =
        modulated == 1 ? std::clamp(bound->toNormalized(bound->shownValue), 0.0f, 1.0f) : value;
    if (std::fabs(value - drawnValue_) > redrawStep || std::fabs(shown - drawnShown_) > redrawStep ||
        modulated != drawnModulated_ || bound != drawnParam_ || bound->name != drawnName_)
        repaint();
}

float KnobWidget::textHeight() const {
    if (setup_.textHeight > 0.0f) return setup_.textHeight;
    if (setup_.kind == valueField) return static_cast<float>(getHeight());
    if (setup_.kind == valueBoxKind) return static_cast<float>(getHeight()) * 0.5f;
    return setup_.textSize + 2.0f;
}

bool KnobWidget::nameShown() const {
    return setup_.showName && (setup_.kind == rotary || setup_.kind == fader || setup_.kind == valueBoxKind ||
                               setup_.kind == labelledRow);
}

bool KnobWidget::valueShown() const {
    switch (setup_.kind) {
    case verticalBar:
        return hover_ || dragging_;
    case valueField:
    case valueBoxKind:
    case labelledRow:
        return true;
    default:
        return false;
    }
}

juce::Rectangle<float> KnobWidget::valueBox() const {
    const auto r = getLocalBounds().toFloat();
    const float m = textHeight();
    juce::Rectangle<float> box;
    if (setup_.kind == verticalBar) {
        box = {r.getX() + 4.0f, r.getCentreY() - m * 0.5f, r.getWidth() - 8.0f, m};
    } else if (setup_.kind == labelledRow) {
        box = r.withLeft(r.getX() + r.getWidth() * 0.5f);
    } else {
        const float k = nameShown() && setup_.kind != rotary ? m : 0.0f;
        box = juce::Rectangle<float>::leftTopRightBottom(r.getX() + 2.0f, r.getBottom() - k - m,
                                                         r.getRight() - 2.0f, r.getBottom() - k);
    }
    if (setup_.valueBoxHeight > 0.0f) box = box.withSizeKeepingCentre(box.getWidth(), setup_.valueBoxHeight);
    if (setup_.valueRightInset > 0.0f) box = box.withTrimmedRight(setup_.valueRightInset);
    return box;
}

void KnobWidget::paint(juce::Graphics& g) {
    const Param* bound = param();
    const auto r = getLocalBounds().toFloat();
    if (bound == nullptr || r.getWidth() < 0.1f || r.getHeight() < 0.1f) return;

    const float n = std::clamp(bound->toNormalized(bound->value), 0.0f, 1.0f);
    const bool modulated = bound->shownModulated == 1;
    const float s = modulated ? std::clamp(bound->toNormalized(bound->shownValue), 0.0f, 1.0f) : n;
    drawnValue_ = n;
    drawnShown_ = s;
    drawnModulated_ = bound->shownModulated;
    drawnParam_ = bound;
    drawnName_ = bound->name;

    const bool bipolar =
        setup_.bipolar && std::fabs(bound->toNormalized(bound->defaultValue) - bipolarCentre) < 1e-6f;
    auto spanOf = [bipolar](float v) {
        if (!bipolar) return std::pair<float, float>{0.0f, v};
        return std::pair<float, float>{std::clamp(v - bipolarSliver, 0.0f, bipolarCentre),
                                       std::clamp(v + bipolarSliver, bipolarCentre, 1.0f)};
    };
    const auto [a0, a1] = spanOf(s);
    const auto [n0, n1] = spanOf(n);

    const juce::Colour background = colourOr("_bg", juce::Colours::transparentBlack);
    const juce::Colour modColour = colourOr("_mod", juce::Colours::transparentBlack);
    juce::Colour valueTrack = setup_.trackColour.empty()
                                  ? colourOr("_track_on", juce::Colours::transparentBlack)
                                  : toJuce(style().colorOr(setup_.trackColour, StyleOwner::transparent));
    if (!dragging_) valueTrack = valueTrack.withMultipliedAlpha(0.8f);
    const juce::Colour offTrack = colourOr("_track_off", juce::Colours::transparentBlack);
    const float corner = value("_corner", 2.0f);
    const float m = textHeight();
    const float L = r.getX(), T = r.getY(), R = r.getRight(), B = r.getBottom(), W = r.getWidth(),
                H = r.getHeight();
    const bool showName = nameShown();
    const bool showValue = valueShown();
    const float kShift = (showName || showValue) ? m : 0.0f;
    const juce::Font font = EditorFonts::named(setup_.fontName, setup_.textSize);
    g.setFont(font);

    if (background.getAlpha() > 0) {
        g.setColour(background);
        g.fillRect(r);
    }

    if (setup_.kind == verticalBar) {
        juce::Graphics::ScopedSaveState clip(g);
        g.reduceClipRegion(getLocalBounds());
        const float top = B - H * a1;
        const float bottom = bipolar ? B - H * a0 : B + 4.0f;
        const auto bar = juce::Rectangle<float>::leftTopRightBottom(L, top, R, std::max(bottom, top));
        g.setColour(valueTrack);
        g.fillRoundedRectangle(bar, std::min(bar.getHeight() * 0.5f, 2.0f));
        if (modulated) {
            g.setColour(modColour);
            g.fillEllipse(L + 5.0f - 2.0f, T + 5.0f - 2.0f, 4.0f, 4.0f);
        }
    }

    const bool dragShowsValue = setup_.kind == rotary && dragging_;
    if (showName || dragShowsValue) {
        const auto nameRow = setup_.kind == labelledRow ? juce::Rectangle<float>(L, T, W * 0.5f, H)
                                                        : juce::Rectangle<float>(L, B - m, W, m);
        g.setColour(colour("_label"));
        const juce::String text = dragShowsValue ? valueText(*bound, bound->value) : shownName(*bound);
        auto row = nameRow;
        if (setup_.nameJustification.testFlags(juce::Justification::left)) row = row.withTrimmedLeft(4.0f);
        g.setFont(font);
        drawFittedLine(g, text, fittingArea(row, setup_.nameJustification), setup_.nameJustification);
    }

    if (showValue) {
        const auto box = valueBox();
        const juce::Colour boxColour = colourOr("_value_bg", juce::Colours::transparentBlack);
        if (boxColour.getAlpha() > 0 && (H > box.getHeight() || background.getAlpha() == 0)) {
            g.setColour(boxColour);
            g.fillRoundedRectangle(box, 2.0f);
        }
        if (setup_.kind == valueBoxKind || setup_.kind == labelledRow) {
            const float least = std::max(2.0f * corner, 1.0f);
            auto barOf = [&](float from, float to) {
                float left = box.getX() + box.getWidth() * from;
                float right = box.getX() + box.getWidth() * to;
                if (right - left < least) {
                    const float middle = 0.5f * (left + right);
                    left = std::max(box.getX(), middle - least * 0.5f);
                    right = left + least;
                }
                return juce::Rectangle<float>::leftTopRightBottom(left, box.getY(), right, box.getBottom());
            };
            const bool outlined = hover_ && modulated;
            g.setColour(outlined ? valueTrack.withMultipliedAlpha(0.5f) : valueTrack);
            g.fillRoundedRectangle(barOf(a0, a1), corner);
            if (outlined) {
                g.setColour(valueTrack);
                g.drawRoundedRectangle(barOf(n0, n1), corner, 2.0f);
            }
        }
        g.setColour(colour("_value"));
        auto textArea = box;
        if (setup_.valueJustification.testFlags(juce::Justification::left))
            textArea = textArea.withTrimmedLeft(4.0f);
        g.setFont(font);
        drawFittedLine(g, valueText(*bound, bound->value), fittingArea(textArea, setup_.valueJustification),
                       setup_.valueJustification);
        if ((setup_.kind == valueBoxKind || setup_.kind == labelledRow) && modulated) {
            g.setColour(modColour);
            g.fillEllipse(box.getX() + 4.0f - 2.0f, box.getY() + 4.0f - 2.0f, 4.0f, 4.0f);
        }
    }

    if (setup_.kind == fader) {
        const float cy = T + centreShare * (H - kShift);
        const float radius = handleShare * H;
        const float x0 = L + std::trunc(radius) + 4.0f, x1 = R - std::trunc(radius) - 4.0f;
        faderLength_ = x1 - x0;
        g.setColour(colour("_line"));
        g.drawLine(x0, cy, x1, cy, 1.0f);
        const float x = x0 + faderLength_ * n;
        g.fillEllipse(x - radius, cy - radius, 2.0f * radius, 2.0f * radius);
        const float inner = radius - 1.5f;
        g.setColour(colour("_fill"));
        g.fillEllipse(x - inner, cy - inner, 2.0f * inner, 2.0f * inner);
        if (modulated) {
            const float dot = 0.6f * radius, xs = x0 + faderLength_ * s;
            g.setColour(modColour);
            g.fillEllipse(xs - dot, cy - dot, 2.0f * dot, 2.0f * dot);
        }
    }

    if (setup_.kind == rotary && H > 2.5f * m) {
        const float rho = (std::min(W, H - m) - 2.0f) * 0.5f;
        const juce::Point<float> c{L + W * 0.5f, T + centreShare * (H - kShift)};
        const float beta = rho - 4.0f;
        auto arc = [&](float from, float to, juce::Colour colour) {
            if (colour.getAlpha() == 0 || to <= from) return;
            juce::Path path;
            path.addCentredArc(c.x, c.y, rho, rho, 0.0f, juce::degreesToRadians(degreesOf(from)),
                               juce::degreesToRadians(degreesOf(to)), true);
            g.setColour(colour);
            g.strokePath(path, juce::PathStrokeType(arcWidth));
        };
        arc(0.0f, 1.0f, offTrack);
        arc(a0, a1, valueTrack);
        if (modulated) {
            g.setColour(modColour);
            const auto p = onCircle(c, rho, degreesOf(s));
            g.fillEllipse(p.x - 1.2f, p.y - 1.2f, 2.4f, 2.4f);
        }
        const float shadow = value("_shadow");
        if (shadow > 0.0f) {
            const float radius = 1.25f * beta;
            const juce::Point<float> at{c.x - 0.15f * beta, c.y + 0.6f * beta};
            const auto dark =
                juce::Colour::fromRGBA(0, 0, 0, static_cast<juce::uint8>(std::clamp(shadow, 0.0f, 255.0f)));
            juce::ColourGradient gradient(dark, at.x, at.y, dark.withAlpha(static_cast<juce::uint8>(0)),
                                          at.x + radius, at.y, true);
            gradient.addColour(0.5, dark);
            g.setGradientFill(gradient);
            g.fillEllipse(at.x - radius, at.y - radius, 2.0f * radius, 2.0f * radius);
        }
        const juce::Colour fill = colourOr("_fill", juce::Colours::transparentBlack);
        if (fill.getAlpha() > 0) {
            const float fade = value("_fade");
            const float d = beta * std::cos(juce::degreesToRadians(45.0f));
            g.setGradientFill(juce::ColourGradient(brighter(fill, -fade / 2.0f), c.x - d, c.y + d,
                                                   brighter(fill, fade / 2.0f), c.x + d, c.y - d, false));
            g.fillEllipse(c.x - beta, c.y - beta, 2.0f * beta, 2.0f * beta);
        }
        const float shine = value("_shine");
        const juce::Colour edge = colourOr("_edge", juce::Colours::transparentBlack);
        if (shine != 0.0f || edge.getAlpha() > 0) {
            const float dx = beta * std::cos(juce::degreesToRadians(81.0f)),
                        dy = beta * std::sin(juce::degreesToRadians(81.0f));
            juce::Colour from, to;
            if (edge.getAlpha() > 0) {
                from = brighter(edge, shine);
                to = brighter(edge, -shine);
            } else {
                const auto alpha = static_cast<juce::uint8>(std::clamp(std::trunc(shine), 0.0f, 255.0f));
                from = juce::Colours::white.withAlpha(alpha);
                to = juce::Colours::black.withAlpha(alpha);
            }
            g.setGradientFill(juce::ColourGradient(from, c.x + dx, c.y - dy, to, c.x - dx, c.y + dy, false));
            const float ring = beta - 0.49f;
            g.drawEllipse(c.x - ring, c.y - ring, 2.0f * ring, 2.0f * ring, edgeWidth);
        }
        const float reach = 0.95f * beta - 1.0f;
        const auto inner = onCircle(c, reach * 0.5f, degreesOf(n));
        const auto outer = onCircle(c, reach, degreesOf(n));
        g.setColour(colourOr("_notch", juce::Colours::transparentBlack));
        g.drawLine(inner.x, inner.y, outer.x, outer.y, notchWidth);
    }
}

} // namespace tarvo
