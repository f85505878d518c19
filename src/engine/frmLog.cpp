#include "engine/frmLog.h"

#include <algorithm>

#include "common/QVExceptions.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uHelper.h"
#include "engine/uRegistry.h"
#include "engine/uVerify.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

constexpr UINT WM_RUN_TASKS = WM_APP + 1;
constexpr int kExpandedHeight = 314;
constexpr int kCollapsedHeight = 107;
// The controls show the run's progress at most once per refresh of a 60 Hz
// screen, and spend at most a twenty-fourth of the run doing it: a frame
// that took longer than about 0.7 ms (scrolling a page of the list repaints
// all of it) puts the next one off to 24 times its cost after its start. A
// fast display keeps the screen's rate; a slow one shows fewer frames (still
// five a second when a frame costs 8 ms) rather than a slower run.
constexpr double kFrameMs = 16;
constexpr double kShowShare = 24;
// A task that has run this long is waiting for its server, in the helper or
// its own process: frames then cost the run nothing, and the window shows
// the tasks before it at the screen's rate, however slow the last frame was.
constexpr double kWaitingMs = 100;
// How often, at most, the run looks whether messages wait: a click is
// handled within 4 ms or one task, whichever is longer, well below anything
// a user notices.
constexpr double kLookMs = 4;
// Stop pressed while a server has worked this long ends it at once; a
// shorter task is let finish.
constexpr double kStopAtOnceMs = 2000;

using qv::NowMs;

}  // namespace

TLogFrm::TLogFrm(const std::vector<std::string>& files, bool register_, bool unregisterBefore,
                 const TStopRules& rules)
    : run_(files, register_, unregisterBefore), rules_(rules) {
    Perform = [](const std::string& path, bool reg) { engine::RegisterServerFile(path, reg); };
    CreateControls();
}

TLogFrm::TLogFrm(const std::vector<std::string>& files, TTaskVerb verb)
    : run_(files, verb), rules_(TStopRules{stopNever, 0}) {
    CreateControls();
}

void TLogFrm::CreateControls() {
    CreateForm("Task Progress...", WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME);
    SetClientSize(465, 287);
    KeyPreview = true;
    imlIcons.LoadStrip(ui::Application.Instance(), IDB_TASKICONS);

    imgIcon = Add<ui::TImage>(ui::TBounds{16, 8, 32, 32});
    imgIcon->SetIcon(static_cast<HICON>(LoadImageA(ui::Application.Instance(), MAKEINTRESOURCEA(IDI_TASKGEARS),
                                                   IMAGE_ICON, Scale(32), Scale(32), LR_SHARED)));
    // Three lines high, so that the longest description is never cut.
    lblDescription = Add<ui::TLabel>(qv::LoadStr(IDS_RUN_PERFORMING), ui::TBounds{56, 8, 305, 41});
    pBar = Add<ui::TProgressBar>(ui::TBounds{16, 52, 353, 16});
    cmdClose = Add<ui::TButton>("&Close", ui::TBounds{376, 8, 75, 25});
    cmdClose->OnClick = [this] { cmdCloseClick(); };
    cmdDetails = Add<ui::TButton>("<< &Details", ui::TBounds{376, 44, 75, 25});
    cmdDetails->OnClick = [this] { cmdDetailsClick(); };
    Add<ui::TBevel>(ui::TBounds{16, 82, 435, 2});

    pcTasks = Add<ui::TTabControl>(ui::TBounds{16, 96, 433, 177});
    int tsTasks = pcTasks->AddPage("    Tasks    ");
    int tsErrors = pcTasks->AddPage("    Errors    ");
    ui::TBounds page = pcTasks->PageBounds();

    lvTasks = Add<ui::TListView>(page);
    lvTasks->AddColumn("Task", 300);
    lvTasks->AddColumn("Status", 100);
    lvTasks->SetSmallImages(imlIcons.Handle());
    lvTasks->OnGetText = [this](int row, int column) {
        return column == 0 ? run_.Caption(row) : run_.StatusText(row);
    };
    lvTasks->OnGetImage = [this](int row) { return run_.Rows()[static_cast<size_t>(row)].Image; };
    if (run_.Verb() == TTaskVerb::Verify) {
        // A verification's states are longer than "Completed": the Status
        // column takes the longest whole, the Task column the rest.
        int status = 0;
        for (int state = 0; state <= static_cast<int>(engine::TVerifyState::NotVerified); ++state) {
            const char* text = engine::VerifyStateText(static_cast<engine::TVerifyState>(state));
            status = std::max(status, static_cast<int>(SendMessageA(lvTasks->Handle(), LVM_GETSTRINGWIDTHA, 0,
                                                                    reinterpret_cast<LPARAM>(text))));
        }
        // The cell's margins, as the list view leaves them on both sides.
        status += Scale(14);
        const int total = lvTasks->ColumnWidth(0) + lvTasks->ColumnWidth(1);
        ListView_SetColumnWidth(lvTasks->Handle(), 1, status);
        ListView_SetColumnWidth(lvTasks->Handle(), 0, std::max(Scale(120), total - status));
    }
    lvTasks->SetItemCount(run_.ProgressMax());
    pcTasks->AddToPage(tsTasks, lvTasks);

    lvErrors = Add<ui::TListView>(page, LVS_NOCOLUMNHEADER);
    lvErrors->AddColumn("Error", 400);
    lvErrors->SetSmallImages(imlIcons.Handle());
    lvErrors->OnGetText = [this](int row, int) { return run_.Errors()[static_cast<size_t>(row)].Text; };
    lvErrors->OnGetImage = [this](int row) { return run_.Errors()[static_cast<size_t>(row)].Image; };
    lvErrors->OnContextMenu = [this](POINT at) { popErrors.Popup(Handle(), lvErrors->ContextMenuPoint(at)); };
    pcTasks->AddToPage(tsErrors, lvErrors);
    // A task or error line longer than its column shows whole in a tip.
    lvTasks->EnableTextTips();
    lvErrors->EnableTextTips();

    popErrorsCopy = popErrors.Add("Copy", "Ctrl+C", [this] { popErrorsCopyClick(); });
    popErrors.AddSeparator();
    popErrorsSaveToFile = popErrors.Add("Save to File...", "", [this] { popErrorsSaveToFileClick(); });
    popErrors.OnPopup = [this] { popErrorsPopup(); };

    SaveDlg.Title = "Save Errors As...";
    SaveDlg.Filter = "Log Files (*.log)|*.log|All Files (*.*)|*.*";
    SaveDlg.DefaultExt = "log";
    SaveDlg.Options = OFN_OVERWRITEPROMPT;

    pBar->SetMax(run_.ProgressMax());
    tmrFrame.OnTimer = [this] {
        double wait = FrameDueMs() - NowMs();
        if (wait < 1) {
            ShowFrame();
        } else {
            tmrFrame.SetInterval(static_cast<unsigned>(wait));
        }
    };
    cmdClose->SetEnabled(false);
    pcTasks->SetActivePage(tsTasks);
    SetActiveControl(lvTasks);
}

void TLogFrm::cmdCloseClick() {
    if (!running_) {
        SetModalResult(ui::mrOk);
        return;
    }
    // Stop: no further task starts; a server that has been at work for a
    // while is ended now, and its task fails as stopped by the user.
    stopRequested_ = true;
    if (taskStartedMs_ > 0 && NowMs() - taskStartedMs_ > kStopAtOnceMs && abortEvent_) SetEvent(abortEvent_.get());
}

void TLogFrm::cmdDetailsClick() {
    bool collapse = cmdDetails->Tag == 0;
    cmdDetails->Tag = collapse ? 1 : 0;
    cmdDetails->SetText(collapse ? "&Details >>" : "<< &Details");
    SetOuterHeight(collapse ? kCollapsedHeight : kExpandedHeight);
}

void TLogFrm::popErrorsPopup() {
    popErrors.Item(popErrorsCopy).Enabled = lvErrors->Selected() >= 0;
    popErrors.Item(popErrorsSaveToFile).Enabled = !run_.Errors().empty();
}

void TLogFrm::popErrorsCopyClick() {
    int row = lvErrors->Selected();
    if (row < 0 || row >= static_cast<int>(run_.Errors().size())) return;
    ui::SetClipboardText(Handle(), run_.Errors()[static_cast<size_t>(row)].Text);
}

void TLogFrm::popErrorsSaveToFileClick() {
    if (!ui::ExecuteSaveDialog(Handle(), SaveDlg)) return;
    std::string text;
    for (const TErrorRow& error : run_.Errors()) text += error.Text + "\r\n";
    DWORD error = qv::WriteFileReplacing(SaveDlg.FileName, text);
    if (error != ERROR_SUCCESS) throw EQVException(qv::LoadStr(IDS_LOG_SAVE_FAILED), qv::SystemErrorText(error), qekError);
}

void TLogFrm::FormActivate() {
    // The run starts once, after the first activation has completed.
    if (started_) return;
    started_ = true;
    PostMessageA(Handle(), WM_RUN_TASKS, 0, 0);
}

void TLogFrm::RunTasks() {
    // The hooks only note what changed; ShowFrame shows it. A registration
    // takes a millisecond or two, and showing every task as it ends (a row
    // repainted, the bar stepped and repainted, the list scrolled, the
    // messages handled twice) would cost more than the registration itself.
    TTaskRunHooks hooks;
    hooks.ProcessMessages = [this] { BetweenTasks(); };
    hooks.TaskStarting = [this](int row) {
        startedRow_ = row;
        taskStartedMs_ = NowMs();
    };
    hooks.StopRequested = [this] { return stopRequested_; };
    hooks.RowsChanged = [this](int first, int last) {
        changedFirst_ = changedLast_ < 0 ? first : std::min(changedFirst_, first);
        changedLast_ = std::max(changedLast_, last);
    };
    hooks.ErrorsChanged = [this] { errorsChanged_ = true; };
    // The bar follows run_.Progress() in ShowFrame.
    hooks.ProgressChanged = nullptr;
    // One busy cursor for the whole run rather than one per task.
    ui::TBusyCursor busy;
    // Consecutive 64-bit libraries of the run share one helper process; the
    // window shows its frames while the helper works, when they cost no time.
    engine::THelperSession helper([this] { BetweenTasks(); });
    // The first file's helper starts while the window shows itself.
    if (!run_.Rows().empty()) helper.PrestartFor(run_.Rows().front().Path);
    nextFrameMs_ = NowMs() + kFrameMs;
    tmrFrame.SetInterval(static_cast<unsigned>(kFrameMs));
    tmrFrame.SetEnabled(true);
    // While the run lasts the Close button is Stop.
    abortEvent_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    void* previousAbort = engine::RegistrationAbortEvent;
    engine::RegistrationAbortEvent = abortEvent_.get();
    running_ = true;
    cmdClose->SetText("&Stop");
    cmdClose->SetEnabled(true);
    auto endRun = [&] {
        running_ = false;
        ended_ = true;
        taskStartedMs_ = 0;
        engine::RegistrationAbortEvent = previousAbort;
        tmrFrame.SetEnabled(false);
        ShowFrame();
        cmdClose->SetText("&Close");
    };
    try {
        run_.Run(Perform, rules_, hooks);
    } catch (...) {
        endRun();
        cmdClose->SetEnabled(false);
        throw;
    }
    endRun();
    std::string description = OnRunEnded ? OnRunEnded() : std::string();
    if (description.empty()) description = run_.FinalDescription();
    // What the end of the run added to the error list.
    lvErrors->SetItemCount(static_cast<int>(run_.Errors().size()));
    cmdClose->SetEnabled(true);
    cmdClose->SetFocus();
    lblDescription->SetText(description);
}

void TLogFrm::BetweenTasks() {
    double now = NowMs();
    if (now >= FrameDueMs()) {
        ShowFrame();
        now = NowMs();
    }
    // Waiting messages (a click on the close box, the Details button or the
    // Errors tab, a repaint of an uncovered part, the frame timer) are
    // handled at once. Looking costs less than handling an empty queue, but
    // is not free, and the run would look twice between two tasks.
    if (now - lastLookMs_ < kLookMs) return;
    lastLookMs_ = now;
    if (HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0) ui::Application.ProcessMessages();
}

double TLogFrm::FrameDueMs() const {
    if (taskStartedMs_ <= 0) return nextFrameMs_;
    return std::min(nextFrameMs_, std::max(taskStartedMs_ + kWaitingMs, lastFrameMs_ + kFrameMs));
}

void TLogFrm::ShowFrame() {
    double start = NowMs();
    lastFrameMs_ = start;
    // The running task in view first, then the changed rows that are in view
    // repainted; rows out of view show their state when scrolled to.
    HWND list = lvTasks->Handle();
    int oldTop = ListView_GetTopIndex(list);
    // The row cut by the bottom edge is in view too.
    int perPage = ListView_GetCountPerPage(list);
    if (startedRow_ >= 0) {
        lvTasks->ShowRowPaged(startedRow_);
        startedRow_ = -1;
    }
    if (changedLast_ >= 0) {
        // Scrolling has just painted the rows it brought into view, with
        // their current state; only the rows it moved may show an old one.
        int top = ListView_GetTopIndex(list);
        int bottom = std::min(top, oldTop) + perPage;
        int first = std::max(changedFirst_, top);
        int last = std::min(changedLast_, bottom);
        if (first <= last) lvTasks->RefreshRows(first, last);
        changedFirst_ = changedLast_ = -1;
    }
    if (errorsChanged_) {
        lvErrors->SetItemCount(static_cast<int>(run_.Errors().size()));
        errorsChanged_ = false;
    }
    if (run_.Progress() != shownProgress_) {
        shownProgress_ = run_.Progress();
        SendMessageA(pBar->Handle(), PBM_SETPOS, static_cast<WPARAM>(shownProgress_), 0);
    }
    // Painted now, so that the frame's whole cost is known.
    RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    double cost = NowMs() - start;
    nextFrameMs_ = start + std::max(kFrameMs, cost * kShowShare);
    // The timer wakes the window when the next frame is due, not before.
    if (tmrFrame.Enabled()) tmrFrame.SetInterval(static_cast<unsigned>(std::max(1.0, FrameDueMs() - NowMs())));
}

bool TLogFrm::FormKeyDown(WORD key, unsigned shift) {
    if (key == 'C' && shift == ui::ssCtrl && lvErrors->Focused()) {
        popErrorsCopyClick();
        return true;
    }
    return false;
}

bool TLogFrm::FormKeyUp(WORD key, unsigned) {
    // Esc closes the window once the run is over; during the run it does
    // nothing, so that it never stops the run by accident (the Stop button
    // does that).
    if (key != VK_ESCAPE) return false;
    if (ended_) SetModalResult(ui::mrCancel);
    return true;
}

LRESULT TLogFrm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_MOVE) {
        // A tip shown for the keyboard's row stays with the row.
        lvTasks->HideKeyTip();
        lvErrors->HideKeyTip();
    }
    if (msg == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE) {
        LRESULT result = ui::TForm::WndProc(msg, wParam, lParam);
        FormActivate();
        return result;
    }
    if (msg == WM_RUN_TASKS) {
        RunTasks();
        return 0;
    }
    return ui::TForm::WndProc(msg, wParam, lParam);
}

void RunTaskList(const std::vector<std::string>& files, bool register_) {
    TZEPHOptions defaults;
    const TZEPHOptions& options = Options ? *Options : defaults;
    TLogFrm log(files, register_, options.UnregisterBefore, TStopRules{options.StopAfter, options.MaxErrors});
    log.CenterOnMainForm();
    log.ShowModal();
}
