// Stands in for the user's mail program as the "mailto" handler: appends its
// command line, one per line, to the file named by CORVANTIS_MAILTO_LOG.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH] = {};
    if (!GetEnvironmentVariableA("CORVANTIS_MAILTO_LOG", path, MAX_PATH)) return 2;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    // One write per line, so that a reader never sees half of one.
    static char line[32768];
    lstrcpynA(line, GetCommandLineA(), sizeof line - 2);
    lstrcatA(line, "\r\n");
    DWORD written = 0;
    WriteFile(file, line, lstrlenA(line), &written, nullptr);
    CloseHandle(file);
    return 0;
}
