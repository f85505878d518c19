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

struct TDependencyProblem {
    std::string name;      // as imported
    std::string neededBy;  // file name of the importer
    std::string foundAt;   // empty: not found by the loader's search
    pe::TMachine machine = pe::TMachine::None;  // of the file found
    std::uint16_t machineCode = 0;
};

// Walks the import tables from the library at `fullPath` the way the loader
// searches (the library's own folder first, then the system folders, the
// Windows folder, the current folder and PATH) and returns the imported
// DLLs that no search finds or that are built for another machine. Libraries
// already loaded, API set names and the system's own libraries count as
// found; the system's libraries are not walked further.
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
// `call` returned a failure: the value, its name and meaning, the system's text.
std::string ResultReason(const char* call, HRESULT hr, QVLanguage language);
// `entry` raised a structured exception.
std::string FaultReason(const char* entry, DWORD code, std::uintptr_t address, QVLanguage language);
// The executable server could not be started, ended with a non-zero exit
// code, or was still running after the time-out.
std::string StartFailureReason(const std::string& path, const std::string& fileName, DWORD error,
                               QVLanguage language);
std::string ExitCodeReason(const std::string& fileName, DWORD exitCode, QVLanguage language);
std::string TimeoutReason(const std::string& fileName, unsigned timeoutMs, QVLanguage language);

// The 64-bit helper: not found beside the program, not started, or ended
// while it worked on the file.
std::string HelperMissingReason(const std::string& fileName, const std::string& helperPath, QVLanguage language);
std::string HelperStartReason(const std::string& fileName, const std::string& helperPath, DWORD error,
                              QVLanguage language);
std::string HelperEndedReason(const std::string& fileName, DWORD exitCode, QVLanguage language);

}  // namespace engine
