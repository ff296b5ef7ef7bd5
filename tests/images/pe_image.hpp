// A small reader of 32-bit PE images for the image tests: headers, sections,
// imports, resources and the version resource, each read with bounds checks
// so that a malformed image fails a test instead of reading past the file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pe {

struct Section {
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t characteristics = 0;
};

struct DataDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

constexpr std::uint32_t kSectionExecute = 0x20000000;
constexpr std::uint32_t kSectionRead = 0x40000000;
constexpr std::uint32_t kSectionWrite = 0x80000000;
constexpr std::uint32_t kSectionCode = 0x00000020;

constexpr int kDirImport = 1;
constexpr int kDirResource = 2;
constexpr int kDirBaseReloc = 5;

struct Image {
    std::vector<std::uint8_t> bytes;
    std::uint32_t peOffset = 0;
    std::uint16_t machine = 0;
    std::uint16_t fileCharacteristics = 0;
    std::uint16_t magic = 0;
    std::uint32_t entryPoint = 0;
    std::uint32_t imageBase = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint16_t osMajor = 0, osMinor = 0;
    std::uint16_t subsystemMajor = 0, subsystemMinor = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t checkSum = 0;
    std::uint32_t checkSumOffset = 0; // file offset of the CheckSum field
    std::uint16_t subsystem = 0;
    std::uint16_t dllCharacteristics = 0;
    std::vector<DataDirectory> directories;
    std::vector<Section> sections;

    // The section holding an RVA, or nothing.
    const Section *SectionAt(std::uint32_t rva) const;
    // File offset of size bytes at an RVA, all inside one section's raw data.
    std::optional<std::uint32_t> Offset(std::uint32_t rva, std::uint32_t size = 1) const;
};

// Parses the headers; on failure returns nothing and sets error.
std::optional<Image> Load(const std::string &path, std::string &error);

// The PE checksum of the file as the loader computes it: 16-bit sums with
// carry folded, the CheckSum field itself skipped, plus the file length.
std::uint32_t ComputeCheckSum(const Image &image);

// Imported names per DLL, in the order of the import directory and of each
// DLL's lookup table. An import by ordinal is given as "#N". Sets error and
// returns what was read so far on a malformed table.
std::vector<std::pair<std::string, std::vector<std::string>>> Imports(const Image &image,
                                                                      std::string &error);

// The data of one resource (type, id, language), or nothing.
std::optional<std::vector<std::uint8_t>> Resource(const Image &image, std::uint32_t type,
                                                  std::uint32_t id, std::uint32_t language,
                                                  std::string &error);

// One node of a version resource: key, type (0 binary, 1 text), the value's
// length as the node states it, its bytes, and its children.
struct VersionNode {
    std::u16string key;
    std::uint16_t type = 0;
    std::uint16_t valueLength = 0;
    std::vector<std::uint8_t> value;
    std::vector<VersionNode> children;
};

// Parses a version resource strictly: every length in range, padding to
// four bytes, the node lengths adding up. Sets error on the first fault.
std::optional<VersionNode> ParseVersion(const std::vector<std::uint8_t> &data, std::string &error);

// The address of a symbol in a GNU ld map file ("0x... symbol"), or nothing.
std::optional<std::uint32_t> MapSymbol(const std::string &mapPath, const std::string &symbol);

} // namespace pe
