// SFalseServer.dll: both registration entry points return S_FALSE and do
// nothing else. S_FALSE is a success code, so a caller must neither report it
// as a failure nor treat it as a plain S_OK.
// Built with CORVANTIS_SERVER_RESULT, the same stand-in returns that value
// instead (SelfRegClassServer.dll, AccessDeniedServer.dll); built with
// CORVANTIS_SERVER_EXITS, it ends the whole process with that exit code
// instead of returning (ExitServer.dll).
#include <windows.h>
#include <objbase.h>

#ifndef CORVANTIS_SERVER_RESULT
#define CORVANTIS_SERVER_RESULT S_FALSE
#endif

STDAPI DllRegisterServer() {
#ifdef CORVANTIS_SERVER_EXITS
    ExitProcess(CORVANTIS_SERVER_EXITS);
#endif
    return static_cast<HRESULT>(CORVANTIS_SERVER_RESULT);
}

STDAPI DllUnregisterServer() {
    return static_cast<HRESULT>(CORVANTIS_SERVER_RESULT);
}
