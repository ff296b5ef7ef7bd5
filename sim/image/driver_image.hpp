// MODEM.SYS as the simulated PC loads it: the image read, checked and
// placed in memory, its imports bound to the simulated kernel's and HAL's
// own operations, its entry routine ready to be called as the platform
// calls a driver's.
#pragma once

#include "sim/image/pe_image.hpp"
#include "sim/machine/machine.hpp"

#include <memory>
#include <optional>
#include <span>
#include <string>

namespace sim {

using image::ImageError;

// The operations of ntoskrnl.exe and hal.dll the simulated platform serves:
// its twelve platform calls, by DLL and exported name.
std::span<const image::Export> platform_exports();

class DriverImage {
public:
    // Reads, checks and maps the image at `path`; throws ImageError, naming
    // the file and what is wrong, before running anything.
    static std::unique_ptr<DriverImage> load(const std::string& path);

    // The binding a Machine calls: the image's entry routine. Its Debug is
    // the one it was built with, so there is nothing to set.
    DriverBinding binding() const;

    // Fills in what the I/O manager records about a loaded driver before it
    // calls the entry routine: where the image lies, its entry routine, the
    // driver's name and the hardware database's key.
    void describe(DRIVER_OBJECT& driver) const;

    const image::PeImage& pe() const { return pe_; }
    const image::MappedImage& mapped() const { return *mapped_; }

private:
    DriverImage() = default;
    image::PeImage pe_;
    std::unique_ptr<image::MappedImage> mapped_;
    std::u16string name_ = u"\\Driver\\Modem";
    std::u16string hardware_database_ = u"\\REGISTRY\\MACHINE\\HARDWARE\\DESCRIPTION\\SYSTEM";
    mutable UNICODE_STRING hardware_database_string_{};
};

// modemsim --image on a build that cannot run x86 code itself runs the
// 32-bit build of the simulator with the same arguments. Returns nullopt in
// a build that runs images itself; otherwise the exit status to end with
// (only when the 32-bit build could not be started).
std::optional<int> run_in_image_simulator(int argc, char** argv);

} // namespace sim
