// modemsim: loads the driver on a simulated PC described by a machine file
// (or the built-in typical boot) and reports what happened.
#include "sim/image/driver_image.hpp"
#include "sim/machine/machine.hpp"

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: modemsim [MACHINE.toml] [--debug N] [--json] [--unload] [--image MODEM.SYS]\n"
    "\n"
    "Loads the ThinPocket driver on a simulated PC and reports the load.\n"
    "  MACHINE.toml  machine description; without it, the built-in typical boot\n"
    "  --debug N     the value the driver's defaults give Debug (overrides driver.debug)\n"
    "  --json        write the full report as JSON instead of the summary\n"
    "  --unload      also run the driver's unload routine and report it\n"
    "  --image PATH  run this kernel image of the driver instead of the built-in\n"
    "                driver; its Debug is the one it was built with\n"
    "  --help        show this text\n"
    "\n"
    "Exit status: 0 when the load ran (whatever status the driver returned),\n"
    "2 for a bad command line, machine file or image.\n";

int usage_error(const std::string& why) {
    std::cerr << "modemsim: " << why << "\n\n" << kUsage;
    return 2;
}

std::optional<std::uint32_t> parse_number(const std::string& s) {
    if (s.empty()) return std::nullopt;
    try {
        std::size_t used = 0;
        unsigned long long v = std::stoull(s, &used, 0);
        if (used != s.size() || v > 0xFFFFFFFFull || s[0] == '-') return std::nullopt;
        return static_cast<std::uint32_t>(v);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::optional<std::string> machine_file;
    std::optional<std::uint32_t> debug;
    bool json = false;
    bool unload = false;
    std::optional<std::string> image;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--unload") {
            unload = true;
        } else if (arg == "--debug") {
            if (i + 1 >= argc) return usage_error("--debug needs a value");
            debug = parse_number(argv[++i]);
            if (!debug) return usage_error(std::string("--debug: not a 32-bit unsigned number: ") + argv[i]);
        } else if (arg == "--image") {
            if (i + 1 >= argc) return usage_error("--image needs a path");
            image = argv[++i];
        } else if (arg.starts_with("--")) {
            return usage_error("unknown option " + arg);
        } else if (machine_file) {
            return usage_error("only one machine file may be given");
        } else {
            machine_file = arg;
        }
    }

    sim::MachineSpec description;
    try {
        description = machine_file ? sim::load_machine_file(*machine_file) : sim::default_machine();
    } catch (const sim::MachineError& e) {
        std::cerr << "modemsim: " << e.what() << "\n";
        return 2;
    }
    if (debug) description.debug = *debug;

    std::unique_ptr<sim::DriverImage> driver_image;
    if (image) {
        if (auto status = sim::run_in_image_simulator(argc, argv)) return *status;
        try {
            driver_image = sim::DriverImage::load(*image);
        } catch (const sim::ImageError& e) {
            std::cerr << "modemsim: " << e.what() << "\n";
            return 2;
        }
        if (debug) std::cerr << "modemsim: note: --debug does not reach an image, whose Debug is built in\n";
    }

    sim::Machine machine(description, driver_image ? driver_image->binding() : sim::host_driver());
    if (driver_image) driver_image->describe(*machine.kernel().driver_object());
    machine.load();
    machine.probe();
    if (unload) machine.unload();

    if (json) std::cout << machine.report().dump(2) << "\n";
    else std::cout << machine.summary();
    return 0;
}
