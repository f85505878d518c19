// UndoServer.dll: a server that undoes the redirection of HKEY_CLASSES_ROOT
// before it registers, so that its key lands in the live registry whatever
// the process that loaded it had redirected. Registers one CLSID key with a
// default value; unregistering removes it.
#include <windows.h>

#include "TestServerIds.h"

STDAPI DllRegisterServer() {
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, TestServers::kUndoServerClsidKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return E_FAIL;
    }
    static const char kText[] = "Corvantis Undo Test";
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kText), sizeof kText);
    RegCloseKey(key);
    return S_OK;
}

STDAPI DllUnregisterServer() {
    RegDeleteKeyA(HKEY_CLASSES_ROOT, TestServers::kUndoServerClsidKey);
    return S_OK;
}
