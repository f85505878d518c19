// ProbeServer.dll: registering makes the system raise and handle an access
// violation on its own. IsBadReadPtr probes memory under its own exception
// frame and turns the fault into a TRUE return value. A caller that guards
// DllRegisterServer with a first-chance handler which grabs every access
// violation would break this, and the server then reports E_FAIL.
#include <windows.h>
#include <objbase.h>

namespace {

// Returns true if IsBadReadPtr reports PTR as unreadable.
bool ProbeReportsBad(const void *ptr) {
    return IsBadReadPtr(ptr, 4) != FALSE;
}

}  // namespace

STDAPI DllRegisterServer() {
    // A null pointer, as the classic callers of this API pass it.
    if (!ProbeReportsBad(nullptr)) return E_FAIL;

    // Some IsBadReadPtr implementations reject a null pointer up front
    // without touching memory. A committed no-access page cannot be
    // short-cut that way, so this second probe always takes a real fault.
    void *page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    if (!page) return HRESULT_FROM_WIN32(GetLastError());
    bool bad = ProbeReportsBad(page);
    VirtualFree(page, 0, MEM_RELEASE);
    return bad ? S_OK : E_FAIL;
}

STDAPI DllUnregisterServer() {
    return S_OK;
}
