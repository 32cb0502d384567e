#include "effects/FxTypes.h"

#include "effects/Compressors.h"
#include "effects/Distortion.h"
#include "effects/FxUnitIo.h"

namespace tarvo {

void FxPending::bindParams(Param* first) {
    for (int i = 0; i < 2; ++i) {
        const FxParamSpec& s = specs_[i];
        first[i].init(s.shape, s.min, s.max, s.curve, s.format, s.name, s.defaultValue, false, nullptr);
    }
    FxBase::bindParams(first);
}

void FxPending::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    passThrough(inputs, outputs, frames);
}

namespace {

FxTypeList makeList(std::initializer_list<const FxBase*> prototypes) {
    FxTypeList list;
    for (const FxBase* p : prototypes) {
        list.prototypes.push_back(p);
        list.names.push_back(p->name());
    }
    return list;
}

// Shared parameter definitions of the stand-ins.
constexpr FxParamSpec length100{Param::Linear, 0, 100, 0, "%.0f", "Length", 50};
constexpr FxParamSpec color100{Param::Linear, 0, 100, 0, "%.0f", "Color", 50};

} // namespace

const FxTypeList& sendFxTypes() {
    static const FxPending chorus("Chorus", {Param::Exponential, 1, 100, 0, "%.1f cent", "Depth", 10},
                                  {Param::PowerCurve, 0.5f, 10, 2, "%.2f Hz", "Rate", 2});
    static const FxPending diffuser("Diffuser", length100,
                                    {Param::PowerCurve, 0, 300, 2, "%.0f ms", "Pre-delay", 10});
    static const FxPending plate("Plate Reverb", length100,
                                 {Param::Linear, 0, 100, 0, "%.0f", "Brightness", 50});
    static const FxPending room("Room Reverb", length100, color100);
    static const FxPending spring("Spring Reverb", length100, color100);
    static const FxPending delay("Tempo Delay", {Param::Linear, 1, 8, 0, "%.1f", "Length", 2.7f},
                                 {Param::Linear, 0, 100, 0, "%.0f%%", "Feedback", 50});
    static const ParaCompress compressor;
    static const ParaDist fuzz;
    static const FxTypeList list =
        makeList({&chorus, &diffuser, &plate, &room, &spring, &delay, &compressor, &fuzz});
    return list;
}

const FxTypeList& mainFxTypes() {
    static const CompGlue glue;
    static const CompOptical optical;
    static const CompVinyl vinyl;
    static const CompLimiter limiter;
    static const CompTape tape;
    static const Distorter distorter;
    static const FxTypeList list = makeList({&glue, &optical, &vinyl, &limiter, &tape, &distorter});
    return list;
}

} // namespace tarvo
