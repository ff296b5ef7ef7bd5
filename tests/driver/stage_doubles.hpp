// Test doubles for the seven card stages, linked in place of the card
// module so the configuration sequence can be tested on its own. Each
// double records its call and returns the result scripted for it.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace doubles {

inline constexpr std::array<const char*, 7> kStageNames = {
    "CmPcicEnable", "CmPcicEnableMemory", "CmParseTuples", "CmCheckForAdapterTuple",
    "CmPcicEnableIo", "CmPcicEnableIrq", "CmWriteCor"};

struct StageScript {
    std::array<long, 7> results{}; // what each stage returns, in sequence order
    std::vector<std::string> calls;
};

// The script the doubles follow; reset() before each test.
StageScript& stages();
void reset();

} // namespace doubles
