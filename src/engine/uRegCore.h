#pragma once
// Registering and unregistering one COM server file, with no window: the
// steps for each kind of file and the outcome they end with. The windowed
// program, the helpers and the console runner all register through these
// functions; each shows the outcome in its own way.
//
// Executable servers are started with "/regserver" or "/unregserver" (their
// per-user forms for a registration for the current user alone), type
// libraries go through the type library API, and every other file is read
// as a Windows program file and then loaded as a library whose
// DllRegisterServer or DllUnregisterServer is called (with or instead of
// DllInstall, when the context asks for it). The program and the
// runner load no server themselves: libraries and type libraries go to a
// helper process of their bitness (the context's runner), and only the
// helpers load them. Every failure carries a reason in its details; a
// success never does.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/QVLanguage.h"
#include "engine/uPeFile.h"

namespace engine {

// What kind of failure an outcome is, for callers that act on it (the
// console runner's exit codes). None for a success.
enum class TFailure : std::uint8_t {
    None,       // succeeded
    NotFound,   // the file is missing or a folder, or its drive is not ready
    NotLoaded,  // no program file, built for another processor, or refused by the loader
    NoEntry,    // the library does not export the entry point
    Returned,   // the entry point, or the type library call, returned a failure
    Faulted,    // the server raised an exception or ended the process that loaded it
    TimedOut,   // the server was still at work when the time-out passed
    Stopped,    // the user stopped the server at work
    ExeFailed,  // the executable server did not start or ended with a non-zero code
    Helper,     // the helper is missing, of another version, or its reply unreadable
};
inline constexpr int kFailureKinds = 10;

// The entry points a library's registration calls: the server's own
// (DllRegisterServer or DllUnregisterServer); those and DllInstall, called
// after DllRegisterServer and before DllUnregisterServer; or DllInstall
// alone. DllInstall gets TRUE when registering, FALSE when unregistering.
enum class TEntryPoints : std::uint8_t { Server, ServerAndInstall, InstallOnly };

struct TRegOutcome {
    bool success = false;
    std::string message;  // the first line the user sees
    std::string details;  // why it failed, in plain words and technical facts
    double ms = 0;        // how long the file took, including any wait
    // The server raised an exception it did not handle: the process that
    // loaded it is in an unknown state.
    bool serverFaulted = false;
    // Not registered here: the library is for this machine, which a process
    // of the other bitness registers (only with redirectOtherBitness).
    pe::TMachine redirect = pe::TMachine::None;
    TFailure failure = TFailure::None;
};

enum class TServerKind { Executable, TypeLibrary, Library };

// From the extension, whatever its case: ".exe" is an executable server,
// ".tlb" and ".olb" type libraries, anything else (no extension too) a library.
TServerKind KindOf(const std::string& path);

// What a helper is doing with a file, published for the program: on a
// time-out it says what did not finish.
// Calling is the server's own entry point, Installing its DllInstall.
enum class TPhase : std::uint32_t {
    Idle = 0,
    Reading = 1,
    Loading = 2,
    Calling = 3,
    Unloading = 4,
    TypeLibrary = 5,
    Installing = 6
};

// Registers a library (kind Library) or a type library (kind TypeLibrary)
// at `fullPath` in a process that runs code of `machine` (None: the runner
// finds out), and returns the outcome.
using TLibraryRunner = std::function<TRegOutcome(pe::TMachine machine, TServerKind kind, const std::string& fullPath,
                                                 bool register_)>;

struct TRegContext {
    QVLanguage language = qlEnglish;   // of the details; messages are always English
    // How long an executable server, or a helper with one file, may work.
    unsigned timeoutMs = 60000;
    // Called while the call waits for another process (an executable server
    // or a helper), whenever messages arrive for this thread: keeps windows
    // painted. Null: the wait takes no messages.
    std::function<void()> pumpMessages;
    // An event; once set, the server process at work (executable server or
    // helper) is ended at once and the file fails as stopped by the user.
    void* abortEvent = nullptr;
    // Where libraries and type libraries are registered. Null: in this
    // process (the helpers themselves).
    TLibraryRunner runLibrary;
    // Told of each phase while a library is registered in this process.
    std::function<void(TPhase)> onPhase;
    // A library for the other bitness this computer runs is not refused but
    // handed back with its machine in `redirect` (the helpers).
    bool redirectOtherBitness = false;
    // Which entry points a library's registration calls. With DllInstall
    // alone every file is loaded as a library, whatever its extension;
    // otherwise executable servers and type libraries register their own
    // way and have no DllInstall.
    TEntryPoints entryPoints = TEntryPoints::Server;
    // DllInstall's command line: a wide string, empty (never null) when
    // none was given.
    std::wstring installText;
    // Any success code of an entry point (S_FALSE too) counts as success,
    // not only S_OK.
    bool anySuccessCode = false;
    // Registers for the current user alone, in
    // HKEY_CURRENT_USER\Software\Classes, which needs no administrator: while a library's entry points
    // run, HKEY_CLASSES_ROOT is redirected there; type libraries use the
    // per-user type library calls; executable servers get
    // "/RegServerPerUser" or "/UnregServerPerUser".
    bool perUser = false;
};

// Registers (true) or unregisters the file at `path`. Never throws except
// std::bad_alloc; a fault inside a server becomes a failure. Not re-entrant:
// one file at a time per process.
TRegOutcome RegisterFileCore(const std::string& path, bool register_, const TRegContext& context);

// The steps of each kind, as RegisterFileCore runs them (without timing).
TRegOutcome RunExecutableCore(const std::string& path, bool register_, const TRegContext& context);
TRegOutcome RegisterLibraryCore(const std::string& path, bool register_, const TRegContext& context);
TRegOutcome RegisterTypeLibraryCore(const std::string& path, bool register_, const TRegContext& context);

// While an active object lives, HKEY_CLASSES_ROOT of this process means
// HKEY_CURRENT_USER\Software\Classes (created when missing), and oleaut32,
// where it offers the switch, registers type libraries there too; classes
// written in a named view go to the user's classes in that view, and every
// write into a machine-wide key is refused and noted (MachineWrites).
// Ended with the object; an inactive one, or one whose key cannot be
// opened, changes nothing. One at a time per process.
class TInterceptScope;
class TUserClassesScope {
public:
    explicit TUserClassesScope(bool active);
    ~TUserClassesScope();
    TUserClassesScope(const TUserClassesScope&) = delete;
    TUserClassesScope& operator=(const TUserClassesScope&) = delete;
    // True while HKEY_CLASSES_ROOT is redirected.
    bool Active() const { return classes_ != nullptr; }
    // Ends the refusal of machine-wide writes and names the keys refused
    // ("HKEY_LOCAL_MACHINE\Software\Vendor"), each once.
    std::vector<std::string> MachineWrites();

private:
    void* classes_ = nullptr;  // the HKEY of the current user's classes
    TInterceptScope* intercept_ = nullptr;
};

// The failure of a registration for the current user whose server wrote
// machine-wide keys (`keys`, as MachineWrites names them).
TRegOutcome MachineWritesFailure(const std::string& fileName, const std::vector<std::string>& keys);

// True only when the path's drive is present and ready and a file (not a
// folder) of that name exists; never lets the system prompt for a disk.
bool FileExistsReady(const std::string& path);

// Path helpers: the part after the last '\', '/' or ':'; and the extension
// of that part from its last '.', dot included (empty when none).
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);

// The processor a type library is declared for decides the helper that
// registers it: x64 for a 64-bit type library (or a 64-bit container) on a
// computer that runs x64 code, x86 otherwise. Reads the file's first bytes
// only.
pe::TMachine TypeLibraryMachine(const std::string& path);

// The full path of `path`, against the current folder.
std::string FullPathOf(const std::string& path);

// The path this process opens for the file the user named with `path`. A
// 32-bit process on 64-bit Windows is sent to SysWOW64 whenever it opens a
// name in System32 (file-system redirection), while Explorer, the 64-bit
// programs and an elevated command prompt mean the real System32 by it: such
// a path, resolved to a full path first, is returned through Sysnative,
// which reaches the real System32 from a 32-bit process. The subfolders
// Windows exempts from redirection, every other path, and every path in a
// 64-bit process or on 32-bit Windows come back unchanged (as given, not made
// full). Messages keep showing the path as named; only opening, reading and
// starting use this one.
std::string NativeViewOf(const std::string& path);

// The other way round, in a 64-bit process, which has no Sysnative: a full
// path through "<Windows>\Sysnative" (as 32-bit programs name the real
// System32, and as the program hands such a file to its 64-bit helper) is
// returned through System32. Every other path, and every path in a 32-bit
// process, comes back unchanged.
std::string SystemFolderOf(const std::string& fullPath);
// The same mapping for a full path, with the Windows folder and whether this
// is a 32-bit process on 64-bit Windows given (exposed for the tests). A path
// beginning with "\\?\" keeps that beginning.
std::string NativeViewOf(const std::string& fullPath, const std::string& windowsFolder, bool wow64);

}  // namespace engine
