// Dialtrim over a large registry export file: load it, run the default
// walk, write it back. The file has N modem instances, every second one a
// Nuvalt modem, each with its settings key, in the CR LF form regedit
// writes. Besides the time, the peak of heap memory in use during one run
// is reported next to the file's size, to show it grows linearly.
#include "host.hpp"
#include "regfile.hpp"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// ---- Heap use, counted by the global allocation functions ----
std::atomic<std::size_t> gLive{0}, gPeak{0};

void Count(std::size_t n)
{
    std::size_t live = gLive.fetch_add(n) + n;
    std::size_t peak = gPeak.load();
    while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
    }
}

} // namespace

// GCC takes the free() of a block from the replaced operator new for a
// mismatch; both sides here are malloc and free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void *operator new(std::size_t n)
{
    void *p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    Count(malloc_usable_size(p));
    return p;
}
void operator delete(void *p) noexcept
{
    if (!p)
        return;
    gLive.fetch_sub(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept { operator delete(p); }

namespace {

std::string MakeRegistry(int instances)
{
    const std::string cls = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\";
    std::string text = "REGEDIT4\r\n\r\n[" + cls.substr(0, cls.size() - 1) + "]\r\n@=\"Modem\"\r\n\r\n";
    char name[16];
    for (int i = 0; i < instances; ++i) {
        std::snprintf(name, sizeof name, "%04d", i);
        bool nuvalt = i % 2 == 0;
        text += "[" + cls + name + "]\r\n";
        text += "\"DriverDesc\"=\"" + std::string(nuvalt ? "Nuvalt ThinPocket Modem" : "Hayes Optima 288") + "\"\r\n";
        text += "\"Model\"=\"" + std::string(nuvalt ? "Nuvalt ThinPocket Modem" : "Hayes Optima 288") + "\"\r\n";
        text += "\"Properties\"=hex:80,01,00,00,ff,00,00,00,ff,00,00,00,07,00,00,00,0f,00,00,00,\\\r\n"
                "  f7,03,00,00,00,c2,01,00,40,38,00,00\r\n\r\n";
        text += "[" + cls + name + "\\Settings]\r\n\"Prefix\"=\"AT\"\r\n\"DialSuffix\"=\";\"\r\n"
                "\"Terminator\"=\"<cr>\"\r\n\r\n";
    }
    return text;
}

void LoadWalkWriteBack(benchmark::State &state)
{
    const int instances = static_cast<int>(state.range(0));
    const std::string text = MakeRegistry(instances);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("dialtrim-bench-" + std::to_string(::getpid()) + ".reg")).string();
    std::size_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(text.size()));
        std::size_t base = gLive.load();
        gPeak.store(base);
        state.ResumeTiming();

        std::string error;
        auto file = dialtrim::RegistryFile::Load(path, error);
        if (!file) {
            state.SkipWithError(error.c_str());
            break;
        }
        dialtrim::HostSession session;
        session.registry = &*file;
        session.output = [](std::string_view) {};
        session.readKey = [] { return 'x'; };
        session.beforeKeyWait = [&] {
            if (!file->Save(path, error))
                state.SkipWithError(error.c_str());
        };
        char arg0[] = "DIALTRIM";
        char *argv[] = {arg0, nullptr};
        int status = dialtrim::RunDialtrim(session, 1, argv);
        benchmark::DoNotOptimize(status);
        if (file->writeCount() != static_cast<std::size_t>((instances + 1) / 2))
            state.SkipWithError("not every Nuvalt modem was written");
        peak = std::max(peak, gPeak.load() - base);
    }
    std::remove(path.c_str());
    state.counters["file_bytes"] = static_cast<double>(text.size());
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
    state.counters["heap_per_file_byte"] = static_cast<double>(peak) / static_cast<double>(text.size());
}

// The same work without the disk: the file image parsed from memory and
// rendered into a counting sink, so the figure is the program's own time
// apart from reading, writing and flushing the file.
void ParseWalkRender(benchmark::State &state)
{
    const int instances = static_cast<int>(state.range(0));
    const std::string text = MakeRegistry(instances);
    const std::vector<std::uint8_t> image(text.begin(), text.end());
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::uint8_t> copy = image;
        state.ResumeTiming();
        std::string error;
        auto file = dialtrim::RegistryFile::Parse(std::move(copy), "bench.reg", error);
        dialtrim::HostSession session;
        session.registry = &*file;
        session.output = [](std::string_view) {};
        session.readKey = [] { return 'x'; };
        std::size_t rendered = 0;
        session.beforeKeyWait = [&] { file->RenderTo([&](const std::uint8_t *, std::size_t n) { rendered += n; }); };
        char arg0[] = "DIALTRIM";
        char *argv[] = {arg0, nullptr};
        benchmark::DoNotOptimize(dialtrim::RunDialtrim(session, 1, argv));
        benchmark::DoNotOptimize(rendered);
    }
    state.counters["file_bytes"] = static_cast<double>(text.size());
}

BENCHMARK(ParseWalkRender)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadWalkWriteBack)->Arg(2500)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
