// InstallServer.dll: exports DllRegisterServer, DllUnregisterServer and
// DllInstall, and records every call, in order, under
// HKEY_CURRENT_USER\<kInstallServerKey>: the value "Calls" (REG_SZ) gets one
// line per call, "DllRegisterServer", "DllUnregisterServer",
// "DllInstall(TRUE, "text")" or "DllInstall(FALSE, null)" for a null
// pointer; "Bits" (REG_DWORD) the bitness of the process that called, and
// "Ole" 1 when that thread had initialised OLE, 0 when not.
// DllInstall returns E_FAIL for the text "fail" and S_FALSE for "false",
// never returns for "hang" and writes through a null pointer for "fault";
// every other call returns S_OK.
#include <windows.h>
#include <ole2.h>

#include "ServerRegistry.h"
#include "TestServerIds.h"

namespace {

// Volatile, so that the compiler cannot see the null pointer.
int* volatile NullTarget = nullptr;

void Record(const wchar_t* line) {
    wchar_t calls[4096] = {};
    DWORD size = sizeof calls - sizeof(wchar_t);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, TestServers::kInstallServerKeyW, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    if (RegQueryValueExW(key, L"Calls", nullptr, nullptr, reinterpret_cast<BYTE*>(calls), &size) != ERROR_SUCCESS) {
        calls[0] = 0;
    }
    if (lstrlenW(calls) + lstrlenW(line) + 2 < static_cast<int>(sizeof calls / sizeof calls[0])) {
        lstrcatW(calls, line);
        lstrcatW(calls, L"\n");
    }
    RegSetValueExW(key, L"Calls", 0, REG_SZ, reinterpret_cast<const BYTE*>(calls),
                   static_cast<DWORD>((lstrlenW(calls) + 1) * sizeof(wchar_t)));
    const DWORD bits = sizeof(void*) * 8;
    RegSetValueExW(key, L"Bits", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&bits), sizeof bits);
    // Flushing the OLE clipboard, which holds nothing of this process,
    // succeeds only on a thread that initialised OLE.
    const DWORD ole = OleFlushClipboard() == S_OK ? 1 : 0;
    RegSetValueExW(key, L"Ole", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ole), sizeof ole);
    RegCloseKey(key);
}

}  // namespace

STDAPI DllRegisterServer() {
    Record(L"DllRegisterServer");
    return S_OK;
}

STDAPI DllUnregisterServer() {
    Record(L"DllUnregisterServer");
    return S_OK;
}

STDAPI DllInstall(BOOL install, LPCWSTR text) {
    wchar_t line[1024];
    if (text && lstrlenW(text) < 1000) {
        wsprintfW(line, L"DllInstall(%s, \"%s\")", install ? L"TRUE" : L"FALSE", text);
    } else {
        wsprintfW(line, L"DllInstall(%s, null)", install ? L"TRUE" : L"FALSE");
    }
    Record(line);
    if (text && lstrcmpW(text, L"fail") == 0) return E_FAIL;
    if (text && lstrcmpW(text, L"false") == 0) return S_FALSE;
    if (text && lstrcmpW(text, L"hang") == 0) Sleep(INFINITE);
    if (text && lstrcmpW(text, L"fault") == 0) *NullTarget = 1;
    return S_OK;
}
