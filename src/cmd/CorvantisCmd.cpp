// CorvantisCmd.exe: the console runner for scripts and installers. Registers
// or unregisters files or a batch without any window, prints each task and
// a summary, and ends with an exit code a script can test.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <exception>
#include <string>
#include <vector>

#include "app/uMain.h"
#include "cmd/uCmdArgs.h"
#include "cmd/uCmdRunner.h"
#include "common/QVApp.h"
#include "common/QVHandles.h"
#include "common/QVSystem.h"
#include "engine/uHelper.h"
#include "engine/uRegCore.h"
#include "common/QVVerInf.h"
#include "options/uOptions.h"

namespace {

std::atomic<bool> StopAsked{false};
// Set by a second Ctrl+C: ends the server at work.
HANDLE AbortEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        // The first: the task that runs ends normally and the next one does
        // not start. The second: the server at work is ended and its task
        // fails as stopped.
        if (StopAsked.exchange(true) && AbortEvent) SetEvent(AbortEvent);
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

[[noreturn]] void OnTerminate() {
    WriteLine(STD_ERROR_HANDLE, "CorvantisCmd: internal error: the runner could not go on.", CP_ACP);
    ExitProcess(cmd::ecInternal);
}

}  // namespace

int Main(int argc, char** argv, const cmd::TRunnerOutput& output);

int main(int argc, char** argv) {
    // Nothing is loaded from the current folder, and no system box may stop
    // an unattended run for a disk or a crash.
    qv::HardenDllSearch();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::set_terminate(OnTerminate);
    cmd::TRunnerOutput output;
    output.out = [](const std::string& line) { WriteLine(STD_OUTPUT_HANDLE, line, CP_ACP); };
    output.json = [](const std::string& line) { WriteLine(STD_OUTPUT_HANDLE, line, CP_UTF8); };
    output.err = [](const std::string& line) { WriteLine(STD_ERROR_HANDLE, line, CP_ACP); };

    return cmd::GuardedMain([&] { return Main(argc, argv, output); }, output);
}

int Main(int argc, char** argv, const cmd::TRunnerOutput& output) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
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

    engine::THelperSession helpers;
    // The helper the first file needs starts while the runner does the rest
    // of its own start-up.
    if (!args.files.empty()) helpers.PrestartFor(args.files.front());
    // A process started in a new process group ignores Ctrl+C until it asks
    // for it again.
    qv::Handle abort(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    AbortEvent = abort.get();
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    HRESULT com = CoInitialize(nullptr);
    cmd::TRunnerSettings settings;
    settings.defaultRules = PreferredRules();
    settings.stopRequested = [] { return StopAsked.load(); };
    settings.abortEvent = abort.get();
    int exitCode = cmd::RunTasks(args, settings, output);
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
