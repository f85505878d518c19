// FaultServer.dll: both entry points crash with a hardware exception that the
// server does not handle, so the caller's fault guard has to catch it.
//   DllRegisterServer   -> access violation (0xC0000005), null pointer write
//   DllUnregisterServer -> integer division by zero (0xC0000094)
// The pointer and the operands are volatile: the compiler cannot prove the
// pointer is null or the divisor zero, so it must emit the real store and the
// real idiv instead of folding them away or replacing them with a trap.
#include <windows.h>
#include <objbase.h>

#include "TestServerIds.h"

namespace {

int *volatile g_nullTarget = nullptr;
volatile int g_dividend = 1;
volatile int g_divisor = 0;
volatile int g_sink = 0;

}  // namespace

STDAPI DllRegisterServer() {
    int *target = g_nullTarget;
    *target = static_cast<int>(TestServers::kFaultRegisterCode);
    return S_OK;
}

STDAPI DllUnregisterServer() {
    g_sink = g_dividend / g_divisor;
    return S_OK;
}
