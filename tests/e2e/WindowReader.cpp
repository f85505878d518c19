// window_reader.exe: reads what a window of another process shows, for the
// scripts that drive the program through the X server (xdotool sees only
// captions and geometry).
//   window_reader.exe statusbar "<caption>"
// prints the text of the status bar of the top-level window with exactly
// that caption: its simple panel when it shows one, else its first part.
// Exit code 0 when read, 2 when the window or its status bar is not found,
// 3 when the other process could not be read.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

BOOL CALLBACK FindStatusBar(HWND child, LPARAM found) {
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, STATUSCLASSNAMEA) != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// Sends a message whose answer the control writes into a buffer of the
// other process; false when it does not answer within 5 s.
bool Ask(HWND control, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
    return SendMessageTimeoutA(control, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

// The status bar's text; the buffer lies in the status bar's own process,
// since SB_GETTEXT is not carried across processes.
int ReadStatusBar(HWND bar) {
    DWORD processId = 0;
    GetWindowThreadProcessId(bar, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process) return 3;
    const SIZE_T size = 4096;
    void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    int code = 3;
    if (remote) {
        DWORD_PTR simple = 0, length = 0, ignored = 0;
        // A simple status bar answers for its simple panel under
        // SB_SIMPLEID or, in some versions, under part 0 only.
        WPARAM part = 0;
        bool ok = Ask(bar, SB_ISSIMPLE, 0, 0, simple);
        if (ok && simple) {
            part = SB_SIMPLEID;
            ok = Ask(bar, SB_GETTEXTLENGTHA, part, 0, length);
            if (ok && LOWORD(length) == 0) part = 0;
        }
        char text[size] = {};
        SIZE_T read = 0;
        if (ok && Ask(bar, SB_GETTEXTLENGTHA, part, 0, length) && LOWORD(length) < size &&
            Ask(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote), ignored) &&
            ReadProcessMemory(process, remote, text, LOWORD(length), &read)) {
            std::printf("%s\n", std::string(text, read).c_str());
            code = 0;
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "statusbar") != 0) {
        std::fprintf(stderr, "usage: window_reader statusbar \"<caption>\"\n");
        return 2;
    }
    HWND window = FindWindowA(nullptr, argv[2]);
    if (!window) {
        std::fprintf(stderr, "window_reader: no window \"%s\"\n", argv[2]);
        return 2;
    }
    HWND bar = nullptr;
    EnumChildWindows(window, FindStatusBar, reinterpret_cast<LPARAM>(&bar));
    if (!bar) {
        std::fprintf(stderr, "window_reader: \"%s\" has no status bar\n", argv[2]);
        return 2;
    }
    int code = ReadStatusBar(bar);
    if (code != 0) std::fprintf(stderr, "window_reader: the status bar of \"%s\" could not be read\n", argv[2]);
    return code;
}
