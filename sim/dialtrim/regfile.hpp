// A registry export file as regedit writes it, held so that it can be
// served to the registry calls and written back changed only where values
// were written.
//
// Both formats are read: "REGEDIT4" (8-bit text) and "Windows Registry
// Editor Version 5.00" (UTF-16LE with a byte-order mark), with CR LF or LF
// line ends. The file's own bytes are kept; a written value replaces the
// data of its own line (the name as spelled in the file stays), or is added
// as a new line after the last value of its key's block. Everything else
// renders back byte for byte.
//
// Names are 8-bit text in the ANSI code page (codepage.hpp), as the "A"
// registry calls see them; key and value names compare without regard to
// the case of the letters A to Z. Within a file, as on import, a later
// value of the same name wins, a key listed twice is one key, and a key
// named only as the parent of another key exists without values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dialtrim {

enum class RegFormat {
    Regedit4,   // "REGEDIT4"
    Version5,   // "Windows Registry Editor Version 5.00"
};

enum class RegEncoding {
    Ansi,       // 8-bit text (a UTF-8 byte-order mark, if present, is kept)
    Utf16Le,    // UTF-16LE after the byte-order mark FF FE
};

struct RegValue {
    std::uint32_t type = 0;          // REG_SZ, REG_BINARY ...
    std::vector<std::uint8_t> data;  // as the "A" calls see it; strings with their NUL
};

class RegistryFile {
public:
    // Parses a file image; name is used in error messages. On failure
    // returns nothing and sets error to "name:line: what is wrong".
    static std::optional<RegistryFile> Parse(std::vector<std::uint8_t> image, std::string_view name,
                                             std::string &error);

    // Reads and parses a file.
    static std::optional<RegistryFile> Load(const std::string &path, std::string &error);

    RegistryFile(RegistryFile &&) = default;
    RegistryFile &operator=(RegistryFile &&) = default;
    RegistryFile(const RegistryFile &) = delete;
    RegistryFile &operator=(const RegistryFile &) = delete;

    RegFormat format() const { return format_; }
    RegEncoding encoding() const { return encoding_; }

    // Full key paths begin with the root key, e.g.
    // "HKEY_LOCAL_MACHINE\System\CurrentControlSet".
    bool HasKey(std::string_view path) const;

    // A value of a key; name "" is the key's default value ("@").
    std::optional<RegValue> Query(std::string_view key, std::string_view name) const;

    // Writes a value of an existing key; false when the key does not exist.
    bool Set(std::string_view key, std::string_view name, std::uint32_t type,
             std::span<const std::uint8_t> data);

    // How many times Set wrote a value since the file was read.
    std::size_t writeCount() const { return writeCount_; }
    bool modified() const { return writeCount_ != 0; }

    // The file image with the written values, whole or piece by piece.
    std::vector<std::uint8_t> Render() const;
    void RenderTo(const std::function<void(const std::uint8_t *, std::size_t)> &sink) const;

    // Writes the image to path atomically: a temporary file beside it,
    // flushed to disk, then renamed over it. On failure path is unchanged.
    bool Save(const std::string &path, std::string &error) const;

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    struct Line {
        std::uint32_t begin;  // first unit
        std::uint32_t end;    // end of the content, before the line end
        std::uint32_t next;   // first unit of the next line
    };
    struct Value {            // a value line (or lines, for continued hex data) of the file
        std::string name;     // folded
        std::uint32_t firstLine;
        std::uint32_t lastLine;
        std::uint32_t dataBegin;         // unit after '='
        std::uint32_t written = kNone;   // index in written_
    };
    struct Added {            // a value Set added to a block
        std::string name;     // folded
        std::string spelled;  // as given to Set
        std::uint32_t written;
        std::uint32_t next = kNone;      // next added value of the block
    };
    struct Block {            // one [key] section; a key may have several
        std::uint32_t firstValue;
        std::uint32_t valueCount = 0;
        std::uint32_t anchorLine;        // new values go after this line; kNone: block added at the end
        std::uint32_t nextOfKey = kNone;
        std::uint32_t firstAdded = kNone;
        std::uint32_t lastAdded = kNone;
        std::uint32_t addedPath = kNone;  // index in addedPaths_, for a block added at the end
    };
    struct Key {
        std::uint32_t firstBlock = kNone;
        std::uint32_t lastBlock = kNone;
    };

    RegistryFile() = default;
    template <class View> bool ParseAll(View u, std::string_view name, std::string &error);
    template <class View>
    bool ParseData(View u, std::size_t line, std::size_t pos, std::size_t &lastLine, RegValue *out,
                   std::size_t &errorLine, std::string &error) const;
    using KeyMap = std::unordered_map<std::string_view, Key>;
    Key &AddKey(std::string_view folded);
    const Key *FindKey(std::string_view path) const;
    // The value of that name that counts (the last), as a written_ index or
    // a values_ index; both kNone when absent.
    void FindValue(const Key &key, const std::string &foldedName, std::uint32_t &value,
                   std::uint32_t &added) const;
    std::optional<RegValue> Decode(const Value &value) const;
    std::string UnitsAsAnsi(std::u16string_view units) const;
    std::u16string ToUnits(std::string_view ansi) const;
    std::u16string DataText(const RegValue &value) const;
    std::u16string LineEnd(std::uint32_t line) const;
    std::size_t ByteOffset(std::size_t unit) const;
    std::string_view AnsiUnits() const;

    std::vector<std::uint8_t> image_;
    std::size_t bomBytes_ = 0;
    RegFormat format_ = RegFormat::Regedit4;
    RegEncoding encoding_ = RegEncoding::Ansi;
    std::u16string units_;            // the text of a UTF-16 file; an 8-bit file is read in place
    std::vector<Line> lines_;
    std::vector<Value> values_;
    std::vector<Block> blocks_;
    std::vector<Added> added_;
    std::vector<RegValue> written_;
    std::vector<std::string> addedPaths_;  // spelled paths of blocks added at the end
    std::vector<char> pathArena_;     // folded key paths; the map's keys point into it
    KeyMap keys_;
    mutable std::string scratch_;
    std::size_t writeCount_ = 0;
};

// Folds the letters A to Z to lower case; other bytes stay.
std::string FoldName(std::string_view name);

// Writes data to path atomically (temporary file, flush, rename). Follows a
// symbolic link to the file it names and keeps the file's permissions.
bool WriteFileAtomically(const std::string &path, std::span<const std::uint8_t> data,
                         std::string &error);

} // namespace dialtrim
