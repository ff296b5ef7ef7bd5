// The simulated kernel made current for one case, so that the driver's
// DbgPrint output is captured in trace().
#pragma once

#include "sim/hw/clock.hpp"
#include "sim/hw/isa_bus.hpp"
#include "sim/kernel/kernel.hpp"

#include <string>

namespace cmtest {

struct SimTrace {
    sim::VirtualClock clock;
    sim::IsaBus bus;
    sim::Kernel kernel{bus, clock};
    sim::KernelScope scope{kernel};
    const std::string& trace() const { return kernel.trace(); }
};

} // namespace cmtest
