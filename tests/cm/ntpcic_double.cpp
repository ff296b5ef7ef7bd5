#include "ntpcic_double.hpp"

#include "modem/ntpcic.h"

namespace cmtest {

PcicDouble& pcic_double() {
    static PcicDouble d;
    return d;
}

} // namespace cmtest

using cmtest::pcic_double;

extern "C" {

VOID Ntusecwait(LONG Count) { pcic_double().calls.push_back({"Ntusecwait", {static_cast<std::uint64_t>(Count)}}); }

UCHAR NtPCIC_Read_Reg(LONG Socket, ULONG Reg, ULONG_PTR Port) {
    pcic_double().calls.push_back({"NtPCIC_Read_Reg", {static_cast<std::uint64_t>(Socket), Reg, Port}});
    return pcic_double().script.id_byte;
}

VOID NtPCIC_Write_Reg(LONG Socket, ULONG Reg, ULONG Value, ULONG_PTR Port) {
    pcic_double().calls.push_back({"NtPCIC_Write_Reg", {static_cast<std::uint64_t>(Socket), Reg, Value, Port}});
}

LONG NtPCIC_Enable(LONG Socket, ULONG_PTR Port) {
    auto& d = pcic_double();
    d.calls.push_back({"NtPCIC_Enable", {static_cast<std::uint64_t>(Socket), Port}});
    if (d.script.enable.empty()) {
        d.script_exhausted = true;
        return 1;
    }
    LONG r = d.script.enable.front();
    d.script.enable.pop_front();
    return r;
}

LONG NtPCIC_Enable_Memory(LONG Socket, ULONG Window, ULONG SysAddr, ULONG Length, ULONG CardAddr, ULONG Flags,
                          ULONG_PTR Port) {
    pcic_double().calls.push_back(
        {"NtPCIC_Enable_Memory", {static_cast<std::uint64_t>(Socket), Window, SysAddr, Length, CardAddr, Flags, Port}});
    return pcic_double().script.memory;
}

LONG NtPCIC_Enable_IO(LONG Socket, ULONG Window, ULONG FirstPort, ULONG Count, ULONG Flags, ULONG_PTR Port) {
    pcic_double().calls.push_back(
        {"NtPCIC_Enable_IO", {static_cast<std::uint64_t>(Socket), Window, FirstPort, Count, Flags, Port}});
    return pcic_double().script.io;
}

LONG NtPCIC_Enable_IRQ(LONG Socket, ULONG Ignored, ULONG Irq, ULONG_PTR Port) {
    pcic_double().calls.push_back({"NtPCIC_Enable_IRQ", {static_cast<std::uint64_t>(Socket), Ignored, Irq, Port}});
    return pcic_double().script.irq;
}

} // extern "C"
