// The task window's run, part of bench_batch: Register All and Unregister
// All over 1,000 server files in the task window of this (32-bit) program,
// which hands every file to the registration helper of its bitness
// (Corvantis32.exe or Corvantis64.exe), against the bare loop of the same
// build, which registers the same files in its own process and does nothing
// else:
//   run32  1,000 copies of testdata\OkServer.dll; the bare loop is
//          RegisterFileCore with a context whose runLibrary is null, in a
//          child process of this program;
//   run64  1,000 copies of testdata\x64\OkServer.dll; the bare loop is
//          bench_loop64.exe, a 64-bit program doing the same.
// Both loops hold one busy cursor for the whole loop, as the window holds
// one for its run. Each measurement runs in a fresh child process (this
// program started with "--task-run <mode> <folder>"), so that every server
// is loaded for the first time, as in a user's run; each kind gets one
// untimed warm-up run, then the pairs alternate which side runs first. The
// headline is the median of the pairs' ratios.
// A third child ("helper32"/"helper64") takes the difference apart without
// any window: the helper's start, each file's round trip split into the
// helper's own time and the hand-over, the waits as the window makes them
// (a plain wait of up to 5 ms, then a wait that also takes messages), the
// tasks' own calls without the window, and this side's checks alone.
#include "TaskRunBench.h"

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "TestServerIds.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "engine/frmLog.h"
#include "engine/uHelper.h"
#include "engine/uRegCore.h"
#include "engine/uRegistry.h"
#include "mainwin/frmMain.h"
#include "mainwin/uBatch.h"
#include "options/uOptions.h"
#include "ui/Application.h"
#include "ui/ListView.h"

namespace taskbench {

namespace {

using bench::Median;
using bench::NowMs;
using bench::RunProcess;
using bench::TPairs;
using engine::pe::TMachine;

constexpr int kTasks = 1000;
// Timed pairs of each bitness (after one warm-up run of each side).
constexpr int kPairs = 5;
// Runs of the child that takes the difference apart.
constexpr int kDiagnosticRuns = 3;
// regsvr32 runs timed, of the 1,000 files; the time per file is scaled up.
constexpr int kRegsvr32Sample = 100;
const char* const kTaskWindowCaption = "Task Progress...";
const char* const kLoop64File = "bench_loop64.exe";

using bench::Ms;

std::string Fixed(double value, const char* format = "%.2f") {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// ---------------------------------------------------------------------------
// Watching the task window from outside

std::string WindowText(HWND hwnd) {
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// Watches the task windows this thread opens, from outside (as they are
// opened by the main window's command, the benchmark holds no reference to
// them): a computer-based-training hook sees each one activate, and
// subclasses of its controls count their repaints and see the Stop button
// become the Close button again, which the window does right after its run
// has shown its last frame. A hidden window's 10 ms timer measures the gaps
// between the timer messages the thread processes, and clicks Close once
// the run has returned.
struct TWatch {
    HWND ticker = nullptr;
    HHOOK hook = nullptr;
    HWND log = nullptr;
    HWND close = nullptr;
    HWND tasks = nullptr;   // the task list (the list view with column headers)
    HWND errors = nullptr;  // the error list
    HWND bar = nullptr;
    double startedAt = 0;       // the call that opens the window
    double activatedAt = 0;     // its first activation, which starts the run
    bool sawStop = false;       // the Close button has become Stop: the run started
    double runStartedAt = 0;    // when it did
    double closeEnabledAt = 0;  // the end of its run: Stop became Close again
    double cpuAtStart = 0;      // this process's processor time when the run started
    double cpuMs = 0;           // and its processor time during the run
    double paintMs = 0;         // time spent painting the window during the run
    int paintDepth = 0;
    double last = 0;
    double maxGap = 0;
    bool counting = false;
    int listPaints = 0;
    int barPaints = 0;
    // The window's state when its run ended.
    int shownProgress = -1;
    int shownErrors = -1;
    int topRow = -1;
    int rowsPerPage = 0;
};
TWatch g_watch;
constexpr UINT WM_BENCH_CLOSE = WM_APP + 40;
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT_PTR kSubclassClose = 1, kSubclassList = 2, kSubclassBar = 3, kSubclassPaint = 4;

// This process's processor time (user and kernel, all threads) in ms.
double ProcessCpuMs() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
    auto ms = [](const FILETIME& time) {
        return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

LRESULT CALLBACK TickerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER && wParam == kTickTimer) {
        double now = NowMs();
        if (g_watch.counting && g_watch.last > 0) g_watch.maxGap = std::max(g_watch.maxGap, now - g_watch.last);
        g_watch.last = now;
        // A run that never started (no activation) or hangs ends after 60 s.
        if (g_watch.closeEnabledAt == 0 && g_watch.startedAt > 0 && now - g_watch.startedAt > 60000) {
            if (g_watch.log) PostMessageA(g_watch.log, WM_CLOSE, 0, 0);
        }
        return 0;
    }
    if (msg == WM_BENCH_CLOSE) {
        if (g_watch.close) SendMessageA(g_watch.close, BM_CLICK, 0, 0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK WatchedControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
    if (msg == WM_PAINT && g_watch.counting) {
        if (id == kSubclassList) ++g_watch.listPaints;
        if (id == kSubclassBar) ++g_watch.barPaints;
    }
    if (msg != WM_SETTEXT || id != kSubclassClose) return DefSubclassProc(hwnd, msg, wParam, lParam);
    // The text as set, read back (the message may carry it in either
    // character set).
    LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    const std::string text = WindowText(hwnd);
    if (text == "&Stop" && !g_watch.sawStop) {
        g_watch.sawStop = true;
        g_watch.runStartedAt = NowMs();
        g_watch.cpuAtStart = ProcessCpuMs();
        g_watch.paintMs = 0;
    }
    if (text == "&Close" && g_watch.sawStop && g_watch.closeEnabledAt == 0) {
        g_watch.closeEnabledAt = NowMs();
        g_watch.cpuMs = ProcessCpuMs() - g_watch.cpuAtStart;
        g_watch.counting = false;
        g_watch.shownProgress = static_cast<int>(SendMessageA(g_watch.bar, PBM_GETPOS, 0, 0));
        g_watch.shownErrors = ListView_GetItemCount(g_watch.errors);
        g_watch.topRow = ListView_GetTopIndex(g_watch.tasks);
        g_watch.rowsPerPage = ListView_GetCountPerPage(g_watch.tasks);
        PostMessageA(g_watch.ticker, WM_BENCH_CLOSE, 0, 0);
    }
    return result;
}

// Times the painting of the task window and its controls (the outermost
// paint message only: a control painted inside its parent's paint counts once).
LRESULT CALLBACK PaintTimingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (msg != WM_PAINT && msg != WM_NCPAINT && msg != WM_ERASEBKGND && msg != WM_PRINTCLIENT) {
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    }
    const double start = g_watch.paintDepth++ == 0 ? NowMs() : 0;
    LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    if (--g_watch.paintDepth == 0 && g_watch.counting) g_watch.paintMs += NowMs() - start;
    return result;
}

BOOL CALLBACK TimePaintOf(HWND child, LPARAM) {
    SetWindowSubclass(child, PaintTimingProc, kSubclassPaint, 0);
    return TRUE;
}

void AttachToTaskWindow(HWND log) {
    g_watch.log = log;
    g_watch.close = FindWindowExA(log, nullptr, "Button", "&Close");
    g_watch.bar = FindWindowExA(log, nullptr, PROGRESS_CLASSA, nullptr);
    for (HWND list = FindWindowExA(log, nullptr, WC_LISTVIEWA, nullptr); list;
         list = FindWindowExA(log, list, WC_LISTVIEWA, nullptr)) {
        (GetWindowLongA(list, GWL_STYLE) & LVS_NOCOLUMNHEADER ? g_watch.errors : g_watch.tasks) = list;
    }
    SetWindowSubclass(g_watch.close, WatchedControlProc, kSubclassClose, 0);
    SetWindowSubclass(g_watch.tasks, WatchedControlProc, kSubclassList, 0);
    SetWindowSubclass(g_watch.bar, WatchedControlProc, kSubclassBar, 0);
    SetWindowSubclass(log, PaintTimingProc, kSubclassPaint, 0);
    EnumChildWindows(log, TimePaintOf, 0);
    g_watch.activatedAt = NowMs();
    g_watch.last = g_watch.activatedAt;  // the first gap starts with the run
    g_watch.counting = true;
}

LRESULT CALLBACK WatchCbt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && !g_watch.log) {
        HWND window = reinterpret_cast<HWND>(wParam);
        if (WindowText(window) == kTaskWindowCaption) AttachToTaskWindow(window);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void StartWatching() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TickerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "CorvantisBenchTicker";
    RegisterClassA(&wc);
    g_watch.ticker = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     wc.hInstance, nullptr);
    SetTimer(g_watch.ticker, kTickTimer, 10, nullptr);
    g_watch.hook = SetWindowsHookExA(WH_CBT, WatchCbt, nullptr, GetCurrentThreadId());
}

void StopWatching() {
    UnhookWindowsHookEx(g_watch.hook);
    KillTimer(g_watch.ticker, kTickTimer);
    DestroyWindow(g_watch.ticker);
    g_watch = TWatch{};
}

struct TRunFigures {
    double totalMs = 0;   // window: from the call that opens it to the end of its run; bare: the whole loop
    double maxGapMs = 0;  // window: longest pause between two timer messages during the run
    int listPaints = 0;   // window: repaints of the task list during the run
    int barPaints = 0;    // window: repaints of the progress bar during the run
    int failures = 0;
    std::string problem;
    // The window's run, from its first task to the end of its last frame;
    // this process's processor time and the window's painting during it.
    double runMs = 0, cpuMs = 0, paintMs = 0;
};

// Opens a task window through `show`, which returns once the window has
// closed, and measures its run; checks the state it showed at the end.
TRunFigures WatchWindowRun(int tasks, const std::function<void()>& show) {
    HWND ticker = g_watch.ticker;
    HHOOK hook = g_watch.hook;
    g_watch = TWatch{};
    g_watch.ticker = ticker;
    g_watch.hook = hook;
    g_watch.startedAt = NowMs();
    show();
    TRunFigures result;
    if (!g_watch.log) {
        result.problem = "no task window was seen";
    } else if (g_watch.closeEnabledAt == 0) {
        result.problem = "the run did not finish";
    } else {
        result.failures = g_watch.shownErrors;
        if (g_watch.shownErrors != 0) {
            char first[512] = {};
            ListView_GetItemText(g_watch.errors, 0, 0, first, sizeof first);
            result.problem = std::string("first error: ") + first;
        } else if (g_watch.shownProgress != tasks) {
            result.problem = "the bar shows " + std::to_string(g_watch.shownProgress) + " of " + std::to_string(tasks);
        } else if (tasks > 0 && (g_watch.topRow > tasks - 1 || g_watch.topRow + g_watch.rowsPerPage < tasks)) {
            result.problem = "the last task is not in view";
        }
    }
    result.totalMs = g_watch.closeEnabledAt - g_watch.startedAt;
    result.maxGapMs = g_watch.maxGap;
    result.listPaints = g_watch.listPaints;
    result.barPaints = g_watch.barPaints;
    result.runMs = g_watch.closeEnabledAt - g_watch.runStartedAt;
    result.cpuMs = g_watch.cpuMs;
    result.paintMs = g_watch.paintMs;
    return result;
}

// ---------------------------------------------------------------------------
// Files, the registry and the children's output

std::string ExePath() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    return exe;
}

// The folder beside this program, with its trailing backslash.
std::string ProgramFolder() {
    std::string folder = ExePath();
    return folder.erase(folder.find_last_of('\\') + 1);
}

// The test server the copies are made of.
std::string OriginalServer(bool x64) {
    return ProgramFolder() + (x64 ? "testdata\\x64\\" : "testdata\\") + TestServers::kOkServerFile;
}

std::string CopyPath(const std::string& folder, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "OkServer%04d.dll", index);
    return folder + name;
}

std::vector<std::string> CopyPaths(const std::string& folder, int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.push_back(CopyPath(folder, i));
    return paths;
}

// The key of the test server's class in the registry view its servers
// write: the 32-bit view (this program's HKEY_CLASSES_ROOT) or the 64-bit
// one. Every key is opened with the view's flag itself: a key opened below
// one that was does not inherit its view.
std::string Classes64(const char* key) { return std::string("Software\\Classes\\") + key; }

std::string RegisteredServer(bool x64) {
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    if (!x64) {
        if (RegGetValueA(HKEY_CLASSES_ROOT, TestServers::kOkServerInprocKey, nullptr, RRF_RT_REG_SZ, nullptr, value,
                         &size) != ERROR_SUCCESS) {
            return "<not registered>";
        }
        return value;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Classes64(TestServers::kOkServerInprocKey).c_str(), 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return "<not registered>";
    }
    LONG status = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : "<not registered>";
}

void DeleteServerKey(bool x64) {
    if (!x64) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, TestServers::kOkServerClsidKey);
        return;
    }
    const std::string path = Classes64(TestServers::kOkServerClsidKey);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteTreeA(key, nullptr);  // what is below it
    RegCloseKey(key);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
}

// Checks what a registration run left in the registry: the last file
// registered, or nothing after an unregistration.
void CheckRegistry(TRunFigures& figures, const std::vector<std::string>& files, bool x64, bool registered) {
    if (!figures.problem.empty()) return;
    const std::string now = RegisteredServer(x64);
    if (registered && lstrcmpiA(now.c_str(), files.back().c_str()) != 0) {
        figures.problem = "the registry names " + now + " rather than the last file";
    } else if (!registered && now != "<not registered>") {
        figures.problem = "the registry still names " + now;
    }
}

// A child's line "<tag> <total ms> <gap ms> <list paints> <bar paints>
// <failures> <problem>".
void PrintTagged(const char* tag, const TRunFigures& figures) {
    std::string problem = figures.problem;
    std::replace(problem.begin(), problem.end(), '\r', ' ');
    std::replace(problem.begin(), problem.end(), '\n', ' ');
    std::printf("%s %.3f %.3f %d %d %d %s\n", tag, figures.totalMs, figures.maxGapMs, figures.listPaints,
                figures.barPaints, figures.failures, problem.c_str());
}

// The start of the line "<tag> ..." in a child's output, or npos.
size_t FindLine(const std::string& output, const std::string& tag) {
    size_t at = output.find(tag + " ");
    while (at != std::string::npos && at > 0 && output[at - 1] != '\n') at = output.find(tag + " ", at + 1);
    return at;
}

TRunFigures ParseTagged(const std::string& output, const std::string& tag) {
    TRunFigures figures;
    size_t at = FindLine(output, tag);
    if (at == std::string::npos) {
        figures.problem = "no " + tag + " line in the child's output: " + output.substr(0, 200);
        return figures;
    }
    at += tag.size() + 1;
    std::string line = output.substr(at, output.find_first_of("\r\n", at) - at);
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%lf %lf %d %d %d %n", &figures.totalMs, &figures.maxGapMs, &figures.listPaints,
                    &figures.barPaints, &figures.failures, &consumed) < 5) {
        figures.problem = "unreadable result: " + line;
        return figures;
    }
    figures.problem = line.substr(static_cast<size_t>(consumed));
    return figures;
}

// A child's line "<tag> <number> <number> ...".
void PrintValues(const char* tag, const std::vector<double>& values) {
    std::printf("%s", tag);
    for (double value : values) std::printf(" %.4f", value);
    std::printf("\n");
}

std::vector<double> ParseValues(const std::string& output, const std::string& tag, size_t count) {
    std::vector<double> values(count, 0.0);
    size_t at = FindLine(output, tag);
    if (at == std::string::npos) return values;
    const char* text = output.c_str() + at + tag.size();
    for (double& value : values) {
        char* end = nullptr;
        value = std::strtod(text, &end);
        if (end == text) break;
        text = end;
    }
    return values;
}

// ---------------------------------------------------------------------------
// The children

// The registry key of the program's settings while the benchmark runs; its
// own, deleted afterwards.
const char* const kBenchAppKey = "Software\\CorvantisBench";

// The application record and options a run in the main window needs, set
// for Register All as the options' defaults would run it, without the
// unregistration pass: one task per file, as in the bare loop.
void SetUpWindowedProgram() {
    AppInfo = std::make_unique<TQVApplication>();
    AppInfo->Title = ui::Application.Title;
    AppInfo->RegistryKey = kBenchAppKey;
    AppInfo->DialogFontName = "Tahoma";
    Options = std::make_unique<TZEPHOptions>();
    Options->UnregisterBefore = false;
    Options->StopAfter = stopNever;
    Options->ShowTips = false;
    Options->SaveWindow = false;
}

// Register All, then Unregister All, of a batch of the files in one main
// window, each opening the task window that is measured.
void RegisterAndUnregisterAllInMainWindow(const std::vector<std::string>& files, const std::string& batchFile,
                                          bool x64, TRunFigures* registration, TRunFigures* unregistration) {
    WriteBatchFile(batchFile, FormatBatchText(files), false);
    TZEPHMain main;
    ui::Application.SetMainForm(&main);
    main.Show();
    main.Batch().OpenBatch(batchFile);
    ui::Application.ProcessMessages();
    const int tasks = static_cast<int>(files.size());
    const size_t entries = main.EntryPaths().size();
    *registration = WatchWindowRun(tasks, [&] { main.actRegistryRegisterAllExecute(); });
    if (registration->problem.empty() && entries != files.size()) {
        registration->problem = "the batch holds " + std::to_string(entries) + " files";
    }
    CheckRegistry(*registration, files, x64, true);
    ui::Application.ProcessMessages();
    *unregistration = WatchWindowRun(tasks, [&] { main.actRegistryUnregisterAllExecute(); });
    CheckRegistry(*unregistration, files, x64, false);
    ui::Application.SetMainForm(nullptr);
}

int WindowChild(bool x64, const std::string& folder) {
    const std::vector<std::string> files = CopyPaths(folder + "\\", kTasks);
    DeleteServerKey(x64);
    SetUpWindowedProgram();
    StartWatching();
    // Warm-up outside the measurement: the window's classes, fonts and image
    // list, and a first helper (started and ended by that run).
    WatchWindowRun(5, [&] { RunTaskList(std::vector<std::string>(5, OriginalServer(x64)), true); });
    TRunFigures registration, unregistration;
    const std::string batchFile = folder + "\\RegisterAll.kvx";
    RegisterAndUnregisterAllInMainWindow(files, batchFile, x64, &registration, &unregistration);
    DeleteFileA(batchFile.c_str());
    StopWatching();
    Options.reset();
    AppInfo.reset();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBenchAppKey);
    DeleteServerKey(x64);
    PrintTagged("RESULT", registration);
    PrintTagged("RESULT_UNREG", unregistration);
    PrintValues("WINDOW", {registration.runMs, registration.cpuMs, registration.paintMs});
    std::fflush(stdout);
    return 0;
}

// The task window as RunTaskList opens it, over the files, three ways:
//   0  as it is: its tasks call RegisterServerFile, which hands each file to
//      the window's helper session, and the window shows its frames while
//      the helper works on a file;
//   1  its tasks hand each file to a helper of the benchmark's own, which
//      calls nothing while the helper works: frames are shown between tasks
//      only;
//   2  as 1, with that helper started before the window opens.
// The difference between 0 and 1 is what showing frames while the helper
// works costs or saves; between 1 and 2, what starting the helper ahead
// would save.
TRunFigures WindowVariant(const std::vector<std::string>& files, bool x64, int variant) {
    std::unique_ptr<engine::THelper> own;
    if (variant > 0) own = std::make_unique<engine::THelper>(x64 ? TMachine::X64 : TMachine::X86);
    if (variant == 2) own->Prestart();
    return WatchWindowRun(static_cast<int>(files.size()), [&] {
        TLogFrm log(files, true, false, TStopRules{stopNever, 5});
        if (own) {
            log.Perform = [&](const std::string& path, bool register_) {
                engine::TRegContext context;
                context.timeoutMs = engine::RegistrationTimeoutMs;
                context.pumpMessages = [] { ui::Application.ProcessMessages(); };
                context.abortEvent = engine::RegistrationAbortEvent;
                const engine::TRegContext settings = context;
                context.runLibrary = [&](TMachine, engine::TServerKind kind, const std::string& fullPath, bool r) {
                    return own->Run(kind, fullPath, r, settings);
                };
                engine::TRegOutcome outcome = engine::RegisterFileCore(path, register_, context);
                throw EQVException(outcome.message, outcome.details, outcome.success ? qekSuccess : qekError);
            };
        }
        log.CenterOnScreen();
        log.ShowModal();
    });
}

// The three variants, in the order given by `first` and on: one line
// "VARIANTS <ms 0> <ms 1> <ms 2>".
int VariantsChild(bool x64, int first, const std::string& folder) {
    const std::vector<std::string> files = CopyPaths(folder + "\\", kTasks);
    DeleteServerKey(x64);
    SetUpWindowedProgram();
    StartWatching();
    WatchWindowRun(5, [&] { RunTaskList(std::vector<std::string>(5, OriginalServer(x64)), true); });
    double ms[3] = {};
    std::string problems;
    for (int i = 0; i < 3; ++i) {
        const int variant = (first + i) % 3;
        TRunFigures figures = WindowVariant(files, x64, variant);
        ms[variant] = figures.totalMs;
        CheckRegistry(figures, files, x64, true);
        if (!figures.problem.empty()) problems += " variant " + std::to_string(variant) + ": " + figures.problem;
        DeleteServerKey(x64);
    }
    StopWatching();
    Options.reset();
    AppInfo.reset();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBenchAppKey);
    std::replace(problems.begin(), problems.end(), '\n', ' ');
    std::printf("VARIANTS %.3f %.3f %.3f%s\n", ms[0], ms[1], ms[2], problems.c_str());
    std::fflush(stdout);
    return 0;
}

// The engine's own work over the files in this process, and nothing more:
// RegisterFileCore with a context whose runLibrary is null (the helpers'
// own loop). The times of the files go to `each` when given.
TRunFigures BareLoop(const std::vector<std::string>& files, bool register_, std::vector<double>* each) {
    const engine::TRegContext context;
    TRunFigures figures;
    const double start = NowMs();
    for (const std::string& path : files) {
        const double fileStart = NowMs();
        engine::TRegOutcome outcome = engine::RegisterFileCore(path, register_, context);
        if (each) each->push_back(NowMs() - fileStart);
        if (!outcome.success && figures.failures++ == 0) figures.problem = outcome.message + " " + outcome.details;
    }
    figures.totalMs = NowMs() - start;
    return figures;
}

// The 32-bit bare loop, in the same form as bench_loop64.exe's output.
int BareChild(const std::string& folder) {
    const std::vector<std::string> files = CopyPaths(folder + "\\", kTasks);
    // As the helper runs: no system box for a disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    DeleteServerKey(false);
    // Warm-up outside the measurement: the first registrations in this process.
    BareLoop(std::vector<std::string>(5, OriginalServer(false)), true, nullptr);
    std::vector<double> each;
    TRunFigures registration, unregistration;
    {
        ui::TBusyCursor busy;  // one for the loop, as the window holds one for its run
        registration = BareLoop(files, true, &each);
    }
    CheckRegistry(registration, files, false, true);
    {
        ui::TBusyCursor busy;
        unregistration = BareLoop(files, false, nullptr);
    }
    CheckRegistry(unregistration, files, false, false);
    PrintTagged("RESULT", registration);
    PrintTagged("RESULT_UNREG", unregistration);
    std::printf("PER_FILE %.4f %.3f\n", Median(each), *std::max_element(each.begin(), each.end()));
    std::fflush(stdout);
    return 0;
}

// The tasks' own calls, without the window: RegisterServerFile in a helper
// session under one busy cursor (the file looked for and its headers read
// here, then handed over, and messages taken while the helper works).
TRunFigures SessionLoop(const std::vector<std::string>& files, bool register_) {
    ui::TBusyCursor busy;
    engine::THelperSession session;
    TRunFigures figures;
    const double cpuStart = ProcessCpuMs();
    const double start = NowMs();
    for (const std::string& path : files) {
        try {
            engine::RegisterServerFile(path, register_);
        } catch (const EQVException& outcome) {
            if (outcome.Kind != qekSuccess && figures.failures++ == 0) figures.problem = outcome.what();
        }
    }
    figures.totalMs = NowMs() - start;
    figures.cpuMs = ProcessCpuMs() - cpuStart;
    return figures;
}

// The helper called directly with each file: the whole round trip, the
// helper's own time as it reports it, and the rest (the request and the
// reply through the shared section, the two events, the waking up).
struct TRoundTrips {
    double totalMs = 0;
    std::vector<double> each, own, rest;
    int failures = 0;
};

TRoundTrips DirectLoop(engine::THelper& helper, const std::vector<std::string>& files, bool register_,
                       const engine::TRegContext& context) {
    TRoundTrips trips;
    const double start = NowMs();
    for (const std::string& path : files) {
        const double fileStart = NowMs();
        engine::TRegOutcome outcome = helper.Run(engine::TServerKind::Library, path, register_, context);
        const double ms = NowMs() - fileStart;
        trips.each.push_back(ms);
        trips.own.push_back(helper.LastOwnMs());
        trips.rest.push_back(ms - helper.LastOwnMs());
        if (!outcome.success) ++trips.failures;
    }
    trips.totalMs = NowMs() - start;
    return trips;
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double value : values) sum += value;
    return values.empty() ? 0 : sum / static_cast<double>(values.size());
}

double Percentile(std::vector<double> values, int percent) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() * static_cast<size_t>(percent) / 100];
}

int HelperChild(bool x64, const std::string& folder) {
    const TMachine machine = x64 ? TMachine::X64 : TMachine::X86;
    const std::vector<std::string> files = CopyPaths(folder + "\\", kTasks);
    const std::string original = OriginalServer(x64);
    const engine::TRegContext plain;  // no pumping, no stop event
    DeleteServerKey(x64);
    // Warm-up: a helper started, used and ended.
    {
        engine::THelper warm(machine);
        DirectLoop(warm, std::vector<std::string>(5, original), true, plain);
    }
    // For 32-bit servers, the bare loop in this same process just before the
    // helper's loop: the helper's own time per file against the bare loop's
    // at the same moment of a busy machine.
    TRunFigures bareHere;
    if (!x64) {
        BareLoop(std::vector<std::string>(5, original), true, nullptr);
        ui::TBusyCursor busy;
        bareHere = BareLoop(files, true, nullptr);
        BareLoop(files, false, nullptr);
    }
    // The helper's start: its first file against its second, the same file.
    engine::THelper helper(machine);
    double start = NowMs();
    helper.Prestart();
    helper.Run(engine::TServerKind::Library, original, true, plain);
    const double firstMs = NowMs() - start;
    start = NowMs();
    helper.Run(engine::TServerKind::Library, original, true, plain);
    const double secondMs = NowMs() - start;
    // The helper called directly, not pumping: the registrations, then the
    // unregistrations and the registrations again in the same helper (its
    // second and third thousand files: does a helper slow down with age?).
    TRoundTrips direct = DirectLoop(helper, files, true, plain);
    TRoundTrips directUnreg = DirectLoop(helper, files, false, plain);
    TRoundTrips aged = DirectLoop(helper, files, true, plain);
    DirectLoop(helper, files, false, plain);
    // The cost of Close, which a run pays at its end.
    start = NowMs();
    helper.Close();
    const double closeMs = NowMs() - start;
    // The same with the waits the window makes, in a new helper: a pump
    // that finds nothing to do turns the wait into a plain wait of up to
    // 5 ms followed by a wait that also wakes for messages.
    engine::TRegContext pumped = plain;
    pumped.pumpMessages = [] {};
    engine::THelper fresh(machine);
    fresh.Prestart();
    fresh.Run(engine::TServerKind::Library, original, true, plain);
    TRoundTrips withPump = DirectLoop(fresh, files, true, pumped);
    DirectLoop(fresh, files, false, pumped);
    fresh.Close();
    // The tasks' calls without the window.
    TRunFigures session = SessionLoop(files, true);
    CheckRegistry(session, files, x64, true);
    TRunFigures sessionUnreg = SessionLoop(files, false);
    CheckRegistry(sessionUnreg, files, x64, false);
    // What this side does with each file before it hands it over: looks for
    // it and reads its headers (here a runner that does nothing takes it).
    engine::TRegContext checksOnly;
    checksOnly.runLibrary = [](TMachine, engine::TServerKind, const std::string&, bool) {
        return engine::TRegOutcome{true, "checked", "", 0};
    };
    start = NowMs();
    for (const std::string& path : files) engine::RegisterFileCore(path, true, checksOnly);
    const double checksMs = NowMs() - start;
    DeleteServerKey(x64);

    PrintTagged("SESSION", session);
    PrintTagged("SESSION_UNREG", sessionUnreg);
    PrintValues("START", {firstMs, secondMs, closeMs});
    const std::vector<double>& each = direct.each;
    PrintValues("DIRECT", {direct.totalMs, Median(each), Percentile(each, 90), Percentile(each, 99),
                           static_cast<double>(std::count_if(each.begin(), each.end(), [](double ms) { return ms > 5; })),
                           Mean(direct.own), Median(direct.own), Mean(direct.rest), Median(direct.rest),
                           static_cast<double>(direct.failures + directUnreg.failures + withPump.failures)});
    PrintValues("DIRECT_UNREG", {directUnreg.totalMs, aged.totalMs});
    PrintValues("SESSION_CPU", {session.cpuMs});
    PrintValues("BARE_HERE", {bareHere.totalMs});
    PrintValues("PUMPED", {withPump.totalMs, Median(withPump.each), Median(withPump.rest)});
    PrintValues("CHECKS", {checksMs});
    std::fflush(stdout);
    return 0;
}

// ---------------------------------------------------------------------------
// The parent's side

// regsvr32 /s over the files, one process per file, timed; the failures
// counted by exit code.
double Regsvr32Loop(const std::vector<std::string>& files, bool register_, int* failures) {
    const std::string program = bench::Regsvr32Path();
    const double start = NowMs();
    for (const std::string& file : files) {
        const std::string line = "\"" + program + "\" /s " + (register_ ? "" : "/u ") + "\"" + file + "\"";
        if (RunProcess(program, line, nullptr) != 0) ++*failures;
    }
    return NowMs() - start;
}

// The window's own cost per task, without any registration: a run of tasks
// that succeed at once, then the steps a task used to cost the window
// (message processing before it, scrolling to its row, repainting the row,
// the progress step, message processing after it) timed one by one.
void WindowOwnCost(const std::string& server, double barePerTask, std::vector<std::string>& problems) {
    const int kQuickTasks = 1000;
    const int kTimedSteps = 200;
    StartWatching();
    double steps[5] = {};
    TRunFigures quick = WatchWindowRun(kQuickTasks, [&] {
        TLogFrm log(std::vector<std::string>(kQuickTasks, server), false, false, TStopRules{stopNever, 5});
        log.Perform = [](const std::string& path, bool) { throw EQVException("Done " + path, "", qekSuccess); };
        log.CenterOnScreen();
        log.ShowModal();
        ShowWindow(log.Handle(), SW_SHOWNOACTIVATE);
        log.lvTasks->EnsureVisible(0);
        SendMessageA(log.pBar->Handle(), PBM_SETPOS, 0, 0);
        UpdateWindow(log.Handle());
        ui::Application.ProcessMessages();
        for (int row = 0; row < kTimedSteps; ++row) {
            double t0 = NowMs();
            ui::Application.ProcessMessages();
            double t1 = NowMs();
            log.lvTasks->ShowRowPaged(row);
            double t2 = NowMs();
            log.lvTasks->RefreshRows(row, row);
            double t3 = NowMs();
            log.pBar->StepIt();
            double t4 = NowMs();
            ui::Application.ProcessMessages();
            double t5 = NowMs();
            steps[0] += t1 - t0;
            steps[1] += t2 - t1;
            steps[2] += t3 - t2;
            steps[3] += t4 - t3;
            steps[4] += t5 - t4;
        }
        ShowWindow(log.Handle(), SW_HIDE);
    });
    StopWatching();
    if (!quick.problem.empty()) problems.push_back("window without registration: " + quick.problem);
    const double perTask = quick.totalMs / kQuickTasks;
    std::printf("  the window alone, a run of %d tasks that succeed at once: %s per task (%.0f%% of a bare "
                "registration); each step once per task, as the window did before it showed frames: messages "
                "before %s, scroll %s, repaint row %s, progress step %s, messages after %s\n",
                kQuickTasks, Ms(perTask).c_str(), 100 * perTask / barePerTask, Ms(steps[0] / kTimedSteps).c_str(),
                Ms(steps[1] / kTimedSteps).c_str(), Ms(steps[2] / kTimedSteps).c_str(),
                Ms(steps[3] / kTimedSteps).c_str(), Ms(steps[4] / kTimedSteps).c_str());
}

}  // namespace

int TaskRunChild(const std::string& mode, const std::string& folder) {
    if (mode == "window32" || mode == "window64") return WindowChild(mode == "window64", folder);
    if (mode == "bare32") return BareChild(folder);
    if (mode == "helper32" || mode == "helper64") return HelperChild(mode == "helper64", folder);
    // variants32-N, variants64-N: the window variants, starting with variant N.
    if (mode.size() == 12 && (mode.compare(0, 11, "variants32-") == 0 || mode.compare(0, 11, "variants64-") == 0)) {
        return VariantsChild(mode.compare(0, 10, "variants64") == 0, (mode[11] - '0') % 3, folder);
    }
    std::printf("unknown task-run mode %s\n", mode.c_str());
    return 2;
}

bool BenchTaskRun(bool x64, const std::string& folder) {
    const char* headline = x64 ? "run64-window/bare64" : "run32-window/bare";
    const double target = x64 ? 1.3 : 1.15;
    const std::string server = OriginalServer(x64);
    const std::string loop64 = ProgramFolder() + kLoop64File;
    const std::string helperExe = ProgramFolder() + engine::HelperFileName(x64 ? TMachine::X64 : TMachine::X86);
    std::vector<std::string> needed{server, helperExe};
    if (x64) needed.push_back(loop64);
    for (const std::string& file : needed) {
        if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::printf("%-26s skipped: %s is missing (bench/run.sh builds it)\n", headline, file.c_str());
            return false;
        }
    }
    const std::string servers = folder + (x64 ? "servers64\\" : "servers32\\");
    const std::string serversArg = servers.substr(0, servers.size() - 1);  // no backslash before the quote
    CreateDirectoryA(servers.c_str(), nullptr);
    const std::vector<std::string> files = CopyPaths(servers, kTasks);
    for (const std::string& file : files) {
        if (!CopyFileA(server.c_str(), file.c_str(), FALSE)) throw std::runtime_error("cannot copy to " + file);
    }

    std::vector<std::string> problems;
    auto note = [&](const std::string& who, const TRunFigures& figures) {
        if (!figures.problem.empty() || figures.failures) {
            problems.push_back(who + ": " + std::to_string(figures.failures) + " failure(s) " + figures.problem);
        }
    };
    const std::string self = ExePath();
    auto child = [&](const std::string& mode) {
        std::string output;
        RunProcess(self, "\"" + self + "\" --task-run " + mode + " \"" + serversArg + "\"", &output);
        return output;
    };
    TPairs registration, unregistration;
    std::vector<double> bareEach, bareSlowest, gaps, listPaints, barPaints, windowOpen, windowRun, windowCpu,
        windowPaint;
    auto runBare = [&](bool timed) {
        std::string output = x64 ? std::string() : child("bare32");
        if (x64) RunProcess(loop64, "\"" + loop64 + "\" \"" + serversArg + "\" " + std::to_string(kTasks), &output);
        TRunFigures reg = ParseTagged(output, "RESULT"), unreg = ParseTagged(output, "RESULT_UNREG");
        note("bare loop", reg);
        note("bare loop, unregistration", unreg);
        if (!timed) return;
        registration.base.push_back(reg.totalMs);
        unregistration.base.push_back(unreg.totalMs);
        std::vector<double> perFile = ParseValues(output, "PER_FILE", 2);
        bareEach.push_back(perFile[0]);
        bareSlowest.push_back(perFile[1]);
    };
    auto runWindow = [&](bool timed) {
        std::string output = child(x64 ? "window64" : "window32");
        TRunFigures reg = ParseTagged(output, "RESULT"), unreg = ParseTagged(output, "RESULT_UNREG");
        note("window", reg);
        note("window, unregistration", unreg);
        if (!timed) return;
        registration.measured.push_back(reg.totalMs);
        unregistration.measured.push_back(unreg.totalMs);
        gaps.push_back(reg.maxGapMs);
        listPaints.push_back(reg.listPaints);
        barPaints.push_back(reg.barPaints);
        std::vector<double> window = ParseValues(output, "WINDOW", 3);
        windowOpen.push_back(reg.totalMs - window[0]);
        windowRun.push_back(window[0]);
        windowCpu.push_back(window[1]);
        windowPaint.push_back(window[2]);
    };
    // One untimed run of each side, then the pairs.
    runBare(false);
    runWindow(false);
    for (int i = 0; i < kPairs; ++i) bench::RunPair(i, [&] { runBare(true); }, [&] { runWindow(true); });

    // The difference taken apart.
    std::vector<double> session, sessionUnreg, sessionCpu, start, second, close, direct, directMedian, p90, p99,
        over5, own, ownMedian, rest, restMedian, directUnreg, aged, pumped, pumpedMedian, pumpedRest, checks,
        ownAgainstBare;
    for (int i = 0; i < kDiagnosticRuns; ++i) {
        const std::string output = child(x64 ? "helper64" : "helper32");
        TRunFigures loop = ParseTagged(output, "SESSION"), loopUnreg = ParseTagged(output, "SESSION_UNREG");
        note("the tasks' calls without the window", loop);
        note("the tasks' calls without the window, unregistration", loopUnreg);
        session.push_back(loop.totalMs);
        sessionUnreg.push_back(loopUnreg.totalMs);
        std::vector<double> v = ParseValues(output, "START", 3);
        start.push_back(v[0] - v[1]);
        second.push_back(v[1]);
        close.push_back(v[2]);
        v = ParseValues(output, "DIRECT", 10);
        direct.push_back(v[0]);
        directMedian.push_back(v[1]);
        p90.push_back(v[2]);
        p99.push_back(v[3]);
        over5.push_back(v[4]);
        own.push_back(v[5]);
        ownMedian.push_back(v[6]);
        rest.push_back(v[7]);
        restMedian.push_back(v[8]);
        if (v[9] != 0 || v[0] == 0) problems.push_back("the helper called directly: " + Fixed(v[9], "%.0f") + " failure(s)");
        v = ParseValues(output, "DIRECT_UNREG", 2);
        directUnreg.push_back(v[0]);
        aged.push_back(v[1]);
        sessionCpu.push_back(ParseValues(output, "SESSION_CPU", 1)[0]);
        const double bareHere = ParseValues(output, "BARE_HERE", 1)[0];
        if (bareHere > 0) ownAgainstBare.push_back(own.back() * kTasks / bareHere);
        v = ParseValues(output, "PUMPED", 3);
        pumped.push_back(v[0]);
        pumpedMedian.push_back(v[1]);
        pumpedRest.push_back(v[2]);
        checks.push_back(ParseValues(output, "CHECKS", 1)[0]);
    }

    // The window's variants (see WindowVariant), each child starting with
    // another.
    std::vector<double> variant[3];
    for (int i = 0; i < kDiagnosticRuns; ++i) {
        const std::string output = child(std::string(x64 ? "variants64-" : "variants32-") + std::to_string(i % 3));
        const size_t at = FindLine(output, "VARIANTS");
        double ms[3] = {};
        int consumed = 0;
        if (at == std::string::npos ||
            std::sscanf(output.c_str() + at + 9, "%lf %lf %lf%n", &ms[0], &ms[1], &ms[2], &consumed) < 3) {
            problems.push_back("window variants: " + output.substr(0, 200));
            continue;
        }
        const std::string rest = output.substr(at + 9 + static_cast<size_t>(consumed),
                                               output.find_first_of("\r\n", at) - at - 9 - consumed);
        if (!rest.empty()) problems.push_back("window variants:" + rest);
        for (int v = 0; v < 3; ++v) variant[v].push_back(ms[v]);
    }

    const std::string bitness = x64 ? "64-bit" : "32-bit";
    const std::string bareName = x64 ? "bench_loop64.exe" : "the bare in-process loop";
    bench::PrintHeadline(
        headline, registration.PairedRatio(), target,
        "Register All of 1,000 " + bitness + " servers in the task window (through " +
            engine::HelperFileName(x64 ? TMachine::X64 : TMachine::X86) + ") against " + bareName +
            " (RegisterFileCore, runLibrary null, one busy cursor): window " + Ms(registration.Measured()) +
            ", bare " + Ms(registration.Base()) + "; median of " + std::to_string(kPairs) + " pairs' ratios (" +
            registration.Each() + ")");
    std::printf("  Unregister All of the same: window %s, bare %s, ratio %s\n", Ms(unregistration.Measured()).c_str(),
                Ms(unregistration.Base()).c_str(), Fixed(unregistration.PairedRatio()).c_str());

    // Where the time goes (medians of the runs, for the 1,000 files): each
    // way of calling adds one layer to the one before it.
    const double bareMs = registration.Base();
    const double directMs = Median(direct);
    const double pumpedMs = Median(pumped);
    const double sessionMs = Median(session);
    const double windowMs = registration.Measured();
    auto plus = [](double ms, double before) {
        return Ms(ms) + " (" + (ms >= before ? "+" : "-") + Ms(std::abs(ms - before)) + ")";
    };
    std::printf("  where the time goes, 1,000 registrations (medians):\n");
    std::printf("    bare loop                                %s; median file %s, slowest %s\n", Ms(bareMs).c_str(),
                Ms(Median(bareEach)).c_str(), Ms(Median(bareSlowest)).c_str());
    std::printf("    the helper called directly, no pumping   %s; per file the helper's own %s, the hand-over "
                "(section, two events, waking up) %s (median %s); median file %s, 90th percentile %s, 99th %s, "
                "%.0f over 5 ms; its start not included\n",
                plus(directMs, bareMs).c_str(), Ms(Median(own)).c_str(), Ms(Median(rest)).c_str(),
                Ms(Median(restMedian)).c_str(), Ms(Median(directMedian)).c_str(), Ms(Median(p90)).c_str(),
                Ms(Median(p99)).c_str(), Median(over5));
    std::printf("    the same with the window's waits         %s; plain wait up to 5 ms, then one that takes "
                "messages (median file %s)\n",
                plus(pumpedMs, directMs).c_str(), Ms(Median(pumpedMedian)).c_str());
    std::printf("    the tasks' calls without the window      %s; the helper's start %s, this side's checks "
                "(finding the file, reading its headers) %s alone; this process's processor time %s\n",
                plus(sessionMs, pumpedMs).c_str(), Ms(Median(start)).c_str(), Ms(Median(checks)).c_str(),
                Ms(Median(sessionCpu)).c_str());
    std::printf("    the task window                          %s; opening it %s, its run %s, of which painting "
                "%s; this process's processor time during the run %s; longest pause between 10 ms timer "
                "messages %s; task list repainted %.0f times, bar %.0f times\n",
                plus(windowMs, sessionMs).c_str(), Ms(Median(windowOpen)).c_str(), Ms(Median(windowRun)).c_str(),
                Ms(Median(windowPaint)).c_str(), Ms(Median(windowCpu)).c_str(), Ms(Median(gaps)).c_str(),
                Median(listPaints), Median(barPaints));
    std::printf("    the helper's end (Close) %s; one helper's third thousand files %s against its first %s\n",
                Ms(Median(close)).c_str(), Ms(Median(aged)).c_str(), Ms(directMs).c_str());
    std::printf("    the task window opened directly (as RunTaskList does, without the main window): as it is %s; "
                "with frames shown only between tasks (nothing done while the helper works) %s; that and the "
                "helper started before the window opens %s\n",
                Ms(Median(variant[0])).c_str(), Ms(Median(variant[1])).c_str(), Ms(Median(variant[2])).c_str());
    if (!ownAgainstBare.empty()) {
        std::printf("    the helper's own time for the files against the bare loop run just before it in the same "
                    "process: %s (the same work, done in the helper)\n",
                    Fixed(Median(ownAgainstBare)).c_str());
    }
    std::printf("  unregistration: the helper called directly %s, the tasks' calls without the window %s, the "
                "window %s, bare %s\n",
                Ms(Median(directUnreg)).c_str(), Ms(Median(sessionUnreg)).c_str(),
                Ms(unregistration.Measured()).c_str(), Ms(unregistration.Base()).c_str());
    std::fflush(stdout);

    if (!x64) {
        // regsvr32, a process per file, on a sample of the same files.
        int failures = 0;
        const std::vector<std::string> sample(files.begin(), files.begin() + kRegsvr32Sample);
        Regsvr32Loop(sample, true, &failures);  // warm-up: the whole sample once
        Regsvr32Loop(sample, false, &failures);
        const double sampleMs = Regsvr32Loop(sample, true, &failures);
        Regsvr32Loop(sample, false, &failures);
        if (failures) problems.push_back("regsvr32: " + std::to_string(failures) + " failure(s)");
        const double regsvrMs = sampleMs / kRegsvr32Sample * kTasks;
        std::printf("  regsvr32 /s once per file (%s): %s each, %.1f times the window's time per file\n",
                    bench::Regsvr32Path().c_str(), Ms(sampleMs / kRegsvr32Sample).c_str(), regsvrMs /
                    registration.Measured());
        WindowOwnCost(server, bareMs / kTasks, problems);
    }

    DeleteServerKey(x64);
    for (const std::string& file : files) DeleteFileA(file.c_str());
    RemoveDirectoryA(servers.c_str());
    for (const std::string& problem : problems) std::printf("  warning: %s\n", problem.c_str());
    std::fflush(stdout);
    return problems.empty();
}

}  // namespace taskbench
