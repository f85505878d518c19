// Interface of DepHelper.dll, the import-time dependency of DepServer.dll.
#pragma once

#ifdef CORVANTIS_BUILDING_DEP_HELPER
#define DEP_HELPER_API extern "C" __declspec(dllexport)
#else
#define DEP_HELPER_API extern "C" __declspec(dllimport)
#endif

// cdecl, exported undecorated as "DepHelperValue". Returns 42.
DEP_HELPER_API int DepHelperValue(void);
