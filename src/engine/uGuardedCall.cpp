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

// Keeps enough stack in reserve for the guard's own handler to run after a
// stack overflow.
void ReserveStackForHandlers() {
    static bool reserved = false;
    if (reserved) return;
    reserved = true;
    ULONG size = 64 * 1024;
    SetThreadStackGuarantee(&size);
}

}  // namespace

#if defined(__i386__)

// On 32-bit Windows, exception handlers form a chain of records on the stack,
// headed at FS:[0]. A record of ours is pushed just before the call, so the
// server's own handlers, which lie deeper, see its exceptions first; only an
// exception they all decline reaches ours. Ours then moves the faulting
// thread to a trampoline that jumps back to the point saved before the call.
// The record carries all the state, so guarded calls may nest.
namespace {

struct TGuardFrame {
    TGuardFrame* next;  // the exception record proper: link and handler
    void* handler;
    void* resume[5];    // __builtin_setjmp buffer
    DWORD safeStack;    // stack pointer the trampoline runs on
    DWORD code;
    DWORD address;
};

// Entered by a jump with the frame in ECX.
[[noreturn]] __attribute__((noinline, fastcall)) void ResumeAfterFault(TGuardFrame* frame) {
    __builtin_longjmp(frame->resume, 1);
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                                     void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    auto* frame = static_cast<TGuardFrame*>(establisher);
    frame->code = record->ExceptionCode;
    frame->address = reinterpret_cast<DWORD>(record->ExceptionAddress);
    // The system refuses to resume a non-continuable exception, even at
    // another place: leave the handler straight for the saved point (the
    // dispatcher's frames are abandoned with the server's; the landing
    // point resets the handler chain).
    if (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) ResumeAfterFault(frame);
    context->Eip = reinterpret_cast<DWORD>(&ResumeAfterFault);
    context->Ecx = reinterpret_cast<DWORD>(frame);
    context->Esp = frame->safeStack;
    return ExceptionContinueExecution;
}

// Kept out of line so that the reserve and the record live in its own frame.
__attribute__((noinline)) void CallWithRecord(TEntryPoint entry, TGuardedResult* outcome) {
    // The trampoline runs inside this reserve, which the server never uses.
    volatile char reserve[1024];
    reserve[0] = 0;
    TGuardFrame frame{};
    TGuardFrame* volatile guard = &frame;
    guard->handler = reinterpret_cast<void*>(&GuardHandler);
    guard->next = reinterpret_cast<TGuardFrame*>(__readfsdword(0));
    guard->safeStack = (reinterpret_cast<DWORD>(&reserve[sizeof reserve - 64])) & ~DWORD(15);
    if (__builtin_setjmp(guard->resume)) {
        // Back from a fault: drop the server's abandoned records and ours.
        __writefsdword(0, reinterpret_cast<DWORD>(guard->next));
        outcome->faulted = true;
        outcome->exceptionCode = guard->code;
        outcome->exceptionAddress = guard->address;
        return;
    }
    __writefsdword(0, reinterpret_cast<DWORD>(guard));
    outcome->result = entry();
    __writefsdword(0, reinterpret_cast<DWORD>(guard->next));
}

}  // namespace

TGuardedResult CallGuarded(TEntryPoint entry) {
    ReserveStackForHandlers();
    TGuardedResult outcome;
    CallWithRecord(entry, &outcome);
    if (outcome.faulted && outcome.exceptionCode == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    return outcome;
}

#elif defined(__x86_64__)

// On 64-bit Windows, handlers are found through each function's unwind
// information. GuardCall64 is a small function whose unwind information
// names GuardHandler64 as its exception handler, so, as on 32-bit Windows,
// the server's own handlers see its exceptions first. An exception they all
// decline reaches ours, which moves the thread straight back to the exit of
// GuardCall64: the server's frames are abandoned without unwinding (which
// would need more stack than a stack overflow leaves), and the registers the
// caller relies on are restored from the copies GuardCall64 keeps.
namespace {

struct TGuardState {
    bool faulted;
    DWORD code;
    std::uintptr_t address;
};

// Bytes GuardCall64 reserves below its saved frame pointer.
constexpr std::uintptr_t kGuardFrameSize = 288;

}  // namespace

extern "C" HRESULT GuardCall64(TEntryPoint entry, TGuardState* state);
extern "C" char GuardCall64Resume[];

// Frame below the saved RBP: the state pointer at -8, RBX, RSI, RDI and
// R12-R15 from -16 to -64, XMM6-XMM15 from -80 to -224, the callee's shadow
// space at the bottom.
asm(R"(
    .text
    .p2align 4
    .globl GuardCall64
    .def GuardCall64; .scl 2; .type 32; .endef
    .seh_proc GuardCall64
GuardCall64:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    subq $288, %rsp
    .seh_stackalloc 288
    .seh_endprologue
    movq %rdx, -8(%rbp)
    movq %rbx, -16(%rbp)
    movq %rsi, -24(%rbp)
    movq %rdi, -32(%rbp)
    movq %r12, -40(%rbp)
    movq %r13, -48(%rbp)
    movq %r14, -56(%rbp)
    movq %r15, -64(%rbp)
    movdqu %xmm6, -80(%rbp)
    movdqu %xmm7, -96(%rbp)
    movdqu %xmm8, -112(%rbp)
    movdqu %xmm9, -128(%rbp)
    movdqu %xmm10, -144(%rbp)
    movdqu %xmm11, -160(%rbp)
    movdqu %xmm12, -176(%rbp)
    movdqu %xmm13, -192(%rbp)
    movdqu %xmm14, -208(%rbp)
    movdqu %xmm15, -224(%rbp)
    call *%rcx
    .globl GuardCall64Resume
GuardCall64Resume:
    movq -16(%rbp), %rbx
    movq -24(%rbp), %rsi
    movq -32(%rbp), %rdi
    movq -40(%rbp), %r12
    movq -48(%rbp), %r13
    movq -56(%rbp), %r14
    movq -64(%rbp), %r15
    movdqu -80(%rbp), %xmm6
    movdqu -96(%rbp), %xmm7
    movdqu -112(%rbp), %xmm8
    movdqu -128(%rbp), %xmm9
    movdqu -144(%rbp), %xmm10
    movdqu -160(%rbp), %xmm11
    movdqu -176(%rbp), %xmm12
    movdqu -192(%rbp), %xmm13
    movdqu -208(%rbp), %xmm14
    movdqu -224(%rbp), %xmm15
    movq %rbp, %rsp
    popq %rbp
    ret
    .seh_handler GuardHandler64, @except
    .seh_endproc
)");

extern "C" EXCEPTION_DISPOSITION GuardHandler64(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                                void*) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;
    auto frame = reinterpret_cast<std::uintptr_t>(establisher);
    auto* state = *reinterpret_cast<TGuardState**>(frame - 8);
    state->faulted = true;
    state->code = record->ExceptionCode;
    state->address = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
    // A non-continuable exception cannot be resumed, even elsewhere: the
    // server's frames are unwound to GuardCall64's exit the way a handler
    // that takes an exception does (the server's own clean-up runs, and the
    // system's record of the dispatch ends properly). It needs more stack
    // than a stack overflow leaves, but a stack overflow is continuable.
    if (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) {
        RtlUnwindEx(establisher, GuardCall64Resume, record, nullptr, context, nullptr);
    }
    context->Rip = reinterpret_cast<DWORD64>(GuardCall64Resume);
    context->Rbp = frame;
    context->Rsp = frame - kGuardFrameSize;
    context->Rax = 0;
    return ExceptionContinueExecution;
}

TGuardedResult CallGuarded(TEntryPoint entry) {
    ReserveStackForHandlers();
    TGuardState state{};
    TGuardedResult outcome;
    HRESULT result = GuardCall64(entry, &state);
    if (state.faulted) {
        outcome.faulted = true;
        outcome.exceptionCode = state.code;
        outcome.exceptionAddress = state.address;
        if (state.code == EXCEPTION_STACK_OVERFLOW) RearmStackGuard();
    } else {
        outcome.result = result;
    }
    return outcome;
}

#else
#error "Unsupported processor"
#endif

}  // namespace engine
