// Misbehave.dll: one server binary that is copied under several names into
// testdata\misbehave\ and chooses what to do from its own file name, so a
// table test can walk through every way a server can let its host down with
// a single build. DllRegisterServer and DllUnregisterServer behave alike.
//
//   CppThrow.dll        raises 0xE06D7363 as an MSVC-built server's escaping
//                       C++ throw does, and nobody in here handles it
//   Noncontinuable.dll  raises 0xE0000042 with EXCEPTION_NONCONTINUABLE
//   Hang.dll            never returns
//   HangInDllMain.dll   DllMain never returns from DLL_PROCESS_ATTACH
//   Exit.dll            ExitProcess(7)
//   FailFast.dll        ends the process with 0xC0000409
//   HeapCorrupt.dll     ends the process with 0xC0000374
//   StackOverflow.dll   unbounded recursion, EXCEPTION_STACK_OVERFLOW
//   Slow.dll            sleeps CORVANTIS_TEST_SLOW_MS ms (default 5000), S_OK
//   Ok.dll              S_OK, writes nothing
//   HandlesOwn.dll      takes an access violation under an exception frame of
//                       its own, handles it and returns S_OK (E_FAIL if its
//                       handler did not get the fault)
//   any other name      returns E_UNEXPECTED
//
// TestServerIds.h holds the names and codes the tests compare against.
#include <windows.h>
#include <objbase.h>

#include <cstdint>

#include "TestServerIds.h"

namespace {

enum class Behaviour {
    Unknown,
    CppThrow,
    Noncontinuable,
    Hang,
    HangInDllMain,
    Exit,
    FailFast,
    HeapCorrupt,
    StackOverflow,
    Slow,
    Ok,
    HandlesOwn,
};

struct NamedBehaviour {
    const wchar_t *name;
    Behaviour behaviour;
};

const NamedBehaviour kBehaviours[] = {
    {TestServers::kMisbehaveCppThrowNameW, Behaviour::CppThrow},
    {TestServers::kMisbehaveNoncontinuableNameW, Behaviour::Noncontinuable},
    {TestServers::kMisbehaveHangNameW, Behaviour::Hang},
    {TestServers::kMisbehaveHangInDllMainNameW, Behaviour::HangInDllMain},
    {TestServers::kMisbehaveExitNameW, Behaviour::Exit},
    {TestServers::kMisbehaveFailFastNameW, Behaviour::FailFast},
    {TestServers::kMisbehaveHeapCorruptNameW, Behaviour::HeapCorrupt},
    {TestServers::kMisbehaveStackOverflowNameW, Behaviour::StackOverflow},
    {TestServers::kMisbehaveSlowNameW, Behaviour::Slow},
    {TestServers::kMisbehaveOkNameW, Behaviour::Ok},
    {TestServers::kMisbehaveHandlesOwnNameW, Behaviour::HandlesOwn},
};

HINSTANCE g_module = nullptr;
Behaviour g_behaviour = Behaviour::Unknown;

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Case-insensitive for ASCII letters only: that is all the names hold, and it
// needs no locale support while the loader lock is held.
bool SameName(const wchar_t *a, const wchar_t *b) {
    for (; *a && *b; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    }
    return *a == *b;
}

Behaviour BehaviourOf(HINSTANCE module) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return Behaviour::Unknown;
    const wchar_t *name = path;
    for (const wchar_t *p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/') name = p + 1;
    }
    for (const NamedBehaviour &row : kBehaviours) {
        if (SameName(name, row.name)) return row.behaviour;
    }
    return Behaviour::Unknown;
}

[[noreturn]] void SleepForever() {
    for (;;) Sleep(INFINITE);
}

// ---------------------------------------------------------------------------
// CppThrow: the exception record an MSVC-built module produces for a throw
// that no catch clause takes. The parameters are the magic number, the thrown
// object, its throw information and, on x64, the image base the throw
// information's offsets are relative to (on x86 they are plain pointers).
// The tables are filled in at run time because an image-relative offset is
// not a constant expression.
// ---------------------------------------------------------------------------

// Thrown object.
struct CorvantisTestError {
    const char *what;
};

struct CppTypeDescriptor {
    const void *vftable;
    void *spare;
    char name[sizeof(TestServers::kMisbehaveCppThrowTypeName)];
};

struct CppCatchableType {
    DWORD properties;
    DWORD type;  // -> CppTypeDescriptor
    int memberDisplacement;
    int vbtableDisplacement;
    int vbaseDisplacement;
    int size;
    DWORD copyFunction;
};

struct CppCatchableTypeArray {
    int count;
    DWORD types[1];  // -> CppCatchableType
};

struct CppThrowInfo {
    DWORD attributes;
    DWORD unwindFunction;
    DWORD forwardCompat;
    DWORD catchableTypes;  // -> CppCatchableTypeArray
};

CorvantisTestError g_thrown = {"Corvantis test server threw"};
CppTypeDescriptor g_typeDescriptor;
CppCatchableType g_catchableType;
CppCatchableTypeArray g_catchableTypes;
CppThrowInfo g_throwInfo;

// How the throw information refers to another table.
DWORD Ref(const void *target) {
#if defined(_WIN64)
    return static_cast<DWORD>(reinterpret_cast<const char *>(target) -
                              reinterpret_cast<const char *>(g_module));
#else
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(target));
#endif
}

[[noreturn]] void ThrowLikeMsvc() {
    const char *typeName = TestServers::kMisbehaveCppThrowTypeName;
    for (size_t i = 0; i < sizeof(g_typeDescriptor.name); ++i) g_typeDescriptor.name[i] = typeName[i];
    g_catchableType.properties = 0;
    g_catchableType.type = Ref(&g_typeDescriptor);
    g_catchableType.memberDisplacement = 0;
    g_catchableType.vbtableDisplacement = -1;
    g_catchableType.vbaseDisplacement = 0;
    g_catchableType.size = sizeof(g_thrown);
    g_catchableType.copyFunction = 0;
    g_catchableTypes.count = 1;
    g_catchableTypes.types[0] = Ref(&g_catchableType);
    g_throwInfo.attributes = 0;
    g_throwInfo.unwindFunction = 0;
    g_throwInfo.forwardCompat = 0;
    g_throwInfo.catchableTypes = Ref(&g_catchableTypes);

    ULONG_PTR arguments[] = {
        TestServers::kCppExceptionMagic,
        reinterpret_cast<ULONG_PTR>(&g_thrown),
        reinterpret_cast<ULONG_PTR>(&g_throwInfo),
#if defined(_WIN64)
        reinterpret_cast<ULONG_PTR>(g_module),
#endif
    };
    RaiseException(TestServers::kCppExceptionCode, EXCEPTION_NONCONTINUABLE,
                   sizeof(arguments) / sizeof(arguments[0]), arguments);
    // A non-continuable exception cannot come back here; if a handler tries,
    // the system raises STATUS_NONCONTINUABLE_EXCEPTION instead.
    SleepForever();
}

// ---------------------------------------------------------------------------
// StackOverflow: each call keeps a volatile array alive across a call made
// through a volatile pointer, so the compiler can neither see the recursion
// nor turn it into a loop or a tail call.
// ---------------------------------------------------------------------------

unsigned Recurse(unsigned depth);
unsigned (*volatile g_recurse)(unsigned) = Recurse;

unsigned Recurse(unsigned depth) {
    volatile unsigned char frame[256];
    frame[0] = static_cast<unsigned char>(depth);
    unsigned below = g_recurse(depth + 1);
    return below + frame[0];
}

// ---------------------------------------------------------------------------
// Slow
// ---------------------------------------------------------------------------

DWORD SlowMilliseconds() {
    wchar_t text[16];
    DWORD length = GetEnvironmentVariableW(TestServers::kMisbehaveSlowEnvVarW, text, 16);
    if (length == 0 || length >= 16) return TestServers::kMisbehaveSlowDefaultMs;
    DWORD value = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return TestServers::kMisbehaveSlowDefaultMs;
        value = value * 10 + static_cast<DWORD>(text[i] - L'0');
    }
    return value;
}

}  // namespace

// ---------------------------------------------------------------------------
// HandlesOwn: corvantis_probe_own_frame(address) reads a DWORD at ADDRESS
// under an exception frame of its own, the way a compiler's __try block
// installs one: on x86 a registration record pushed onto the FS:[0] chain, on
// x64 a language handler named in the function's unwind information. When
// the read faults, corvantis_probe_handler resumes execution after the read
// with EAX/RAX = 1. The function returns 0 if the read did not fault.
// ---------------------------------------------------------------------------

extern "C" {
int corvantis_probe_own_frame(const void *address);
extern char corvantis_probe_fault[];
extern char corvantis_probe_resume[];
EXCEPTION_DISPOSITION corvantis_probe_handler(EXCEPTION_RECORD *record, void *frame,
                                              CONTEXT *context, void *dispatcher);
}

#if defined(__x86_64__)
asm(R"(
    .text
    .globl corvantis_probe_own_frame
    .globl corvantis_probe_fault
    .globl corvantis_probe_resume
    .def corvantis_probe_own_frame; .scl 2; .type 32; .endef
    .seh_proc corvantis_probe_own_frame
corvantis_probe_own_frame:
    .seh_handler corvantis_probe_handler, @except
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    xorl %eax, %eax
corvantis_probe_fault:
    movl (%rcx), %edx
corvantis_probe_resume:
    addq $40, %rsp
    ret
    .seh_endproc
)");
#elif defined(__i386__)
asm(R"(
    .text
    .globl _corvantis_probe_own_frame
    .globl _corvantis_probe_fault
    .globl _corvantis_probe_resume
    .def _corvantis_probe_own_frame; .scl 2; .type 32; .endef
_corvantis_probe_own_frame:
    movl 4(%esp), %ecx
    pushl $_corvantis_probe_handler
    pushl %fs:0
    movl %esp, %fs:0
    xorl %eax, %eax
_corvantis_probe_fault:
    movl (%ecx), %edx
_corvantis_probe_resume:
    movl (%esp), %edx
    movl %edx, %fs:0
    addl $8, %esp
    ret
)");
#else
#error "HandlesOwn.dll needs an exception frame for this processor"
#endif

extern "C" EXCEPTION_DISPOSITION corvantis_probe_handler(EXCEPTION_RECORD *record, void *,
                                                         CONTEXT *context, void *) {
    // Unwinds passing through, and anything but our own read, are not ours.
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION ||
        record->ExceptionAddress != static_cast<void *>(corvantis_probe_fault))
        return ExceptionContinueSearch;
#if defined(__x86_64__)
    context->Rip = reinterpret_cast<DWORD64>(corvantis_probe_resume);
    context->Rax = 1;
#else
    context->Eip = reinterpret_cast<DWORD>(corvantis_probe_resume);
    context->Eax = 1;
#endif
    return ExceptionContinueExecution;
}

namespace {

const void *volatile g_unreadable = nullptr;

HRESULT Misbehave() {
    switch (g_behaviour) {
    case Behaviour::CppThrow:
        ThrowLikeMsvc();
    case Behaviour::Noncontinuable:
        RaiseException(TestServers::kMisbehaveNoncontinuableCode, EXCEPTION_NONCONTINUABLE, 0,
                       nullptr);
        SleepForever();
    case Behaviour::Hang:
    case Behaviour::HangInDllMain:  // not reached: its DllMain never returned
        SleepForever();
    case Behaviour::Exit:
        ExitProcess(TestServers::kMisbehaveExitCode);
    case Behaviour::FailFast:
        // A fail-fast (__fastfail, RaiseFailFastException) ends the process
        // with STATUS_STACK_BUFFER_OVERRUN on Windows; Wine does not reliably
        // produce that code, so end the process with it directly.
        TerminateProcess(GetCurrentProcess(), TestServers::kMisbehaveFailFastCode);
        SleepForever();
    case Behaviour::HeapCorrupt:
        // Windows' heap ends a process whose heap it finds corrupted with
        // STATUS_HEAP_CORRUPTION; Wine's heap reports corruption differently,
        // so end the process with that code directly.
        TerminateProcess(GetCurrentProcess(), TestServers::kMisbehaveHeapCorruptCode);
        SleepForever();
    case Behaviour::StackOverflow:
        return static_cast<HRESULT>(g_recurse(0));
    case Behaviour::Slow:
        Sleep(SlowMilliseconds());
        return S_OK;
    case Behaviour::Ok:
        return S_OK;
    case Behaviour::HandlesOwn:
        return corvantis_probe_own_frame(g_unreadable) == 1 ? S_OK : E_FAIL;
    case Behaviour::Unknown:
        break;
    }
    return TestServers::kMisbehaveUnknownNameResult;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        g_behaviour = BehaviourOf(instance);
        if (g_behaviour == Behaviour::HangInDllMain) SleepForever();
    }
    return TRUE;
}

STDAPI DllRegisterServer() {
    return Misbehave();
}

STDAPI DllUnregisterServer() {
    return Misbehave();
}
