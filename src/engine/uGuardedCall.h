#pragma once
// Calls into foreign code (a server's entry point) so that a structured
// exception raised there and not handled by the server itself (an access
// violation, a division by zero, a stack overflow, ...) becomes a result of
// the call instead of ending the process. The faulting code's frames are
// abandoned without unwinding; whatever the server held stays as it was.
#include <windows.h>

#include <cstdint>

namespace engine {

using TEntryPoint = HRESULT(WINAPI*)();

struct TGuardedResult {
    bool faulted = false;          // true: the call raised and was abandoned
    HRESULT result = E_UNEXPECTED;  // the entry point's result when not faulted
    DWORD exceptionCode = 0;        // the exception code when faulted
    std::uintptr_t exceptionAddress = 0;
};

// Calls `entry` with no arguments. Runs on the calling thread; not re-entrant
// (one guarded call at a time per process). A fault ends the call and is
// returned; a non-continuable exception (a C++ throw out of an MSVC-built
// server, say) is never resumed, only left. The handler does no more than
// move the thread back to the call's exit (after a stack overflow there is
// little stack to do more on).
TGuardedResult CallGuarded(TEntryPoint entry);


}  // namespace engine
