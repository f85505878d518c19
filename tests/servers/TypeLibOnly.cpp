// TypeLibOnly.dll: a library whose only content is a type library resource
// (TYPELIB 1); it exports nothing, as a type library container.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
