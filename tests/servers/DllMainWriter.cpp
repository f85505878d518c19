// DllMainWriter.dll: creates one CLSID key below HKEY_CLASSES_ROOT from
// DllMain while it is loaded, before any entry point runs; its entry points
// do nothing and succeed.
#include <windows.h>

#include "TestServerIds.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, TestServers::kDllMainWriterClsidKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr) == ERROR_SUCCESS) {
            RegCloseKey(key);
        }
    }
    return TRUE;
}

STDAPI DllRegisterServer() { return S_OK; }

STDAPI DllUnregisterServer() { return S_OK; }
