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

    // The file image with the written values.
    std::vector<std::uint8_t> Render() const;

    // Writes Render() to path atomically: a temporary file beside it,
    // flushed to disk, then renamed over it. On failure path is unchanged.
    bool Save(const std::string &path, std::string &error) const;

private:
    struct Line {
        std::size_t begin;  // first unit
        std::size_t end;    // end of the content, before the line end
        std::size_t next;   // first unit of the next line
    };
    struct Value {
        std::string name;          // folded
        std::size_t firstLine;
        std::size_t lastLine;      // differs for continued hex data
        std::size_t dataBegin;     // unit after '='
        bool inserted = false;     // added by Set, not in the file
        std::optional<RegValue> written;
        std::string spelled;       // name as given to Set, for an added value
    };
    struct Block {
        std::size_t anchorLine;    // new values go after this line; npos: new block at the end
        std::string spelledPath;   // for a block added at the end of the file
        std::vector<std::size_t> values;    // from the file, in order
        std::vector<std::size_t> inserted;  // added by Set, in order
    };
    struct Key {
        std::vector<std::size_t> blocks;
    };

    RegistryFile() = default;
    bool ParseAll(std::string_view name, std::string &error);
    void AddKey(const std::string &folded);
    std::size_t FindValue(const Key &key, const std::string &foldedName) const;
    bool ParseData(std::size_t line, std::size_t pos, std::size_t &lastLine, RegValue *out,
                   std::size_t &errorLine, std::string &error) const;
    std::optional<RegValue> Decode(const Value &value) const;
    std::string UnitsAsAnsi(std::u16string_view units) const;
    std::u16string DataText(const RegValue &value) const;
    std::u16string ToUnits(std::string_view ansi) const;
    std::u16string LineEnd(std::size_t line) const;
    void Emit(std::vector<std::uint8_t> &out, std::u16string_view text) const;
    std::size_t ByteOffset(std::size_t unit) const;

    std::vector<std::uint8_t> image_;
    std::size_t bomBytes_ = 0;
    RegFormat format_ = RegFormat::Regedit4;
    RegEncoding encoding_ = RegEncoding::Ansi;
    std::u16string units_;
    std::vector<Line> lines_;
    std::vector<Value> values_;
    std::vector<Block> blocks_;
    std::unordered_map<std::string, Key> keys_;
    std::size_t writeCount_ = 0;
};

// Folds the letters A to Z to lower case; other bytes stay.
std::string FoldName(std::string_view name);

// Writes data to path atomically (temporary file, flush, rename). Follows a
// symbolic link to the file it names and keeps the file's permissions.
bool WriteFileAtomically(const std::string &path, std::span<const std::uint8_t> data,
                         std::string &error);

} // namespace dialtrim
