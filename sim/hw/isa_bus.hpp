// The ISA bus of the simulated PC: a 64 K port space, the 16 MB memory
// space, and the interrupt request lines.
//
// Devices attach for what they decode. A port that nothing decodes reads
// 0xFF and ignores writes; so does a memory address. Interrupt lines are
// level-sensitive and polled: a line is asserted while any device drives it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

class PortDevice {
public:
    virtual ~PortDevice() = default;
    // nullopt when the device does not decode the port.
    virtual std::optional<std::uint8_t> port_read(std::uint16_t port) = 0;
    // false when the device does not decode the port.
    virtual bool port_write(std::uint16_t port, std::uint8_t value) = 0;
};

class MemoryDevice {
public:
    virtual ~MemoryDevice() = default;
    // nullopt when the device does not decode the address.
    virtual std::optional<std::uint8_t> mem_read(std::uint32_t addr) = 0;
    virtual bool mem_write(std::uint32_t addr, std::uint8_t value) = 0;
    // A number that changes whenever what mem_read returns may have changed
    // (a window reprogrammed, card power switched, card memory written), so
    // that a copy of the memory space can be refreshed only when needed.
    virtual std::uint64_t memory_version() const = 0;
};

class IrqSource {
public:
    virtual ~IrqSource() = default;
    // The ISA IRQ level (1..15) this source drives now, or 0 for none.
    virtual int irq_level() const = 0;
};

class IsaBus {
public:
    static constexpr std::uint8_t kFloating = 0xFF;

    void attach_ports(PortDevice* device) { port_devices_.push_back(device); }
    void attach_memory(MemoryDevice* device) { memory_devices_.push_back(device); }
    void attach_irq(IrqSource* source) { irq_sources_.push_back(source); }

    std::uint8_t in(std::uint16_t port) {
        for (PortDevice* d : port_devices_)
            if (auto v = d->port_read(port)) return *v;
        return kFloating;
    }
    void out(std::uint16_t port, std::uint8_t value) {
        for (PortDevice* d : port_devices_)
            if (d->port_write(port, value)) return;
    }
    std::uint8_t mem_read(std::uint32_t addr) {
        for (MemoryDevice* d : memory_devices_)
            if (auto v = d->mem_read(addr)) return *v;
        return kFloating;
    }
    void mem_write(std::uint32_t addr, std::uint8_t value) {
        for (MemoryDevice* d : memory_devices_)
            if (d->mem_write(addr, value)) return;
    }
    // Changes whenever any memory device's contents may have changed.
    std::uint64_t memory_version() const {
        std::uint64_t v = 0;
        for (const MemoryDevice* d : memory_devices_) v += d->memory_version();
        return v;
    }
    // True while some source drives the line.
    bool irq_asserted(int level) const {
        for (const IrqSource* s : irq_sources_)
            if (s->irq_level() == level) return true;
        return false;
    }
    // The lowest asserted level, or 0.
    int lowest_asserted_irq() const {
        for (int level = 1; level < 16; ++level)
            if (irq_asserted(level)) return level;
        return 0;
    }

private:
    std::vector<PortDevice*> port_devices_;
    std::vector<MemoryDevice*> memory_devices_;
    std::vector<IrqSource*> irq_sources_;
};

} // namespace sim
