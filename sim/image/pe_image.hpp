// Reading a 32-bit x86 kernel-mode image (PE32) and placing it in memory:
// the checks a loader makes before it runs a byte of it, its base
// relocations, and its imports, each resolved by DLL and name to the
// operation that serves it.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim::image {

// An image that cannot be loaded; the text says why.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::uint32_t kScnCode = 0x00000020;
inline constexpr std::uint32_t kScnUninitializedData = 0x00000080;
inline constexpr std::uint32_t kScnMemExecute = 0x20000000;
inline constexpr std::uint32_t kScnMemRead = 0x40000000;
inline constexpr std::uint32_t kScnMemWrite = 0x80000000;

struct Section {
    std::string name;
    std::uint32_t rva = 0;
    std::uint32_t size = 0;        // in memory
    std::uint32_t raw_offset = 0;  // in the file
    std::uint32_t raw_size = 0;    // in the file
    std::uint32_t characteristics = 0;
    bool executable() const { return characteristics & (kScnMemExecute | kScnCode); }
    bool writable() const { return characteristics & kScnMemWrite; }
};

// One imported operation and the address-table slot that receives it.
struct Import {
    std::string dll;
    std::string name;         // empty for an import by ordinal
    std::uint32_t ordinal = 0; // for an import by ordinal
    std::uint32_t slot_rva = 0;
};

struct PeImage {
    std::uint32_t image_base = 0;
    std::uint32_t size_of_image = 0;
    std::uint32_t size_of_headers = 0;
    std::uint32_t entry_rva = 0;
    std::vector<Section> sections;
    std::vector<Import> imports;
    std::vector<std::uint32_t> relocations; // RVAs of 32-bit absolute fixups
};

// Reads and checks the image held in `file`; throws ImageError naming what
// is wrong: no MZ or PE signature, not x86, not PE32, headers, sections or
// directories that run past the file or the image, a writable section that
// is also executable, an entry point outside the code, no base relocation
// directory (a driver is placed wherever the kernel finds room), or a
// relocation of a kind a 32-bit image does not use.
PeImage parse_image(std::span<const std::uint8_t> file);

// An operation a DLL of the platform exports.
struct Export {
    const char* dll;
    const char* name;
    void* address;
};

// The address of each import, in the order of image.imports; throws
// ImageError naming the first import that no export serves. DLL names
// match regardless of case, operation names exactly.
std::vector<void*> resolve_imports(const PeImage& image, std::span<const Export> exports);

// An image placed in memory: headers and sections copied, relocated to
// where it landed, its address table filled, and each section given the
// protection it asks for (code read and execute, data read and write,
// constants read only). Unmapped when destroyed.
class MappedImage {
public:
    // Only on an x86 host: elsewhere the image's code could not run, and
    // this throws ImageError.
    MappedImage(const PeImage& image, std::span<const std::uint8_t> file, const std::vector<void*>& imports);
    ~MappedImage();
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;

    std::uint8_t* base() const { return base_; }
    std::uint32_t size() const { return size_; }
    void* entry() const { return entry_; }

private:
    std::uint8_t* base_ = nullptr;
    std::uint32_t size_ = 0;
    void* entry_ = nullptr;
};

} // namespace sim::image
