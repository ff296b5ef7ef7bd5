// The modem behind the card's UART: a small Hayes command responder.
//
// It collects characters up to CR, echoing each while echo is on, and
// answers a line that begins with "AT" (either letter in either case) with
// verbose result codes framed by CR LF ("\r\nOK\r\n"). Commands after the
// prefix run in order; the first one it does not know ends the line with
// ERROR. Known commands:
//   (none)   OK
//   E0, E1   echo off / on (E alone is E0)
//   I, I0    the product name, then OK
//   Z, Z0    back to the power-on settings, then OK; the rest of the
//            line is not run
// Spaces between commands are skipped. BS deletes the last character. LF is
// echoed but not collected, so lines ended by CR LF work. A line without
// the prefix is dropped without an answer, as a modem hunting for "AT" does.
#pragma once

#include "sim/card/serial_line.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

class HayesModem : public SerialLine {
public:
    static constexpr std::string_view kProductName = "Nuvalt ThinPocket Modem";
    // Longest command line kept; a longer line is answered with ERROR.
    static constexpr std::size_t kMaxLine = 64;
    // Bytes waiting for the host beyond this are dropped (a host that never
    // reads must not make the modem grow without bound).
    static constexpr std::size_t kMaxOutput = 4096;

    // A character from the host (the UART's transmitter).
    void receive(std::uint8_t c) override;
    // The next character for the host, if any.
    std::optional<std::uint8_t> transmit() override;
    bool has_output() const { return !output_.empty(); }

    // Power-on state: echo on, empty line, nothing to send.
    void reset();

    bool echo() const { return echo_; }
    // Characters collected for the line in progress.
    const std::string& line() const { return line_; }

private:
    void run(std::string_view line);
    void send(std::string_view text);

    bool echo_ = true;
    bool overflow_ = false;
    std::string line_;
    std::deque<std::uint8_t> output_;
};

} // namespace sim
