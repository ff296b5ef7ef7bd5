// A 16550 UART with the working FIFOs of the 16550A, in virtual time.
//
// Nothing here takes time: a character written to the THR leaves at once
// for the serial line, so the THR and the shifter are always empty by the
// time the host looks again, and whatever the line has to send lands in the
// receiver as soon as there is room for it.
//
// The transmitter-empty interrupt follows the 16550: it is pending when
// ETBEI is switched on while the THR is empty, and when the THR empties after
// a write; reading the IIR while it names THRE clears it, and so does a THR
// write, but since the written character leaves at once the THR is empty
// again straight away and a new THRE interrupt is pending. A serial driver
// that sends one burst per THRE interrupt therefore keeps sending.
//
// The receive FIFO's character timeout has no time to wait for either: data
// below the trigger level is reported as a timeout (IIR 0x0C) at once.
#pragma once

#include "sim/card/serial_line.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace sim {

namespace uart {

// Register offsets from the UART's base port; access and bit fields below
// each. DLAB is LCR bit 7.
constexpr std::uint8_t kRbr = 0; // R, DLAB 0: receiver buffer
constexpr std::uint8_t kThr = 0; // W, DLAB 0: transmitter holding
constexpr std::uint8_t kDll = 0; // RW, DLAB 1: divisor latch, low byte
constexpr std::uint8_t kIer = 1; // RW, DLAB 0: interrupt enable
constexpr std::uint8_t kIerRda = 0x01;   //   received data available (and timeout)
constexpr std::uint8_t kIerThre = 0x02;  //   transmitter holding register empty
constexpr std::uint8_t kIerRls = 0x04;   //   receiver line status
constexpr std::uint8_t kIerMs = 0x08;    //   modem status
constexpr std::uint8_t kDlm = 1; // RW, DLAB 1: divisor latch, high byte
constexpr std::uint8_t kIir = 2; // R: interrupt identification
constexpr std::uint8_t kIirNone = 0x01;    //   no interrupt pending
constexpr std::uint8_t kIirMs = 0x00;      //   modem status
constexpr std::uint8_t kIirThre = 0x02;    //   transmitter holding register empty
constexpr std::uint8_t kIirRda = 0x04;     //   received data available
constexpr std::uint8_t kIirRls = 0x06;     //   receiver line status
constexpr std::uint8_t kIirTimeout = 0x0C; //   character timeout (FIFO mode)
constexpr std::uint8_t kIirFifos = 0xC0;   //   FIFOs enabled
constexpr std::uint8_t kFcr = 2; // W: FIFO control
constexpr std::uint8_t kFcrEnable = 0x01;
constexpr std::uint8_t kFcrClearRx = 0x02;
constexpr std::uint8_t kFcrClearTx = 0x04;
constexpr std::uint8_t kFcrTrigger = 0xC0; //   receive trigger: 1, 4, 8, 14 bytes
constexpr std::uint8_t kLcr = 3; // RW: line control
constexpr std::uint8_t kLcrDlab = 0x80;
constexpr std::uint8_t kMcr = 4; // RW: modem control (bits 4..0)
constexpr std::uint8_t kMcrDtr = 0x01;
constexpr std::uint8_t kMcrRts = 0x02;
constexpr std::uint8_t kMcrOut1 = 0x04;
constexpr std::uint8_t kMcrOut2 = 0x08; //   on a PC, enables the interrupt line
constexpr std::uint8_t kMcrLoop = 0x10;
constexpr std::uint8_t kLsr = 5; // R (writes ignored): line status
constexpr std::uint8_t kLsrDr = 0x01;   //   data ready
constexpr std::uint8_t kLsrOe = 0x02;   //   overrun error, cleared by the read
constexpr std::uint8_t kLsrThre = 0x20; //   THR empty
constexpr std::uint8_t kLsrTemt = 0x40; //   THR and shifter empty
constexpr std::uint8_t kMsr = 6; // R (writes ignored): modem status
constexpr std::uint8_t kMsrDcts = 0x01; //   deltas, cleared by the read
constexpr std::uint8_t kMsrDdsr = 0x02;
constexpr std::uint8_t kMsrTeri = 0x04;
constexpr std::uint8_t kMsrDdcd = 0x08;
constexpr std::uint8_t kMsrCts = 0x10;
constexpr std::uint8_t kMsrDsr = 0x20;
constexpr std::uint8_t kMsrRi = 0x40;
constexpr std::uint8_t kMsrDcd = 0x80;
constexpr std::uint8_t kScr = 7; // RW: scratch

constexpr std::size_t kFifoSize = 16;
constexpr std::uint8_t kPorts = 8;

} // namespace uart

class Uart16550 {
public:
    // line: the far end (the modem); not owned, must outlive the UART.
    explicit Uart16550(SerialLine& line);

    // Register access; reg is the offset from the base port (0..7, higher
    // bits ignored).
    std::uint8_t read(std::uint8_t reg);
    void write(std::uint8_t reg, std::uint8_t value);

    // Master reset: registers to their reset values, FIFOs emptied.
    void reset();

    // The INTR pin: some enabled interrupt is pending.
    bool intr() const;
    // INTR as a PC serial port puts it on the bus: gated by OUT2. In loopback
    // the OUT2 pin is held inactive, so the line is off as well.
    bool irq_output() const;

    // State for reports and tests; no side effects.
    std::uint16_t divisor() const { return static_cast<std::uint16_t>(dlm_ << 8 | dll_); }
    std::uint8_t ier() const { return ier_; }
    std::uint8_t lcr() const { return lcr_; }
    std::uint8_t mcr() const { return mcr_; }
    std::uint8_t scr() const { return scr_; }
    bool fifo_enabled() const { return fifo_enabled_; }
    std::size_t rx_count() const { return rx_.size(); }
    std::uint8_t peek_iir() const;
    std::uint8_t peek_lsr() const;

private:
    std::size_t rx_capacity() const { return fifo_enabled_ ? uart::kFifoSize : 1; }
    std::size_t rx_trigger() const;
    bool loopback() const { return (mcr_ & uart::kMcrLoop) != 0; }
    void transmit(std::uint8_t c);
    void receive(std::uint8_t c);
    void fill_receiver();
    void update_status_lines();

    SerialLine& line_;
    std::uint8_t ier_ = 0;
    std::uint8_t lcr_ = 0;
    std::uint8_t mcr_ = 0;
    std::uint8_t scr_ = 0;
    std::uint8_t dll_ = 0;
    std::uint8_t dlm_ = 0;
    std::uint8_t msr_ = 0;
    std::uint8_t trigger_bits_ = 0;
    std::uint8_t last_rx_ = 0;
    bool fifo_enabled_ = false;
    bool overrun_ = false;
    bool thre_pending_ = false;
    std::deque<std::uint8_t> rx_;
};

} // namespace sim
