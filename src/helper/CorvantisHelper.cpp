// Corvantis32.exe and Corvantis64.exe: register and unregister libraries and
// type libraries for the program and the console runner, which start them
// with "/serve" and what they share. Started any other way they only say what
// they are.
#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "engine/uHelper.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // The arguments after the program's own (quoted) path.
    const char* arguments = commandLine ? commandLine : "";
    if (std::strncmp(arguments, "/serve ", 7) != 0) {
        MessageBoxA(nullptr,
                    "This program registers COM servers for Corvantis.exe and is started by it. "
                    "Start Corvantis.exe instead.",
                    "Quorvandel Corvantis", MB_OK | MB_ICONINFORMATION);
        return 2;
    }
    // No system box stops the helper for a disk, a missing file or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // The current folder is taken out of the library search; the rest of
    // the search (the library's own folder first) stays as the system's
    // registration tool has it, so servers find their dependencies alike.
    SetDllDirectoryW(L"");
    // Servers find COM initialised, as in the program's own thread.
    HRESULT com = CoInitialize(nullptr);
    int exitCode = engine::ServeHelperRequests(arguments + 7);
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
