// image_map_check IMAGE: loads a kernel image as modemsim32 does, without
// running it, and prints the protection the process's memory map shows for
// its headers and each section ("headers r--", "section .text r-x"), one a
// line, for the test suite to compare with what each section asks for.
#include "sim/image/driver_image.hpp"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// The protection of the mapping that holds `address`, as /proc/self/maps
// writes it ("r-x"), or "none" when nothing is mapped there.
std::string protection_at(std::uintptr_t address) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::istringstream in(line);
        std::string range, perms;
        in >> range >> perms;
        const auto dash = range.find('-');
        const std::uintptr_t lo = std::stoull(range.substr(0, dash), nullptr, 16);
        const std::uintptr_t hi = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (address >= lo && address < hi) return perms.substr(0, 3);
    }
    return "none";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: image_map_check IMAGE\n";
        return 2;
    }
    try {
        const auto image = sim::DriverImage::load(argv[1]);
        const auto base = reinterpret_cast<std::uintptr_t>(image->mapped().base());
        std::cout << "headers " << protection_at(base) << "\n";
        for (const auto& s : image->pe().sections)
            std::cout << "section " << s.name << " " << protection_at(base + s.rva) << "\n";
    } catch (const sim::ImageError& e) {
        std::cerr << "image_map_check: " << e.what() << "\n";
        return 2;
    }
    return 0;
}
