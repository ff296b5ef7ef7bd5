// The far end of the UART's serial line: what the UART transmits goes to
// it, and what it has to send comes back into the UART's receiver.
#pragma once

#include <cstdint>
#include <optional>

namespace sim {

class SerialLine {
public:
    virtual ~SerialLine() = default;
    // A character the UART transmitted.
    virtual void receive(std::uint8_t c) = 0;
    // The next character waiting for the UART's receiver, if any. The UART
    // asks only when it has room, so nothing is lost on this side.
    virtual std::optional<std::uint8_t> transmit() = 0;
};

} // namespace sim
