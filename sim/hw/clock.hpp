// The simulated machine's virtual clock. Nothing sleeps: time advances only
// when the driver stalls the processor.
#pragma once

#include <cstdint>

namespace sim {

class VirtualClock {
public:
    std::uint64_t now_ns() const { return now_ns_; }
    void advance_ns(std::uint64_t ns) { now_ns_ += ns; }

private:
    std::uint64_t now_ns_ = 0;
};

} // namespace sim
