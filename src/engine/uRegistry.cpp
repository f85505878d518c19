#include "engine/uRegistry.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <optional>
#include <vector>

#include "common/QVExceptions.h"
#include "common/QVHandles.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVMsgFrm.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uGuardedCall.h"
#include "resource.h"
#include "ui/Application.h"

namespace engine {

unsigned ServerExecutableTimeoutMs = 60000;

namespace {

// Indexed by the direction: 0 register, 1 unregister.
const char* const kEntryPoints[2] = {"DllRegisterServer", "DllUnregisterServer"};
const char* const kSwitches[2] = {" /regserver", " /unregserver"};
const char* const kTypeLibEntries[2] = {"RegisterTypeLib", "UnRegisterTypeLib"};

// State of the call in progress (one file at a time, user-interface thread).
std::string ServerFileName;
int Direction = 0;

[[noreturn]] void Fail(const std::string& message, const std::string& details = std::string()) {
    throw EQVException(message, details, qekError);
}

enum class TServerKind { Executable, TypeLibrary, Library };

TServerKind KindOf(const std::string& path) {
    std::string ext = qv::UpperAscii(ExtractFileExt(path));
    if (ext == ".EXE") return TServerKind::Executable;
    if (ext == ".TLB" || ext == ".OLB") return TServerKind::TypeLibrary;
    return TServerKind::Library;
}

void BeginCall(const std::string& path, bool register_) {
    ServerFileName = ExtractFileName(path);
    Direction = register_ ? 0 : 1;
}

std::string Hex32(unsigned long value) {
    char buffer[16];
    wsprintfA(buffer, "0x%08lX", value);
    return buffer;
}

std::string ExceptionName(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return qv::LoadStr(IDS_EXC_ACCESS_VIOLATION);
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return qv::LoadStr(IDS_EXC_DIVIDE_BY_ZERO);
    case EXCEPTION_STACK_OVERFLOW: return qv::LoadStr(IDS_EXC_STACK_OVERFLOW);
    case EXCEPTION_ILLEGAL_INSTRUCTION: return qv::LoadStr(IDS_EXC_ILLEGAL_INSTRUCTION);
    case EXCEPTION_PRIV_INSTRUCTION: return qv::LoadStr(IDS_EXC_PRIVILEGED_INSTRUCTION);
    case EXCEPTION_IN_PAGE_ERROR: return qv::LoadStr(IDS_EXC_IN_PAGE_ERROR);
    case EXCEPTION_INT_OVERFLOW: return qv::LoadStr(IDS_EXC_INTEGER_OVERFLOW);
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_DENORMAL_OPERAND: return qv::LoadStr(IDS_EXC_FLOAT);
    default: return qv::LoadStr(IDS_EXC_UNKNOWN);
    }
}

// "0x6A281234 (Server.dll+0x1234)", or the bare address outside any module.
std::string DescribeAddress(std::uintptr_t address) {
    std::string text = Hex32(static_cast<unsigned long>(address));
    HMODULE module = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &module) &&
        module) {
        char name[MAX_PATH] = {};
        GetModuleFileNameA(module, name, MAX_PATH);
        char offset[16];
        wsprintfA(offset, "%lX", static_cast<unsigned long>(address - reinterpret_cast<std::uintptr_t>(module)));
        text += " (" + ExtractFileName(name) + "+0x" + offset + ")";
    }
    return text;
}

// Seconds as "60" or "0.5".
std::string SecondsText(unsigned ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", ms / 1000.0);
    return buffer;
}

bool HasFolderPart(const std::string& path) { return path.find_first_of("\\/") != std::string::npos; }

// Waits for the process to end while keeping the windows painted. False when
// it is still running after the timeout.
bool WaitForServer(HANDLE process, unsigned timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        DWORD wait = MsgWaitForMultipleObjects(1, &process, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) return true;
        if (wait == WAIT_OBJECT_0 + 1) {
            ui::Application.ProcessMessages();
        } else if (wait == WAIT_FAILED) {
            return WaitForSingleObject(process, timeoutMs - elapsed) == WAIT_OBJECT_0;
        }
    }
}

void RegisterTypeLibrary(const std::string& path) {
    const char* entry = kTypeLibEntries[Direction];
    if (!FileExistsReady(path)) Fail(qv::LoadFmt(IDS_LIB_NOT_FOUND, path));
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 1));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);

    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    ITypeLib* library = nullptr;
    const char* failedCall = "LoadTypeLibEx";
    HRESULT hr = LoadTypeLibEx(wide.data(), Direction == 0 ? REGKIND_REGISTER : REGKIND_NONE, &library);
    SetErrorMode(oldMode);
    if (SUCCEEDED(hr) && Direction == 1) {
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
    if (FAILED(hr)) {
        Fail(qv::LoadFmt(IDS_CALL_FAILED, entry, ServerFileName),
             qv::LoadFmt(IDS_DETAIL_TYPELIB_RESULT, failedCall, Hex32(static_cast<unsigned long>(hr)),
                         qv::SystemErrorText(static_cast<DWORD>(hr))));
    }
}

// Runs the steps of the file's kind; returns the success message.
std::string RegisterOneFile(const std::string& path) {
    switch (KindOf(path)) {
    case TServerKind::Executable:
        RunServerExecutable(path);
        return qv::LoadFmt(IDS_EXE_SUCCESS, ServerFileName + kSwitches[Direction]);
    case TServerKind::TypeLibrary:
        RegisterTypeLibrary(path);
        return qv::LoadFmt(IDS_CALL_SUCCESS, kTypeLibEntries[Direction], ServerFileName);
    case TServerKind::Library:
    default:
        RegisterLibrary(path);
        return qv::LoadFmt(IDS_CALL_SUCCESS, kEntryPoints[Direction], ServerFileName);
    }
}


}  // namespace

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

void RunServerExecutable(const std::string& path) {
    const std::string subject = ServerFileName + kSwitches[Direction];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // The program's path in quotes, so that a path with blanks reaches the
    // server as one argument, then the switch after one blank.
    std::string commandLine = "\"" + path + "\"" + kSwitches[Direction];
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(path.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Fail(qv::LoadFmt(IDS_EXE_FAILED, subject));
    }
    CloseHandle(process.hThread);
    qv::Handle processHandle(process.hProcess);

    // A server that is still running is left alone; it is not killed.
    if (!WaitForServer(processHandle.get(), ServerExecutableTimeoutMs)) {
        Fail(qv::LoadFmt(IDS_EXE_FAILED, subject),
             qv::LoadFmt(IDS_DETAIL_TIMEOUT, ServerFileName, SecondsText(ServerExecutableTimeoutMs)));
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(processHandle.get(), &exitCode)) exitCode = GetLastError();
    if (exitCode != 0) {
        Fail(qv::LoadFmt(IDS_EXE_FAILED, subject),
             qv::LoadFmt(IDS_DETAIL_EXIT_CODE, ServerFileName,
                         std::to_string(exitCode) + " (" + Hex32(exitCode) + ")"));
    }
}

void RegisterLibrary(const std::string& path) {
    const char* entry = kEntryPoints[Direction];
    if (!FileExistsReady(path)) Fail(qv::LoadFmt(IDS_LIB_NOT_FOUND, path));

    // The file checked above is the file loaded: a relative name is made
    // full against the current folder (the loader would otherwise search its
    // own folders first and could load another file of that name), and the
    // library's own folder is searched first for its dependencies,
    // independent of the current folder.
    std::string loadPath = path;
    char full[MAX_PATH * 2];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length > 0 && length < sizeof full) loadPath.assign(full, length);
    // The loader appends ".dll" to a name without extension; a trailing dot
    // makes it load the file exactly as named.
    if (ExtractFileExt(loadPath).empty()) loadPath += '.';
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    qv::Module library(HasFolderPart(loadPath) ? LoadLibraryExA(loadPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                                               : LoadLibraryA(loadPath.c_str()));
    SetErrorMode(oldMode);
    if (!library) Fail(qv::LoadFmt(IDS_LIB_LOAD_FAILED, ServerFileName));

    FARPROC address = GetProcAddress(library.get(), entry);
    if (!address) Fail(qv::LoadFmt(IDS_PROC_NOT_FOUND, entry, ServerFileName));

    TGuardedResult call = CallGuarded(reinterpret_cast<TEntryPoint>(reinterpret_cast<void*>(address)));
    if (call.faulted) {
        // The server's state is unknown after a fault, so it stays loaded.
        library.release();
        Fail(qv::LoadFmt(IDS_CALL_FAILED, entry, ServerFileName),
             qv::LoadFmt(IDS_DETAIL_EXCEPTION, entry, Hex32(call.exceptionCode), ExceptionName(call.exceptionCode),
                         DescribeAddress(call.exceptionAddress)));
    }
    library.reset();
    if (call.result != S_OK) Fail(qv::LoadFmt(IDS_CALL_FAILED, entry, ServerFileName));
}

void RegisterServerFile(const std::string& path, bool register_) {
    // A run of many files shows the busy cursor for all of them; changing
    // the cursor twice per file would cost a tenth of a registration.
    std::optional<ui::TBusyCursor> busy;
    if (ui::Application.ScreenCursor() != ui::TCursor::HourGlass) busy.emplace();
    BeginCall(path, register_);
    throw EQVException(RegisterOneFile(path), std::string(), qekSuccess);
}

bool RunRegistrationCommand(const std::string& path, bool register_) {
    ui::TBusyCursor busy;
    BeginCall(path, register_);
    std::string success;
    try {
        success = RegisterOneFile(path);
    } catch (const EQVException& outcome) {
        ui::Application.SetScreenCursor(ui::TCursor::Default);
        QVMessageDetails(outcome.what(), outcome.Details, ui::Application.Title, qdtWarning, qlEnglish, "Tahoma",
                         false);
        return false;
    }
    // The busy cursor stays until the dialog is dismissed.
    QVMessage(success, ui::Application.Title, qmtInformation, qbOK, 1, qlEnglish, "Tahoma");
    return true;
}

}  // namespace engine
