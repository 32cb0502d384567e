#pragma once
// The two lists of effect units a slot can hold: eight for the send slots, six for the main
// chain. A slot's "Type" value is a position in its list. Each entry is a prototype that is
// never processed; it names the unit, defines the slot's two unit parameters and creates
// working units.

#include <cstdint>
#include <vector>

#include "effects/FxBase.h"

namespace tarvo {

struct FxTypeList {
    std::vector<const FxBase*> prototypes;
    // Display names in list order, the value texts of the "Type" parameter.
    std::vector<const char*> names;

    int size() const { return static_cast<int>(prototypes.size()); }
};

// Any thread: the lists are built on first use and live for the whole process, shared by
// every plug-in instance.
const FxTypeList& sendFxTypes();
const FxTypeList& mainFxTypes();

// Definition of one unit parameter as `Param::init` takes it.
struct FxParamSpec {
    int32_t shape;
    float min, max, curve;
    const char* format;
    const char* name;
    float defaultValue;
};

// Stand-in for a unit that this build does not contain yet: it defines its list entry's
// parameters exactly and passes the audio through unchanged.
class FxPending : public FxBase {
public:
    FxPending(const char* unitName, FxParamSpec first, FxParamSpec second)
        : unitName_(unitName), specs_{first, second} {}

    const char* name() const override { return unitName_; }
    void bindParams(Param* first) override;
    FxBase* create() const override { return new FxPending(unitName_, specs_[0], specs_[1]); }
    void setSampleRate(float) override {}
    void process(float* const* inputs, float* const* outputs, int frames) noexcept override;

private:
    const char* unitName_;
    FxParamSpec specs_[2];
};

} // namespace tarvo
