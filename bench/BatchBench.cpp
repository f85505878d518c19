// Benchmark of the batch and of the task window. Every figure is the median
// of several repetitions, timed with QueryPerformanceCounter, and printed as
// a ratio against a baseline measured in the same run, so that the numbers
// compare across machines and emulators:
//   load   reading, decoding, parsing and showing a batch of 100,000 lines
//          against one of 10,000 (linear cost gives about 10; showing a
//          virtual list costs the same for any length);
//   add    adding 10,000 new paths to a batch of 100,000 against adding them
//          to a batch of 10,000 (constant cost per add gives about 1);
//   run32  Register All over 1,000 32-bit test servers in the task window
//          (through Corvantis32.exe) against the bare in-process loop, and
//          where the difference goes (TaskRunBench.cpp);
//   run64  the same over 1,000 64-bit servers (through Corvantis64.exe)
//          against bench_loop64.exe;
//   save   writing a batch file of 100,000 lines against one of 10,000.
// Run by bench/run.sh. "bench_batch.exe run32", "run64" or "batch" (load,
// add and save) runs that part alone. The program started with
// "--task-run <mode> <folder>" makes one task-run measurement.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "TaskRunBench.h"
#include "common/QVStrings.h"
#include "mainwin/uBatch.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Form.h"
#include "ui/ListView.h"

namespace {

// ---------------------------------------------------------------------------
// Timing

using bench::Median;
using bench::NowMs;

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

using bench::Ms;

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
        // Decoding as the program reads a batch file: the text is checked to
        // be UTF-8 before it is parsed.
        if (!ParseBatchText(DecodeBatchText(std::move(bytes), SystemLegacyCodePage()), &paths)) {
            throw std::runtime_error("not a batch file: " + file);
        }
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
        std::printf("  %s phases of one load: read %s, decode and parse %s, assign %s, show %s\n", label,
                    Ms(phase[0]).c_str(), Ms(phase[1]).c_str(), Ms(phase[2]).c_str(), Ms(phase[3]).c_str());
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
// 4. Saving

void BenchSave(const std::string& folder, const std::vector<std::string>& small,
               const std::vector<std::string>& large) {
    const std::string smallBytes = EncodeBatchText(small, SystemLegacyCodePage());
    const std::string largeBytes = EncodeBatchText(large, SystemLegacyCodePage());
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
        int code = taskbench::TaskRunChild(argv[2], argv[3]);
        if (SUCCEEDED(com)) CoUninitialize();
        return code;
    }

    const std::string only = argc == 2 ? argv[1] : "";
    if (!only.empty() && only != "run32" && only != "run64" && only != "batch") {
        std::printf("usage: bench_batch.exe [run32|run64|batch]\n");
        return 2;
    }
    int status = 0;
    const std::string folder = MakeTempFolder();
    double start = NowMs();
    std::printf("Corvantis benchmark: medians of repeated runs, ratios against a baseline of the same run\n");
    try {
        std::vector<std::string> small, large;
        if (only.empty() || only == "batch") {
            BenchLoad(folder, &small, &large);
            BenchAdd(small, large);
        }
        if ((only.empty() || only == "run32") && !taskbench::BenchTaskRun(false, folder)) status = 1;
        if ((only.empty() || only == "run64") && !taskbench::BenchTaskRun(true, folder)) status = 1;
        if (only.empty() || only == "batch") BenchSave(folder, small, large);
    } catch (const std::exception& e) {
        std::printf("benchmark failed: %s\n", e.what());
        status = 2;
    }
    RemoveDirectoryA(folder.c_str());
    std::printf("total benchmark time: %.1f s\n", (NowMs() - start) / 1000.0);
    if (SUCCEEDED(com)) CoUninitialize();
    return status;
}
