#include "effects/FxTypes.h"

#include "effects/ChorusDelay.h"
#include "effects/Compressors.h"
#include "effects/Distortion.h"
#include "effects/PlateSpring.h"
#include "effects/RoomReverbs.h"

namespace tarvo {

namespace {

FxTypeList makeList(std::initializer_list<const FxBase*> prototypes) {
    FxTypeList list;
    for (const FxBase* p : prototypes) {
        list.prototypes.push_back(p);
        list.names.push_back(p->name());
    }
    return list;
}

} // namespace

const FxTypeList& sendFxTypes() {
    static const FxChorus chorus;
    static const ReverbDiffuser diffuser;
    static const ReverbPlate plate;
    static const ReverbHall room;
    static const ReverbSpring spring;
    static const FxTempoDelay delay;
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
