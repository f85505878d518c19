#include "engine/uRegCore.h"

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uChildProcess.h"
#include "engine/uGuardedCall.h"
#include "engine/uPeFile.h"
#include "engine/uProgramFile.h"
#include "engine/uReasons.h"
#include "resource.h"

namespace engine {

namespace {

// Indexed by the direction: 0 register, 1 unregister.
const char* const kEntryPoints[2] = {"DllRegisterServer", "DllUnregisterServer"};
const char* const kSwitches[2] = {" /regserver", " /unregserver"};
const char* const kTypeLibEntries[2] = {"RegisterTypeLib", "UnRegisterTypeLib"};

TRegOutcome Failure(std::string message, std::string details) {
    return TRegOutcome{false, std::move(message), std::move(details), 0};
}

TRegOutcome Success(std::string message) { return TRegOutcome{true, std::move(message), std::string(), 0}; }

bool HasFolderPart(const std::string& path) { return path.find_first_of("\\/") != std::string::npos; }

}  // namespace

std::string FullPathOf(const std::string& path) {
    char full[qv::kMaxPathBytes];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

TServerKind KindOf(const std::string& path) {
    std::string ext = qv::UpperAscii(ExtractFileExt(path));
    if (ext == ".EXE") return TServerKind::Executable;
    if (ext == ".TLB" || ext == ".OLB") return TServerKind::TypeLibrary;
    return TServerKind::Library;
}

std::string ExtractFileName(const std::string& path) {
    size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ExtractFileExt(const std::string& path) {
    std::string name = ExtractFileName(path);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool FileExistsReady(const std::string& path) {
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return qv::FileExists(path);
    char letter = (path.size() >= 2 && path[1] == ':') ? path[0] : 'C';
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return false;
    char root[] = "?:\\";
    root[0] = letter;
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    ULARGE_INTEGER total{};
    BOOL ready = GetDiskFreeSpaceExA(root, nullptr, &total, nullptr);
    SetErrorMode(oldMode);
    return ready && qv::FileExists(path);
}

TRegOutcome RunExecutableCore(const std::string& path, bool register_, const TRegContext& context) {
    const int direction = register_ ? 0 : 1;
    const std::string fileName = ExtractFileName(path);
    const std::string subject = fileName + kSwitches[direction];
    // The program's path in quotes, so that a path with blanks reaches the
    // server as one argument, then the switch after one blank. No console:
    // a console server must not share the runner's, where the user's Ctrl+C
    // belongs to the runner alone.
    TChildProcess server;
    DWORD error = 0;
    if (!server.Start(path, "\"" + path + "\"" + kSwitches[direction], CREATE_NO_WINDOW, error)) {
        return Failure(qv::LoadFmt(IDS_EXE_FAILED, subject), StartFailureReason(path, fileName, error, context.language));
    }
    const double start = qv::NowMs();
    switch (WaitForChild(server.Process(), nullptr, context.timeoutMs, static_cast<HANDLE>(context.abortEvent),
                         context.pumpMessages)) {
    case TWaitEnd::TimedOut:
        server.Kill(ERROR_TIMEOUT);
        return Failure(qv::LoadFmt(IDS_EXE_FAILED, subject),
                       TimeoutReason(fileName, context.timeoutMs, context.language));
    case TWaitEnd::Aborted:
        server.Kill(ERROR_CANCELLED);
        return Failure(qv::LoadFmt(IDS_EXE_FAILED, subject),
                       ExeStoppedReason(fileName, static_cast<unsigned>(qv::NowMs() - start), context.language));
    default: break;
    }
    DWORD exitCode = server.ExitCode();
    server.Detach();
    if (exitCode != 0) {
        return Failure(qv::LoadFmt(IDS_EXE_FAILED, subject), ExitCodeReason(fileName, exitCode, context.language));
    }
    return Success(qv::LoadFmt(IDS_EXE_SUCCESS, subject));
}

namespace {

void Publish(const TRegContext& context, TPhase phase) {
    if (context.onPhase) context.onPhase(phase);
}

}  // namespace

TRegOutcome RegisterLibraryCore(const std::string& path, bool register_, const TRegContext& context) {
    const int direction = register_ ? 0 : 1;
    const char* entry = kEntryPoints[direction];
    const std::string fileName = ExtractFileName(path);

    // The file checked is the file loaded: a relative name is made full
    // against the current folder (the loader would otherwise search its own
    // folders first and could load another file of that name), and the
    // library's own folder is searched first for its dependencies,
    // independent of the current folder.
    const std::string fullPath = FullPathOf(path);
    // The helper reads the file and says so when it belongs to the helper of
    // the other bitness: the program does not read it first.
    if (context.runLibrary) return context.runLibrary(pe::TMachine::None, TServerKind::Library, fullPath, register_);
    // A file that opens exists on a ready drive; only one that does not
    // open needs the slower check, which decides "not found".
    Publish(context, TPhase::Reading);
    TProgramFile program(fullPath);
    if (!program.Opened() && !FileExistsReady(path)) {
        return Failure(qv::LoadFmt(IDS_LIB_NOT_FOUND, path), NotFoundReason(path, context.language));
    }
    auto loadFailed = [&] { return qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName); };

    // The file is read before it is loaded: what is no program file, or is
    // one for a processor this computer cannot run, is never handed to the
    // loader, and a library goes to the helper of its own bitness.
    const pe::TPeInfo& head = program.Head();
    if (program.Opened() && !head.isPe) {
        return Failure(loadFailed(), NotProgramReason(fileName, head, context.language));
    }
    if (program.Opened() && head.machine != ProcessMachine() && CanRunMachine(head.machine) &&
        context.redirectOtherBitness) {
        TRegOutcome other;
        other.redirect = head.machine;
        return other;
    }
    if (program.Opened() && head.machine != ProcessMachine()) {
        return Failure(loadFailed(), MachineReason(fileName, program.Whole(), context.language));
    }
    // Loading a .NET assembly would start the .NET runtime only to find no
    // entry point; a mixed assembly that exports one loads.
    if (program.Opened() && head.hasClrHeader) {
        const pe::TPeInfo& info = program.Whole();
        if (!(register_ ? info.exportsRegister : info.exportsUnregister)) {
            return Failure(qv::LoadFmt(IDS_PROC_NOT_FOUND, entry, fileName),
                           DotNetReason(fileName, entry, context.language));
        }
    }
    std::string loadPath = fullPath;
    // The loader appends ".dll" to a name without extension; a trailing dot
    // makes it load the file exactly as named.
    if (ExtractFileExt(loadPath).empty()) loadPath += '.';
    Publish(context, TPhase::Loading);
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    qv::Module library(HasFolderPart(loadPath) ? LoadLibraryExA(loadPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                                               : LoadLibraryA(loadPath.c_str()));
    DWORD loadError = library ? 0 : GetLastError();
    SetErrorMode(oldMode);
    if (!library) {
        Publish(context, TPhase::Idle);
        return Failure(loadFailed(), LoadFailureReason(fullPath, fileName, loadError, program.Whole(), context.language));
    }

    FARPROC address = GetProcAddress(library.get(), entry);
    if (!address) {
        TRegOutcome missing = Failure(qv::LoadFmt(IDS_PROC_NOT_FOUND, entry, fileName),
                                      MissingEntryReason(fileName, entry, library.get(), program.Whole(),
                                                         context.language));
        Publish(context, TPhase::Unloading);
        library.reset();
        Publish(context, TPhase::Idle);
        return missing;
    }

    Publish(context, TPhase::Calling);
    TGuardedResult call = CallGuarded(reinterpret_cast<TEntryPoint>(reinterpret_cast<void*>(address)));
    if (call.faulted) {
        // The server's state is unknown after a fault, so it stays loaded.
        library.release();
        Publish(context, TPhase::Idle);
        TRegOutcome fault = Failure(qv::LoadFmt(IDS_CALL_FAILED, entry, fileName),
                                    FaultReason(entry, call.exceptionCode, call.exceptionAddress, context.language));
        fault.serverFaulted = true;
        return fault;
    }
    Publish(context, TPhase::Unloading);
    library.reset();
    Publish(context, TPhase::Idle);
    if (call.result != S_OK) {
        return Failure(qv::LoadFmt(IDS_CALL_FAILED, entry, fileName), ResultReason(entry, call.result, context.language));
    }
    return Success(qv::LoadFmt(IDS_CALL_SUCCESS, entry, fileName));
}

pe::TMachine TypeLibraryMachine(const std::string& path) {
    unsigned char head[0x40] = {};
    DWORD got = 0;
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    qv::Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    SetThreadErrorMode(oldMode, nullptr);
    if (file && !ReadFile(file.get(), head, sizeof head, &got, nullptr)) got = 0;
    pe::TMachine declared = pe::TMachine::X86;
    if (got >= 0x18 && head[0] == 'M' && head[1] == 'S' && head[2] == 'F' && head[3] == 'T') {
        // A compiled type library: the low nibble of the flags at 0x14 is
        // its SYSKIND (SYS_WIN64 is 3).
        if ((head[0x14] & 0x0F) == SYS_WIN64) declared = pe::TMachine::X64;
    } else if (got >= 2 && head[0] == 'M' && head[1] == 'Z') {
        // A type library inside a program file is registered by a helper of
        // the file's own bitness.
        TProgramFile program(path);
        if (program.Opened() && program.Head().isPe && program.Head().machine == pe::TMachine::X64) {
            declared = pe::TMachine::X64;
        }
    }
    return CanRunMachine(declared) ? declared : pe::TMachine::X86;
}

TRegOutcome RegisterTypeLibraryCore(const std::string& path, bool register_, const TRegContext& context) {
    const int direction = register_ ? 0 : 1;
    const char* entry = kTypeLibEntries[direction];
    const std::string fileName = ExtractFileName(path);
    if (!FileExistsReady(path)) {
        return Failure(qv::LoadFmt(IDS_LIB_NOT_FOUND, path), NotFoundReason(path, context.language));
    }
    if (context.runLibrary) {
        return context.runLibrary(TypeLibraryMachine(path), TServerKind::TypeLibrary, FullPathOf(path), register_);
    }
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 1));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);

    Publish(context, TPhase::TypeLibrary);
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    ITypeLib* library = nullptr;
    const char* failedCall = "LoadTypeLibEx";
    HRESULT hr = LoadTypeLibEx(wide.data(), register_ ? REGKIND_REGISTER : REGKIND_NONE, &library);
    SetErrorMode(oldMode);
    if (SUCCEEDED(hr) && !register_) {
        TLIBATTR* attributes = nullptr;
        hr = library->GetLibAttr(&attributes);
        if (SUCCEEDED(hr)) {
            failedCall = "UnRegisterTypeLib";
            hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                   attributes->lcid, attributes->syskind);
            library->ReleaseTLibAttr(attributes);
        }
    }
    if (library) library->Release();
    Publish(context, TPhase::Idle);
    if (FAILED(hr)) {
        return Failure(qv::LoadFmt(IDS_CALL_FAILED, entry, fileName), ResultReason(failedCall, hr, context.language));
    }
    return Success(qv::LoadFmt(IDS_CALL_SUCCESS, entry, fileName));
}

TRegOutcome RegisterFileCore(const std::string& path, bool register_, const TRegContext& context) {
    double start = qv::NowMs();
    TRegOutcome outcome;
    switch (KindOf(path)) {
    case TServerKind::Executable: outcome = RunExecutableCore(path, register_, context); break;
    case TServerKind::TypeLibrary: outcome = RegisterTypeLibraryCore(path, register_, context); break;
    case TServerKind::Library: outcome = RegisterLibraryCore(path, register_, context); break;
    }
    outcome.ms = qv::NowMs() - start;
    return outcome;
}

}  // namespace engine
