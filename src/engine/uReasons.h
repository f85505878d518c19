#pragma once
// Why a registration failed, in plain words and technical facts, in English
// or Portuguese: the details of every failure outcome. Each function returns
// the whole details text (lines ended by CR LF between them).
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/QVLanguage.h"
#include "engine/uPeFile.h"
#include "engine/uRegCore.h"

namespace engine {

// The machine whose code this process runs, and the machine of the computer
// (x64 for a 32-bit process on 64-bit Windows).
pe::TMachine ProcessMachine();
pe::TMachine NativeMachine();
// True when this computer can run libraries of that machine in some process
// (x64 libraries on 64-bit x64 or ARM64 Windows, x86 libraries everywhere).
bool CanRunMachine(pe::TMachine machine);

// "126 (0x0000007E)".
std::string CodeText(std::uint32_t code);
// "0x80040201 (SELFREG_E_CLASS)", or the bare hex for an unnamed value.
std::string HResultText(HRESULT hr);

// The file is missing, is a folder, or lies on a drive that is not ready.
std::string NotFoundReason(const std::string& path, QVLanguage language);
// The file was read and is no Windows program file.
std::string NotProgramReason(const std::string& fileName, const pe::TPeInfo& info, QVLanguage language);
// The file is a program file for a machine this process cannot load.
std::string MachineReason(const std::string& fileName, const pe::TPeInfo& info, QVLanguage language);
// A 32-bit library (or type library) named by a path in the real System32
// of 64-bit Windows: its 32-bit clients would be sent to SysWOW64 for that
// path, and 64-bit ones cannot load it.
std::string SystemFolderReason(const std::string& fileName, const std::string& fullPath, QVLanguage language);

struct TDependencyProblem {
    std::string name;      // as imported
    std::string neededBy;  // file name of the importer
    std::string foundAt;   // empty: not found by the loader's search
    pe::TMachine machine = pe::TMachine::None;  // of the file found
    std::uint16_t machineCode = 0;
};

// Walks the import tables from the library at `fullPath` the way the loader
// searches in a process that took the current folder out of its search (the
// library's own folder, the system folder, the 16-bit system folder, the
// Windows folder, then the folders of PATH) and returns the imported DLLs
// that no search finds or that are built for another machine. Libraries
// already loaded, API set names and the system's own libraries count as
// found; the system's libraries are not walked further. At most 256
// libraries are looked for and 4096 names kept waiting; a search folder
// that fails for another reason than a missing file (a network folder that
// does not answer) is not tried again within the walk.
std::vector<TDependencyProblem> FindDependencyProblems(const std::string& fullPath, const pe::TPeInfo& info);

// LoadLibrary failed with `error`: the system's text and, when the imports
// explain it, the missing or mismatched libraries.
std::string LoadFailureReason(const std::string& fullPath, const std::string& fileName, DWORD error,
                              const pe::TPeInfo& info, QVLanguage language);
// The entry point is not exported: what the file exports that matters.
// `module` is the loaded library (null when it was not loaded).
std::string MissingEntryReason(const std::string& fileName, const char* entry, HMODULE module,
                               const pe::TPeInfo& info, QVLanguage language);
// A .NET assembly without the entry point, which is not loaded.
std::string DotNetReason(const std::string& fileName, const char* entry, QVLanguage language);
// Whether this process may write HKEY_LOCAL_MACHINE\Software\Classes, as a
// registration for all users does.
bool MachineClassesWritable();
// `call` returned a failure: the value, its name and meaning, the system's
// text. An access-denied result advises by whom the server was registered
// (`perUser`: for the current user alone); a server's SELFREG_E_CLASS or
// SELFREG_E_TYPELIB also advises so when the process may not write the
// machine's classes.
std::string ResultReason(const char* call, HRESULT hr, QVLanguage language, bool perUser = false);
// The same with the process's rights given (exposed for the tests).
std::string ResultReason(const char* call, HRESULT hr, QVLanguage language, bool perUser, bool machineWritable);
// `entry` raised a structured exception.
std::string FaultReason(const char* entry, DWORD code, std::uintptr_t address, QVLanguage language);
// The executable server could not be started, ended with a non-zero exit
// code, or was still running after the time-out.
std::string StartFailureReason(const std::string& path, const std::string& fileName, DWORD error,
                               QVLanguage language);
// An exit code that reads as access denied advises as ResultReason does; a
// bare ERROR_ACCESS_DENIED (5) only when the process lacks the rights.
std::string ExitCodeReason(const std::string& fileName, DWORD exitCode, QVLanguage language, bool perUser = false);
std::string ExitCodeReason(const std::string& fileName, DWORD exitCode, QVLanguage language, bool perUser,
                           bool machineWritable);
std::string TimeoutReason(const std::string& fileName, unsigned timeoutMs, QVLanguage language);
// The user stopped the executable server after `afterMs`.
std::string ExeStoppedReason(const std::string& fileName, unsigned afterMs, QVLanguage language);

// The helpers. `machine` is the helper's (x86 or x64), `entry` the entry
// point or type library call, `phase` what the helper was doing.
std::string HelperMissingReason(const std::string& fileName, pe::TMachine machine, const std::string& helperPath,
                                QVLanguage language);
std::string HelperStartReason(const std::string& fileName, pe::TMachine machine, const std::string& helperPath,
                              DWORD error, QVLanguage language);
// The helper ended while it worked on the file; an exit code that is an
// exception's status is named.
std::string HelperEndedReason(const std::string& fileName, pe::TMachine machine, DWORD exitCode,
                              QVLanguage language);
// The helper did not answer within the time-out, or the user stopped it.
std::string HelperTimeoutReason(const std::string& fileName, const char* entry, TPhase phase, unsigned timeoutMs,
                                QVLanguage language);
std::string HelperStoppedReason(const std::string& fileName, const char* entry, TPhase phase, unsigned afterMs,
                                QVLanguage language);
// The helper speaks another version of the hand-over.
std::string HelperVersionReason(const std::string& helperPath, QVLanguage language);
// The helper's reply could not be read: `what` says what was wrong.
std::string HelperMalformedReason(const std::string& fileName, const std::string& what, QVLanguage language);

}  // namespace engine
