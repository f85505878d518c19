// DepServer.dll: a server with a load-time dependency on DepHelper.dll, which
// sits in the same folder. Loading it by full path only works when the loader
// searches the server's own folder for dependencies, not the current one.
#include <windows.h>
#include <objbase.h>

#include "DepHelper.h"
#include "ServerRegistry.h"
#include "TestServerIds.h"

STDAPI DllRegisterServer() {
    using namespace TestServers;
    DWORD value = static_cast<DWORD>(DepHelperValue());
    return WriteDwordValue(HKEY_LOCAL_MACHINE, kDepKey, kDepValueName, value);
}

STDAPI DllUnregisterServer() {
    return TestServers::DeleteKeyTree(HKEY_LOCAL_MACHINE, TestServers::kDepKey);
}
