#pragma once
// Registering and unregistering one COM server file, with no window: the
// steps for each kind of file and the outcome they end with. The windowed
// program, the 64-bit helper and the console runner all register through
// these functions; each shows the outcome in its own way.
//
// Executable servers are started with "/regserver" or "/unregserver", type
// libraries go through the type library API, and every other file is read
// as a Windows program file and then loaded as a library whose
// DllRegisterServer or DllUnregisterServer is called. Every failure carries
// a reason in its details; a success never does.
#include <functional>
#include <string>

#include "common/QVLanguage.h"

namespace engine {

struct TRegOutcome {
    bool success = false;
    std::string message;  // the first line the user sees
    std::string details;  // why it failed, in plain words and technical facts
    double ms = 0;        // how long the file took, including any wait
};

enum class TServerKind { Executable, TypeLibrary, Library };

// From the extension, whatever its case: ".exe" is an executable server,
// ".tlb" and ".olb" type libraries, anything else (no extension too) a library.
TServerKind KindOf(const std::string& path);

// Runs a library built for the other bitness of this computer (a 64-bit
// library in the 32-bit program). Gets the library's full path; fills the
// outcome and returns true, or returns false when no such runner exists.
using TForeignRunner = std::function<bool(const std::string& fullPath, bool register_, TRegOutcome& outcome)>;

struct TRegContext {
    QVLanguage language = qlEnglish;   // of the details; messages are always English
    unsigned exeTimeoutMs = 60000;     // how long an executable server may run
    // Called while the call waits for another process (an executable server
    // or the 64-bit helper), whenever messages arrive for this thread: keeps
    // windows painted. Null: the wait takes no messages.
    std::function<void()> pumpMessages;
    TForeignRunner foreign;            // null: such a library fails with its reason
};

// Registers (true) or unregisters the file at `path`. Never throws except
// std::bad_alloc; a fault inside a server becomes a failure. Not re-entrant:
// one file at a time per process.
TRegOutcome RegisterFileCore(const std::string& path, bool register_, const TRegContext& context);

// The steps of each kind, as RegisterFileCore runs them (without timing).
TRegOutcome RunExecutableCore(const std::string& path, bool register_, const TRegContext& context);
TRegOutcome RegisterLibraryCore(const std::string& path, bool register_, const TRegContext& context);
TRegOutcome RegisterTypeLibraryCore(const std::string& path, bool register_, const TRegContext& context);

// True only when the path's drive is present and ready and a file (not a
// folder) of that name exists; never lets the system prompt for a disk.
bool FileExistsReady(const std::string& path);

// Path helpers: the part after the last '\', '/' or ':'; and the extension
// of that part from its last '.', dot included (empty when none).
std::string ExtractFileName(const std::string& path);
std::string ExtractFileExt(const std::string& path);

// Waits for `object` to be signalled for at most `timeoutMs`, calling `pump`
// whenever messages arrive for this thread (plain wait when it is null).
// True when it was signalled.
bool WaitPumping(void* object, unsigned timeoutMs, const std::function<void()>& pump);

}  // namespace engine
