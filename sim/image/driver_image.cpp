#include "sim/image/driver_image.hpp"

#include "modem/ntplatform.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace sim {

namespace {

template <typename F>
void* address_of(F* f) {
    return reinterpret_cast<void*>(f);
}

const std::array<image::Export, 12> kExports = {{
    {"ntoskrnl.exe", "DbgPrint", address_of(&DbgPrint)},
    {"ntoskrnl.exe", "IoCreateDevice", address_of(&IoCreateDevice)},
    {"ntoskrnl.exe", "IoCreateSymbolicLink", address_of(&IoCreateSymbolicLink)},
    {"ntoskrnl.exe", "IoDeleteDevice", address_of(&IoDeleteDevice)},
    {"ntoskrnl.exe", "IoDeleteSymbolicLink", address_of(&IoDeleteSymbolicLink)},
    {"ntoskrnl.exe", "MmMapIoSpace", address_of(&MmMapIoSpace)},
    {"ntoskrnl.exe", "RtlInitUnicodeString", address_of(&RtlInitUnicodeString)},
    {"ntoskrnl.exe", "RtlQueryRegistryValues", address_of(&RtlQueryRegistryValues)},
    {"hal.dll", "HalTranslateBusAddress", address_of(&HalTranslateBusAddress)},
    {"hal.dll", "KeStallExecutionProcessor", address_of(&KeStallExecutionProcessor)},
    {"hal.dll", "READ_PORT_UCHAR", address_of(&READ_PORT_UCHAR)},
    {"hal.dll", "WRITE_PORT_UCHAR", address_of(&WRITE_PORT_UCHAR)},
}};

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ImageError("cannot read image " + path + ": " + std::strerror(errno));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::span<const image::Export> platform_exports() { return kExports; }

std::unique_ptr<DriverImage> DriverImage::load(const std::string& path) {
    const std::vector<std::uint8_t> file = read_file(path);
    std::unique_ptr<DriverImage> d(new DriverImage);
    try {
        d->pe_ = image::parse_image(file);
        const std::vector<void*> imports = image::resolve_imports(d->pe_, platform_exports());
        d->mapped_ = std::make_unique<image::MappedImage>(d->pe_, file, imports);
    } catch (const ImageError& e) {
        throw ImageError("cannot load image " + path + ": " + e.what());
    }
    return d;
}

DriverBinding DriverImage::binding() const {
    DriverBinding b;
    b.entry = reinterpret_cast<decltype(b.entry)>(mapped_->entry());
    b.set_debug = nullptr;
    return b;
}

namespace {
void counted(UNICODE_STRING& s, const std::u16string& text) {
    s.Buffer = reinterpret_cast<PWSTR>(const_cast<char16_t*>(text.data()));
    s.Length = static_cast<USHORT>(text.size() * 2);
    s.MaximumLength = static_cast<USHORT>(text.size() * 2 + 2);
}
} // namespace

void DriverImage::describe(DRIVER_OBJECT& driver) const {
    driver.DriverStart = mapped_->base();
    driver.DriverSize = pe_.size_of_image;
    driver.DriverInit = mapped_->entry();
    counted(driver.DriverName, name_);
    counted(hardware_database_string_, hardware_database_);
    driver.HardwareDatabase = &hardware_database_string_;
}

std::optional<int> run_in_image_simulator(int argc, char** argv) {
#if defined(__i386__)
    (void)argc;
    (void)argv;
    return std::nullopt;
#else
    std::vector<std::string> candidates;
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) candidates.push_back((self.parent_path() / "modemsim32").string());
#ifdef MODEMSIM32_PATH
    if (candidates.empty() || candidates.front() != MODEMSIM32_PATH) candidates.push_back(MODEMSIM32_PATH);
#endif
    for (const std::string& path : candidates) {
        if (access(path.c_str(), X_OK) != 0) continue;
        std::vector<char*> args(argv, argv + argc);
        args[0] = const_cast<char*>(path.c_str());
        args.push_back(nullptr);
        execv(path.c_str(), args.data());
        std::cerr << "modemsim: cannot run the 32-bit simulator " << path << ": " << std::strerror(errno) << "\n";
        return 2;
    }
    std::cerr << "modemsim: --image needs modemsim32, the 32-bit x86 build of the simulator, which runs the "
                 "image's code; it was not found";
    for (std::size_t i = 0; i < candidates.size(); ++i) std::cerr << (i ? " or " : " at ") << candidates[i];
    std::cerr << ". It is built when the i686 Linux cross compiler (i686-linux-gnu-g++) is installed "
                 "(scripts/install-deps.sh).\n";
    return 2;
#endif
}

} // namespace sim
