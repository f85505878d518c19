// Benchmark of the main window with a batch of 100,000 entries: selecting a
// row, the four moves, a drag from the first row to the last, removing a row,
// clearing the list, and the idle update of every command's state. Each
// figure is the median of several repetitions of the operation followed by
// the list's repaint (the program's own time for what the user asked), and
// is printed beside the same operation on a batch of 100 entries, whose
// ratio shows how the cost grows with the batch. Selecting and the moves
// take another row in every repetition, and each repetition has to scroll
// the list to show its row; a repetition that left the selection or the
// view where it was is counted and fails the run, since its time would be
// that of the cheaper path.
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
    int TopRow() const { return ListView_GetTopIndex(main->lvFiles->Handle()); }
    void Repaint() {
        UpdateWindow(main->Handle());
        RedrawWindow(main->Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        Pump();
    }
    // Runs the operation, then lets the window repaint; milliseconds. Both
    // functions are given the repetition's number. With `fullWork`, a
    // repetition that left the selected row or the top row in view where it
    // was is counted in Skipped.
    double Time(const std::function<void(int)>& prepare, const std::function<void(int)>& operation,
                int repeats = kRepeats, bool fullWork = false) {
        std::vector<double> times;
        for (int i = 0; i < repeats; ++i) {
            if (prepare) prepare(i);
            Pump();
            Repaint();
            const int top = TopRow(), selected = main->lvFiles->Selected();
            double start = NowMs();
            operation(i);
            Repaint();
            times.push_back(NowMs() - start);
            if (fullWork && (TopRow() == top || main->lvFiles->Selected() == selected)) ++Skipped;
        }
        return Median(times);
    }
    // The row of repetition i: a different one each time, all more than a
    // page away from both ends of the list.
    int FarRow(int i) const {
        const int page = ListView_GetCountPerPage(main->lvFiles->Handle());
        const int low = page + 1, high = Rows() - 2 - page;
        return low + (high - low) * i / (kRepeats - 1);
    }
    // Selects the row and scrolls to it from below, so that it is the top row
    // in view, or from above, so that it is the bottom one.
    void SelectAtTop(int row) {
        main->lvFiles->EnsureVisible(Rows() - 1);
        main->lvFiles->Select(row);
        main->lvFiles->EnsureVisible(row);
    }
    void SelectAtBottom(int row) {
        main->lvFiles->EnsureVisible(0);
        main->lvFiles->Select(row);
        main->lvFiles->EnsureVisible(row);
    }
    POINT RowPoint(int row) {
        main->lvFiles->EnsureVisible(row);
        RECT r{};
        ListView_GetItemRect(main->lvFiles->Handle(), row, &r, LVIR_BOUNDS);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    static constexpr int kRepeats = 7;
    std::unique_ptr<TZEPHMain> main;
    int Skipped = 0;
};

struct TFigures {
    double select, first, up, down, last, drag, remove, clear, idleUs;
    int skipped;
};

TFigures Measure(int count) {
    TBench bench(count);
    TFigures f{};
    TZEPHMain& m = *bench.main;
    int middle = count / 2;
    // Selecting: the list shows its top, the row lies pages below it.
    f.select = bench.Time([&](int) { m.lvFiles->EnsureVisible(0); },
                          [&](int i) {
                              const int row = bench.FarRow(i);
                              m.lvFiles->Select(row);
                              m.lvFiles->EnsureVisible(row);
                              m.alMain.Update();
                          },
                          TBench::kRepeats, true);
    // Each move starts from a row in view at the edge it moves across, so
    // that its destination has to be scrolled into view.
    f.first = bench.Time([&](int i) { bench.SelectAtTop(bench.FarRow(i)); },
                         [&](int) { m.actEditMoveFirst->Execute(); }, TBench::kRepeats, true);
    f.up = bench.Time([&](int i) { bench.SelectAtTop(bench.FarRow(i)); },
                      [&](int) { m.actEditMoveUp->Execute(); }, TBench::kRepeats, true);
    f.down = bench.Time([&](int i) { bench.SelectAtBottom(bench.FarRow(i)); },
                        [&](int) { m.actEditMoveDown->Execute(); }, TBench::kRepeats, true);
    f.last = bench.Time([&](int i) { bench.SelectAtBottom(bench.FarRow(i)); },
                        [&](int) { m.actEditMoveLast->Execute(); }, TBench::kRepeats, true);
    f.skipped = bench.Skipped;
    auto selectMiddle = [&](int) { m.lvFiles->Select(middle); };
    POINT lastRow{};
    f.drag = bench.Time(
        [&](int) {
            m.lvFiles->Select(0);
            lastRow = bench.RowPoint(bench.Rows() - 1);
        },
        [&](int) { m.lvFilesDragDrop(lastRow); });
    f.remove = bench.Time(selectMiddle, [&](int) { m.Batch().RemoveEntry(middle); });
    f.clear = bench.Time([&](int) { bench.Fill(count); },
                         [&](int) {
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
    // A repetition that kept its row or did not scroll measured the cheaper
    // path.
    const int skipped = small.skipped + large.skipped;
    std::printf("  every repetition of select and the moves took another row and scrolled: %s\n",
                skipped == 0 ? "yes" : ("NO (" + std::to_string(skipped) + " did not)").c_str());
    if (skipped != 0) ok = false;
    CoUninitialize();
    return ok ? 0 : 1;
}
