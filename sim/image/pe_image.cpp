#include "sim/image/pe_image.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace sim::image {

namespace {

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kOptionalMagicPe32 = 0x010B;
constexpr std::uint16_t kFileRelocsStripped = 0x0001;
constexpr std::uint16_t kFileExecutable = 0x0002;
constexpr std::uint32_t kPage = 0x1000;
constexpr std::uint32_t kMaxImageSize = 64u << 20;
constexpr std::uint32_t kDirImport = 1;
constexpr std::uint32_t kDirBaseReloc = 5;
constexpr std::uint16_t kRelAbsolute = 0;
constexpr std::uint16_t kRelHighLow = 3;
constexpr std::size_t kOptionalFixedSize = 96; // PE32 optional header up to its data directories

std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

[[noreturn]] void refuse(const std::string& why) { throw ImageError(why); }

// Little-endian fields of the file, bounds checked.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t size() const { return bytes_.size(); }
    bool has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    std::uint8_t u8(std::uint64_t at, const char* what) const {
        need(at, 1, what);
        return bytes_[at];
    }
    std::uint16_t u16(std::uint64_t at, const char* what) const {
        need(at, 2, what);
        return static_cast<std::uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
    }
    std::uint32_t u32(std::uint64_t at, const char* what) const {
        need(at, 4, what);
        return static_cast<std::uint32_t>(bytes_[at]) | static_cast<std::uint32_t>(bytes_[at + 1]) << 8 |
               static_cast<std::uint32_t>(bytes_[at + 2]) << 16 | static_cast<std::uint32_t>(bytes_[at + 3]) << 24;
    }
    void need(std::uint64_t at, std::uint64_t length, const char* what) const {
        if (!has(at, length))
            refuse(std::string("the file is truncated: ") + what + " at " + hex(at) + " runs past its end (" +
                   hex(bytes_.size()) + " bytes)");
    }

private:
    std::span<const std::uint8_t> bytes_;
};

struct Directory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

// The file offset of `length` bytes at `rva`: they must lie in the headers
// or in one section's data in the file.
std::uint64_t file_offset(const PeImage& image, std::uint32_t rva, std::uint32_t length, const char* what) {
    const std::uint64_t end = static_cast<std::uint64_t>(rva) + length;
    if (end <= image.size_of_headers) return rva;
    for (const Section& s : image.sections) {
        if (rva >= s.rva && end <= static_cast<std::uint64_t>(s.rva) + std::min(s.size, s.raw_size))
            return s.raw_offset + (rva - s.rva);
    }
    refuse(std::string(what) + " at RVA " + hex(rva) + " (" + hex(length) +
           " bytes) is not within the data of any section");
}

std::string c_string(const Reader& file, const PeImage& image, std::uint32_t rva, const char* what) {
    std::string out;
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint64_t at = file_offset(image, rva + i, 1, what);
        const std::uint8_t c = file.u8(at, what);
        if (c == 0) return out;
        out += static_cast<char>(c);
    }
    refuse(std::string(what) + " at RVA " + hex(rva) + " has no terminating zero within 256 bytes");
}

void read_sections(const Reader& file, PeImage& image, std::uint64_t table, unsigned count,
                   std::uint32_t section_alignment) {
    file.need(table, static_cast<std::uint64_t>(count) * 40, "the section table");
    std::uint64_t next_free = image.size_of_headers;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint64_t at = table + i * 40ull;
        Section s;
        char name[9] = {};
        for (int k = 0; k < 8; ++k) name[k] = static_cast<char>(file.u8(at + k, "a section name"));
        s.name = name;
        const std::uint32_t virtual_size = file.u32(at + 8, "a section header");
        s.rva = file.u32(at + 12, "a section header");
        s.raw_size = file.u32(at + 16, "a section header");
        s.raw_offset = file.u32(at + 20, "a section header");
        s.characteristics = file.u32(at + 36, "a section header");
        s.size = virtual_size ? virtual_size : s.raw_size;
        if (s.characteristics & kScnUninitializedData) s.raw_size = 0;
        const std::string label = "section " + (s.name.empty() ? "#" + std::to_string(i) : s.name);

        if (s.rva % section_alignment != 0)
            refuse(label + " starts at RVA " + hex(s.rva) + ", not on the section alignment " + hex(section_alignment));
        if (s.rva < next_free)
            refuse(label + " at RVA " + hex(s.rva) + " overlaps the headers or the section before it");
        const std::uint64_t end = static_cast<std::uint64_t>(s.rva) + s.size;
        if (end > image.size_of_image)
            refuse(label + " ends at RVA " + hex(end) + ", past the image size " + hex(image.size_of_image));
        if (s.raw_size && !file.has(s.raw_offset, s.raw_size))
            refuse("the file is truncated: " + label + " has its data at " + hex(s.raw_offset) + ".." +
                   hex(static_cast<std::uint64_t>(s.raw_offset) + s.raw_size) + " but the file ends at " +
                   hex(file.size()));
        if (s.executable() && s.writable()) refuse(label + " is both writable and executable");
        next_free = (end + section_alignment - 1) / section_alignment * section_alignment;
        image.sections.push_back(std::move(s));
    }
}

void read_relocations(const Reader& file, PeImage& image, Directory dir) {
    if (dir.rva == 0 || dir.size == 0)
        refuse("the image has no base relocation directory, so it could run only at its preferred base " +
               hex(image.image_base) + ", and a driver is placed wherever there is room");
    std::uint32_t done = 0;
    while (done < dir.size) {
        if (dir.size - done < 8) refuse("the base relocation directory ends inside a block header");
        const std::uint64_t at = file_offset(image, dir.rva + done, 8, "a base relocation block");
        const std::uint32_t page = file.u32(at, "a base relocation block");
        const std::uint32_t block = file.u32(at + 4, "a base relocation block");
        if (block < 8 || block % 2 != 0 || block > dir.size - done)
            refuse("base relocation block at RVA " + hex(dir.rva + done) + " has a bad size " + hex(block));
        const std::uint64_t entries = file_offset(image, dir.rva + done, block, "a base relocation block");
        for (std::uint32_t k = 8; k < block; k += 2) {
            const std::uint16_t e = file.u16(entries + k, "a base relocation");
            const std::uint16_t type = e >> 12;
            const std::uint32_t rva = page + (e & 0x0FFF);
            if (type == kRelAbsolute) continue;
            if (type != kRelHighLow)
                refuse("base relocation of type " + std::to_string(type) + " at RVA " + hex(rva) +
                       " is not one a 32-bit image uses");
            if (static_cast<std::uint64_t>(rva) + 4 > image.size_of_image)
                refuse("base relocation at RVA " + hex(rva) + " lies outside the image");
            image.relocations.push_back(rva);
        }
        done += block;
    }
}

void read_imports(const Reader& file, PeImage& image, Directory dir) {
    if (dir.rva == 0 || dir.size == 0) return; // imports nothing
    for (std::uint32_t d = 0;; ++d) {
        const std::uint32_t rva = dir.rva + d * 20;
        const std::uint64_t at = file_offset(image, rva, 20, "an import descriptor");
        const std::uint32_t lookup = file.u32(at, "an import descriptor");
        const std::uint32_t name_rva = file.u32(at + 12, "an import descriptor");
        const std::uint32_t slots = file.u32(at + 16, "an import descriptor");
        if (lookup == 0 && name_rva == 0 && slots == 0) break;
        if (name_rva == 0 || slots == 0) refuse("import descriptor " + std::to_string(d) + " has no DLL name or address table");
        const std::string dll = c_string(file, image, name_rva, "an imported DLL's name");
        const std::uint32_t table = lookup ? lookup : slots;
        for (std::uint32_t k = 0;; ++k) {
            const std::uint32_t entry = file.u32(file_offset(image, table + k * 4, 4, "an import lookup table"),
                                                 "an import lookup table");
            if (entry == 0) break;
            Import imp;
            imp.dll = dll;
            imp.slot_rva = slots + k * 4;
            if (static_cast<std::uint64_t>(imp.slot_rva) + 4 > image.size_of_image)
                refuse("the address table of " + dll + " runs past the image");
            if (entry & 0x80000000u) imp.ordinal = entry & 0xFFFF;
            else imp.name = c_string(file, image, entry + 2, "an imported operation's name");
            image.imports.push_back(std::move(imp));
        }
    }
}

bool same_dll(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return low(x) == low(y);
           });
}

} // namespace

PeImage parse_image(std::span<const std::uint8_t> bytes) {
    const Reader file(bytes);
    if (!file.has(0, 0x40) || bytes[0] != 'M' || bytes[1] != 'Z')
        refuse("not an executable image: it does not start with the MZ signature");
    const std::uint32_t pe = file.u32(0x3C, "the PE header offset");
    file.need(pe, 24, "the PE header");
    if (file.u32(pe, "the PE signature") != 0x00004550u)
        refuse("not a PE image: no PE signature at " + hex(pe));
    const std::uint16_t machine = file.u16(pe + 4, "the file header");
    if (machine != kMachineI386)
        refuse("the image is built for machine " + hex(machine) + ", not for x86 (0x14C)");
    const unsigned section_count = file.u16(pe + 6, "the file header");
    const std::uint16_t optional_size = file.u16(pe + 20, "the file header");
    const std::uint16_t characteristics = file.u16(pe + 22, "the file header");
    if (!(characteristics & kFileExecutable)) refuse("the image is not marked executable");
    if (characteristics & kFileRelocsStripped)
        refuse("the image's relocations were stripped, so it could run only at its preferred base");

    const std::uint64_t opt = pe + 24ull;
    file.need(opt, optional_size, "the optional header");
    if (optional_size < 2) refuse("the optional header is missing");
    const std::uint16_t magic = file.u16(opt, "the optional header");
    if (magic != kOptionalMagicPe32)
        refuse("the optional header's magic is " + hex(magic) + ", not that of a 32-bit image (0x10B)");
    if (optional_size < kOptionalFixedSize) refuse("the optional header is too short for a 32-bit image");

    PeImage image;
    image.entry_rva = file.u32(opt + 16, "the optional header");
    image.image_base = file.u32(opt + 28, "the optional header");
    const std::uint32_t section_alignment = file.u32(opt + 32, "the optional header");
    image.size_of_image = file.u32(opt + 56, "the optional header");
    image.size_of_headers = file.u32(opt + 60, "the optional header");
    const std::uint32_t dir_count = file.u32(opt + 92, "the optional header");

    if (section_alignment == 0 || section_alignment % kPage != 0)
        refuse("the section alignment " + hex(section_alignment) + " is not a multiple of the page size, so "
               "sections cannot be given their own protection");
    if (image.image_base % 0x10000 != 0) refuse("the preferred base " + hex(image.image_base) + " is not 64 KB aligned");
    if (image.size_of_image == 0 || image.size_of_image > kMaxImageSize)
        refuse("the image size " + hex(image.size_of_image) + " is not plausible");
    if (image.size_of_headers == 0 || image.size_of_headers > image.size_of_image || !file.has(0, image.size_of_headers))
        refuse("the headers' size " + hex(image.size_of_headers) + " runs past the file or the image");
    if (section_count == 0 || section_count > 96) refuse("the image has " + std::to_string(section_count) + " sections");

    auto directory = [&](std::uint32_t index) {
        Directory d;
        if (index >= dir_count || kOptionalFixedSize + (index + 1) * 8ull > optional_size) return d;
        d.rva = file.u32(opt + kOptionalFixedSize + index * 8, "a data directory");
        d.size = file.u32(opt + kOptionalFixedSize + index * 8 + 4, "a data directory");
        return d;
    };

    read_sections(file, image, opt + optional_size, section_count, section_alignment);

    const auto code = std::find_if(image.sections.begin(), image.sections.end(), [&](const Section& s) {
        return s.executable() && image.entry_rva >= s.rva && image.entry_rva < s.rva + s.size;
    });
    if (image.entry_rva == 0 || code == image.sections.end())
        refuse("the entry point at RVA " + hex(image.entry_rva) + " is not in a code section");

    read_relocations(file, image, directory(kDirBaseReloc));
    read_imports(file, image, directory(kDirImport));
    return image;
}

std::vector<void*> resolve_imports(const PeImage& image, std::span<const Export> exports) {
    std::vector<void*> out;
    for (const Import& imp : image.imports) {
        const bool dll_known = std::any_of(exports.begin(), exports.end(),
                                           [&](const Export& e) { return same_dll(e.dll, imp.dll); });
        if (!dll_known)
            refuse("the image imports " + (imp.name.empty() ? "ordinal " + std::to_string(imp.ordinal) : imp.name) +
                   " from " + imp.dll + ", a DLL the simulated platform does not provide");
        if (imp.name.empty())
            refuse("the image imports ordinal " + std::to_string(imp.ordinal) + " from " + imp.dll +
                   "; only imports by name are resolved");
        const auto e = std::find_if(exports.begin(), exports.end(),
                                    [&](const Export& x) { return same_dll(x.dll, imp.dll) && imp.name == x.name; });
        if (e == exports.end())
            refuse("the image imports " + imp.name + " from " + imp.dll + ", which the simulated platform does not provide");
        out.push_back(e->address);
    }
    return out;
}

#if defined(__i386__)

MappedImage::MappedImage(const PeImage& image, std::span<const std::uint8_t> file, const std::vector<void*>& imports) {
    if (imports.size() != image.imports.size()) throw ImageError("the imports were not all resolved");
    const std::uint32_t mapped = (image.size_of_image + kPage - 1) / kPage * kPage;
    void* region = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) throw ImageError("no room for an image of " + hex(image.size_of_image) + " bytes");
    base_ = static_cast<std::uint8_t*>(region);
    size_ = mapped;

    std::memcpy(base_, file.data(), image.size_of_headers);
    for (const Section& s : image.sections)
        if (s.raw_size) std::memcpy(base_ + s.rva, file.data() + s.raw_offset, std::min(s.size, s.raw_size));

    const std::uint32_t delta = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(base_)) - image.image_base;
    for (std::uint32_t rva : image.relocations) {
        std::uint32_t v;
        std::memcpy(&v, base_ + rva, 4);
        v += delta;
        std::memcpy(base_ + rva, &v, 4);
    }
    for (std::size_t i = 0; i < imports.size(); ++i) {
        const auto address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(imports[i]));
        std::memcpy(base_ + image.imports[i].slot_rva, &address, 4);
    }

    // Headers and gaps read only; each section as it asks.
    bool ok = mprotect(base_, size_, PROT_READ) == 0;
    for (const Section& s : image.sections) {
        const std::uint32_t length = (s.size + kPage - 1) / kPage * kPage;
        const int prot = s.executable() ? PROT_READ | PROT_EXEC : s.writable() ? PROT_READ | PROT_WRITE : PROT_READ;
        if (length) ok = ok && mprotect(base_ + s.rva, length, prot) == 0;
    }
    if (!ok) {
        munmap(base_, size_);
        throw ImageError("cannot give the image's sections their protection");
    }
    entry_ = base_ + image.entry_rva;
}

#else

MappedImage::MappedImage(const PeImage&, std::span<const std::uint8_t>, const std::vector<void*>&) {
    throw ImageError("an x86 image runs only in the 32-bit x86 build of the simulator");
}

#endif

MappedImage::~MappedImage() {
    if (base_) munmap(base_, size_);
}

} // namespace sim::image
