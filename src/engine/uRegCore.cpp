#include "engine/uRegCore.h"

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uGuardedCall.h"
#include "engine/uPeFile.h"
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

std::string FullPathOf(const std::string& path) {
    char full[MAX_PATH * 2];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : path;
}

// What the library's file says before it is loaded. The headers (machine,
// DLL or EXE, the .NET entry) lie in the first page; the export and import
// tables, needed only to explain a failure or to look at a .NET assembly,
// are read when first asked for.
class TProgramFile {
public:
    static constexpr std::size_t kHeadBytes = 4096;

    explicit TProgramFile(const std::string& path) : path_(path) {
        opened_ = Read(kHeadBytes);
        // A verdict of "no program file" may come from the cut; the whole
        // file decides.
        if (opened_ && !info_.isPe && !whole_) Whole();
    }

    // False when the file could not be read at all (the loader then has
    // its say).
    bool Opened() const { return opened_; }
    const pe::TPeInfo& Head() const { return info_; }
    // Everything the reader can tell, the tables included.
    const pe::TPeInfo& Whole() {
        if (opened_ && !whole_) Read(pe::kMaxFileBytes);
        return info_;
    }

private:
    // Reads at most `limit` bytes from the start; the file is not kept
    // open, so the loader and the server find it as anyone else would.
    bool Read(std::size_t limit) {
        // This thread's error mode only: a read for one file must not change
        // how the rest of the process meets a missing disk.
        DWORD oldMode = 0;
        SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
        qv::Handle file(CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        SetThreadErrorMode(oldMode, nullptr);
        if (!file) return false;
        // Read to the limit or the end, whichever comes first; the head
        // costs one read.
        std::vector<unsigned char> data(limit < kHeadBytes ? limit : kHeadBytes);
        std::size_t got = 0;
        for (;;) {
            if (got == data.size()) {
                if (data.size() >= limit) break;
                data.resize(data.size() * 16 < limit ? data.size() * 16 : limit);
            }
            DWORD chunk = 0;
            const std::size_t room = data.size() - got;
            if (!ReadFile(file.get(), data.data() + got, static_cast<DWORD>(room > (1u << 24) ? (1u << 24) : room),
                          &chunk, nullptr)) {
                return false;
            }
            if (chunk == 0) break;
            got += chunk;
        }
        // Whole when the end came before the limit, or the limit is the
        // reader's own.
        whole_ = got < limit || limit >= pe::kMaxFileBytes;
        info_ = pe::ReadPeInfo(data.data(), got);
        return true;
    }

    std::string path_;
    bool opened_ = false;
    bool whole_ = false;
    pe::TPeInfo info_;
};

}  // namespace

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

bool WaitPumping(void* object, unsigned timeoutMs, const std::function<void()>& pump) {
    HANDLE handle = static_cast<HANDLE>(object);
    if (!pump) return WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        DWORD left = timeoutMs == INFINITE ? INFINITE : timeoutMs - elapsed;
        DWORD wait = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) return true;
        if (wait == WAIT_OBJECT_0 + 1) {
            pump();
        } else if (wait == WAIT_FAILED) {
            return WaitForSingleObject(handle, left) == WAIT_OBJECT_0;
        }
    }
}

TRegOutcome RunExecutableCore(const std::string& path, bool register_, const TRegContext& context) {
    const int direction = register_ ? 0 : 1;
    const std::string fileName = ExtractFileName(path);
    const std::string subject = fileName + kSwitches[direction];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // The program's path in quotes, so that a path with blanks reaches the
    // server as one argument, then the switch after one blank.
    std::string commandLine = "\"" + path + "\"" + kSwitches[direction];
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(path.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        DWORD error = GetLastError();
        return Failure(qv::LoadFmt(IDS_EXE_FAILED, subject), StartFailureReason(path, fileName, error, context.language));
    }
    CloseHandle(process.hThread);
    qv::Handle processHandle(process.hProcess);

    // A server that is still running is left alone; it is not killed.
    if (!WaitPumping(processHandle.get(), context.exeTimeoutMs, context.pumpMessages)) {
        return Failure(qv::LoadFmt(IDS_EXE_FAILED, subject),
                       TimeoutReason(fileName, context.exeTimeoutMs, context.language));
    }
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(processHandle.get(), &exitCode)) exitCode = GetLastError();
    if (exitCode != 0) {
        return Failure(qv::LoadFmt(IDS_EXE_FAILED, subject), ExitCodeReason(fileName, exitCode, context.language));
    }
    return Success(qv::LoadFmt(IDS_EXE_SUCCESS, subject));
}

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
    // A file that opens exists on a ready drive; only one that does not
    // open needs the slower check, which decides "not found".
    TProgramFile program(fullPath);
    if (!program.Opened() && !FileExistsReady(path)) {
        return Failure(qv::LoadFmt(IDS_LIB_NOT_FOUND, path), NotFoundReason(path, context.language));
    }
    auto loadFailed = [&] { return qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName); };

    // The file is read before it is loaded: what is no program file, or is
    // one for another processor, is never handed to the loader, and a
    // library of the other bitness goes to the process that can load it.
    const pe::TPeInfo& head = program.Head();
    if (program.Opened() && !head.isPe) {
        return Failure(loadFailed(), NotProgramReason(fileName, head, context.language));
    }
    if (program.Opened() && head.machine != ProcessMachine()) {
        TRegOutcome outcome;
        if (CanRunMachine(head.machine) && context.foreign && context.foreign(fullPath, register_, outcome)) {
            return outcome;
        }
        return Failure(loadFailed(), MachineReason(fileName, program.Whole(), context.language));
    }
    // Loading a .NET assembly would start the .NET runtime in this process
    // only to find no entry point; a mixed assembly that exports one loads.
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
    UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    qv::Module library(HasFolderPart(loadPath) ? LoadLibraryExA(loadPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                                               : LoadLibraryA(loadPath.c_str()));
    DWORD loadError = library ? 0 : GetLastError();
    SetErrorMode(oldMode);
    if (!library) {
        return Failure(loadFailed(), LoadFailureReason(fullPath, fileName, loadError, program.Whole(), context.language));
    }

    FARPROC address = GetProcAddress(library.get(), entry);
    if (!address) {
        return Failure(qv::LoadFmt(IDS_PROC_NOT_FOUND, entry, fileName),
                       MissingEntryReason(fileName, entry, library.get(), program.Whole(), context.language));
    }

    TGuardedResult call = CallGuarded(reinterpret_cast<TEntryPoint>(reinterpret_cast<void*>(address)));
    if (call.faulted) {
        // The server's state is unknown after a fault, so it stays loaded.
        library.release();
        return Failure(qv::LoadFmt(IDS_CALL_FAILED, entry, fileName),
                       FaultReason(entry, call.exceptionCode, call.exceptionAddress, context.language));
    }
    library.reset();
    if (call.result != S_OK) {
        return Failure(qv::LoadFmt(IDS_CALL_FAILED, entry, fileName), ResultReason(entry, call.result, context.language));
    }
    return Success(qv::LoadFmt(IDS_CALL_SUCCESS, entry, fileName));
}

TRegOutcome RegisterTypeLibraryCore(const std::string& path, bool register_, const TRegContext& context) {
    const int direction = register_ ? 0 : 1;
    const char* entry = kTypeLibEntries[direction];
    const std::string fileName = ExtractFileName(path);
    if (!FileExistsReady(path)) {
        return Failure(qv::LoadFmt(IDS_LIB_NOT_FOUND, path), NotFoundReason(path, context.language));
    }
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 1));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);

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
