// HandleProbe.exe: an EXE server stand-in that checks what it received from
// the process that started it. A registration tool should start an EXE server
// without handing down its own handles: an inherited handle keeps the
// object (a file, an event, a pipe the tool reads) alive as long as the
// server and anything it starts run, and a standard handle that is the write
// end of a pipe keeps whoever reads that pipe waiting.
//
//   CORVANTIS_TEST_PROBE_HANDLE    decimal value of an inheritable,
//                                  manual-reset event the starter created
//                                  signalled
//   CORVANTIS_TEST_PROBE_SLEEP_MS  if a number, sleep that long first
//
// Exit code 1 if that value is an open handle here and the object is
// signalled (so the event was inherited), else 2 if any standard handle is an
// open file, pipe or character device, else 0. "/regserver" and
// "/unregserver" are accepted and ignored, as are all other arguments.
#include <windows.h>

#include "TestServerIds.h"

namespace {

// Reads environment variable NAME as a decimal number; false if it is unset
// or holds anything else.
bool NumberFromEnvironment(const wchar_t *name, unsigned long long *value) {
    wchar_t text[32];
    DWORD length = GetEnvironmentVariableW(name, text, 32);
    if (length == 0 || length >= 32) return false;
    unsigned long long result = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        result = result * 10 + static_cast<unsigned>(text[i] - L'0');
    }
    *value = result;
    return true;
}

bool InheritedTheEvent() {
    unsigned long long value = 0;
    if (!NumberFromEnvironment(TestServers::kHandleProbeHandleEnvVarW, &value)) return false;
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value));
    DWORD flags = 0;
    if (handle == nullptr || !GetHandleInformation(handle, &flags)) return false;
    return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

// True if standard handle WHICH is an open handle of a file-like object. An
// absent handle, or a value that names nothing or something else here (a
// number copied from the parent's table without inheritance), does not count.
bool HasStandardHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags)) return false;
    return GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    unsigned long long sleepMs = 0;
    if (NumberFromEnvironment(TestServers::kHandleProbeSleepEnvVarW, &sleepMs))
        Sleep(static_cast<DWORD>(sleepMs));
    if (InheritedTheEvent()) return static_cast<int>(TestServers::kHandleProbeGotHandle);
    if (HasStandardHandle(STD_INPUT_HANDLE) || HasStandardHandle(STD_OUTPUT_HANDLE) ||
        HasStandardHandle(STD_ERROR_HANDLE))
        return static_cast<int>(TestServers::kHandleProbeGotStdHandle);
    return static_cast<int>(TestServers::kHandleProbeClean);
}
