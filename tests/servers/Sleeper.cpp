// Sleeper.exe: an EXE server that never finishes and leaves a process of its
// own behind, so a test can check that a time-out ends the whole tree and not
// only the process the tool started.
//
// Without "/child" it starts a copy of itself with "/child" and sleeps
// forever; if CORVANTIS_TEST_SLEEPER_PIDFILE names a file, the child's
// process id is written there as decimal text first. The file is written
// under another name and then renamed, so a reader never sees it half
// written. With "/child" it only sleeps. Exit code 1 if the child could not
// be started. Other arguments ("/regserver", ...) are ignored.
#include <windows.h>

#include "TestServerIds.h"

namespace {

[[noreturn]] void SleepForever() {
    for (;;) Sleep(INFINITE);
}

wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// True if NEEDLE occurs in TEXT, ignoring the case of ASCII letters.
bool Contains(const wchar_t *text, const wchar_t *needle) {
    for (; *text; ++text) {
        const wchar_t *a = text;
        const wchar_t *b = needle;
        while (*a && *b && AsciiLower(*a) == AsciiLower(*b)) ++a, ++b;
        if (!*b) return true;
    }
    return false;
}

void WritePidFile(DWORD pid) {
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(TestServers::kSleeperPidFileEnvVarW, path, MAX_PATH);
    if (length == 0 || length + 4 >= MAX_PATH) return;
    wchar_t temporary[MAX_PATH];
    lstrcpyW(temporary, path);
    lstrcatW(temporary, L".tmp");

    char text[16];
    int size = wsprintfA(text, "%lu", static_cast<unsigned long>(pid));
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    if (ok && written == static_cast<DWORD>(size))
        MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING);
    else
        DeleteFileW(temporary);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (Contains(GetCommandLineW(), TestServers::kSleeperChildArgW)) SleepForever();

    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return static_cast<int>(TestServers::kSleeperChildFailed);
    wchar_t commandLine[MAX_PATH + 16];
    wsprintfW(commandLine, L"\"%s\" %s", self, TestServers::kSleeperChildArgW);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(self, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return static_cast<int>(TestServers::kSleeperChildFailed);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    WritePidFile(process.dwProcessId);
    SleepForever();
}
