#pragma once
// The task window: runs a list of registration tasks when it first becomes
// active and shows every task's state, every failure and the overall result;
// the failures can be copied or saved to a log file.
#include <memory>
#include <string>
#include <vector>

#include "engine/uTaskRun.h"
#include "ui/ComCtrls.h"
#include "ui/Dialogs.h"
#include "ui/Form.h"
#include "ui/ListView.h"
#include "ui/Menus.h"

class TLogFrm : public ui::TForm {
public:
    TLogFrm(const std::vector<std::string>& files, bool register_, bool unregisterBefore, const TStopRules& rules);

    // How each task is carried out; RegisterServerFile unless replaced.
    std::function<void(const std::string& path, bool register_)> Perform;

    void cmdCloseClick();
    void cmdDetailsClick();
    void popErrorsPopup();
    void popErrorsCopyClick();
    void popErrorsSaveToFileClick();

    const TTaskRun& Run() const { return run_; }

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

private:
    void FormActivate();
    void RunTasks();

    TTaskRun run_;
    TStopRules rules_;
    ui::TImageList imlIcons;
    bool started_ = false;
};

// Shows the task window for the files, registering (true) or unregistering
// them, modally; returns when the user closes it. The options decide about
// unregistering first and stopping after errors.
void RunTaskList(const std::vector<std::string>& files, bool register_);
