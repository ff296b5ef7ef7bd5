// A recording stand-in for the controller layer: defines the NtPCIC_*
// entry points, logs every call with its arguments, and answers from a
// script, so that the controller stages can be checked call by call.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace cmtest {

struct PcicCall {
    std::string name;
    std::vector<std::uint64_t> args; // in the order the entry point takes them
    bool operator==(const PcicCall&) const = default;
};

struct PcicScript {
    std::uint8_t id_byte = 0x82;           // what NtPCIC_Read_Reg returns
    std::deque<std::int32_t> enable;       // NtPCIC_Enable results, in call order
    std::int32_t memory = 0, io = 0, irq = 0;
};

// The one stand-in; reset() clears the log and the script.
struct PcicDouble {
    PcicScript script;
    std::vector<PcicCall> calls;
    bool script_exhausted = false; // an NtPCIC_Enable call found no scripted result

    void reset(PcicScript s = {}) {
        script = std::move(s);
        calls.clear();
        script_exhausted = false;
    }
};

PcicDouble& pcic_double();

} // namespace cmtest
