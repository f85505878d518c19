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
#include "engine/uRegIntercept.h"
#include "resource.h"

namespace engine {

namespace {

// Indexed by the direction: 0 register, 1 unregister.
const char* const kEntryPoints[2] = {"DllRegisterServer", "DllUnregisterServer"};
const char* const kSwitches[2] = {" /regserver", " /unregserver"};
// The switches of a registration for the current user alone: a convention
// of executable servers that not every server knows.
const char* const kPerUserSwitches[2] = {" /RegServerPerUser", " /UnregServerPerUser"};
const char* const kTypeLibEntries[2] = {"RegisterTypeLib", "UnRegisterTypeLib"};
const char* const kUserTypeLibEntries[2] = {"RegisterTypeLibForUser", "UnRegisterTypeLibForUser"};

// The per-user type library calls, bound at run time: Windows before Vista
// SP1 lacks them, and there the redirected HKEY_CLASSES_ROOT alone sends
// the plain calls to the current user's classes.
using TRegisterForUser = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using TUnregisterForUser = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

FARPROC OleAutProc(const char* name) {
    HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    return oleaut ? GetProcAddress(oleaut, name) : nullptr;
}
const char* const kInstallEntry = "DllInstall";

// DllInstall(bInstall, pszCmdLine), called through CallGuarded, which calls
// entry points without arguments: the one call at a time takes its
// arguments from here.
using TInstallEntry = HRESULT(WINAPI*)(BOOL, LPCWSTR);
struct TInstallCall {
    TInstallEntry entry;
    BOOL install;
    LPCWSTR text;
};
TInstallCall InstallCall;

HRESULT WINAPI CallInstallEntry() { return InstallCall.entry(InstallCall.install, InstallCall.text); }

TRegOutcome Failure(TFailure kind, std::string message, std::string details) {
    TRegOutcome outcome{false, std::move(message), std::move(details), 0};
    outcome.failure = kind;
    return outcome;
}

TRegOutcome Success(std::string message) { return TRegOutcome{true, std::move(message), std::string(), 0}; }

bool HasFolderPart(const std::string& path) { return path.find_first_of("\\/") != std::string::npos; }

}  // namespace

std::string FullPathOf(const std::string& path) {
    char full[qv::kMaxPathBytes];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `path` holds `folder` at `at`, letters compared without case and
// either slash taken for a backslash, followed by a separator or the end.
bool FolderAt(const std::string& path, size_t at, const std::string& folder) {
    if (path.size() - at < folder.size()) return false;
    for (size_t i = 0; i < folder.size(); ++i) {
        const char a = path[at + i], b = folder[i];
        if (IsSeparator(a) && IsSeparator(b)) continue;
        if (LowerAscii(a) != LowerAscii(b)) return false;
    }
    return at + folder.size() == path.size() || IsSeparator(path[at + folder.size()]);
}

// The subfolders of System32 that Windows does not redirect: a 32-bit
// process already sees the real ones under these names.
const char* const kNotRedirected[] = {"catroot", "catroot2", "driverstore", "drivers\\etc", "logfiles", "spool"};

struct TSystemView {
    std::string windowsFolder;
    bool wow64 = false;
};

// Asked once: the folders and the bitness do not change while the process
// runs. Without a Sysnative folder (64-bit Windows XP lacks it), nothing is
// mapped.
const TSystemView& SystemView() {
    static const TSystemView view = [] {
        TSystemView found;
        char folder[MAX_PATH * 2];
        const UINT length = GetSystemWindowsDirectoryA(folder, sizeof folder);
        if (length == 0 || length >= sizeof folder) return found;
        found.windowsFolder.assign(folder, length);
        BOOL wow64 = FALSE;
        if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return found;
        std::string sysnative = found.windowsFolder;
        if (!IsSeparator(sysnative.back())) sysnative += '\\';
        const DWORD attributes = GetFileAttributesA((sysnative + "Sysnative").c_str());
        found.wow64 = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        return found;
    }();
    return view;
}

}  // namespace

std::string NativeViewOf(const std::string& fullPath, const std::string& windowsFolder, bool wow64) {
    if (!wow64 || windowsFolder.empty()) return fullPath;
    std::string folder = windowsFolder;
    while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
    // "\\?\C:\Windows\System32" is redirected like "C:\Windows\System32".
    const size_t start = fullPath.compare(0, 4, "\\\\?\\") == 0 ? 4 : 0;
    if (folder.empty() || !FolderAt(fullPath, start, folder) || start + folder.size() == fullPath.size()) {
        return fullPath;
    }
    const size_t system = start + folder.size() + 1;
    if (!FolderAt(fullPath, system, "System32")) return fullPath;
    const size_t rest = system + 8;
    if (rest < fullPath.size()) {
        for (const char* exempt : kNotRedirected) {
            if (FolderAt(fullPath, rest + 1, exempt)) return fullPath;
        }
    }
    return fullPath.substr(0, system) + "Sysnative" + fullPath.substr(rest);
}

std::string NativeViewOf(const std::string& path) {
    const TSystemView& view = SystemView();
    if (!view.wow64 || path.empty()) return path;
    const std::string fullPath = FullPathOf(path);
    const std::string mapped = NativeViewOf(fullPath, view.windowsFolder, true);
    return mapped == fullPath ? path : mapped;
}

std::string SystemFolderOf(const std::string& fullPath) {
    if (sizeof(void*) != 8) return fullPath;
    std::string folder = SystemView().windowsFolder;
    while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
    const size_t start = fullPath.compare(0, 4, "\\\\?\\") == 0 ? 4 : 0;
    if (folder.empty() || !FolderAt(fullPath, start, folder) || start + folder.size() == fullPath.size() ||
        !FolderAt(fullPath, start + folder.size() + 1, "Sysnative")) {
        return fullPath;
    }
    const size_t system = start + folder.size() + 1;
    return fullPath.substr(0, system) + "System32" + fullPath.substr(system + 9);
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
    // The file the user named: in System32, the real one.
    const std::string openPath = NativeViewOf(path);
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return qv::FileExists(openPath);
    char letter = (path.size() >= 2 && path[1] == ':') ? path[0] : 'C';
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return false;
    char root[] = "?:\\";
    root[0] = letter;
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    ULARGE_INTEGER total{};
    BOOL ready = GetDiskFreeSpaceExA(root, nullptr, &total, nullptr);
    SetErrorMode(oldMode);
    return ready && qv::FileExists(openPath);
}

TRegOutcome RunExecutableCore(const std::string& path, bool register_, const TRegContext& context) {
    const int direction = register_ ? 0 : 1;
    const std::string fileName = ExtractFileName(path);
    const char* const switch_ = (context.perUser ? kPerUserSwitches : kSwitches)[direction];
    const std::string subject = fileName + switch_;
    // The program's path in quotes, so that a path with blanks reaches the
    // server as one argument, then the switch after one blank. No console:
    // a console server must not share the runner's, where the user's Ctrl+C
    // belongs to the runner alone.
    // A server in System32 is started from the real System32, and its
    // command line names it as the user did.
    TChildProcess server;
    DWORD error = 0;
    if (!server.Start(NativeViewOf(path), "\"" + path + "\"" + switch_, CREATE_NO_WINDOW, error)) {
        // A program that is not there is a missing file, as a library is.
        if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && !FileExistsReady(path)) {
            return Failure(TFailure::NotFound, qv::LoadFmt(IDS_FILE_NOT_FOUND, path),
                           NotFoundReason(path, context.language));
        }
        return Failure(TFailure::ExeFailed, qv::LoadFmt(IDS_EXE_FAILED, subject),
                       StartFailureReason(path, fileName, error, context.language));
    }
    const double start = qv::NowMs();
    switch (WaitForChild(server.Process(), nullptr, context.timeoutMs, static_cast<HANDLE>(context.abortEvent),
                         context.pumpMessages)) {
    case TWaitEnd::TimedOut:
        server.Kill(ERROR_TIMEOUT);
        return Failure(TFailure::TimedOut, qv::LoadFmt(IDS_EXE_FAILED, subject),
                       TimeoutReason(fileName, context.timeoutMs, context.language));
    case TWaitEnd::Aborted:
        server.Kill(ERROR_CANCELLED);
        return Failure(TFailure::Stopped, qv::LoadFmt(IDS_EXE_FAILED, subject),
                       ExeStoppedReason(fileName, static_cast<unsigned>(qv::NowMs() - start), context.language));
    default: break;
    }
    DWORD exitCode = server.ExitCode();
    server.Detach();
    if (exitCode != 0) {
        return Failure(TFailure::ExeFailed, qv::LoadFmt(IDS_EXE_FAILED, subject),
                       ExitCodeReason(fileName, exitCode, context.language, context.perUser));
    }
    return Success(qv::LoadFmt(IDS_EXE_SUCCESS, subject));
}

namespace {

void Publish(const TRegContext& context, TPhase phase) {
    if (context.onPhase) context.onPhase(phase);
}

// oleaut32's switch that makes RegisterTypeLib honour a redirected
// HKEY_CLASSES_ROOT (Windows 7 and later; Wine 8 lacks it). It has no way
// back: once on, it stays on for the process.
void EnablePerUserTypeLibraries() {
    using TEnable = void(WINAPI*)();
    static bool done = false;
    if (done) return;
    done = true;
    HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    if (!oleaut) oleaut = LoadLibraryA("oleaut32.dll");
    auto enable = reinterpret_cast<TEnable>(
        reinterpret_cast<void*>(oleaut ? GetProcAddress(oleaut, "OaEnablePerUserTLibRegistration") : nullptr));
    if (enable) enable();
}

}  // namespace

TUserClassesScope::TUserClassesScope(bool active) {
    if (!active) return;
    HKEY classes = nullptr;
    // Only whole predefined keys can be redirected: HKEY_CLASSES_ROOT as a
    // whole now means the current user's classes.
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Classes", 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &classes, nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (RegOverridePredefKey(HKEY_CLASSES_ROOT, classes) != ERROR_SUCCESS) {
        RegCloseKey(classes);
        return;
    }
    classes_ = classes;
    EnablePerUserTypeLibraries();
    intercept_ = new TInterceptScope(TInterceptMode::PerUser, TScratchRoots());
}

TUserClassesScope::~TUserClassesScope() {
    delete intercept_;
    if (!classes_) return;
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(static_cast<HKEY>(classes_));
}

std::vector<std::string> TUserClassesScope::MachineWrites() {
    std::vector<std::string> keys;
    if (!intercept_) return keys;
    for (const TRegWrite& write : intercept_->Finish()) {
        if (write.kind != TRegWriteKind::Refused) continue;
        const std::string key = WriteKeyName(write);
        bool known = false;
        for (const std::string& k : keys) known = known || k == key;
        if (!known) keys.push_back(key);
    }
    return keys;
}

TRegOutcome MachineWritesFailure(const std::string& fileName, const std::vector<std::string>& keys) {
    std::string details = "'" + fileName + "' writes machine-wide keys, which a registration for the current user "
                          "must not change; they were not written:";
    for (const std::string& key : keys) details += "\n" + key;
    details += "\nRegister it for all users (as an administrator) instead. What it wrote to your own classes stays "
               "until you unregister it for the current user.";
    return Failure(TFailure::Returned, "The registration of '" + fileName + "' for the current user failed.", details);
}

namespace {

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
    // A library in System32 is read in the real System32 (openPath), never
    // as its SysWOW64 namesake.
    const std::string openPath = NativeViewOf(fullPath);
    const bool realSystem32 = openPath != fullPath;
    // The helper reads the file and says so when it belongs to the helper of
    // the other bitness: the program does not read it first.
    if (context.runLibrary && !realSystem32) {
        return context.runLibrary(pe::TMachine::None, TServerKind::Library, fullPath, register_);
    }
    // A file that opens exists on a ready drive; only one that does not
    // open needs the slower check, which decides "not found".
    Publish(context, TPhase::Reading);
    TProgramFile program(openPath);
    if (!program.Opened() && !FileExistsReady(path)) {
        return Failure(TFailure::NotFound, qv::LoadFmt(IDS_LIB_NOT_FOUND, path),
                       NotFoundReason(path, context.language));
    }
    auto loadFailed = [&] { return qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName); };
    if (realSystem32) {
        // Only a 64-bit process finds this file under the name the user gave
        // it: a 32-bit one, registered under that name, would be looked for
        // in SysWOW64 by its clients. Everything else goes to the 64-bit
        // helper with the path as named, which it opens as it is.
        if (program.Opened() && program.Head().isPe && program.Head().machine == ProcessMachine()) {
            return Failure(TFailure::NotLoaded, loadFailed(), SystemFolderReason(fileName, fullPath, context.language));
        }
        if (context.runLibrary) return context.runLibrary(pe::TMachine::X64, TServerKind::Library, fullPath, register_);
        if (context.redirectOtherBitness && CanRunMachine(pe::TMachine::X64)) {
            TRegOutcome other;
            other.redirect = pe::TMachine::X64;
            return other;
        }
    }

    // The file is read before it is loaded: what is no program file, or is
    // one for a processor this computer cannot run, is never handed to the
    // loader, and a library goes to the helper of its own bitness.
    const pe::TPeInfo& head = program.Head();
    if (program.Opened() && !head.isPe) {
        return Failure(TFailure::NotLoaded, loadFailed(), NotProgramReason(fileName, head, context.language));
    }
    if (program.Opened() && head.machine != ProcessMachine() && CanRunMachine(head.machine) &&
        context.redirectOtherBitness) {
        TRegOutcome other;
        other.redirect = head.machine;
        return other;
    }
    if (program.Opened() && head.machine != ProcessMachine()) {
        return Failure(TFailure::NotLoaded, loadFailed(),
                       MachineReason(fileName, program.Whole(), context.language));
    }
    // Loading a .NET assembly would start the .NET runtime only to find no
    // entry point; a mixed assembly that exports one loads.
    if (program.Opened() && head.hasClrHeader && context.entryPoints != TEntryPoints::InstallOnly) {
        const pe::TPeInfo& info = program.Whole();
        if (!(register_ ? info.exportsRegister : info.exportsUnregister)) {
            return Failure(TFailure::NoEntry, qv::LoadFmt(IDS_PROC_NOT_FOUND, entry, fileName),
                           DotNetReason(fileName, entry, context.language));
        }
    }
    // Never the SysWOW64 namesake of a file in System32: what is left to
    // load here (a file that could not be read) is loaded as the real one.
    std::string loadPath = openPath;
    // The loader appends ".dll" to a name without extension; a trailing dot
    // makes it load the file exactly as named.
    if (ExtractFileExt(loadPath).empty()) loadPath += '.';
    // From the library's DllMain to its unloading, its writes to
    // HKEY_CLASSES_ROOT go to the current user's classes.
    TUserClassesScope userClasses(context.perUser);
    Publish(context, TPhase::Loading);
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    qv::Module library(HasFolderPart(loadPath) ? LoadLibraryExA(loadPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                                               : LoadLibraryA(loadPath.c_str()));
    DWORD loadError = library ? 0 : GetLastError();
    SetErrorMode(oldMode);
    if (!library) {
        Publish(context, TPhase::Idle);
        return Failure(TFailure::NotLoaded, loadFailed(),
                       LoadFailureReason(openPath, fileName, loadError, program.Whole(), context.language));
    }

    // The calls in their order: DllInstall after DllRegisterServer, and
    // before DllUnregisterServer, so that what it installs on top of the
    // registration is undone first. Every entry point is looked up before
    // any is called: a library that lacks one is left as it was.
    struct TCall {
        const char* name;
        FARPROC address;
    };
    TCall calls[2];
    int count = 0;
    const bool server = context.entryPoints != TEntryPoints::InstallOnly;
    const bool install = context.entryPoints != TEntryPoints::Server;
    if (server && register_) calls[count++] = {entry, nullptr};
    if (install) calls[count++] = {kInstallEntry, nullptr};
    if (server && !register_) calls[count++] = {entry, nullptr};
    for (int i = 0; i < count; ++i) {
        calls[i].address = GetProcAddress(library.get(), calls[i].name);
        if (calls[i].address) continue;
        TRegOutcome missing = Failure(TFailure::NoEntry, qv::LoadFmt(IDS_PROC_NOT_FOUND, calls[i].name, fileName),
                                      MissingEntryReason(fileName, calls[i].name, library.get(), program.Whole(),
                                                         context.language));
        Publish(context, TPhase::Unloading);
        library.reset();
        Publish(context, TPhase::Idle);
        return missing;
    }

    for (int i = 0; i < count; ++i) {
        const char* name = calls[i].name;
        const bool installs = name == kInstallEntry;
        Publish(context, installs ? TPhase::Installing : TPhase::Calling);
        TGuardedResult call;
        if (installs) {
            // A pointer to the text, never null: servers compare it with
            // their own words without checking for null.
            InstallCall = {reinterpret_cast<TInstallEntry>(reinterpret_cast<void*>(calls[i].address)),
                           register_ ? TRUE : FALSE, context.installText.c_str()};
            call = CallGuarded(CallInstallEntry);
        } else {
            call = CallGuarded(reinterpret_cast<TEntryPoint>(reinterpret_cast<void*>(calls[i].address)));
        }
        if (call.faulted) {
            // The server's state is unknown after a fault, so it stays loaded.
            library.release();
            Publish(context, TPhase::Idle);
            TRegOutcome fault =
                Failure(TFailure::Faulted, qv::LoadFmt(IDS_CALL_FAILED, name, fileName),
                        FaultReason(name, call.exceptionCode, call.exceptionAddress, context.language));
            fault.serverFaulted = true;
            return fault;
        }
        const bool succeeded = context.anySuccessCode ? SUCCEEDED(call.result) : call.result == S_OK;
        if (!succeeded) {
            Publish(context, TPhase::Unloading);
            library.reset();
            Publish(context, TPhase::Idle);
            const std::vector<std::string> machine = userClasses.MachineWrites();
            if (!machine.empty()) return MachineWritesFailure(fileName, machine);
            return Failure(TFailure::Returned, qv::LoadFmt(IDS_CALL_FAILED, name, fileName),
                           ResultReason(name, call.result, context.language, context.perUser));
        }
    }
    Publish(context, TPhase::Unloading);
    library.reset();
    Publish(context, TPhase::Idle);
    const std::vector<std::string> machine = userClasses.MachineWrites();
    if (!machine.empty()) return MachineWritesFailure(fileName, machine);
    return Success(count == 2 ? qv::LoadFmt(IDS_CALLS_SUCCESS, calls[0].name, calls[1].name, fileName)
                              : qv::LoadFmt(IDS_CALL_SUCCESS, calls[0].name, fileName));
}

pe::TMachine TypeLibraryMachine(const std::string& path) {
    const std::string openPath = NativeViewOf(path);
    unsigned char head[0x40] = {};
    DWORD got = 0;
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
    qv::Handle file(CreateFileA(openPath.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
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
        TProgramFile program(openPath);
        if (program.Opened() && program.Head().isPe && program.Head().machine == pe::TMachine::X64) {
            declared = pe::TMachine::X64;
        }
    }
    return CanRunMachine(declared) ? declared : pe::TMachine::X86;
}

TRegOutcome RegisterTypeLibraryCore(const std::string& path, bool register_, const TRegContext& context) {
    const int direction = register_ ? 0 : 1;
    const char* entry = (context.perUser ? kUserTypeLibEntries : kTypeLibEntries)[direction];
    const std::string fileName = ExtractFileName(path);
    if (!FileExistsReady(path)) {
        return Failure(TFailure::NotFound, qv::LoadFmt(IDS_LIB_NOT_FOUND, path),
                       NotFoundReason(path, context.language));
    }
    const std::string fullPath = FullPathOf(path);
    const std::string openPath = NativeViewOf(fullPath);
    if (openPath != fullPath) {
        const pe::TMachine machine = TypeLibraryMachine(path);
        // As for libraries: a 32-bit type library in the real System32 would
        // be looked for in SysWOW64 by its 32-bit clients; a 64-bit one is
        // registered by the 64-bit helper under the path as named.
        if (machine != pe::TMachine::X64) {
            return Failure(TFailure::NotLoaded, qv::LoadFmt(IDS_CALL_FAILED, entry, fileName),
                           SystemFolderReason(fileName, fullPath, context.language));
        }
        if (!context.runLibrary && context.redirectOtherBitness) {
            TRegOutcome other;
            other.redirect = pe::TMachine::X64;
            return other;
        }
    }
    if (context.runLibrary) {
        const pe::TMachine machine = openPath != fullPath ? pe::TMachine::X64 : TypeLibraryMachine(path);
        return context.runLibrary(machine, TServerKind::TypeLibrary, fullPath, register_);
    }
    const std::string loadPath = openPath == fullPath ? path : openPath;
    int length = MultiByteToWideChar(CP_ACP, 0, loadPath.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 1));
    MultiByteToWideChar(CP_ACP, 0, loadPath.c_str(), -1, wide.data(), length);

    Publish(context, TPhase::TypeLibrary);
    // For the current user the per-user calls register; where the system
    // registers them machine-wide anyway (Wine 8), the redirected
    // HKEY_CLASSES_ROOT still keeps them out of the machine's classes.
    TUserClassesScope userClasses(context.perUser);
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    ITypeLib* library = nullptr;
    const char* failedCall = "LoadTypeLibEx";
    HRESULT hr = LoadTypeLibEx(wide.data(), register_ && !context.perUser ? REGKIND_REGISTER : REGKIND_NONE, &library);
    SetErrorMode(oldMode);
    if (SUCCEEDED(hr) && register_ && context.perUser) {
        failedCall = "RegisterTypeLibForUser";
        auto forUser = reinterpret_cast<TRegisterForUser>(reinterpret_cast<void*>(OleAutProc(failedCall)));
        hr = forUser ? forUser(library, wide.data(), nullptr) : RegisterTypeLib(library, wide.data(), nullptr);
    }
    if (SUCCEEDED(hr) && !register_) {
        TLIBATTR* attributes = nullptr;
        hr = library->GetLibAttr(&attributes);
        if (SUCCEEDED(hr)) {
            failedCall = context.perUser ? "UnRegisterTypeLibForUser" : "UnRegisterTypeLib";
            auto forUser = context.perUser ? reinterpret_cast<TUnregisterForUser>(
                                                 reinterpret_cast<void*>(OleAutProc(failedCall)))
                                           : nullptr;
            hr = (forUser ? forUser : UnRegisterTypeLib)(attributes->guid, attributes->wMajorVerNum,
                                                         attributes->wMinorVerNum, attributes->lcid,
                                                         attributes->syskind);
            library->ReleaseTLibAttr(attributes);
        }
    }
    if (library) library->Release();
    Publish(context, TPhase::Idle);
    const std::vector<std::string> machine = userClasses.MachineWrites();
    if (!machine.empty()) return MachineWritesFailure(fileName, machine);
    if (FAILED(hr)) {
        return Failure(TFailure::Returned, qv::LoadFmt(IDS_CALL_FAILED, entry, fileName),
                       ResultReason(failedCall, hr, context.language, context.perUser));
    }
    return Success(qv::LoadFmt(IDS_CALL_SUCCESS, entry, fileName));
}

TRegOutcome RegisterFileCore(const std::string& path, bool register_, const TRegContext& context) {
    double start = qv::NowMs();
    TRegOutcome outcome;
    // DllInstall alone is called in whatever file is named, as a library.
    const TServerKind kind =
        context.entryPoints == TEntryPoints::InstallOnly ? TServerKind::Library : KindOf(path);
    switch (kind) {
    case TServerKind::Executable: outcome = RunExecutableCore(path, register_, context); break;
    case TServerKind::TypeLibrary: outcome = RegisterTypeLibraryCore(path, register_, context); break;
    case TServerKind::Library: outcome = RegisterLibraryCore(path, register_, context); break;
    }
    outcome.ms = qv::NowMs() - start;
    return outcome;
}

}  // namespace engine
