// NoUnregServer.dll: exports DllRegisterServer only, so unregistering it must
// fail because the entry point is missing. Registering leaves a marker key
// behind as proof that the call happened.
#include <windows.h>
#include <objbase.h>

#include "ServerRegistry.h"
#include "TestServerIds.h"

STDAPI DllRegisterServer() {
    using namespace TestServers;
    return WriteDwordValue(HKEY_LOCAL_MACHINE, kNoUnregKey, kNoUnregValueName, kNoUnregValue);
}
