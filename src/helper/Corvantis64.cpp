// Corvantis64.exe: registers and unregisters 64-bit libraries for the 32-bit
// program, which starts it with "/serve" and the handles they share. Started any other way it only says what it is.
#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "engine/uHelper64.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // The arguments after the program's own (quoted) path.
    const char* arguments = commandLine ? commandLine : "";
    if (std::strncmp(arguments, "/serve ", 7) != 0) {
        MessageBoxA(nullptr,
                    "Corvantis64.exe registers 64-bit COM servers for Corvantis.exe and is started by it. "
                    "Start Corvantis.exe instead.",
                    "Quorvandel Corvantis", MB_OK | MB_ICONINFORMATION);
        return 2;
    }
    // Servers find COM initialised, as in the program's own thread, and no
    // system box stops the helper for a disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    HRESULT com = CoInitialize(nullptr);
    int exitCode = engine::ServeHelperRequests(arguments + 7);
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
