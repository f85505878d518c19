// Benchmark of the batch and of the task window. Every figure is the median
// of several repetitions, timed with QueryPerformanceCounter, and printed as
// a ratio against a baseline measured in the same run, so that the numbers
// compare across machines and emulators:
//   load   reading, parsing and showing a batch of 100,000 lines against one
//          of 10,000 (linear cost gives about 10; showing a virtual list
//          costs the same for any length);
//   add    adding 10,000 new paths to a batch of 100,000 against adding them
//          to a batch of 10,000 (constant cost per add gives about 1);
//   run    1,000 unregistrations of the test server OkServer.dll through the
//          task window against the same calls in a bare loop (the window's
//          overhead), the longest pause of the message loop during the
//          window's run, and the window's own cost per task;
//   save   writing a batch file of 100,000 lines against one of 10,000.
// Run by bench/run.sh. The program started with "--task-run window|bare"
// makes one task-run measurement and prints it as a RESULT line.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "common/QVExceptions.h"
#include "common/QVStrings.h"
#include "engine/frmLog.h"
#include "engine/uRegistry.h"
#include "mainwin/uBatch.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/ListView.h"

namespace {

// ---------------------------------------------------------------------------
// Timing

double g_ticksPerMs = 0;

double NowMs() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / g_ticksPerMs;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0) return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

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
// 3. Task run
//
// Each measurement runs in a child process of its own (this program started
// with "--task-run window" or "--task-run bare"): every load of the test
// server takes a thread-local storage slot that its unload never gives back,
// so one process can load it only about a thousand times.

// A hidden window whose 10 ms timer measures the gaps between the timer
// messages the thread processes, and which clicks the task window's Close
// button once the run has ended.
struct TTicker {
    HWND window = nullptr;
    double last = 0;
    double maxGap = 0;
    bool counting = false;
    TLogFrm* log = nullptr;
    double closeEnabledAt = 0;  // when the run enabled the Close button
    double startedAt = 0;
};
TTicker g_ticker;
constexpr UINT WM_BENCH_CLOSE = WM_APP + 40;
constexpr UINT_PTR kTickTimer = 1;

LRESULT CALLBACK TickerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER && wParam == kTickTimer) {
        double now = NowMs();
        if (g_ticker.counting && g_ticker.last > 0) g_ticker.maxGap = std::max(g_ticker.maxGap, now - g_ticker.last);
        g_ticker.last = now;
        // A run that never started (no activation) or hangs ends after 60 s.
        if (g_ticker.log && g_ticker.closeEnabledAt == 0 && now - g_ticker.startedAt > 60000) {
            PostMessageA(g_ticker.log->Handle(), WM_CLOSE, 0, 0);
        }
        return 0;
    }
    if (msg == WM_BENCH_CLOSE) {
        if (g_ticker.log) g_ticker.log->cmdClose->Click();
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Sees the Close button become enabled, which the task window does right
// after its run, and has it clicked once the run has returned.
LRESULT CALLBACK CloseButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (msg == WM_ENABLE && wParam && g_ticker.closeEnabledAt == 0) {
        g_ticker.closeEnabledAt = NowMs();
        PostMessageA(g_ticker.window, WM_BENCH_CLOSE, 0, 0);
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void CreateTicker() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TickerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "CorvantisBenchTicker";
    RegisterClassA(&wc);
    g_ticker.window = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      wc.hInstance, nullptr);
    SetTimer(g_ticker.window, kTickTimer, 10, nullptr);
}

struct TRunFigures {
    double totalMs = 0;   // window: from constructing it to the end of its run; bare: the whole loop
    double tasksMs = 0;   // window: from the first task's start to the last task's end
    double maxGapMs = 0;  // window: longest pause between two timer messages during the tasks
    double insideMs = 0;  // window: time spent inside the registration calls themselves
    int failures = 0;
    std::string problem;
};

using TPerform = std::function<void(const std::string&, bool)>;

// The task window unregistering `files` with `perform` (the real
// registration when empty), shown modally and closed by the ticker when its
// run has ended. `after`, when given, runs once the window has closed,
// while it still exists.
TRunFigures RunInWindow(const std::vector<std::string>& files, TPerform perform = nullptr,
                        const std::function<void(TLogFrm&)>& after = nullptr) {
    if (!perform) perform = [](const std::string& path, bool register_) { engine::RegisterServerFile(path, register_); };
    TRunFigures result;
    double firstStart = 0, lastEnd = 0, inside = 0;
    g_ticker.closeEnabledAt = 0;
    g_ticker.maxGap = 0;
    g_ticker.counting = false;
    g_ticker.startedAt = NowMs();
    TLogFrm log(files, false, false, TStopRules{stopNever, 5});
    log.CenterOnScreen();
    log.Perform = [&](const std::string& path, bool register_) {
        double now = NowMs();
        if (firstStart == 0) {
            firstStart = now;
            g_ticker.counting = true;
            g_ticker.last = now;  // the first gap starts with the first task
        }
        struct TEnd {
            double& at;
            double& inside;
            double start;
            ~TEnd() {
                at = NowMs();
                inside += at - start;
            }
        } end{lastEnd, inside, now};
        perform(path, register_);
    };
    SetWindowSubclass(log.cmdClose->Handle(), CloseButtonProc, 1, 0);
    g_ticker.log = &log;
    log.ShowModal();
    g_ticker.counting = false;
    g_ticker.log = nullptr;
    RemoveWindowSubclass(log.cmdClose->Handle(), CloseButtonProc, 1);

    const TTaskRun& run = log.Run();
    if (!run.Finished() || g_ticker.closeEnabledAt == 0) {
        result.problem = "the run did not finish";
    } else if (run.ErrorCount() != 0) {
        result.failures = run.ErrorCount();
        result.problem = "first error: " + run.Errors().front().Text;
    } else if (run.Progress() != static_cast<int>(files.size())) {
        result.problem = "progress " + std::to_string(run.Progress()) + " of " + std::to_string(files.size());
    }
    result.totalMs = g_ticker.closeEnabledAt - g_ticker.startedAt;
    result.tasksMs = lastEnd - firstStart;
    result.maxGapMs = g_ticker.maxGap;
    result.insideMs = inside;
    if (after) after(log);
    return result;
}

TRunFigures RunBareLoop(const std::string& path, int count) {
    TRunFigures result;
    double start = NowMs();
    for (int i = 0; i < count; ++i) {
        try {
            engine::RegisterServerFile(path, false);
        } catch (const EQVException& outcome) {
            if (outcome.Kind != qekSuccess && result.failures++ == 0) result.problem = outcome.what();
        }
    }
    result.totalMs = result.tasksMs = NowMs() - start;
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

constexpr int kTasks = 1000;

// The child's part: one measurement, printed as a RESULT line.
int TaskRunChild(const std::string& mode) {
    const std::string server = ServerPathOnDisk();
    // Warm-up outside the measurement: the server's first loads, and for the
    // window its classes, fonts and image list.
    RunBareLoop(server, 10);
    TRunFigures figures;
    if (mode == "window") {
        CreateTicker();
        RunInWindow(std::vector<std::string>(5, server));
        figures = RunInWindow(std::vector<std::string>(kTasks, server));
    } else {
        figures = RunBareLoop(server, kTasks);
    }
    std::printf("RESULT %.3f %.3f %.3f %.3f %d %s\n", figures.totalMs, figures.tasksMs, figures.maxGapMs,
                figures.insideMs, figures.failures, figures.problem.c_str());
    std::fflush(stdout);
    return 0;
}

// Runs this program with the arguments and returns what it printed.
std::string RunChild(const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                             nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    const std::string exe = ExePath();
    std::string commandLine = "\"" + exe + "\" " + arguments;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process);
    CloseHandle(writeEnd);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) {
        CloseHandle(readEnd);
        throw std::runtime_error("cannot start " + exe);
    }
    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return output;
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
    if (std::sscanf(line.c_str(), "%lf %lf %lf %lf %d %n", &figures.totalMs, &figures.tasksMs, &figures.maxGapMs,
                    &figures.insideMs, &figures.failures, &consumed) < 5) {
        figures.problem = "unreadable result: " + line;
        return figures;
    }
    figures.problem = line.substr(static_cast<size_t>(consumed));
    return figures;
}

bool BenchTaskRun() {
    const std::string server = ServerPathOnDisk();
    if (GetFileAttributesA(server.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::printf("%-28s skipped: %s is missing (build the target test_servers)\n", "run_window_vs_bare",
                    server.c_str());
        return false;
    }
    std::vector<double> bare, window, tasks, gaps, inside;
    std::vector<std::string> problems;
    for (int i = 0; i < 3; ++i) {
        for (const char* mode : {"bare", "window"}) {
            TRunFigures figures = ParseResult(RunChild(std::string("--task-run ") + mode));
            if (!figures.problem.empty() || figures.failures) {
                problems.push_back(std::string(mode) + ": " + std::to_string(figures.failures) + " failure(s) " +
                                   figures.problem);
            }
            if (mode[0] == 'b') {
                bare.push_back(figures.totalMs);
            } else {
                window.push_back(figures.totalMs);
                tasks.push_back(figures.tasksMs);
                gaps.push_back(figures.maxGapMs);
                inside.push_back(figures.insideMs);
            }
        }
    }
    double bareMs = Median(bare);
    double windowMs = Median(window);
    PrintRow("run_window_vs_bare", windowMs / bareMs,
             "1,000 unregistrations; window: " + Ms(windowMs) + ", bare loop: " + Ms(bareMs));
    std::printf("  window: first task to last %s, of which inside the registration calls %s\n",
                Ms(Median(tasks)).c_str(), Ms(Median(inside)).c_str());
    std::printf("%-28s %6.1f ms  (longest pause between 10 ms timer messages during the window's run; "
                "median of 3 runs, each: %.1f / %.1f / %.1f ms)\n",
                "run_longest_message_gap", Median(gaps), gaps[0], gaps[1], gaps[2]);

    // The window's own cost per task, without any registration: a shorter
    // run of tasks that succeed at once, then the window's per-task steps
    // (as its run hooks do them) timed one by one on the same window.
    const int kQuickTasks = 200;
    CreateTicker();
    TPerform succeedAtOnce = [](const std::string& path, bool) {
        throw EQVException("Done " + path, "", qekSuccess);
    };
    // Message processing before the task, scrolling to its row, repainting
    // the row, the progress step, message processing after the task.
    double steps[5] = {};
    auto timeSteps = [&steps, kQuickTasks](TLogFrm& log) {
        ShowWindow(log.Handle(), SW_SHOWNOACTIVATE);
        log.lvTasks->EnsureVisible(0);
        SendMessageA(log.pBar->Handle(), PBM_SETPOS, 0, 0);
        UpdateWindow(log.Handle());
        ui::Application.ProcessMessages();
        for (int row = 0; row < kQuickTasks; ++row) {
            double t0 = NowMs();
            ui::Application.ProcessMessages();
            double t1 = NowMs();
            log.lvTasks->EnsureVisible(row);
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
    };
    TRunFigures quick = RunInWindow(std::vector<std::string>(kQuickTasks, server), succeedAtOnce, timeSteps);
    if (!quick.problem.empty()) problems.push_back("window without registration: " + quick.problem);
    KillTimer(g_ticker.window, kTickTimer);
    DestroyWindow(g_ticker.window);
    double perTask = quick.totalMs / kQuickTasks;
    double barePerTask = bareMs / kTasks;
    PrintRow("run_ui_per_task_vs_reg", perTask / barePerTask,
             "window run of " + std::to_string(kQuickTasks) + " tasks that succeed at once: " + Ms(perTask) +
                 " per task; one bare registration: " + Ms(barePerTask));
    std::printf("  per task, step by step: messages before %s, scroll to row %s, repaint row %s, progress step %s, "
                "messages after %s\n",
                Ms(steps[0] / kQuickTasks).c_str(), Ms(steps[1] / kQuickTasks).c_str(),
                Ms(steps[2] / kQuickTasks).c_str(), Ms(steps[3] / kQuickTasks).c_str(),
                Ms(steps[4] / kQuickTasks).c_str());

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
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerMs = static_cast<double>(frequency.QuadPart) / 1000.0;

    HRESULT com = CoInitialize(nullptr);
    ui::Application.Initialize();
    ui::Application.Title = qv::LoadStr(IDS_APP_TITLE);

    if (argc == 3 && std::string(argv[1]) == "--task-run") {
        int code = TaskRunChild(argv[2]);
        if (SUCCEEDED(com)) CoUninitialize();
        return code;
    }

    int status = 0;
    const std::string folder = MakeTempFolder();
    double start = NowMs();
    std::printf("Corvantis benchmark: medians of repeated runs, ratios against a baseline of the same run\n");
    try {
        std::vector<std::string> small, large;
        BenchLoad(folder, &small, &large);
        BenchAdd(small, large);
        if (!BenchTaskRun()) status = 1;
        BenchSave(folder, small, large);
    } catch (const std::exception& e) {
        std::printf("benchmark failed: %s\n", e.what());
        status = 2;
    }
    RemoveDirectoryA(folder.c_str());
    std::printf("total benchmark time: %.1f s\n", (NowMs() - start) / 1000.0);
    if (SUCCEEDED(com)) CoUninitialize();
    return status;
}
