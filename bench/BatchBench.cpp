// Benchmark of the batch and of the task window. Every figure is the median
// of several repetitions, timed with QueryPerformanceCounter, and printed as
// a ratio against a baseline measured in the same run, so that the numbers
// compare across machines and emulators:
//   load   reading, parsing and showing a batch of 100,000 lines against one
//          of 10,000 (linear cost gives about 10; showing a virtual list
//          costs the same for any length);
//   add    adding 10,000 new paths to a batch of 100,000 against adding them
//          to a batch of 10,000 (constant cost per add gives about 1);
//   run    Register All over 1,000 test servers in the task window against
//          the same registrations in a bare loop (the window's overhead),
//          regsvr32 started once per file against the window, the longest
//          pause of the message loop during the window's run, how often the
//          window repainted, and the window's own cost per task;
//   run64  Register All and Unregister All over 1,000 64-bit test servers in
//          the task window (through the 64-bit helper) against a bare loop
//          in a 64-bit program (bench_loop64.exe), and where the difference
//          goes: the helper's start, the hand-over, the pumping wait;
//   save   writing a batch file of 100,000 lines against one of 10,000.
// Run by bench/run.sh; "bench_batch.exe run64" runs the run64 part alone.
// The program started with "--task-run window|bare|window64|helper64
// <folder>" makes one task-run measurement and prints it as RESULT lines.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "TestServerIds.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "engine/frmLog.h"
#include "engine/uHelper.h"
#include "engine/uRegCore.h"
#include "engine/uRegistry.h"
#include "mainwin/frmMain.h"
#include "mainwin/uBatch.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/ListView.h"

namespace {

// ---------------------------------------------------------------------------
// Timing

using bench::Median;
using bench::NowMs;
using bench::Regsvr32Path;
using bench::RunProcess;

// Runs `prepare` (not timed) and then `body` (timed) `repeats` times; the
// median of the timed parts in milliseconds.
double MedianMs(int repeats, const std::function<void()>& prepare, const std::function<void()>& body) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        if (prepare) prepare();
        double start = NowMs();
        body();
        times.push_back(NowMs() - start);
    }
    return Median(times);
}

void PrintRow(const char* name, double ratio, const std::string& detail) {
    std::printf("%-28s ratio %6.2f  (%s)\n", name, ratio, detail.c_str());
    std::fflush(stdout);
}

std::string Ms(double ms) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, ms < 10 ? "%.2f ms" : "%.0f ms", ms);
    return buffer;
}

// ---------------------------------------------------------------------------
// Batch data

// Realistic server paths: a few dozen servers per product module.
std::string ServerPath(int index, const char* kind = "Server") {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "C:\\Products\\Module%04d\\bin\\%s%05d.dll", index / 25, kind, index);
    return buffer;
}

std::vector<std::string> MakePaths(int count, const char* kind = "Server") {
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) paths.push_back(ServerPath(i, kind));
    return paths;
}

std::string MakeTempFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "corvantis-bench-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// ---------------------------------------------------------------------------
// A top-level window with the program's virtual list view, showing a batch
// as the main window does: file name and full path.

class TListForm : public ui::TForm {
public:
    explicit TListForm(const TBatchModel& model) : model_(model) {
        CreateForm("Corvantis benchmark", WS_OVERLAPPEDWINDOW, 0);
        SetClientSize(640, 400);
        list = Add<ui::TListView>(ui::TBounds{0, 0, 640, 400});
        list->AddColumn("File", 160);
        list->AddColumn("Path", 460);
        list->OnGetText = [this](int row, int column) {
            const TBatchEntry& entry = model_.Entry(static_cast<size_t>(row));
            return column == 0 ? entry.Name : entry.Path;
        };
    }

    ui::TListView* list = nullptr;

private:
    const TBatchModel& model_;
};

// ---------------------------------------------------------------------------
// 1. Loading

void BenchLoad(const std::string& folder, std::vector<std::string>* small, std::vector<std::string>* large) {
    *small = MakePaths(10000);
    *large = MakePaths(100000);
    const std::string smallFile = folder + "load10k.kvx";
    const std::string largeFile = folder + "load100k.kvx";
    WriteBatchFile(smallFile, FormatBatchText(*small), false);
    WriteBatchFile(largeFile, FormatBatchText(*large), false);

    TBatchModel model;
    TListForm form(model);
    form.CenterOnScreen();
    form.Show();
    ui::Application.ProcessMessages();

    // The phases of the last timed load: read, parse, assign, show.
    double phase[4] = {};
    auto load = [&](const std::string& file, size_t expected) {
        double t0 = NowMs();
        std::string bytes = ReadWholeFile(file);
        double t1 = NowMs();
        std::vector<std::string> paths;
        if (!ParseBatchText(bytes, &paths)) throw std::runtime_error("not a batch file: " + file);
        double t2 = NowMs();
        model.Assign(paths);
        double t3 = NowMs();
        form.list->SetItemCount(static_cast<int>(model.Count()));
        UpdateWindow(form.list->Handle());
        double t4 = NowMs();
        phase[0] = t1 - t0;
        phase[1] = t2 - t1;
        phase[2] = t3 - t2;
        phase[3] = t4 - t3;
        if (model.Count() != expected || form.list->ItemCount() != static_cast<int>(expected)) {
            throw std::runtime_error("wrong line count in " + file);
        }
    };
    auto reset = [&] {
        form.list->SetItemCount(0);
        UpdateWindow(form.list->Handle());
        model.Clear();
        ui::Application.ProcessMessages();
    };
    auto printPhases = [&](const char* label) {
        std::printf("  %s phases of one load: read %s, parse %s, assign %s, show %s\n", label, Ms(phase[0]).c_str(),
                    Ms(phase[1]).c_str(), Ms(phase[2]).c_str(), Ms(phase[3]).c_str());
    };
    // One untimed load of each warms the file cache and the list view.
    reset();
    load(smallFile, small->size());
    reset();
    load(largeFile, large->size());

    double smallMs = MedianMs(7, reset, [&] { load(smallFile, small->size()); });
    double smallPhases[4];
    std::copy(phase, phase + 4, smallPhases);
    double largeMs = MedianMs(5, reset, [&] { load(largeFile, large->size()); });
    PrintRow("load_100k_vs_10k", largeMs / smallMs, "100k: " + Ms(largeMs) + ", 10k: " + Ms(smallMs));
    printPhases("100k");
    std::copy(smallPhases, smallPhases + 4, phase);
    printPhases("10k ");
    std::fflush(stdout);
    DeleteFileA(smallFile.c_str());
    DeleteFileA(largeFile.c_str());
}

// ---------------------------------------------------------------------------
// 2. Adding

void BenchAdd(const std::vector<std::string>& small, const std::vector<std::string>& large) {
    const std::vector<std::string> added = MakePaths(10000, "Added");
    TBatchModel model;
    auto addAll = [&] {
        for (const std::string& path : added) {
            if (!model.AddUnique(path)) throw std::runtime_error("a new path was refused: " + path);
        }
    };
    double intoSmall = MedianMs(7, [&] { model.Assign(small); }, addAll);
    double intoLarge = MedianMs(7, [&] { model.Assign(large); }, addAll);
    PrintRow("add_into_100k_vs_10k", intoLarge / intoSmall,
             "10,000 adds into 100k: " + Ms(intoLarge) + ", into 10k: " + Ms(intoSmall));

    // Where the time goes: each add timed alone, once per model size. The
    // slowest single add is the one that grows the entry list and the key
    // index, whose cost is proportional to the model's size.
    for (const std::vector<std::string>* base : {&small, &large}) {
        model.Assign(*base);
        std::vector<double> each;
        each.reserve(added.size());
        for (const std::string& path : added) {
            double start = NowMs();
            model.AddUnique(path);
            each.push_back(NowMs() - start);
        }
        double slowest = *std::max_element(each.begin(), each.end());
        double sum = 0;
        for (double ms : each) sum += ms;
        std::printf("  %s model: slowest single add %s, all others %s together, median add %.2f us\n",
                    base == &small ? "10k " : "100k", Ms(slowest).c_str(), Ms(sum - slowest).c_str(),
                    Median(each) * 1000.0);
    }
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// 3. Task run: Register All over 1,000 servers
//
// 1,000 distinct server files, numbered copies of the test server
// OkServer.dll (a batch holds a path once, so a batch of 1,000 needs 1,000
// files), registered three ways:
//   window    the main window's Register All command over a batch of the
//             files, which opens the task window (through RunTaskList);
//   bare      RegisterServerFile over the same files in a plain loop;
//   regsvr32  the system's regsvr32.exe started once per file with /s.
// The window and the bare loop each run in a child process of their own (this
// program started with "--task-run window|bare <folder>"), so that each loads
// every server for the first time, as a user's run does.

constexpr int kTasks = 1000;
// Runs of each kind, alternating, of which the medians count.
constexpr int kRunPairs = 7;
// regsvr32 runs timed, of the 1,000 files; the time per file is scaled up.
constexpr int kRegsvr32Sample = 100;
const char* const kTaskWindowCaption = "Task Progress...";

std::string WindowText(HWND hwnd) {
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// Watches the task windows this thread opens, from outside (as they are
// opened by the main window's command, the benchmark holds no reference to
// them): a computer-based-training hook sees each one activate, and
// subclasses of its controls count their repaints and see the Close button
// become enabled, which the window does right after its run. A hidden
// window's 10 ms timer measures the gaps between the timer messages the
// thread processes, and clicks Close once the run has returned.
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
    double closeEnabledAt = 0;  // the end of its run
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
constexpr UINT_PTR kSubclassClose = 1, kSubclassList = 2, kSubclassBar = 3;

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
    if (msg == WM_ENABLE && wParam && id == kSubclassClose && g_watch.closeEnabledAt == 0) {
        g_watch.closeEnabledAt = NowMs();
        g_watch.counting = false;
        g_watch.shownProgress = static_cast<int>(SendMessageA(g_watch.bar, PBM_GETPOS, 0, 0));
        g_watch.shownErrors = ListView_GetItemCount(g_watch.errors);
        g_watch.topRow = ListView_GetTopIndex(g_watch.tasks);
        g_watch.rowsPerPage = ListView_GetCountPerPage(g_watch.tasks);
        PostMessageA(g_watch.ticker, WM_BENCH_CLOSE, 0, 0);
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
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
    return result;
}

// The registry key of the program's settings while the benchmark runs; its
// own, deleted afterwards.
const char* const kBenchAppKey = "Software\\CorvantisBench";

// >>> The window run: the main window's Register All command over a batch
// >>> file of the files, opened as a user opens one. The command collects the
// >>> batch's paths and calls RunTaskList(files, true); the window it opens
// >>> is the one measured. To measure the task window alone, call
// >>> RunTaskList(files, true) in place of the command.
TRunFigures RegisterAllInMainWindow(const std::vector<std::string>& files, const std::string& batchFile) {
    WriteBatchFile(batchFile, FormatBatchText(files), false);
    TZEPHMain main;
    ui::Application.SetMainForm(&main);
    main.Show();
    main.Batch().OpenBatch(batchFile);
    ui::Application.ProcessMessages();
    TRunFigures figures = WatchWindowRun(static_cast<int>(files.size()), [&] { main.actRegistryRegisterAllExecute(); });
    if (figures.problem.empty() && main.EntryPaths().size() != files.size()) {
        figures.problem = "the batch holds " + std::to_string(main.EntryPaths().size()) + " files";
    }
    ui::Application.SetMainForm(nullptr);
    return figures;
}

TRunFigures RunBareLoop(const std::vector<std::string>& files, bool register_) {
    TRunFigures result;
    double start = NowMs();
    for (const std::string& path : files) {
        try {
            engine::RegisterServerFile(path, register_);
        } catch (const EQVException& outcome) {
            if (outcome.Kind != qekSuccess && result.failures++ == 0) result.problem = outcome.what();
        }
    }
    result.totalMs = NowMs() - start;
    return result;
}

std::string ExePath() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    return exe;
}

std::string ServerPathOnDisk() {
    std::string folder = ExePath();
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + "testdata\\" + TestServers::kOkServerFile;
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

// The registered server's path as the registry holds it.
std::string RegisteredServer() {
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CLASSES_ROOT, TestServers::kOkServerInprocKey, nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
        return "<not registered>";
    }
    return value;
}

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

// The child's part: one measurement, printed as a RESULT line.
int TaskRunChild(const std::string& mode, const std::string& folder) {
    const std::vector<std::string> files = CopyPaths(folder + "\\", kTasks);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, TestServers::kOkServerClsidKey);
    // Warm-up outside the measurement: the first registrations, and for the
    // window its classes, fonts and image list.
    RunBareLoop(std::vector<std::string>(5, ServerPathOnDisk()), true);
    TRunFigures figures;
    if (mode == "window") {
        SetUpWindowedProgram();
        StartWatching();
        WatchWindowRun(5, [] { RunTaskList(std::vector<std::string>(5, ServerPathOnDisk()), true); });
        const std::string batchFile = folder + "\\RegisterAll.kvx";
        figures = RegisterAllInMainWindow(files, batchFile);
        DeleteFileA(batchFile.c_str());
        StopWatching();
        Options.reset();
        AppInfo.reset();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBenchAppKey);
    } else {
        figures = RunBareLoop(files, true);
    }
    if (figures.problem.empty() && RegisteredServer() != files.back()) {
        figures.problem = "the registry names " + RegisteredServer() + " rather than the last file";
    }
    std::printf("RESULT %.3f %.3f %d %d %d %s\n", figures.totalMs, figures.maxGapMs, figures.listPaints,
                figures.barPaints, figures.failures, figures.problem.c_str());
    std::fflush(stdout);
    return 0;
}

TRunFigures ParseResult(const std::string& output) {
    TRunFigures figures;
    size_t at = output.find("RESULT ");
    if (at == std::string::npos) {
        figures.problem = "the measuring process printed no result: " + output.substr(0, 200);
        return figures;
    }
    std::string line = output.substr(at + 7, output.find_first_of("\r\n", at) - at - 7);
    int consumed = 0;
    if (std::sscanf(line.c_str(), "%lf %lf %d %d %d %n", &figures.totalMs, &figures.maxGapMs, &figures.listPaints,
                    &figures.barPaints, &figures.failures, &consumed) < 5) {
        figures.problem = "unreadable result: " + line;
        return figures;
    }
    figures.problem = line.substr(static_cast<size_t>(consumed));
    return figures;
}


// regsvr32 /s over the files, one process per file, timed; the failures
// counted by exit code.
double Regsvr32Loop(const std::vector<std::string>& files, int* failures) {
    const std::string program = Regsvr32Path();
    double start = NowMs();
    for (const std::string& file : files) {
        if (RunProcess(program, "\"" + program + "\" /s \"" + file + "\"", nullptr) != 0) ++*failures;
    }
    return NowMs() - start;
}

bool BenchTaskRun(const std::string& folder) {
    const std::string server = ServerPathOnDisk();
    if (GetFileAttributesA(server.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("%-28s skipped: %s is missing (build the target test_servers)\n", "run_window_vs_bare",
                    server.c_str());
        return false;
    }
    const std::string servers = folder + "servers\\";
    CreateDirectoryA(servers.c_str(), nullptr);
    const std::vector<std::string> files = CopyPaths(servers, kTasks);
    for (const std::string& file : files) {
        if (!CopyFileA(server.c_str(), file.c_str(), FALSE)) throw std::runtime_error("cannot copy to " + file);
    }

    std::vector<double> bare, window, gaps, listPaints, barPaints;
    std::vector<std::string> problems;
    for (int i = 0; i < kRunPairs; ++i) {
        for (const char* mode : {"bare", "window"}) {
            std::string output;
            // The folder without its trailing backslash, which would escape the quote.
            RunProcess(ExePath(), "\"" + ExePath() + "\" --task-run " + mode + " \"" + servers.substr(0, servers.size() - 1) + "\"",
                       &output);
            TRunFigures figures = ParseResult(output);
            if (!figures.problem.empty() || figures.failures) {
                problems.push_back(std::string(mode) + ": " + std::to_string(figures.failures) + " failure(s) " +
                                   figures.problem);
            }
            if (mode[0] == 'b') {
                bare.push_back(figures.totalMs);
            } else {
                window.push_back(figures.totalMs);
                gaps.push_back(figures.maxGapMs);
                listPaints.push_back(figures.listPaints);
                barPaints.push_back(figures.barPaints);
            }
        }
    }
    double bareMs = Median(bare);
    double windowMs = Median(window);
    // Each window run against the bare loop just before it, which shares its
    // share of the machine: less sensitive to a busy machine.
    std::vector<double> paired;
    for (size_t i = 0; i < bare.size() && i < window.size(); ++i) paired.push_back(window[i] / bare[i]);
    char pairedText[32];
    std::snprintf(pairedText, sizeof pairedText, "%.2f", Median(paired));
    PrintRow("run_window_vs_bare", windowMs / bareMs,
             "Register All of 1,000 servers; window: " + Ms(windowMs) + ", bare loop: " + Ms(bareMs) +
                 "; median of the " + std::to_string(kRunPairs) + " pairs' ratios " + pairedText + "; goal <= 1.3");
    std::printf("  window: task list repainted %.0f times, progress bar %.0f times (one per %.1f ms of the run)\n",
                Median(listPaints), Median(barPaints), windowMs / std::max(1.0, Median(listPaints)));
    std::string each;
    for (double gap : gaps) each += (each.empty() ? "" : " / ") + Ms(gap);
    std::printf("%-28s %6.1f ms  (longest pause between 10 ms timer messages during the window's run; "
                "median of %d runs, each: %s)\n",
                "run_longest_message_gap", Median(gaps), kRunPairs, each.c_str());

    // regsvr32, a process per file, on a sample of the same files.
    int regsvrFailures = 0;
    const std::vector<std::string> sample(files.begin(), files.begin() + kRegsvr32Sample);
    Regsvr32Loop({files.front()}, &regsvrFailures);  // warm-up: the program's first start
    regsvrFailures = 0;
    double sampleMs = Regsvr32Loop(sample, &regsvrFailures);
    if (regsvrFailures) problems.push_back("regsvr32: " + std::to_string(regsvrFailures) + " failure(s)");
    double regsvrMs = sampleMs / kRegsvr32Sample * kTasks;
    PrintRow("run_regsvr32_vs_window", regsvrMs / windowMs,
             "regsvr32 /s once per file: " + Ms(regsvrMs) + " for 1,000 (" + std::to_string(kRegsvr32Sample) +
                 " files timed, " + Ms(sampleMs / kRegsvr32Sample) + " each, scaled to 1,000); window: " +
                 Ms(windowMs) + "; goal >= 60");
    std::printf("  regsvr32: %s; against the bare loop: %.1f (the most a run in the window could reach)\n",
                Regsvr32Path().c_str(), regsvrMs / bareMs);

    // The window's own cost per task, without any registration: a run of
    // tasks that succeed at once, then the steps a task used to cost the
    // window (message processing before it, scrolling to its row, repainting
    // the row, the progress step, message processing after it) timed one by
    // one on the same window.
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
    double perTask = quick.totalMs / kQuickTasks;
    double barePerTask = bareMs / kTasks;
    PrintRow("run_ui_per_task_vs_reg", perTask / barePerTask,
             "window run of " + std::to_string(kQuickTasks) + " tasks that succeed at once: " + Ms(perTask) +
                 " per task; one bare registration: " + Ms(barePerTask));
    std::printf("  each step done once per task, as the window did before it showed frames: messages before "
                "%s, scroll a page when the row leaves the view %s, repaint row %s, progress step %s, messages "
                "after %s\n",
                Ms(steps[0] / kTimedSteps).c_str(), Ms(steps[1] / kTimedSteps).c_str(),
                Ms(steps[2] / kTimedSteps).c_str(), Ms(steps[3] / kTimedSteps).c_str(),
                Ms(steps[4] / kTimedSteps).c_str());

    // The registry and the disk as they were.
    RunBareLoop({files.front()}, false);
    for (const std::string& file : files) DeleteFileA(file.c_str());
    RemoveDirectoryA(servers.c_str());

    for (const std::string& problem : problems) std::printf("  warning: %s\n", problem.c_str());
    std::fflush(stdout);
    return problems.empty();
}

// ---------------------------------------------------------------------------
// 3b. Task run over 1,000 64-bit servers
//
// 1,000 numbered copies of the 64-bit test server (testdata\x64\OkServer.dll),
// registered and then unregistered two ways:
//   window64  the main window's Register All and Unregister All commands in
//             this (32-bit) program: the task window hands each file to the
//             64-bit helper Corvantis64.exe, one helper process per run;
//   bare64    bench_loop64.exe, a 64-bit program that calls RegisterFileCore
//             on each file in a plain loop, as the helper does.
// Each runs in a child process of its own, alternating. A third child
// ("--task-run helper64 <folder>", once per pair) takes the difference apart
// without any window: the same files through the helper as the tasks call it
// (RegisterServerFile: this side's checks, then the helper, with the wait
// that pumps messages), through the helper called directly (the hand-over
// alone on top of the helper's work), this side's checks alone, the
// helper's start, and each file's round trip split into the helper's own
// time and the rest (which, taken file by file in one process, a busy
// machine disturbs far less than the totals of separate runs).

constexpr int kRun64Pairs = 5;
const char* const kLoop64File = "bench_loop64.exe";

// The folder beside this program, with its trailing backslash.
std::string ProgramFolder() {
    std::string folder = ExePath();
    return folder.erase(folder.find_last_of('\\') + 1);
}

std::string Server64PathOnDisk() { return ProgramFolder() + "testdata\\x64\\" + TestServers::kOkServerFile; }

// The 64-bit registry view, which the 64-bit servers write (this 32-bit
// program's HKEY_CLASSES_ROOT shows the 32-bit view). Every key is opened
// with the view's flag itself: a key opened below one that was does not
// inherit its view.
std::string Classes64(const char* key) { return std::string("Software\\Classes\\") + key; }

std::string RegisteredServer64() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Classes64(TestServers::kOkServerInprocKey).c_str(), 0,
                      KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return "<not registered>";
    }
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    LONG status = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : "<not registered>";
}

void DeleteServerKey64() {
    const std::string path = Classes64(TestServers::kOkServerClsidKey);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteTreeA(key, nullptr);  // what is below it
    RegCloseKey(key);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
}

// The line "<tag> <figures>" of a child's output, read as a RESULT line.
TRunFigures ParseTagged(const std::string& output, const std::string& tag) {
    size_t at = output.find(tag + " ");
    while (at != std::string::npos && at > 0 && output[at - 1] != '\n') at = output.find(tag + " ", at + 1);
    if (at == std::string::npos) {
        TRunFigures figures;
        figures.problem = "no " + tag + " line: " + output.substr(0, 200);
        return figures;
    }
    return ParseResult("RESULT " + output.substr(at + tag.size() + 1));
}

void PrintTagged(const char* tag, const TRunFigures& figures) {
    std::printf("%s %.3f %.3f %d %d %d %s\n", tag, figures.totalMs, figures.maxGapMs, figures.listPaints,
                figures.barPaints, figures.failures, figures.problem.c_str());
}

// Register All, then Unregister All, of a batch of the files in one main
// window, each opening the task window that is measured.
void RegisterAndUnregisterAllInMainWindow(const std::vector<std::string>& files, const std::string& batchFile,
                                          TRunFigures* registration, TRunFigures* unregistration) {
    WriteBatchFile(batchFile, FormatBatchText(files), false);
    TZEPHMain main;
    ui::Application.SetMainForm(&main);
    main.Show();
    main.Batch().OpenBatch(batchFile);
    ui::Application.ProcessMessages();
    const int tasks = static_cast<int>(files.size());
    *registration = WatchWindowRun(tasks, [&] { main.actRegistryRegisterAllExecute(); });
    if (registration->problem.empty() && lstrcmpiA(RegisteredServer64().c_str(), files.back().c_str()) != 0) {
        registration->problem = "the 64-bit view names " + RegisteredServer64() + " rather than the last file";
    }
    ui::Application.ProcessMessages();
    *unregistration = WatchWindowRun(tasks, [&] { main.actRegistryUnregisterAllExecute(); });
    if (unregistration->problem.empty() && RegisteredServer64() != "<not registered>") {
        unregistration->problem = "the 64-bit view still names " + RegisteredServer64();
    }
    ui::Application.SetMainForm(nullptr);
}

// The helper driven directly, without pumping: each file's round trip.
TRunFigures HelperDirectLoop(engine::THelper64& helper, const std::vector<std::string>& files, bool register_,
                             std::vector<double>* each) {
    TRunFigures figures;
    double start = NowMs();
    for (const std::string& path : files) {
        double fileStart = NowMs();
        engine::TRegOutcome outcome = helper.Run(path, register_, qlEnglish, nullptr);
        if (each) each->push_back(NowMs() - fileStart);
        if (!outcome.success && figures.failures++ == 0) figures.problem = outcome.message;
    }
    figures.totalMs = NowMs() - start;
    return figures;
}

// Each file's round trip through the helper, split into the helper's own
// time, which its reply carries, and the rest: the hand-over both ways and
// the waking up.
struct TSplitRoundTrips {
    std::vector<double> total;  // per file, as seen here
    std::vector<double> own;    // per file, as the helper reports it
    int failures = 0;
};

TSplitRoundTrips SplitRoundTrips(const std::vector<std::string>& files, bool register_) {
    TSplitRoundTrips split;
    engine::THelper64 helper;
    for (const std::string& path : files) {
        engine::TRegOutcome outcome = helper.Run(path, register_, qlEnglish, nullptr);
        if (!outcome.success) ++split.failures;
        split.total.push_back(outcome.ms);
        split.own.push_back(helper.LastOwnMs());
    }
    return split;
}

// The child's part of the 64-bit runs: "window64" or "helper64".
int TaskRun64Child(const std::string& mode, const std::string& folder) {
    const std::vector<std::string> files = CopyPaths(folder + "\\", kTasks);
    const std::string original = Server64PathOnDisk();
    DeleteServerKey64();
    if (mode == "window64") {
        SetUpWindowedProgram();
        StartWatching();
        // Warm-up outside the measurement: the window's classes, fonts and
        // image list, and a first helper (started and ended by that run).
        WatchWindowRun(5, [&] { RunTaskList(std::vector<std::string>(5, original), true); });
        TRunFigures registration, unregistration;
        const std::string batchFile = folder + "\\RegisterAll64.kvx";
        RegisterAndUnregisterAllInMainWindow(files, batchFile, &registration, &unregistration);
        DeleteFileA(batchFile.c_str());
        StopWatching();
        Options.reset();
        AppInfo.reset();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBenchAppKey);
        PrintTagged("RESULT", registration);
        PrintTagged("RESULT_UNREG", unregistration);
    } else {
        // Warm-up: a helper started, used and ended.
        {
            engine::THelper64 warm;
            HelperDirectLoop(warm, std::vector<std::string>(5, original), true, nullptr);
        }
        // The registrations as the task window's tasks make them, in one
        // helper session (the helper's start included) and under one busy
        // cursor, without the window: this side looks for each file and
        // reads its headers, then hands it over and pumps messages while it
        // waits for the outcome.
        TRunFigures sessionRegistration, sessionUnregistration;
        {
            ui::TBusyCursor busy;
            engine::THelperSession session;
            sessionRegistration = RunBareLoop(files, true);
        }
        if (sessionRegistration.problem.empty() &&
            lstrcmpiA(RegisteredServer64().c_str(), files.back().c_str()) != 0) {
            sessionRegistration.problem =
                "the 64-bit view names " + RegisteredServer64() + " rather than the last file";
        }
        {
            ui::TBusyCursor busy;
            engine::THelperSession session;
            sessionUnregistration = RunBareLoop(files, false);
        }
        if (sessionUnregistration.problem.empty() && RegisteredServer64() != "<not registered>") {
            sessionUnregistration.problem = "the 64-bit view still names " + RegisteredServer64();
        }
        // The helper called directly, not pumping: its start (its first
        // call), then the same registrations.
        engine::THelper64 helper;
        double start = NowMs();
        helper.Run(original, true, qlEnglish, nullptr);
        double firstMs = NowMs() - start;
        std::vector<double> direct;
        TRunFigures directRegistration = HelperDirectLoop(helper, files, true, &direct);
        TRunFigures directUnregistration = HelperDirectLoop(helper, files, false, nullptr);
        helper.Close();
        // Each round trip split into the helper's own time and the rest.
        TSplitRoundTrips split = SplitRoundTrips(files, true);
        SplitRoundTrips(files, false);
        std::vector<double> rest;
        double ownSum = 0, restSum = 0;
        for (size_t i = 0; i < split.total.size(); ++i) {
            rest.push_back(split.total[i] - split.own[i]);
            ownSum += split.own[i];
            restSum += rest.back();
        }
        const double splitCount = std::max<double>(1, static_cast<double>(rest.size()));
        // What this side does with each file before it hands it over: looks
        // for it and reads its headers (here a runner that does nothing
        // takes it over).
        engine::TRegContext handOver;
        handOver.foreign = [](const std::string&, bool, engine::TRegOutcome& outcome) {
            outcome.success = true;
            return true;
        };
        double checksStart = NowMs();
        for (const std::string& path : files) engine::RegisterFileCore(path, true, handOver);
        double localChecksMs = NowMs() - checksStart;

        PrintTagged("RESULT", sessionRegistration);
        PrintTagged("RESULT_UNREG", sessionUnregistration);
        PrintTagged("RESULT_DIRECT", directRegistration);
        PrintTagged("RESULT_DIRECT_UNREG", directUnregistration);
        std::sort(direct.begin(), direct.end());
        const int slow =
            static_cast<int>(std::count_if(direct.begin(), direct.end(), [](double ms) { return ms > 5; }));
        std::printf("HELPER %.3f %.4f %.3f %.4f %.4f %d\n", firstMs, Median(direct), localChecksMs,
                    direct[direct.size() * 9 / 10], direct[direct.size() * 99 / 100], slow);
        std::printf("SPLIT %.4f %.4f %.4f %.4f %d\n", ownSum / splitCount, Median(split.own), restSum / splitCount,
                    Median(rest), split.failures);
    }
    DeleteServerKey64();
    std::fflush(stdout);
    return 0;
}

// The median of the totals, and of each run's ratio to the baseline run
// just before it (which shares its share of a busy machine).
struct TPairs {
    std::vector<double> base, measured;
    double Base() const { return Median(base); }
    double Measured() const { return Median(measured); }
    double PairedRatio() const {
        std::vector<double> ratios;
        for (size_t i = 0; i < base.size() && i < measured.size(); ++i) ratios.push_back(measured[i] / base[i]);
        return Median(ratios);
    }
};

std::string Fixed(double value, const char* format = "%.2f") {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

bool BenchTaskRun64(const std::string& folder) {
    const std::string server = Server64PathOnDisk();
    const std::string loop64 = ProgramFolder() + kLoop64File;
    const std::string helperExe = ProgramFolder() + engine::kHelperFileName;
    for (const std::string& needed : {server, loop64, helperExe}) {
        if (GetFileAttributesA(needed.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::printf("%-28s skipped: %s is missing (build bench_batch in the 32-bit build, which builds its "
                        "64-bit half)\n",
                        "run64_window_vs_bare64", needed.c_str());
            return false;
        }
    }
    const std::string servers = folder + "servers64\\";
    const std::string serversArg = servers.substr(0, servers.size() - 1);  // no backslash before the quote
    CreateDirectoryA(servers.c_str(), nullptr);
    const std::vector<std::string> files = CopyPaths(servers, kTasks);
    for (const std::string& file : files) {
        if (!CopyFileA(server.c_str(), file.c_str(), FALSE)) throw std::runtime_error("cannot copy to " + file);
    }

    TPairs registration, unregistration, session, sessionUnreg, direct, directUnreg;
    std::vector<double> bareEach, bareSlowest, gaps, listPaints, barPaints, helperStart, directEach, directP90,
        directP99, directSlow, localChecks, splitOwn, splitOwnMedian, splitRest, splitRestMedian;
    std::vector<std::string> problems;
    auto note = [&](const std::string& who, const TRunFigures& figures) {
        if (!figures.problem.empty() || figures.failures) {
            problems.push_back(who + ": " + std::to_string(figures.failures) + " failure(s) " + figures.problem);
        }
    };
    for (int i = 0; i < kRun64Pairs; ++i) {
        std::string output;
        RunProcess(loop64, "\"" + loop64 + "\" \"" + serversArg + "\" " + std::to_string(kTasks), &output);
        TRunFigures bare = ParseTagged(output, "RESULT"), bareUnreg = ParseTagged(output, "RESULT_UNREG");
        note("bare64", bare);
        note("bare64 unregistration", bareUnreg);
        double median = 0, slowest = 0;
        size_t at = output.find("PER_FILE ");
        if (at != std::string::npos) std::sscanf(output.c_str() + at + 9, "%lf %lf", &median, &slowest);
        bareEach.push_back(median);
        bareSlowest.push_back(slowest);

        output.clear();
        RunProcess(ExePath(), "\"" + ExePath() + "\" --task-run window64 \"" + serversArg + "\"", &output);
        TRunFigures window = ParseTagged(output, "RESULT"), windowUnreg = ParseTagged(output, "RESULT_UNREG");
        note("window64", window);
        note("window64 unregistration", windowUnreg);
        registration.base.push_back(bare.totalMs);
        registration.measured.push_back(window.totalMs);
        unregistration.base.push_back(bareUnreg.totalMs);
        unregistration.measured.push_back(windowUnreg.totalMs);
        gaps.push_back(window.maxGapMs);
        listPaints.push_back(window.listPaints);
        barPaints.push_back(window.barPaints);

        output.clear();
        RunProcess(ExePath(), "\"" + ExePath() + "\" --task-run helper64 \"" + serversArg + "\"", &output);
        TRunFigures loop = ParseTagged(output, "RESULT"), loopUnreg = ParseTagged(output, "RESULT_UNREG");
        TRunFigures plain = ParseTagged(output, "RESULT_DIRECT");
        TRunFigures plainUnreg = ParseTagged(output, "RESULT_DIRECT_UNREG");
        note("helper session loop", loop);
        note("helper session loop unregistration", loopUnreg);
        note("helper direct", plain);
        note("helper direct unregistration", plainUnreg);
        session.base.push_back(bare.totalMs);
        session.measured.push_back(loop.totalMs);
        sessionUnreg.base.push_back(bareUnreg.totalMs);
        sessionUnreg.measured.push_back(loopUnreg.totalMs);
        direct.base.push_back(bare.totalMs);
        direct.measured.push_back(plain.totalMs);
        directUnreg.base.push_back(bareUnreg.totalMs);
        directUnreg.measured.push_back(plainUnreg.totalMs);
        double first = 0, directMedian = 0, checks = 0, p90 = 0, p99 = 0, over5 = 0;
        at = output.find("HELPER ");
        if (at != std::string::npos) {
            std::sscanf(output.c_str() + at + 7, "%lf %lf %lf %lf %lf %lf", &first, &directMedian, &checks, &p90, &p99,
                        &over5);
        }
        helperStart.push_back(first);
        directEach.push_back(directMedian);
        directP90.push_back(p90);
        directP99.push_back(p99);
        directSlow.push_back(over5);
        localChecks.push_back(checks);
        double ownMean = 0, ownMedian = 0, restMean = 0, restMedian = 0;
        int splitFailures = -1;
        at = output.find("SPLIT ");
        if (at != std::string::npos) {
            std::sscanf(output.c_str() + at + 6, "%lf %lf %lf %lf %d", &ownMean, &ownMedian, &restMean, &restMedian,
                        &splitFailures);
        }
        if (splitFailures != 0) {
            problems.push_back("split round trips: " + std::to_string(splitFailures) + " failure(s)");
        }
        splitOwn.push_back(ownMean);
        splitOwnMedian.push_back(ownMedian);
        splitRest.push_back(restMean);
        splitRestMedian.push_back(restMedian);
    }

    const std::string pairs = std::to_string(kRun64Pairs);
    PrintRow("run64_window_vs_bare64", registration.Measured() / registration.Base(),
             "Register All of 1,000 64-bit servers; window (32-bit program, helper): " + Ms(registration.Measured()) +
                 ", bare 64-bit loop: " + Ms(registration.Base()) + "; median of the " + pairs + " pairs' ratios " +
                 Fixed(registration.PairedRatio()) + "; goal <= 1.5");
    PrintRow("run64_unreg_window_vs_bare64", unregistration.Measured() / unregistration.Base(),
             "Unregister All of the same; window: " + Ms(unregistration.Measured()) + ", bare 64-bit loop: " +
                 Ms(unregistration.Base()) + "; median of the pairs' ratios " + Fixed(unregistration.PairedRatio()));
    std::printf("%-28s %6.1f ms  (longest pause between 10 ms timer messages during the window's registration run, "
                "median of %d)\n",
                "run64_longest_message_gap", Median(gaps), kRun64Pairs);

    PrintRow("run64_helper_direct_vs_bare64", direct.Measured() / direct.Base(),
             "the helper called in a loop, no window, no pumping: " + Ms(direct.Measured()) + "; pairs " +
                 Fixed(direct.PairedRatio()) + "; unregistration " + Ms(directUnreg.Measured()) + " (" +
                 Fixed(directUnreg.Measured() / directUnreg.Base()) + ")");
    PrintRow("run64_session_vs_bare64", session.Measured() / session.Base(),
             "the tasks' own calls (RegisterServerFile in a helper session), no window: " + Ms(session.Measured()) +
                 "; pairs " + Fixed(session.PairedRatio()) + "; unregistration " + Ms(sessionUnreg.Measured()) +
                 " (" + Fixed(sessionUnreg.Measured() / sessionUnreg.Base()) + ")");
    PrintRow("run64_window_vs_session", registration.Measured() / session.Measured(),
             "the task window against the same calls without it");

    // Where the time goes, per file (medians of the runs): each way of
    // calling adds one layer to the one before it.
    const double barePer = registration.Base() / kTasks;
    const double directPer = direct.Measured() / kTasks;
    const double sessionPer = session.Measured() / kTasks;
    const double windowPer = registration.Measured() / kTasks;
    std::printf("  per registration: bare 64-bit loop %s (median file %s, slowest %s); the helper called directly "
                "%s (median file %s); the tasks' calls without the window %s; the task window %s\n",
                Ms(barePer).c_str(), Ms(Median(bareEach)).c_str(), Ms(Median(bareSlowest)).c_str(),
                Ms(directPer).c_str(), Ms(Median(directEach)).c_str(), Ms(sessionPer).c_str(), Ms(windowPer).c_str());
    std::printf("  the window's %s more per file: the hand-over and the helper's side of it %s; this "
                "side's own checks, the pumping wait and the helper's start %s (the checks timed alone, looking "
                "for the file and reading its headers: %s; the start, %s once: %s); the window itself %s (the task "
                "list repainted %.0f times, the bar %.0f times)\n",
                Ms(windowPer - barePer).c_str(), Ms(directPer - barePer).c_str(), Ms(sessionPer - directPer).c_str(),
                Ms(Median(localChecks) / kTasks).c_str(), Ms(Median(helperStart)).c_str(),
                Ms(Median(helperStart) / kTasks).c_str(), Ms(windowPer - sessionPer).c_str(), Median(listPaints),
                Median(barPaints));
    std::printf("  each round trip split (the helper's protocol spoken by the benchmark over the same kind of "
                "hand-over): the helper's own time %s (median %s), the rest %s (median %s): the shared section, the "
                "waking up\n",
                Ms(Median(splitOwn)).c_str(), Ms(Median(splitOwnMedian)).c_str(), Ms(Median(splitRest)).c_str(),
                Ms(Median(splitRestMedian)).c_str());
    std::printf("  the helper called directly, per file: 90th percentile %s, 99th %s, %.0f of 1,000 files over "
                "5 ms\n",
                Ms(Median(directP90)).c_str(), Ms(Median(directP99)).c_str(), Median(directSlow));

    // The registry and the disk as they were.
    DeleteServerKey64();
    for (const std::string& file : files) DeleteFileA(file.c_str());
    RemoveDirectoryA(servers.c_str());

    for (const std::string& problem : problems) std::printf("  warning: %s\n", problem.c_str());
    std::fflush(stdout);
    return problems.empty();
}

// ---------------------------------------------------------------------------
// 4. Saving

void BenchSave(const std::string& folder, const std::vector<std::string>& small,
               const std::vector<std::string>& large) {
    const std::string smallBytes = FormatBatchText(small);
    const std::string largeBytes = FormatBatchText(large);
    const std::string smallFile = folder + "save10k.kvx";
    const std::string largeFile = folder + "save100k.kvx";
    double smallMs = MedianMs(7, nullptr, [&] { WriteBatchFile(smallFile, smallBytes, false); });
    double largeMs = MedianMs(7, nullptr, [&] { WriteBatchFile(largeFile, largeBytes, false); });
    if (ReadWholeFile(largeFile) != largeBytes) throw std::runtime_error("the saved 100k file differs");
    PrintRow("save_100k_vs_10k", largeMs / smallMs,
             "100k: " + Ms(largeMs) + " (" + std::to_string(largeBytes.size() / 1024) + " KiB), 10k: " + Ms(smallMs));
    DeleteFileA(smallFile.c_str());
    DeleteFileA(largeFile.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    HRESULT com = CoInitialize(nullptr);
    ui::Application.Initialize();
    ui::Application.Title = qv::LoadStr(IDS_APP_TITLE);

    if (argc == 4 && std::string(argv[1]) == "--task-run") {
        const std::string mode = argv[2];
        int code = mode == "window64" || mode == "helper64" ? TaskRun64Child(mode, argv[3])
                                                            : TaskRunChild(mode, argv[3]);
        if (SUCCEEDED(com)) CoUninitialize();
        return code;
    }

    int status = 0;
    const std::string folder = MakeTempFolder();
    double start = NowMs();
    std::printf("Corvantis benchmark: medians of repeated runs, ratios against a baseline of the same run\n");
    const bool only64 = argc == 2 && std::string(argv[1]) == "run64";
    try {
        std::vector<std::string> small, large;
        if (!only64) {
            BenchLoad(folder, &small, &large);
            BenchAdd(small, large);
            if (!BenchTaskRun(folder)) status = 1;
        }
        if (!BenchTaskRun64(folder)) status = 1;
        if (!only64) BenchSave(folder, small, large);
    } catch (const std::exception& e) {
        std::printf("benchmark failed: %s\n", e.what());
        status = 2;
    }
    RemoveDirectoryA(folder.c_str());
    std::printf("total benchmark time: %.1f s\n", (NowMs() - start) / 1000.0);
    if (SUCCEEDED(com)) CoUninitialize();
    return status;
}
