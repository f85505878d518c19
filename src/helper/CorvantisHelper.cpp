// Corvantis32.exe and Corvantis64.exe: register and unregister libraries and
// type libraries for the program and the console runner, which start them
// with "/serve" and what they share. Started any other way they only say what
// they are.
#include <windows.h>
#include <ole2.h>

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
    // Servers find OLE initialised in a single-threaded apartment, as the
    // system's registration tool has it: some use the OLE clipboard, drag
    // and drop or in-place activation while they register or install. The
    // requests are served on this thread, the only one the helper starts.
    HRESULT ole = OleInitialize(nullptr);
    int exitCode = engine::ServeHelperRequests(arguments + 7);
    if (SUCCEEDED(ole)) OleUninitialize();
    return exitCode;
}
