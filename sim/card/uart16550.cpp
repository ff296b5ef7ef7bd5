#include "sim/card/uart16550.hpp"

namespace sim {

using namespace uart;

Uart16550::Uart16550(SerialLine& line) : line_(line) { reset(); }

void Uart16550::reset() {
    ier_ = 0;
    lcr_ = 0;
    mcr_ = 0;
    scr_ = 0;
    dll_ = 0;
    dlm_ = 0;
    trigger_bits_ = 0;
    last_rx_ = 0;
    fifo_enabled_ = false;
    overrun_ = false;
    thre_pending_ = false;
    rx_.clear();
    msr_ = 0;
    update_status_lines();
    msr_ &= ~(kMsrDcts | kMsrDdsr | kMsrTeri | kMsrDdcd); // no change seen at reset
    fill_receiver();
}

std::size_t Uart16550::rx_trigger() const {
    static constexpr std::size_t kLevels[4] = {1, 4, 8, 14};
    return kLevels[trigger_bits_ >> 6];
}

// The modem drives CTS and DSR (ready, no flow control holding the host
// back) and neither DCD (no carrier) nor RI. In loopback the inputs follow
// the UART's own outputs: CTS = RTS, DSR = DTR, RI = OUT1, DCD = OUT2.
void Uart16550::update_status_lines() {
    std::uint8_t lines = kMsrCts | kMsrDsr;
    if (loopback()) {
        lines = 0;
        if (mcr_ & kMcrRts) lines |= kMsrCts;
        if (mcr_ & kMcrDtr) lines |= kMsrDsr;
        if (mcr_ & kMcrOut1) lines |= kMsrRi;
        if (mcr_ & kMcrOut2) lines |= kMsrDcd;
    }
    std::uint8_t old = msr_ & 0xF0;
    std::uint8_t changed = old ^ lines;
    std::uint8_t deltas = msr_ & 0x0F;
    if (changed & kMsrCts) deltas |= kMsrDcts;
    if (changed & kMsrDsr) deltas |= kMsrDdsr;
    if ((old & kMsrRi) && !(lines & kMsrRi)) deltas |= kMsrTeri; // trailing edge only
    if (changed & kMsrDcd) deltas |= kMsrDdcd;
    msr_ = static_cast<std::uint8_t>(lines | deltas);
}

void Uart16550::receive(std::uint8_t c) {
    if (rx_.size() < rx_capacity()) {
        rx_.push_back(c);
        return;
    }
    // Overrun: a full FIFO keeps its contents and loses the new character;
    // without FIFOs the new character overwrites the unread one.
    overrun_ = true;
    if (!fifo_enabled_) rx_.back() = c;
}

void Uart16550::fill_receiver() {
    if (loopback()) return; // the serial input is cut off in loopback
    while (rx_.size() < rx_capacity()) {
        auto c = line_.transmit();
        if (!c) return;
        rx_.push_back(*c);
    }
}

void Uart16550::transmit(std::uint8_t c) {
    if (loopback())
        receive(c);
    else
        line_.receive(c);
    // The write cleared THRE; the character left at once, so the THR is
    // empty again and reports it.
    thre_pending_ = (ier_ & kIerThre) != 0;
    fill_receiver();
}

std::uint8_t Uart16550::peek_iir() const {
    std::uint8_t id = kIirNone;
    if ((ier_ & kIerRls) && overrun_)
        id = kIirRls;
    else if ((ier_ & kIerRda) && !rx_.empty())
        id = (!fifo_enabled_ || rx_.size() >= rx_trigger()) ? kIirRda : kIirTimeout;
    else if ((ier_ & kIerThre) && thre_pending_)
        id = kIirThre;
    else if ((ier_ & kIerMs) && (msr_ & 0x0F))
        id = kIirMs;
    return static_cast<std::uint8_t>(id | (fifo_enabled_ ? kIirFifos : 0));
}

std::uint8_t Uart16550::peek_lsr() const {
    std::uint8_t lsr = kLsrThre | kLsrTemt;
    if (!rx_.empty()) lsr |= kLsrDr;
    if (overrun_) lsr |= kLsrOe;
    return lsr;
}

bool Uart16550::intr() const { return (peek_iir() & 0x0F) != kIirNone; }

bool Uart16550::irq_output() const { return intr() && (mcr_ & kMcrOut2) && !loopback(); }

std::uint8_t Uart16550::read(std::uint8_t reg) {
    const bool dlab = (lcr_ & kLcrDlab) != 0;
    switch (reg & 7) {
    case kRbr:
        if (dlab) return dll_;
        if (!rx_.empty()) {
            last_rx_ = rx_.front();
            rx_.pop_front();
            fill_receiver();
        }
        return last_rx_; // an empty receiver repeats the last character
    case kIer:
        return dlab ? dlm_ : ier_;
    case kIir: {
        std::uint8_t iir = peek_iir();
        if ((iir & 0x0F) == kIirThre) thre_pending_ = false;
        return iir;
    }
    case kLcr:
        return lcr_;
    case kMcr:
        return mcr_;
    case kLsr: {
        std::uint8_t lsr = peek_lsr();
        overrun_ = false;
        return lsr;
    }
    case kMsr: {
        std::uint8_t msr = msr_;
        msr_ &= 0xF0;
        return msr;
    }
    default:
        return scr_;
    }
}

void Uart16550::write(std::uint8_t reg, std::uint8_t value) {
    const bool dlab = (lcr_ & kLcrDlab) != 0;
    switch (reg & 7) {
    case kThr:
        if (dlab)
            dll_ = value;
        else
            transmit(value);
        return;
    case kIer: {
        if (dlab) {
            dlm_ = value;
            return;
        }
        const bool was_on = (ier_ & kIerThre) != 0;
        ier_ = value & 0x0F;
        if (!(ier_ & kIerThre))
            thre_pending_ = false;
        else if (!was_on)
            thre_pending_ = true; // the THR is always empty when the host looks
        return;
    }
    case kFcr: {
        const bool enable = (value & kFcrEnable) != 0;
        if (enable != fifo_enabled_) rx_.clear(); // switching FIFO mode empties them
        fifo_enabled_ = enable;
        // The other bits take effect only together with the enable bit. The
        // transmit FIFO is always empty, so clearing it changes nothing.
        if (enable) {
            if (value & kFcrClearRx) rx_.clear();
            trigger_bits_ = value & kFcrTrigger;
        }
        fill_receiver();
        return;
    }
    case kLcr:
        lcr_ = value;
        return;
    case kMcr:
        mcr_ = value & 0x1F;
        update_status_lines();
        fill_receiver();
        return;
    case kLsr:
    case kMsr:
        return; // factory test registers on the 16550; ignored here
    default:
        scr_ = value;
        return;
    }
}

} // namespace sim
