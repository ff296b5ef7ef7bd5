// Shared helpers of the Dialtrim tests: registry texts built by code, the
// program run in-process over a registry, and file image helpers.
#pragma once

#include "host.hpp"
#include "regfile.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <cstdio>
#include <string>
#include <vector>

namespace dialtrim::test {

inline const std::string kClass = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\";

inline const std::string kBanner = "\nNuvalt Dialtrim Utility for Windows 95\n"
                                   "Version 1.00,Copyright (C) 1995 Nuvalt. All rights reserved.\n"
                                   "Removes ';' from dialsuffix setting in registry\n"
                                   "for all Nuvalt Modems.\n\n";

// A quoted registry string.
inline std::string Str(const std::string &text) { return "\"" + text + "\""; }

// One modem instance key. model and dialSuffix hold the data as the file
// writes it ("\"text\"", "hex:..."); empty means the value is absent.
struct Modem {
    std::string model;
    bool settings = true;
    std::string dialSuffix = Str(";");
};

// A REGEDIT4 file (LF line ends) with the modem class key and the given
// instances under their four-digit names.
inline std::string ModemRegistry(const std::vector<std::pair<int, Modem>> &instances)
{
    std::string text = "REGEDIT4\n\n[" + kClass.substr(0, kClass.size() - 1) + "]\n@=\"Modem\"\n\n";
    for (const auto &[index, modem] : instances) {
        char name[16];
        std::snprintf(name, sizeof name, "%04d", index);
        text += "[" + kClass + name + "]\n";
        if (!modem.model.empty())
            text += "\"Model\"=" + modem.model + "\n";
        text += "\"Manufacturer\"=\"Someone\"\n\n";
        if (modem.settings) {
            text += "[" + kClass + name + "\\Settings]\n\"Prefix\"=\"AT\"\n";
            if (!modem.dialSuffix.empty())
                text += "\"DialSuffix\"=" + modem.dialSuffix + "\n";
            text += "\n";
        }
    }
    return text;
}

inline std::vector<std::uint8_t> Bytes(const std::string &text) { return {text.begin(), text.end()}; }

// The text with LF line ends turned into CR LF.
inline std::string WithCrLf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// The 8-bit text as a Unicode registry file image: byte-order mark, then
// UTF-16LE of each byte taken as Latin-1, and the header of that format.
inline std::vector<std::uint8_t> Utf16Image(std::string text)
{
    if (text.rfind("REGEDIT4", 0) == 0)
        text.replace(0, 8, "Windows Registry Editor Version 5.00");
    std::vector<std::uint8_t> out = {0xFF, 0xFE};
    for (char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

inline RegistryFile ParseOrDie(const std::vector<std::uint8_t> &image)
{
    std::string error;
    auto file = RegistryFile::Parse(image, "test.reg", error);
    if (!file)
        throw std::runtime_error("fixture does not parse: " + error);
    return std::move(*file);
}

inline RegistryFile ParseOrDie(const std::string &text) { return ParseOrDie(Bytes(text)); }

// The data of a value as the "A" calls see it, or nothing.
inline std::optional<std::vector<std::uint8_t>> ValueData(const RegistryFile &file, const std::string &key,
                                                          const std::string &name)
{
    auto v = file.Query(key, name);
    if (!v)
        return std::nullopt;
    return v->data;
}

struct RunResult {
    int status = 0;
    std::string output;
    std::size_t outputAtKeyWait = std::string::npos;  // output length when the key wait began
    int keyWaits = 0;
    std::vector<RegCall> calls;
    int maxOpenKeys = 0;
    std::size_t keysLeftOpen = 0;

    std::vector<const RegCall *> Sets() const
    {
        std::vector<const RegCall *> out;
        for (const auto &c : calls)
            if (c.kind == RegCall::Set)
                out.push_back(&c);
        return out;
    }
};

struct RunOptions {
    std::uint32_t platform = 1;
    bool versionQueryFails = false;
    int key = 'k';
};

// Runs the program with the arguments after its name.
inline RunResult RunProgram(RegistryFile *registry, std::vector<std::string> args, RunOptions options = {})
{
    RunResult r;
    HostSession session;
    session.registry = registry;
    session.platformId = options.platform;
    session.versionQueryFails = options.versionQueryFails;
    session.traceCalls = true;
    session.output = [&](std::string_view text) { r.output += text; };
    session.readKey = [&] {
        r.outputAtKeyWait = r.output.size();
        return options.key;
    };
    args.insert(args.begin(), "DIALTRIM");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    r.status = RunDialtrim(session, static_cast<int>(args.size()), argv.data());
    r.keyWaits = session.keyWaits;
    r.calls = std::move(session.calls);
    r.maxOpenKeys = session.maxOpenKeys;
    r.keysLeftOpen = session.openKeys.size();
    return r;
}

} // namespace dialtrim::test
