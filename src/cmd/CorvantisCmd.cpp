// CorvantisCmd.exe: the console runner for scripts and installers. Registers
// or unregisters files or a batch without any window, prints each task and
// a summary, and ends with an exit code a script can test.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "app/uCmdLine.h"
#include "app/uMain.h"
#include "cmd/uCmdArgs.h"
#include "cmd/uCmdRunner.h"
#include "common/QVApp.h"
#include "common/QVHandles.h"
#include "common/QVSystem.h"
#include "engine/uCapture.h"
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
    // A log-off or shutdown event says nothing about whose session ends: it
    // reaches services and programs of other sessions too. The runner's own
    // session end comes to its session window instead.
    if (event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) return TRUE;
    return FALSE;
}

// Set once the run has printed its summary and written its log.
HANDLE RunEnded = nullptr;
// How long WM_ENDSESSION waits for the task at work to end by itself, then
// for the log once that server has been ended: the system may end the
// process as soon as the message returns, and gives it a few seconds.
constexpr DWORD kEndSessionTaskWaitMs = 4000;
constexpr DWORD kEndSessionLogWaitMs = 1000;

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_QUERYENDSESSION:
        // The session may end: the run stops after the task at work.
        return TRUE;
    case WM_ENDSESSION:
        if (wParam) {
            // As a Ctrl+C: the task at work ends and no other starts. One
            // that would outlast the wait is ended as a second Ctrl+C ends
            // it, so that the log says what became of it.
            StopAsked = true;
            if (WaitForSingleObject(RunEnded, kEndSessionTaskWaitMs) == WAIT_TIMEOUT) {
                SetEvent(AbortEvent);
                WaitForSingleObject(RunEnded, kEndSessionLogWaitMs);
            }
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A hidden top-level window on a thread of its own that learns of the end of
// the runner's own session: a console program that uses user32 gets no
// log-off or shutdown event from its console, and the main thread is busy
// with the tasks.
class TSessionWatch {
public:
    TSessionWatch() {
        qv::Handle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        thread_ = std::thread([this, event = ready.get()] { Pump(event); });
        WaitForSingleObject(ready.get(), INFINITE);
    }
    ~TSessionWatch() {
        // However the run ended, a session end waiting for it need wait no
        // longer.
        SetEvent(RunEnded);
        if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
        thread_.join();
    }
    TSessionWatch(const TSessionWatch&) = delete;
    TSessionWatch& operator=(const TSessionWatch&) = delete;

private:
    void Pump(HANDLE ready) {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = SessionWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = cmd::kSessionWindowClass;
        RegisterClassA(&windowClass);
        window_ = CreateWindowExA(0, cmd::kSessionWindowClass, "CorvantisCmd", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
        SetEvent(ready);
        if (!window_) return;
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    }

    std::thread thread_;
    HWND window_ = nullptr;
};

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
    // Scratch keys a capture left when its helper was killed are not kept.
    engine::RemoveStaleCaptureKeys();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::set_terminate(OnTerminate);
    cmd::TRunnerOutput output;
    output.out = [](const std::string& line) { WriteLine(STD_OUTPUT_HANDLE, line, CP_ACP); };
    output.json = [](const std::string& line) { WriteLine(STD_OUTPUT_HANDLE, line, CP_UTF8); };
    output.err = [](const std::string& line) { WriteLine(STD_ERROR_HANDLE, line, CP_ACP); };

    return cmd::GuardedMain([&] { return Main(argc, argv, output); }, output);
}

int Main(int argc, char** argv, const cmd::TRunnerOutput& output) {
    // argv holds what the ANSI code page kept of each name: one that lost
    // characters would name another file, or none, and is refused.
    const std::string lost = LostCommandLineParameter();
    if (!lost.empty()) {
        output.err("CorvantisCmd: the name \"" + lost + "\" holds characters that Windows could not pass to the runner "
                   "in the code page " + std::to_string(GetACP()) + "; it was not used.");
        return cmd::ecUsage;
    }
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    cmd::TRunnerArgs args;
    std::string error;
    if (!cmd::ParseRunnerArguments(arguments, args, error)) {
        output.err("CorvantisCmd: " + error);
        output.err("Try \"CorvantisCmd --help\".");
        return cmd::UsageExitCode(arguments);
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
        output.out("CorvantisCmd " + GetFileVersionText(qv::ModuleFileName(nullptr)) + " (Quorvandel Corvantis)");
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
    qv::Handle runEnded(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    RunEnded = runEnded.get();
    TSessionWatch session;
    HRESULT com = CoInitialize(nullptr);
    cmd::TRunnerSettings settings;
    settings.defaultRules = PreferredRules();
    settings.stopRequested = [] { return StopAsked.load(); };
    settings.abortEvent = abort.get();
    int exitCode = cmd::RunTasks(args, settings, output);
    SetEvent(runEnded.get());
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
