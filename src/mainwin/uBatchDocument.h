#pragma once
// The batch as a document: the current batch (none, untitled or named), its
// modified flag and the caption that shows both, opening, loading and saving
// with the save prompt and the file dialogs, adding files, the recent-file
// list and the automatic save. The entries live in a TBatchModel; a list view
// shows them (or the placeholder row while no batch is open). Failures are
// raised as EQVException for the application's error handler.
#include <functional>
#include <optional>
#include <string>

#include "mainwin/uBatch.h"
#include "ui/ComCtrls.h"
#include "ui/Form.h"
#include "ui/ListView.h"
#include "ui/Timer.h"

class TBatchDocument {
public:
    // The value of CurrentBatch while no batch is open.
    static const char kNoBatch[];

    // `host` owns the dialogs, the caption and the timer; `view` shows the
    // batch.
    TBatchDocument(ui::TForm& host, ui::TListView& view);
    TBatchDocument(const TBatchDocument&) = delete;
    TBatchDocument& operator=(const TBatchDocument&) = delete;

    const std::string& CurrentBatch() const { return currentBatch_; }
    bool HasBatch() const { return currentBatch_ != kNoBatch; }
    bool Modified() const { return modified_; }
    const TBatchModel& Model() const { return model_; }
    const TRecentFiles& RecentFiles() const { return recent_; }
    // The window caption for the current state.
    std::string Caption() const;

    // Save prompt, then loads the file (asking for it with the open dialog
    // when none is given) and makes it current.
    void OpenBatch(const std::optional<std::string>& path = std::nullopt);
    // Reads the file into the list; raises on failure, leaving the list as
    // it was when the file is not a batch file.
    void LoadBatch(const std::string& path);
    // Save prompt, then the entries of a recovery copy become the unsaved
    // changes of `target` (a batch path, or empty text for an untitled
    // batch): `target` is current and modified. False when the prompt
    // stopped it; raises as LoadBatch does, leaving everything as it was.
    // The recent list is not touched.
    bool RecoverBatch(const std::string& copy, const std::string& target);
    // Writes the list; an empty path asks for a name. False when the user
    // cancelled the save dialog.
    bool SaveBatch(const std::string& path);
    // Asks for a name (proposing `path`), makes it current and writes.
    bool SaveBatchAs(const std::string& path);
    // "<NONE>", empty text (untitled) or a path; the first two ask the save
    // prompt and reset the list.
    void SetCurrentBatch(const std::string& name);
    void SetModified(bool modified);
    // Appends the file when it exists and is not in the list yet.
    void AddFile(const std::string& path, bool warnDuplicate);
    int FindFile(const std::string& path) const;
    void ResetList(bool placeholder);
    // Removes the entry of a row; the entry that followed, if any, becomes
    // the selected and focused row. Sets Modified.
    void RemoveEntry(int row);
    // Takes the entry at `from` out and puts it at `to` (both rows of the
    // batch) in one step, selects and focuses it and sets Modified.
    void MoveEntry(int from, int to);
    // True when the operation that asked may go on.
    bool SavePrompt();

    // The Save command: SaveBatch of the current batch, then not modified.
    void SaveCommand();
    // The Save As command.
    void SaveAsCommand();

    void AddRecentFile(const std::string& path);
    void RemoveRecentFile(const std::string& path);
    void LoadRecentFiles();
    void SaveRecentFiles() const;

    // Runs the automatic save every `minutes` while `on`; a running timer is
    // left running.
    void ApplyAutoSave(bool on, int minutes);
    // The timer's interval for a number of minutes: at least one minute, at
    // most the longest interval a timer takes.
    static unsigned AutoSaveIntervalMs(long long minutes);
    // Asked before each automatic save; false skips that save (a modal
    // window, a registration or an earlier save's error is on screen).
    std::function<bool()> CanAutoSave;
    // The automatic save: saves a named batch that has changes.
    void AutoSaveTick();
    ui::TTimer& AutoSaveTimer() { return tAutoSave_; }

    // Called after every change of the state or of the list.
    std::function<void()> OnChange;

    // Texts and image of a row as the list view shows it.
    std::string RowText(int row, int column) const;
    int RowImage(int row) const;

private:
    void Changed();
    void RefreshView();
    std::string StorageKey() const;

    ui::TForm& host_;
    ui::TListView& view_;
    ui::TImageList images_;
    ui::TTimer tAutoSave_;
    TBatchModel model_;
    TRecentFiles recent_;
    std::string currentBatch_ = kNoBatch;
    bool modified_ = false;
    bool autoSaving_ = false;
};
