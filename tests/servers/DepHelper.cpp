// DepHelper.dll: a plain DLL with one export. DepServer.dll links against its
// import library, so DepServer.dll only loads when this DLL can be found.
#include <windows.h>

#include "DepHelper.h"
#include "TestServerIds.h"

DEP_HELPER_API int DepHelperValue(void) {
#ifdef CORVANTIS_PLANTED_DEP_HELPER
    // A look-alike planted in another folder; its value tells it apart.
    return static_cast<int>(TestServers::kPlantedDepHelperValue);
#else
    return static_cast<int>(TestServers::kDepHelperValue);
#endif
}
