// Benchmark of the main window with a batch of 100,000 entries: selecting a
// row, the four moves, a drag from the first row to the last, removing a row,
// clearing the list, and the idle update of every command's state. Each
// figure is the median of several repetitions of the operation followed by
// the list's repaint (the program's own time for what the user asked), and
// is printed beside the same operation on a batch of 100 entries, whose
// ratio shows how the cost grows with the batch.
// Run by bench/run.sh.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "common/QVApp.h"
#include "common/QVStrings.h"
#include "mainwin/frmMain.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

using bench::Median;
using bench::NowMs;

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ui::Application.HandleMessage(msg);
}

// A main window showing an untitled batch of `count` entries (the files need
// not exist: they are assigned as a loaded batch would be).
class TBench {
public:
    explicit TBench(int count) {
        AppInfo = std::make_unique<TQVApplication>();
        AppInfo->Title = "Quorvandel Corvantis";
        AppInfo->RegistryKey = "Software\\CorvantisBench\\MainWindow";
        Options = std::make_unique<TZEPHOptions>();
        Options->SaveWindow = false;
        Options->ShowTips = false;
        main = std::make_unique<TZEPHMain>();
        main->Show();
        Pump();
        Fill(count);
    }
    ~TBench() {
        main->Batch().SetModified(false);
        main.reset();
    }
    void Fill(int count) {
        std::string text = "; Quorvandel Corvantis File\r\n";
        for (int i = 0; i < count; ++i) text += "C:\\Servers\\Folder" + std::to_string(i % 97) + "\\Server" +
                                                std::to_string(i) + ".dll\r\n";
        std::string path = "C:\\users\\Public\\bench-mainwin.kvx";
        WriteBatchFile(path, text, false);
        main->Batch().SetModified(false);
        main->Batch().OpenBatch(path);
        Pump();
    }
    int Rows() const { return static_cast<int>(main->Batch().Model().Count()); }
    // Runs the operation, then lets the window repaint; milliseconds.
    double Time(const std::function<void()>& prepare, const std::function<void()>& operation, int repeats = 7) {
        std::vector<double> times;
        for (int i = 0; i < repeats; ++i) {
            if (prepare) prepare();
            Pump();
            double start = NowMs();
            operation();
            UpdateWindow(main->Handle());
            RedrawWindow(main->Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            Pump();
            times.push_back(NowMs() - start);
        }
        return Median(times);
    }
    POINT RowPoint(int row) {
        main->lvFiles->EnsureVisible(row);
        RECT r{};
        ListView_GetItemRect(main->lvFiles->Handle(), row, &r, LVIR_BOUNDS);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    std::unique_ptr<TZEPHMain> main;
};

struct TFigures {
    double select, first, up, down, last, drag, remove, clear, idleUs;
};

TFigures Measure(int count) {
    TBench bench(count);
    TFigures f{};
    TZEPHMain& m = *bench.main;
    int middle = count / 2;
    f.select = bench.Time(nullptr, [&] {
        m.lvFiles->Select(middle);
        m.lvFiles->EnsureVisible(middle);
        m.alMain.Update();
    });
    auto selectMiddle = [&] { m.lvFiles->Select(middle); };
    f.first = bench.Time(selectMiddle, [&] { m.actEditMoveFirst->Execute(); });
    f.up = bench.Time(selectMiddle, [&] { m.actEditMoveUp->Execute(); });
    f.down = bench.Time(selectMiddle, [&] { m.actEditMoveDown->Execute(); });
    f.last = bench.Time(selectMiddle, [&] { m.actEditMoveLast->Execute(); });
    POINT lastRow{};
    f.drag = bench.Time(
        [&] {
            m.lvFiles->Select(0);
            lastRow = bench.RowPoint(bench.Rows() - 1);
        },
        [&] { m.lvFilesDragDrop(lastRow); });
    f.remove = bench.Time(selectMiddle, [&] { m.Batch().RemoveEntry(middle); });
    f.clear = bench.Time([&] { bench.Fill(count); },
                         [&] {
                             m.Batch().ResetList(false);
                             m.Batch().SetModified(true);
                         },
                         3);
    bench.Fill(count);
    m.lvFiles->Select(middle);
    const int updates = 20000;
    double start = NowMs();
    for (int i = 0; i < updates; ++i) m.alMain.Update();
    f.idleUs = (NowMs() - start) * 1000.0 / updates;
    return f;
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    ui::Application.Initialize();
    ui::Application.Title = qv::LoadStr(IDS_APP_TITLE);

    TFigures small = Measure(100);
    TFigures large = Measure(100000);
    struct Row {
        const char* name;
        double TFigures::*field;
        const char* unit;
    };
    const Row rows[] = {{"select a row", &TFigures::select, "ms"},   {"move first", &TFigures::first, "ms"},
                        {"move up", &TFigures::up, "ms"},            {"move down", &TFigures::down, "ms"},
                        {"move last", &TFigures::last, "ms"},        {"drag first to last", &TFigures::drag, "ms"},
                        {"remove a row", &TFigures::remove, "ms"},   {"clear all", &TFigures::clear, "ms"},
                        {"idle update", &TFigures::idleUs, "us"}};
    std::printf("Main window with 100,000 entries (median, operation and repaint; ratio against 100 entries)\n");
    bool ok = true;
    for (const Row& row : rows) {
        double big = large.*(row.field), little = small.*(row.field);
        std::printf("  %-20s %9.2f %s   (100 entries: %7.2f %s, ratio %6.1f)\n", row.name, big, row.unit, little,
                    row.unit, little > 0 ? big / little : 0.0);
        if (row.unit[0] == 'm' && big >= 100.0) ok = false;
    }
    std::printf("  every operation under 100 ms: %s\n", ok ? "yes" : "NO");
    CoUninitialize();
    return ok ? 0 : 1;
}
