// ExeServer.exe / ExeServerFail.exe: out-of-process server stand-ins.
//
// ExeServer.exe
//   "/regserver" anywhere in the command line (any case): writes
//     HKLM\Software\CorvantisTests\ExeServer  Path        = own module path
//                                             CommandLine = GetCommandLineA()
//   "/unregserver": deletes that key.
//   "/regserverperuser" and "/unregserverperuser" (the switches of a
//     registration for the current user alone): the same under
//     HKEY_CURRENT_USER instead of HKEY_LOCAL_MACHINE.
//   Anything else: does nothing. Every path exits with code 0.
// ExeServerFail.exe (built with CORVANTIS_EXE_SERVER_FAIL)
//   Touches nothing and exits with code 3 whatever the arguments.
// ExeServerDenied.exe (built with CORVANTIS_EXE_SERVER_EXIT_CODE=0x80070005)
//   The same, exiting with E_ACCESSDENIED as a server that failed to write
//   its keys does.
//
// Both first sleep for CORVANTIS_TEST_SERVER_DELAY_MS milliseconds if that
// variable holds a number. Both are GUI-subsystem programs that never create
// a window, so a caller cannot rely on a console to see them.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ServerRegistry.h"
#include "TestServerIds.h"

namespace {

void SleepIfAsked() {
    char text[32];
    DWORD length = GetEnvironmentVariableA(TestServers::kServerDelayEnvVar, text, sizeof(text));
    if (length == 0 || length >= sizeof(text)) return;
    for (DWORD i = 0; i < length; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return;
    }
    Sleep(static_cast<DWORD>(std::strtoul(text, nullptr, 10)));
}

#if !defined(CORVANTIS_EXE_SERVER_FAIL) && !defined(CORVANTIS_EXE_SERVER_EXIT_CODE)

std::string Lowered(const char *text) {
    std::string result(text ? text : "");
    for (char &c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

int Register(HKEY root, const char *commandLine) {
    using namespace TestServers;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    if (FAILED(WriteStringValue(root, kExeServerKey, kExeServerPathValueName, path))) return 1;
    if (FAILED(WriteStringValue(root, kExeServerKey,
                                kExeServerCommandLineValueName, commandLine)))
        return 1;
    return 0;
}

int Unregister(HKEY root) {
    return FAILED(TestServers::DeleteKeyTree(root, TestServers::kExeServerKey))
               ? 1
               : 0;
}

#endif

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SleepIfAsked();
#if defined(CORVANTIS_EXE_SERVER_EXIT_CODE)
    return static_cast<int>(CORVANTIS_EXE_SERVER_EXIT_CODE);
#elif defined(CORVANTIS_EXE_SERVER_FAIL)
    return static_cast<int>(TestServers::kExeServerFailExitCode);
#else
    // Look at the full command line rather than WinMain's argument so the
    // switch is found wherever it is and the text is stored exactly as
    // received, program name and quoting included.
    const char *commandLine = GetCommandLineA();
    std::string lowered = Lowered(commandLine);
    if (lowered.find("/unregserverperuser") != std::string::npos) return Unregister(HKEY_CURRENT_USER);
    if (lowered.find("/regserverperuser") != std::string::npos) return Register(HKEY_CURRENT_USER, commandLine);
    if (lowered.find("/unregserver") != std::string::npos) return Unregister(HKEY_LOCAL_MACHINE);
    if (lowered.find("/regserver") != std::string::npos) return Register(HKEY_LOCAL_MACHINE, commandLine);
    return 0;
#endif
}
