#pragma once
// The two lists of effect units a slot can hold: eight for the send slots, six for the main
// chain. A slot's "Type" value is a position in its list. Each entry is a prototype that is
// never processed; it names the unit, defines the slot's two unit parameters and creates
// working units.

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

} // namespace tarvo
