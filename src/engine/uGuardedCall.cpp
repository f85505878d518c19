#include "engine/uGuardedCall.h"

#include <intrin.h>

namespace engine {

namespace {
// A stack overflow uses up the stack's guard page; the runtime re-arms it so
// that a later overflow is caught again. Bound at run time, as not every
// runtime library exports it.
void RearmStackGuard() {
    using TReset = int(__cdecl*)();
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    FARPROC reset = runtime ? GetProcAddress(runtime, "_resetstkoflw") : nullptr;
    if (reset) reinterpret_cast<TReset>(reinterpret_cast<void*>(reset))();
}
}  // namespace

#if defined(__i386__)

// On 32-bit Windows, exception handlers form a chain of records on the stack,
// headed at FS:[0]. A record of ours is pushed just before the call, so the
// server's own handlers, which lie deeper, see its exceptions first; only an
// exception they all decline reaches ours. Ours then redirects the faulting
// thread to a trampoline that jumps back to the point saved before the call.
namespace {

struct TSehRecord {
    TSehRecord* next;
    void* handler;
};

void* g_resume[5];           // __builtin_setjmp buffer
TSehRecord* g_chainHead;     // FS:[0] before our record was pushed
DWORD g_safeStack;           // stack pointer the trampoline runs on
DWORD g_code;
DWORD g_address;

[[noreturn]] __attribute__((noinline)) void ResumeAfterFault() { __builtin_longjmp(g_resume, 1); }

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    g_code = record->ExceptionCode;
    g_address = reinterpret_cast<DWORD>(record->ExceptionAddress);
    context->Eip = reinterpret_cast<DWORD>(&ResumeAfterFault);
    context->Esp = g_safeStack;
    return ExceptionContinueExecution;
}

// Kept out of line so that the reserve and the record live in its own frame.
__attribute__((noinline)) bool CallWithRecord(TEntryPoint entry, HRESULT* result) {
    // The trampoline runs inside this reserve, which the server never uses.
    volatile char reserve[1024];
    reserve[0] = 0;
    g_safeStack = (reinterpret_cast<DWORD>(&reserve[sizeof reserve - 64])) & ~DWORD(15);
    TSehRecord record{reinterpret_cast<TSehRecord*>(__readfsdword(0)), reinterpret_cast<void*>(&GuardHandler)};
    g_chainHead = record.next;
    if (__builtin_setjmp(g_resume)) {
        // Back from a fault: drop the server's abandoned records and ours.
        __writefsdword(0, reinterpret_cast<DWORD>(g_chainHead));
        return false;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(&record));
    *result = entry();
    __writefsdword(0, reinterpret_cast<DWORD>(record.next));
    return true;
}

}  // namespace

TGuardedResult CallGuarded(TEntryPoint entry) {
    TGuardedResult outcome;
    HRESULT result = E_UNEXPECTED;
    if (CallWithRecord(entry, &result)) {
        outcome.result = result;
    } else {
        outcome.faulted = true;
        outcome.exceptionCode = g_code;
        outcome.exceptionAddress = g_address;
        if (g_code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    }
    return outcome;
}

#else

// On 64-bit Windows handlers live in unwind tables, so no record can be
// pushed at run time. A vectored handler, armed only around the call, takes
// the hardware faults raised on this thread while the call runs; software
// exceptions (C++ exceptions, debug output, thread naming) are left to the
// server's own handlers.
namespace {

void* g_resume[5];
std::uintptr_t g_safeStack;
DWORD g_thread;
volatile bool g_armed;
DWORD g_code;
std::uintptr_t g_address;

[[noreturn]] __attribute__((noinline)) void ResumeAfterFault() { __builtin_longjmp(g_resume, 1); }

bool IsHardwareFault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
        return true;
    default:
        return false;
    }
}

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* info) {
    if (!g_armed || GetCurrentThreadId() != g_thread || !IsHardwareFault(info->ExceptionRecord->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    g_armed = false;
    g_code = info->ExceptionRecord->ExceptionCode;
    g_address = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    info->ContextRecord->Rip = reinterpret_cast<DWORD64>(&ResumeAfterFault);
    info->ContextRecord->Rsp = g_safeStack;
    return EXCEPTION_CONTINUE_EXECUTION;
}

__attribute__((noinline)) bool CallWithHandler(TEntryPoint entry, HRESULT* result) {
    volatile char reserve[2048];
    reserve[0] = 0;
    // Entered as if called: 16-byte aligned minus the return address slot.
    g_safeStack = ((reinterpret_cast<std::uintptr_t>(&reserve[sizeof reserve - 128])) & ~std::uintptr_t(15)) - 8;
    void* handler = AddVectoredExceptionHandler(1, GuardHandler);
    if (__builtin_setjmp(g_resume)) {
        RemoveVectoredExceptionHandler(handler);
        return false;
    }
    g_thread = GetCurrentThreadId();
    g_armed = true;
    *result = entry();
    g_armed = false;
    RemoveVectoredExceptionHandler(handler);
    return true;
}

}  // namespace

TGuardedResult CallGuarded(TEntryPoint entry) {
    TGuardedResult outcome;
    HRESULT result = E_UNEXPECTED;
    if (CallWithHandler(entry, &result)) {
        outcome.result = result;
    } else {
        outcome.faulted = true;
        outcome.exceptionCode = g_code;
        outcome.exceptionAddress = g_address;
        if (g_code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    }
    return outcome;
}

#endif

}  // namespace engine
