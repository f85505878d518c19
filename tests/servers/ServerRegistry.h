// Small registry helpers shared by the test servers. Every helper returns an
// HRESULT so DllRegisterServer/DllUnregisterServer can hand failures back to
// the caller unchanged.
#pragma once

#include <windows.h>

#include <cstring>

namespace TestServers {

inline HRESULT HResultFromStatus(LONG status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

// Creates (or opens) ROOT\SUBKEY and stores NAME as a REG_SZ. A null NAME
// sets the key's default value.
inline HRESULT WriteStringValue(HKEY root, const char *subkey, const char *name,
                                const char *value) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HResultFromStatus(status);
    status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                            static_cast<DWORD>(std::strlen(value) + 1));
    RegCloseKey(key);
    return HResultFromStatus(status);
}

// Creates (or opens) ROOT\SUBKEY and stores NAME as a REG_DWORD.
inline HRESULT WriteDwordValue(HKEY root, const char *subkey, const char *name, DWORD value) {
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HResultFromStatus(status);
    status = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                            sizeof(value));
    RegCloseKey(key);
    return HResultFromStatus(status);
}

// Deletes ROOT\SUBKEY with everything below it. A key that is already gone
// counts as success, so unregistering twice is harmless.
inline HRESULT DeleteKeyTree(HKEY root, const char *subkey) {
    LONG status = RegDeleteTreeA(root, subkey);
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    return HResultFromStatus(status);
}

}  // namespace TestServers
