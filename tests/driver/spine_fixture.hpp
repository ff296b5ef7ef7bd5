// A simulated machine with nothing on its bus, for the driver's frame: the
// registry, the HAL and the I/O manager are all there is.
#pragma once

#include "modem/krnldrvr.h"
#include "modem/modem.h"
#include "sim/kernel/kernel.hpp"
#include "stage_doubles.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

class SpineTest : public ::testing::Test {
protected:
    SpineTest() { doubles::reset(); }
    ~SpineTest() override { ModemDebugDefault = 0; }

    void serial(const std::string& key, std::initializer_list<std::pair<const char*, std::uint32_t>> values) {
        const std::string path = sim::serial_parameters_key(key);
        kernel.registry().key(path);
        for (auto& [name, v] : values) kernel.registry().set_dword(path, name, v);
    }

    // A record filled with a pattern, as a fresh device extension would be.
    static CmExtension patterned() {
        CmExtension e;
        std::memset(&e, 0x5A, sizeof e);
        return e;
    }

    NTSTATUS load() { return DriverEntry(kernel.driver_object(), kernel.registry_path()); }

    sim::VirtualClock clock;
    sim::IsaBus bus;
    sim::Kernel kernel{bus, clock};
    sim::KernelScope scope{kernel};
};
