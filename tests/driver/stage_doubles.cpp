#include "stage_doubles.hpp"

#include "modem/cm.h"

namespace doubles {

StageScript& stages() {
    static StageScript script;
    return script;
}

void reset() { stages() = StageScript{}; }

} // namespace doubles

namespace {
LONG run(int index) {
    doubles::stages().calls.push_back(doubles::kStageNames[index]);
    return static_cast<LONG>(doubles::stages().results[index]);
}
} // namespace

extern "C" {
LONG CmPcicEnable(PCmExtension) { return run(0); }
LONG CmPcicEnableMemory(PCmExtension) { return run(1); }
LONG CmParseTuples(PCmExtension) { return run(2); }
LONG CmCheckForAdapterTuple(PCmExtension) { return run(3); }
LONG CmPcicEnableIo(PCmExtension) { return run(4); }
LONG CmPcicEnableIrq(PCmExtension) { return run(5); }
LONG CmWriteCor(PCmExtension) { return run(6); }
}
