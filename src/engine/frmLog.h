#pragma once
// The task window: runs a list of registration tasks when it first becomes
// active and shows every task's state, every failure and the overall result;
// the failures can be copied or saved to a log file.
#include <memory>
#include <string>
#include <vector>

#include "common/QVHandles.h"
#include "engine/uTaskRun.h"
#include "ui/ComCtrls.h"
#include "ui/Dialogs.h"
#include "ui/Form.h"
#include "ui/ListView.h"
#include "ui/Menus.h"
#include "ui/Timer.h"

class TLogFrm : public ui::TForm {
public:
    TLogFrm(const std::vector<std::string>& files, bool register_, bool unregisterBefore, const TStopRules& rules);
    // A verification or capture run over the files: one task per file,
    // never stopped by failures. Perform must be given.
    TLogFrm(const std::vector<std::string>& files, TTaskVerb verb);

    // How each task is carried out; RegisterServerFile unless replaced.
    std::function<void(const std::string& path, bool register_)> Perform;
    // Called once when the run has ended (also when it was stopped), before
    // the final description is shown: what the run then does with its
    // results. Returns the description; empty keeps the standard one.
    std::function<std::string()> OnRunEnded;

    void cmdCloseClick();
    void cmdDetailsClick();
    void popErrorsPopup();
    void popErrorsCopyClick();
    void popErrorsSaveToFileClick();

    const TTaskRun& Run() const { return run_; }
    // For Perform and OnRunEnded: the run's outcomes and notices.
    TTaskRun& Tasks() { return run_; }

    ui::TImage* imgIcon = nullptr;
    ui::TLabel* lblDescription = nullptr;
    ui::TProgressBar* pBar = nullptr;
    ui::TButton* cmdClose = nullptr;
    ui::TButton* cmdDetails = nullptr;
    ui::TTabControl* pcTasks = nullptr;
    ui::TListView* lvTasks = nullptr;
    ui::TListView* lvErrors = nullptr;
    ui::TPopupMenu popErrors;
    int popErrorsCopy = 0;
    int popErrorsSaveToFile = 0;
    ui::TFileDialog SaveDlg;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool FormKeyDown(WORD key, unsigned shift) override;
    bool FormKeyUp(WORD key, unsigned shift) override;

private:
    void CreateControls();
    void FormActivate();
    void RunTasks();
    // Between two tasks: shows a frame when one is due, and handles the
    // messages that wait.
    void BetweenTasks();
    // Shows the run's changes since the last frame in the controls, painted,
    // and sets when the next frame is due.
    void ShowFrame();
    // When the next frame is due: as the budget says, but while a task waits
    // for its server (the program itself idle) at the screen's rate.
    double FrameDueMs() const;

    TTaskRun run_;
    TStopRules rules_;
    // The run is under way (the Close button reads Stop); the user asked to
    // stop; when the task at work started; the event that ends its server.
    bool running_ = false;
    bool ended_ = false;  // the run is over (the window can be closed)
    bool stopRequested_ = false;
    double taskStartedMs_ = 0;
    qv::Handle abortEvent_;
    ui::TImageList imlIcons;
    bool started_ = false;

    // The run's changes not shown yet: the rows whose state changed, the
    // task that started last, whether the error list grew. The controls are
    // brought up to date once per frame, by the run between its tasks and by
    // the frame timer while a task runs long and handles messages itself (an
    // executable server's wait), and once more at the end of the run.
    // nextFrameMs_ is when the next frame is due by the budget;
    // lastFrameMs_ when the last one began.
    int changedFirst_ = -1;
    int changedLast_ = -1;
    int startedRow_ = -1;
    bool errorsChanged_ = false;
    int shownProgress_ = 0;
    double nextFrameMs_ = 0;
    double lastFrameMs_ = 0;
    double lastLookMs_ = 0;
    ui::TTimer tmrFrame{*this};
};

// Shows the task window for the files, registering (true) or unregistering
// them, modally; returns when the user closes it. The options decide about
// unregistering first and stopping after errors.
void RunTaskList(const std::vector<std::string>& files, bool register_);
