// CorvantisCmd.exe: the console runner for scripts and installers. Registers
// or unregisters files or a batch without any window, prints each task and
// a summary, and ends with an exit code a script can test.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "cmd/uCmdArgs.h"
#include "cmd/uCmdRunner.h"
#include "common/QVApp.h"
#include "common/QVVerInf.h"
#include "options/uOptions.h"

namespace {

std::atomic<bool> StopAsked{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        // The task that runs ends normally; the next one does not start.
        StopAsked = true;
        return TRUE;
    }
    return FALSE;
}

// Writes one line to a standard handle: through the console's own wide
// text when it is a console (so every letter shows), as bytes otherwise.
void WriteLine(DWORD which, const std::string& line, UINT codePage) {
    HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::string text = line + "\n";
        int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string ProgramPath() {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

// The stop rule the user chose in the program's preferences.
TStopRules PreferredRules() {
    AppInfo = std::make_unique<TQVApplication>();
    AppInfo->RegistryRoot = HKEY_LOCAL_MACHINE;
    AppInfo->FamilyKey = kFamilyKey;
    AppInfo->RegistryKey = std::string(kFamilyKey) + "\\" + kAppKeyName;
    TZEPHOptions options;
    options.Load();
    AppInfo.reset();
    return TStopRules{options.StopAfter, options.MaxErrors};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    cmd::TRunnerOutput output;
    output.out = [](const std::string& line) { WriteLine(STD_OUTPUT_HANDLE, line, CP_ACP); };
    output.json = [](const std::string& line) { WriteLine(STD_OUTPUT_HANDLE, line, CP_UTF8); };
    output.err = [](const std::string& line) { WriteLine(STD_ERROR_HANDLE, line, CP_ACP); };

    cmd::TRunnerArgs args;
    std::string error;
    if (!cmd::ParseRunnerArguments(arguments, args, error)) {
        output.err("CorvantisCmd: " + error);
        output.err("Try \"CorvantisCmd --help\".");
        return cmd::ecUsage;
    }
    if (args.command == cmd::TCommand::Help) {
        std::string text = cmd::UsageText("CorvantisCmd");
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            output.out(text.substr(start, end - start));
            start = end + 1;
        }
        return cmd::ecSuccess;
    }
    if (args.command == cmd::TCommand::Version) {
        output.out("CorvantisCmd " + GetFileVersionText(ProgramPath()) + " (Quorvandel Corvantis)");
        return cmd::ecSuccess;
    }

    // A process started in a new process group ignores Ctrl+C until it asks
    // for it again.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    // No system box may stop an unattended run for a disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HRESULT com = CoInitialize(nullptr);
    cmd::TRunnerSettings settings;
    settings.defaultRules = PreferredRules();
    settings.stopRequested = [] { return StopAsked.load(); };
    int exitCode = cmd::RunTasks(args, settings, output);
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
