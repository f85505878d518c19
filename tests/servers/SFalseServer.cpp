// SFalseServer.dll: both registration entry points return S_FALSE and do
// nothing else. S_FALSE is a success code, so a caller must neither report it
// as a failure nor treat it as a plain S_OK.
#include <windows.h>
#include <objbase.h>

STDAPI DllRegisterServer() {
    return S_FALSE;
}

STDAPI DllUnregisterServer() {
    return S_FALSE;
}
