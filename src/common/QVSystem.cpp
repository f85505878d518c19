#include "common/QVSystem.h"

#include "common/QVCodePage.h"
#include "common/QVHandles.h"

#include <algorithm>
#include <string>

namespace qv {

std::string SystemErrorText(DWORD code) {
    char* buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text(buffer ? buffer : "", buffer ? length : 0);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.empty()) text = "System error " + std::to_string(code) + ".";
    return text;
}

std::string ModuleFileName(HMODULE module) {
    // The system cuts a name that does not fit and says so only by filling
    // the buffer: grow until it leaves room.
    std::string path(kMaxPathBytes, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size() - 1) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 0x10000 * 4) return std::string();
        path.resize(path.size() * 2);
    }
}


std::string Utf8ToAnsi(const std::string& utf8) {
    std::string text;
    WideToAnsi(Utf8ToWide(utf8), text);
    return text;
}

std::string TempFileIn(const std::string& folder, const char* prefix) {
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(TextToWide(folder).c_str(), TextToWide(prefix).c_str(), 0, name)) return std::string();
    std::string text;
    if (WideToAnsi(name, text)) return text;
    // A name the code page cannot hold cannot be used by the caller.
    DeleteFileW(name);
    return std::string();
}

unsigned long WriteFileReplacing(const std::string& path, const std::string& bytes) {
    char full[MAX_PATH * 3];
    char* namePart = nullptr;
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, &namePart);
    if (length == 0 || length >= sizeof full || !namePart) return length == 0 ? GetLastError() : ERROR_INVALID_NAME;
    const std::string folder(full, namePart);
    const std::string temp = TempFileIn(folder, "cvw");
    if (temp.empty()) {
        // A folder that is not there says so, rather than "directory name
        // invalid" from the temporary name.
        if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error;
        }
        return GetLastError() ? GetLastError() : ERROR_CANNOT_MAKE;
    }
    DWORD error = ERROR_SUCCESS;
    {
        Handle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        size_t done = 0;
        if (!file) error = GetLastError();
        while (error == ERROR_SUCCESS && done < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
            DWORD written = 0;
            if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) error = GetLastError();
            // A disk file takes all it is given or fails; taking less means no room.
            else if (written == 0) error = ERROR_DISK_FULL;
            done += written;
        }
        if (error == ERROR_SUCCESS && !FlushFileBuffers(file.get())) error = GetLastError();
    }
    if (error == ERROR_SUCCESS &&
        !MoveFileExA(temp.c_str(), full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) DeleteFileA(temp.c_str());
    return error;
}

bool WideToAnsi(const std::wstring& wide, std::string& text) {
    if (WideToCodePageExact(GetACP(), wide, &text)) return true;
    text = WideToCodePage(GetACP(), wide);
    return false;
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

double NowMs() {
    static const double ticksPerMs = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticksPerMs;
}

void HardenDllSearch() {
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) return;
    SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const std::string& fileName) {
    char folder[kMaxPathBytes];
    UINT length = GetSystemDirectoryA(folder, kMaxPathBytes);
    if (length == 0 || length >= kMaxPathBytes) return nullptr;
    std::string path(folder, length);
    if (path.back() != '\\') path += '\\';
    return LoadLibraryA((path + fileName).c_str());
}

}  // namespace qv
