#pragma once
// The main window: the batch list, every command as an action of one list
// (reached through the dockable menu bar and toolbar, the list's context
// menu and the shortcuts), list editing, the clipboard, drag and drop, the
// stored window state, the end of the Windows session, and the
// application-wide error handler: every error that reaches a window
// procedure is shown here.
#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "mainwin/uBatchDocument.h"
#include "mainwin/uWindowStorage.h"
#include "ui/ActionMenus.h"
#include "ui/Actions.h"
#include "ui/ComCtrls.h"
#include "ui/Dialogs.h"
#include "ui/Docking.h"
#include "ui/Form.h"
#include "ui/ImageSet.h"
#include "ui/ListView.h"
#include "ui/Timer.h"
#include "ui/ToolBars.h"

// Form styles.
enum TFormStyle : int { fsNormal = 0, fsStayOnTop = 3 };

class TZEPHMain : public ui::TForm {
public:
    TZEPHMain();
    ~TZEPHMain() override;

    // Restores the stored window state, shows the window, then runs the
    // first-show steps (the start-up batch) once.
    void Show();

    // Shows an EQVException in the details dialog, Kind 1 as a warning and
    // Kind 2 as information. Kind 0 and any other error end the application
    // after being shown; a modified batch is first written to a recovery
    // copy, and the recent files and options are saved.
    void ApplicationException(std::exception_ptr error);

    void ApplyOptions();
    void ApplyFormStyle();
    bool StayOnTop() const;

    TBatchDocument& Batch() { return *batch_; }

    // Components.
    ui::TActionList alMain;
    ui::TImageSet imlMenus;
    std::unique_ptr<ui::TActionMenus> menus;
    std::unique_ptr<ui::TDockSite> docks;
    std::unique_ptr<ui::TMenuBar> tbMenu;
    std::unique_ptr<ui::TActionToolBar> tbMain;
    ui::TListView* lvFiles = nullptr;
    ui::TImage* imgRegister = nullptr;
    ui::TImage* imgUnregister = nullptr;
    ui::TStatusBar* sbMain = nullptr;
    std::vector<ui::TMenuEntry> popFiles;
    ui::TFileDialog OpenFile;
    std::unique_ptr<ui::TTimer> tSetFormStyle;

    bool FirstShow = true;
    bool FirstActivate = true;
    int PendingFormStyle = fsNormal;

    // Actions.
    ui::TAction *actFile, *actEdit, *actView, *actRegistry, *actHelp;
    ui::TAction *actFileNew, *actFileOpen, *actFileClose, *actFileSave, *actFileSaveAs, *actFileRecent,
        *actFileAddFile, *actFileRemoveFile, *actFileProperties, *actFilePreferences, *actFileExit;
    ui::TAction *actEditCut, *actEditCopy, *actEditPaste, *actEditClearAll, *actEditMoveFirst, *actEditMoveUp,
        *actEditMoveDown, *actEditMoveLast;
    ui::TAction *actViewToolbar, *actViewStatusBar, *actViewAlwaysOnTop;
    ui::TAction *actRegistryRegisterAll, *actRegistryUnregisterAll, *actRegistryRegisterSelected,
        *actRegistryUnregisterSelected, *actRegistryRegisterFile, *actRegistryUnregisterFile, *actRegistryRunRegistry,
        *actRegistryVerifyAll, *actRegistryVerifySelected, *actRegistryCapture;
    ui::TAction *actHelpContents, *actHelpTipOfTheDay, *actHelpOnTheWeb, *actHelpSendEmail, *actHelpAbout;

    void alMainUpdate();

    void actFileNewExecute();
    void actFileOpenExecute();
    void actFileCloseExecute();
    void actFileSaveExecute();
    void actFileSaveAsExecute();
    void MRUListClick(const std::string& path);
    void actFileAddFileExecute();
    void actFileRemoveFileExecute();
    void actFilePropertiesExecute();
    void actFilePreferencesExecute();
    void actFileExitExecute();
    void actEditCutExecute();
    void actEditCopyExecute();
    void actEditPasteExecute();
    void actEditClearAllExecute();
    void actEditMoveFirstExecute();
    void actEditMoveUpExecute();
    void actEditMoveDownExecute();
    void actEditMoveLastExecute();
    void actViewToolbarExecute();
    void actViewStatusBarExecute();
    void actViewAlwaysOnTopExecute();
    void actRegistryRegisterAllExecute();
    void actRegistryUnregisterAllExecute();
    void actRegistryRegisterSelectedExecute();
    void actRegistryUnregisterSelectedExecute();
    void actRegistryRegisterFileExecute();
    void actRegistryUnregisterFileExecute();
    void actRegistryRunRegistryExecute();
    void actRegistryVerifyAllExecute();
    void actRegistryVerifySelectedExecute();
    void actRegistryCaptureExecute();
    void actHelpContentsExecute();
    void actHelpTipOfTheDayExecute();
    void actHelpOnTheWebExecute();
    void actHelpSendEmailExecute();
    void actHelpAboutExecute();

    // Dragging a row inside the list and onto the drop images.
    bool lvFilesDragOver(POINT client) const;
    void lvFilesDragDrop(POINT client);
    bool imgDragOver() const;
    void imgRegisterDragDrop();
    void imgUnregisterDragDrop();
    // Files dropped from the shell, at a point of the client area.
    void DropFiles(const std::vector<std::string>& items, POINT client);
    // The drop images' rectangles in client coordinates, edges included.
    RECT RegisterTarget() const;
    RECT UnregisterTarget() const;

    bool BottomVisible() const { return bottomVisible_; }
    // The state as stored at closing.
    TWindowState CurrentState() const;
    void StoreState();
    void RestoreState();
    // The selected row's entry, or null.
    const TBatchEntry* SelectedEntry() const;
    // The items of the recent-files submenu.
    std::vector<ui::TDynamicItem> RecentItems();
    // The rows' paths, first to last.
    std::vector<std::string> EntryPaths() const;
    // True while a registration or a task run is in progress.
    bool Busy() const { return alMain.Locked(); }
    // The recovery copy that holds this session's unsaved changes, if any:
    // written on the fatal-error path or when the Windows session ends.
    const std::string& RecoveryCopy() const { return recoveryCopy_; }
    // How often the Paste check has read the clipboard's text.
    unsigned long ClipboardReads() const { return clipboardReads_; }
    // Where the recovery copy of an untitled batch goes: the user's
    // documents folder (the temporary folder when there is none).
    static std::string UntitledRecoveryCopy();
    // The reason given to Windows for holding up the end of the session
    // while the batch has unsaved changes; empty while there are none.
    const std::string& ShutdownBlockReason() const { return blockReason_; }

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool PreTranslateMessage(MSG& msg) override;
    bool FormKeyDown(WORD key, unsigned shift) override;
    bool FormKeyUp(WORD key, unsigned shift) override;
    bool FormCloseQuery() override;

private:
    void CreateActions();
    void CreateBars();
    void CreateBottomPanel();
    void Relayout();
    void FormShow();
    void FormActivate();
    void FormDestroy();
    void SetBottomVisible(bool visible);
    void ShowListMenu(POINT screen);
    RECT TargetRect(const ui::TControl* image) const;
    // Which clipboard text names an existing file, rechecked only when the
    // clipboard changes.
    bool ClipboardHoldsFile();
    void RegisterDropped(const std::vector<std::string>& items, bool register_);
    void AddDropped(const std::vector<std::string>& items);
    void HandleDropFiles(HDROP drop);
    void RegisterOne(const std::string& path, bool register_);
    void RunTasks(bool register_);
    // Where a capture is saved: the save dialog kept between uses, so that
    // it opens with the last format chosen.
    ui::TFileDialog captureDialog_;
    void MoveSelected(int to);
    void BeginRowDrag(int row);
    void RowDragMove(POINT screen);
    void EndRowDrag(bool drop);
    void SetInsertMark(int row);
    std::string WriteRecoveryCopy(std::string* failure);
    void EndFatally(const std::string& message, const std::string& details);
    // The end of the Windows session (frmMainSession.cpp). Posted to itself:
    // the save prompt asked after a refused end of the session, and the
    // close of a window the Restart Manager shuts down.
    static constexpr UINT WM_SESSION_PROMPT = WM_APP + 0x21;
    static constexpr UINT WM_SESSION_CLOSE = WM_APP + 0x22;
    LRESULT QueryEndSession(LPARAM flags);
    void EndSession(bool ending, LPARAM flags);
    void KeepRecoveryCopy();
    void DiscardRecoveryCopy();
    void SyncShutdownBlock();
    void OfferRecoveryCopies();

    std::unique_ptr<TBatchDocument> batch_;
    qv::GdiObject<HFONT> listFont_;
    bool bottomVisible_ = true;
    bool stateStored_ = false;
    bool fatal_ = false;
    // True while the first show's steps run: the first activation waits.
    bool firstShowRunning_ = false;
    bool activatedDuringShow_ = false;
    std::string recoveryCopy_;
    std::string blockReason_;
    // The clipboard check's memory.
    DWORD clipboardSequence_ = 0;
    bool clipboardChecked_ = false;
    bool clipboardHoldsFile_ = false;
    unsigned long clipboardReads_ = 0;
    // Row dragging.
    bool dragging_ = false;
    int dragRow_ = -1;
    int insertMark_ = -1;
    HIMAGELIST dragImage_ = nullptr;
    HICON registerIcon_ = nullptr;
    HICON unregisterIcon_ = nullptr;
};
