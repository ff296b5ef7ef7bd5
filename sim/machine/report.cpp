// The machine's report: the JSON document of the simulator's design, and a
// short summary for a person.
#include "sim/machine/machine.hpp"

#include "modem/modem.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace sim {

namespace {

using Json = nlohmann::ordered_json;


// The product string up to its first zero byte; bytes from 0x80 are taken
// as Latin-1 so the report stays valid UTF-8 whatever the card held.
std::string signature_text(const UCHAR (&sig)[CM_SIGNATURE_SIZE]) {
    std::string out;
    for (UCHAR c : sig) {
        if (c == 0) break;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

Json port_log(const std::vector<PortOp>& log) {
    Json ports = Json::array();
    for (const PortOp& op : log) {
        switch (op.kind) {
        case PortOp::Kind::In: ports.push_back({{"op", "in"}, {"port", op.port}, {"value", op.value}}); break;
        case PortOp::Kind::Out: ports.push_back({{"op", "out"}, {"port", op.port}, {"value", op.value}}); break;
        case PortOp::Kind::Stall: ports.push_back({{"op", "stall"}, {"calls", op.calls}, {"us", op.us}}); break;
        }
    }
    return ports;
}

std::string hex(unsigned long long v, int width = 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%0*llX", width, v);
    return buf;
}

// The modem's result code in a reply such as "AT\r\r\nOK\r\n": its last
// non-empty line.
std::string result_line(const std::string& reply) {
    std::string last, line;
    for (char c : reply) {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) last = line;
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) last = line;
    return last;
}

} // namespace

std::string Machine::meaning() const {
    if (!status_) return "not loaded";
    const auto& events = kernel_.events();
    const bool device_created = !events.empty() && events.front().kind == KernelEvent::Kind::DeviceCreated;
    return status_meaning(*status_, device_created);
}

Json Machine::report() const {
    Json r;
    r["machine"] = spec_.name;
    const NTSTATUS status = status_.value_or(0);
    r["status"] = static_cast<std::uint32_t>(status);
    r["meaning"] = meaning();
    r["device"] = {{"name", kDriverDeviceName},
                   {"link", kDriverLinkName},
                   {"exists", device_existed_},
                   {"link_exists", link_existed_},
                   {"unload_installed", unload_installed_}};
    if (record_) {
        const CmExtension& e = *record_;
        r["record"] = {{"Socket", e.Socket},
                       {"HwMem", e.HwMem},
                       {"PcicBusPort", e.PcicBusPort},
                       {"PcicPort", kernel_.bus_address_of_port(e.PcicPort)},
                       {"ComPort", e.ComPort},
                       {"ComIrq", e.ComIrq},
                       {"Debug", e.Debug},
                       {"ConfigIndex", e.ConfigIndex},
                       {"CorOffset", e.CorOffset},
                       {"Signature", signature_text(e.Signature)}};
    }
    r["trace"] = kernel_.trace();
    r["ports"] = port_log(kernel_.port_log());
    r["stall"] = {{"calls", kernel_.stall_calls()}, {"us", kernel_.stall_us()}, {"clock_ns", kernel_.stall_ns()}};
    r["registry_reads"] = kernel_.registry_reads();
    r["map_mem_calls"] = kernel_.map_mem_calls();

    Json controllers = Json::array();
    for (const auto& c : controllers_) {
        Json regs = Json::array();
        for (unsigned i = 0; i < 256; ++i) regs.push_back(c->peek_register(static_cast<std::uint8_t>(i)));
        controllers.push_back({{"port", c->index_port()}, {"id", c->id()}, {"registers", regs}});
    }
    r["controllers"] = controllers;

    Json cards = Json::array();
    for (const CardSlot& slot : cards_) {
        Json base = nullptr;
        if (auto b = slot.card->io_base()) base = *b;
        cards.push_back({{"controller", slot.controller},
                         {"bank", slot.bank},
                         {"cor", slot.card->cor()},
                         {"io_mode", slot.card->io_mode()},
                         {"io_base", base}});
    }
    r["cards"] = cards;

    if (probe_) {
        Json irq = nullptr;
        if (probe_->found && probe_->irq) irq = *probe_->irq;
        const std::uint32_t port = record_ ? record_->ComPort : probe_->port;
        r["uart"] = {{"found", probe_->found}, {"port", port}, {"irq", irq}};
    }
    if (unload_) {
        r["unload"] = {{"device_deleted_first", unload_->device_deleted_first},
                       {"link_removed", unload_->link_removed},
                       {"port_writes", unload_->port_writes}};
    }
    return r;
}

std::string Machine::summary() const {
    std::ostringstream out;
    const NTSTATUS status = status_.value_or(0);
    out << "Machine:      " << spec_.name << "\n";
    out << "Load status:  " << hex(static_cast<std::uint32_t>(status)) << " (" << meaning() << ")\n";

    if (record_) {
        const CmExtension& e = *record_;
        std::string sig = signature_text(e.Signature);
        if (status == CMCFG_CONFIGURED) {
            out << "Card:         \"" << sig << "\" in socket " << e.Socket + 1 << " (bank " << e.Socket
                << ") of the controller at " << hex(e.PcicBusPort) << "\n";
            out << "Configured:   entry index " << hex(e.ConfigIndex, 2) << ", COR " << hex(e.ConfigIndex | 0x51, 2)
                << " written at attribute address " << hex(e.CorOffset) << "\n";
        }
        if (probe_) {
            if (probe_->found) {
                out << "COM port:     UART found at " << hex(e.ComPort) << ", IRQ "
                    << (probe_->irq ? std::to_string(*probe_->irq) : std::string("none fired")) << " (expected "
                    << e.ComIrq << ")\n";
                const std::string answer = result_line(probe_->reply_to_at);
                out << "Modem:        answers \"AT\" with " << (answer.empty() ? "nothing" : "\"" + answer + "\"")
                    << "\n";
            } else {
                out << "COM port:     no UART answers at " << hex(e.ComPort) << "\n";
            }
        }
    } else {
        out << "Device:       none (the driver has no device object)\n";
    }
    if (status != CMCFG_CONFIGURED) {
        const bool read_product = record_ && std::any_of(std::begin(record_->Signature), std::end(record_->Signature),
                                                         [](UCHAR c) { return c != kExtensionFill; });
        if (read_product) out << "Product:      \"" << signature_text(record_->Signature) << "\" read from the card\n";
        if (cards_.empty()) out << "Cards:        no socket holds a card\n";
        for (const CardSlot& slot : cards_)
            out << "Card:         in bank " << slot.bank << " of the controller at " << hex(slot.controller) << ", "
                << (slot.card->io_mode() ? "in I/O mode" : "not configured") << " (COR " << hex(slot.card->cor(), 2)
                << ")\n";
    }
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.3f", static_cast<double>(kernel_.stall_ns()) / 1e9);
    out << "Stall time:   " << secs << " s virtual (" << kernel_.stall_calls() << " stall calls)\n";
    if (unload_ && !unload_installed_) {
        out << "Unload:       the driver installed no unload routine\n";
    } else if (unload_) {
        out << "Unload:       device " << (unload_->device_deleted_first ? "deleted before the link" : "not deleted first")
            << ", link " << (unload_->link_removed ? "removed" : "not removed") << ", " << unload_->port_writes
            << " port writes\n";
    }
    if (!kernel_.trace().empty()) out << "\nDebug trace:\n" << kernel_.trace();
    return out.str();
}

} // namespace sim
