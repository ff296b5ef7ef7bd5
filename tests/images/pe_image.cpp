#include "pe_image.hpp"

#include <fstream>
#include <iterator>
#include <sstream>

namespace pe {
namespace {

bool Has(const std::vector<std::uint8_t> &b, std::size_t off, std::size_t n)
{
    return off <= b.size() && n <= b.size() - off;
}

std::uint16_t U16(const std::vector<std::uint8_t> &b, std::size_t off)
{
    return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}

std::uint32_t U32(const std::vector<std::uint8_t> &b, std::size_t off)
{
    return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
           (static_cast<std::uint32_t>(b[off + 2]) << 16) | (static_cast<std::uint32_t>(b[off + 3]) << 24);
}

// A zero-terminated 8-bit name at an RVA.
std::optional<std::string> NameAt(const Image &image, std::uint32_t rva)
{
    const Section *s = image.SectionAt(rva);
    if (s == nullptr)
        return std::nullopt;
    std::string name;
    for (std::uint32_t r = rva;; ++r) {
        auto off = image.Offset(r);
        if (!off)
            return std::nullopt;
        char c = static_cast<char>(image.bytes[*off]);
        if (c == '\0')
            return name;
        name += c;
        if (name.size() > 4096)
            return std::nullopt;
    }
}

} // namespace

const Section *Image::SectionAt(std::uint32_t rva) const
{
    for (const Section &s : sections) {
        std::uint32_t span = std::max(s.virtualSize, s.rawSize);
        if (rva >= s.virtualAddress && rva - s.virtualAddress < span)
            return &s;
    }
    return nullptr;
}

std::optional<std::uint32_t> Image::Offset(std::uint32_t rva, std::uint32_t size) const
{
    const Section *s = SectionAt(rva);
    if (s == nullptr)
        return std::nullopt;
    std::uint32_t within = rva - s->virtualAddress;
    if (within > s->rawSize || size > s->rawSize - within)
        return std::nullopt;
    std::uint32_t off = s->rawOffset + within;
    if (!Has(bytes, off, size))
        return std::nullopt;
    return off;
}

std::optional<Image> Load(const std::string &path, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    Image im;
    im.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const auto &b = im.bytes;
    if (!Has(b, 0, 0x40) || b[0] != 'M' || b[1] != 'Z') {
        error = "no MZ header";
        return std::nullopt;
    }
    im.peOffset = U32(b, 0x3C);
    std::size_t pe = im.peOffset;
    if (!Has(b, pe, 24) || U32(b, pe) != 0x00004550) {
        error = "no PE signature";
        return std::nullopt;
    }
    std::size_t coff = pe + 4;
    im.machine = U16(b, coff);
    std::uint16_t nsections = U16(b, coff + 2);
    std::uint16_t optSize = U16(b, coff + 16);
    im.fileCharacteristics = U16(b, coff + 18);
    std::size_t opt = coff + 20;
    if (!Has(b, opt, optSize) || optSize < 96) {
        error = "optional header too short";
        return std::nullopt;
    }
    im.magic = U16(b, opt);
    if (im.magic != 0x10B) {
        error = "not a PE32 optional header";
        return std::nullopt;
    }
    im.entryPoint = U32(b, opt + 16);
    im.imageBase = U32(b, opt + 28);
    im.sectionAlignment = U32(b, opt + 32);
    im.fileAlignment = U32(b, opt + 36);
    im.osMajor = U16(b, opt + 40);
    im.osMinor = U16(b, opt + 42);
    im.subsystemMajor = U16(b, opt + 48);
    im.subsystemMinor = U16(b, opt + 50);
    im.sizeOfImage = U32(b, opt + 56);
    im.sizeOfHeaders = U32(b, opt + 60);
    im.checkSumOffset = static_cast<std::uint32_t>(opt + 64);
    im.checkSum = U32(b, opt + 64);
    im.subsystem = U16(b, opt + 68);
    im.dllCharacteristics = U16(b, opt + 70);
    std::uint32_t ndirs = U32(b, opt + 92);
    if (ndirs > 16 || 96 + ndirs * 8 > optSize) {
        error = "bad data directory count";
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < ndirs; ++i)
        im.directories.push_back({U32(b, opt + 96 + i * 8), U32(b, opt + 100 + i * 8)});
    im.directories.resize(16);
    std::size_t sec = opt + optSize;
    if (!Has(b, sec, std::size_t{nsections} * 40)) {
        error = "section table past the end of the file";
        return std::nullopt;
    }
    for (std::uint16_t i = 0; i < nsections; ++i) {
        std::size_t h = sec + i * 40u;
        Section s;
        for (int k = 0; k < 8 && b[h + k] != 0; ++k)
            s.name += static_cast<char>(b[h + k]);
        s.virtualSize = U32(b, h + 8);
        s.virtualAddress = U32(b, h + 12);
        s.rawSize = U32(b, h + 16);
        s.rawOffset = U32(b, h + 20);
        s.characteristics = U32(b, h + 36);
        if (s.rawSize != 0 && !Has(b, s.rawOffset, s.rawSize)) {
            error = "section " + s.name + " past the end of the file";
            return std::nullopt;
        }
        im.sections.push_back(s);
    }
    return im;
}

std::uint32_t ComputeCheckSum(const Image &image)
{
    const auto &b = image.bytes;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < b.size(); i += 2) {
        if (i == image.checkSumOffset || i == image.checkSumOffset + 2)
            continue;
        std::uint32_t word = b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + b.size());
}

std::vector<std::pair<std::string, std::vector<std::string>>> Imports(const Image &image,
                                                                      std::string &error)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    DataDirectory dir = image.directories[kDirImport];
    if (dir.size == 0)
        return out;
    for (std::uint32_t d = dir.rva;; d += 20) {
        auto off = image.Offset(d, 20);
        if (!off) {
            error = "import descriptor outside the image";
            return out;
        }
        std::uint32_t lookup = U32(image.bytes, *off);
        std::uint32_t nameRva = U32(image.bytes, *off + 12);
        std::uint32_t thunks = U32(image.bytes, *off + 16);
        if (lookup == 0 && nameRva == 0 && thunks == 0)
            return out;
        auto dll = NameAt(image, nameRva);
        if (!dll) {
            error = "import DLL name outside the image";
            return out;
        }
        std::vector<std::string> names;
        for (std::uint32_t t = lookup != 0 ? lookup : thunks;; t += 4) {
            auto toff = image.Offset(t, 4);
            if (!toff) {
                error = "import lookup table outside the image";
                return out;
            }
            std::uint32_t entry = U32(image.bytes, *toff);
            if (entry == 0)
                break;
            if (entry & 0x80000000u) {
                names.push_back("#" + std::to_string(entry & 0xFFFF));
                continue;
            }
            auto name = NameAt(image, entry + 2);
            if (!name) {
                error = "import name outside the image";
                return out;
            }
            names.push_back(*name);
        }
        out.emplace_back(*dll, names);
    }
}

std::optional<std::vector<std::uint8_t>> Resource(const Image &image, std::uint32_t type,
                                                  std::uint32_t id, std::uint32_t language,
                                                  std::string &error)
{
    DataDirectory dir = image.directories[kDirResource];
    if (dir.size == 0) {
        error = "no resource directory";
        return std::nullopt;
    }
    // Finds the entry with a numeric id in the directory at a directory
    // offset; returns the entry's target (offset, and whether it is a
    // directory).
    auto find = [&](std::uint32_t at, std::uint32_t want, std::uint32_t &target, bool &isDir) {
        auto off = image.Offset(dir.rva + at, 16);
        if (!off)
            return false;
        std::uint16_t named = U16(image.bytes, *off + 12);
        std::uint16_t ids = U16(image.bytes, *off + 14);
        for (std::uint32_t i = 0; i < std::uint32_t{named} + ids; ++i) {
            auto e = image.Offset(dir.rva + at + 16 + i * 8, 8);
            if (!e)
                return false;
            std::uint32_t name = U32(image.bytes, *e);
            std::uint32_t data = U32(image.bytes, *e + 4);
            if ((name & 0x80000000u) == 0 && name == want) {
                target = data & 0x7FFFFFFFu;
                isDir = (data & 0x80000000u) != 0;
                return true;
            }
        }
        return false;
    };
    std::uint32_t at = 0;
    bool isDir = true;
    for (std::uint32_t want : {type, id, language}) {
        if (!isDir || !find(at, want, at, isDir)) {
            error = "resource not found";
            return std::nullopt;
        }
    }
    if (isDir) {
        error = "resource entry is a directory";
        return std::nullopt;
    }
    auto entry = image.Offset(dir.rva + at, 16);
    if (!entry) {
        error = "resource data entry outside the image";
        return std::nullopt;
    }
    std::uint32_t rva = U32(image.bytes, *entry);
    std::uint32_t size = U32(image.bytes, *entry + 4);
    auto data = image.Offset(rva, size);
    if (!data) {
        error = "resource data outside the image";
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(image.bytes.begin() + *data, image.bytes.begin() + *data + size);
}

namespace {

bool ParseNode(const std::vector<std::uint8_t> &d, std::size_t at, std::size_t limit, VersionNode &node,
               std::size_t &length, std::string &error)
{
    if (at % 4 != 0 || !Has(d, at, 6) || at + 6 > limit) {
        error = "node header out of range";
        return false;
    }
    length = U16(d, at);
    node.valueLength = U16(d, at + 2);
    node.type = U16(d, at + 4);
    if (length < 6 || at + length > limit) {
        error = "node length out of range";
        return false;
    }
    std::size_t end = at + length;
    std::size_t p = at + 6;
    for (;;) {
        if (p + 2 > end) {
            error = "unterminated key";
            return false;
        }
        char16_t c = static_cast<char16_t>(U16(d, p));
        p += 2;
        if (c == 0)
            break;
        node.key += c;
    }
    auto pad = [&](std::size_t &q) {
        while (q % 4 != 0 && q < end) {
            if (d[q] != 0) {
                error = "nonzero padding";
                return false;
            }
            ++q;
        }
        return true;
    };
    if (!pad(p))
        return false;
    // A text value's length counts UTF-16 units, a binary one's bytes.
    std::size_t valueBytes = node.type == 1 ? node.valueLength * 2u : node.valueLength;
    if (p + valueBytes > end) {
        error = "value past the end of its node";
        return false;
    }
    node.value.assign(d.begin() + p, d.begin() + p + valueBytes);
    p += valueBytes;
    if (!pad(p))
        return false;
    while (p < end) {
        VersionNode child;
        std::size_t childLength = 0;
        if (!ParseNode(d, p, end, child, childLength, error))
            return false;
        node.children.push_back(std::move(child));
        p += childLength;
        if (p < end && !pad(p))
            return false;
    }
    return true;
}

} // namespace

std::optional<VersionNode> ParseVersion(const std::vector<std::uint8_t> &data, std::string &error)
{
    VersionNode root;
    std::size_t length = 0;
    if (!ParseNode(data, 0, data.size(), root, length, error))
        return std::nullopt;
    // The resource data may be padded to four bytes after the root node.
    if (length > data.size() || data.size() - length >= 4) {
        error = "root node does not span the resource";
        return std::nullopt;
    }
    return root;
}

std::optional<std::uint32_t> MapSymbol(const std::string &mapPath, const std::string &symbol)
{
    // A symbol's line holds two words: its address and its name (with the
    // C underscore, as some ld versions print it, or without).
    std::ifstream in(mapPath);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string address, name, more;
        if (!(words >> address >> name) || (words >> more))
            continue;
        if (address.rfind("0x", 0) != 0 || (name != symbol && name != "_" + symbol))
            continue;
        return static_cast<std::uint32_t>(std::stoul(address, nullptr, 16));
    }
    return std::nullopt;
}

} // namespace pe
