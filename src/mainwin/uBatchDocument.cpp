#include "mainwin/uBatchDocument.h"

#include <algorithm>

#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVMsgFrm.h"
#include "common/QVStrings.h"
#include "engine/uRegistry.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"

const char TBatchDocument::kNoBatch[] = "<NONE>";

namespace {

const char kBatchFilter[] = "Corvantis Files (*.kvx)|*.kvx|All Files (*.*)|*.*";

const TZEPHOptions& CurrentOptions() {
    static const TZEPHOptions defaults;
    return Options ? *Options : defaults;
}

// The details of a failed save: the system's reason, then what the batch
// file's name holds now.
std::string SaveFailureDetails(const std::string& path, const EBatchWrite& e) {
    std::string fate;
    switch (e.Failure) {
    case TBatchWriteFailure::ReadOnly: return qv::LoadFmt(IDS_SAVE_READ_ONLY, path);
    case TBatchWriteFailure::OldKept: fate = qv::LoadFmt(IDS_SAVE_OLD_KEPT, path); break;
    case TBatchWriteFailure::OldInBackup: fate = qv::LoadFmt(IDS_SAVE_OLD_IN_BACKUP, path, e.OldContent); break;
    case TBatchWriteFailure::Missing: fate = qv::LoadFmt(IDS_SAVE_MISSING, path); break;
    }
    std::string reason = e.what();
    return reason.empty() ? fate : reason + "\r\n" + fate;
}

}  // namespace

TBatchDocument::TBatchDocument(ui::TForm& host, ui::TListView& view)
    : host_(host), view_(view), tAutoSave_(host) {
    // The picture of an entry: the application's small icon.
    images_.AddIcon(static_cast<HICON>(
        LoadImageA(ui::Application.Instance(), MAKEINTRESOURCEA(IDI_MAINICON), IMAGE_ICON, 16, 16, LR_SHARED)));
    view_.SetSmallImages(images_.Handle());
    view_.OnGetText = [this](int row, int column) { return RowText(row, column); };
    view_.OnGetImage = [this](int row) { return RowImage(row); };
    tAutoSave_.OnTimer = [this] { AutoSaveTick(); };
    tAutoSave_.SetInterval(AutoSaveIntervalMs(CurrentOptions().AutoSaveInterval));
    ResetList(true);
    SetModified(false);
}

std::string TBatchDocument::Caption() const {
    std::string caption = AppInfo ? AppInfo->Title : ui::Application.Title;
    if (currentBatch_ == kNoBatch) return caption;
    caption += ": ";
    caption += currentBatch_.empty() ? qv::LoadStr(IDS_NEW_BATCH) : engine::ExtractFileName(currentBatch_);
    if (modified_) caption += "*";
    return caption;
}

std::string TBatchDocument::RowText(int row, int column) const {
    if (!HasBatch()) return column == 0 ? qv::LoadStr(IDS_NO_BATCH_ROW) : std::string();
    if (row < 0 || static_cast<size_t>(row) >= model_.Count()) return std::string();
    const TBatchEntry& entry = model_.Entry(static_cast<size_t>(row));
    return column == 0 ? entry.Name : entry.Path;
}

int TBatchDocument::RowImage(int) const { return HasBatch() ? 0 : -1; }

void TBatchDocument::RefreshView() {
    view_.SetItemCount(HasBatch() ? static_cast<int>(model_.Count()) : 1);
    view_.RefreshAll();
}

void TBatchDocument::Changed() {
    if (OnChange) OnChange();
}

bool TBatchDocument::SavePrompt() {
    if (!HasBatch() || !modified_) return true;
    std::string text = currentBatch_.empty() ? qv::LoadStr(IDS_SAVE_CHANGES_NEW)
                                             : qv::LoadFmt(IDS_SAVE_CHANGES_TO, currentBatch_);
    QVResult answer = QVMessage(text, AppInfo ? AppInfo->Title : ui::Application.Title, qmtQuestion, qbYesNoCancel, 1,
                                AppInfo ? AppInfo->Language : qlEnglish,
                                AppInfo ? AppInfo->DialogFontName : std::string("Tahoma"));
    if (answer == qrYes) return SaveBatch(currentBatch_);
    return answer == qrNo;
}

void TBatchDocument::OpenBatch(const std::optional<std::string>& path) {
    if (!SavePrompt()) return;
    std::string chosen;
    if (path) {
        chosen = *path;
    } else {
        ui::TFileDialog dialog;
        dialog.Title = "Open Corvantis File...";
        dialog.Filter = kBatchFilter;
        dialog.DefaultExt = "kvx";
        dialog.Options = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
        if (!ui::ExecuteOpenDialog(host_.Handle(), dialog)) return;
        chosen = dialog.FileName;
    }
    LoadBatch(chosen);
    SetCurrentBatch(chosen);
}

void TBatchDocument::LoadBatch(const std::string& path) {
    const std::string name = engine::ExtractFileName(path);
    if (!engine::FileExistsReady(path)) {
        RemoveRecentFile(path);
        throw EQVException(qv::LoadFmt(IDS_BATCH_NOT_FOUND, name), qv::LoadFmt(IDS_FILE_NOT_FOUND, path), qekError);
    }
    try {
        ui::TBusyCursor busy;
        std::vector<std::string> paths;
        switch (ReadBatchFile(path, &paths)) {
        case TBatchRead::Read: break;
        case TBatchRead::NotABatch: throw EQVException(qv::LoadFmt(IDS_NOT_A_BATCH, name), "", qekError);
        case TBatchRead::TooLarge:
            throw EQVException(qv::LoadFmt(IDS_BATCH_TOO_LARGE, name), qv::LoadFmt(IDS_BATCH_TOO_LARGE_DETAILS, path),
                               qekError);
        }
        model_.Assign(paths);
        RefreshView();
        AddRecentFile(path);
        if (CurrentOptions().AutoSave && !tAutoSave_.Enabled()) tAutoSave_.SetEnabled(true);
    } catch (const EQVException&) {
        RemoveRecentFile(path);
        throw;
    } catch (const std::exception& e) {
        RemoveRecentFile(path);
        throw EQVException(qv::LoadFmt(IDS_ERROR_LOADING, path), e.what(), qekError);
    }
    Changed();
}

bool TBatchDocument::RecoverBatch(const std::string& copy, const std::string& target) {
    if (!SavePrompt()) return false;
    std::vector<std::string> paths;
    try {
        ui::TBusyCursor busy;
        if (!ParseBatchText(DecodeBatchText(ReadWholeFile(copy), SystemLegacyCodePage()), &paths)) {
            throw EQVException(qv::LoadFmt(IDS_NOT_A_BATCH, engine::ExtractFileName(copy)), "", qekError);
        }
    } catch (const EQVException&) {
        throw;
    } catch (const std::exception& e) {
        throw EQVException(qv::LoadFmt(IDS_ERROR_LOADING, copy), e.what(), qekError);
    }
    model_.Assign(paths);
    currentBatch_ = target;
    RefreshView();
    SetModified(true);
    return true;
}

bool TBatchDocument::SaveBatch(const std::string& path) {
    if (path.empty()) return SaveBatchAs("");
    try {
        ui::TBusyCursor busy;
        WriteBatchFile(path, EncodeBatchText(model_.Paths(), SystemLegacyCodePage()), CurrentOptions().Backup);
        // A full interval runs from this save (starting the timer if needed).
        if (CurrentOptions().AutoSave) tAutoSave_.SetEnabled(true);
        AddRecentFile(path);
    } catch (const EBatchWrite& e) {
        throw EQVException(qv::LoadFmt(IDS_ERROR_SAVING, path), SaveFailureDetails(path, e), qekError);
    } catch (const std::exception& e) {
        throw EQVException(qv::LoadFmt(IDS_ERROR_SAVING, path), e.what(), qekError);
    }
    Changed();
    return true;
}

bool TBatchDocument::SaveBatchAs(const std::string& path) {
    ui::TFileDialog dialog;
    dialog.Title = "Save Corvantis File...";
    dialog.Filter = kBatchFilter;
    dialog.DefaultExt = "kvx";
    dialog.FileName = path;
    dialog.Options = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!ui::ExecuteSaveDialog(host_.Handle(), dialog)) return false;
    // The chosen name becomes current only once the file is written, so a
    // failed write leaves the batch as it was (name and changes).
    SaveBatch(dialog.FileName);
    currentBatch_ = dialog.FileName;
    RefreshView();
    SetModified(false);
    return true;
}

void TBatchDocument::SetCurrentBatch(const std::string& name) {
    if (name == kNoBatch || name.empty()) {
        if (!SavePrompt()) return;
        currentBatch_ = name;  // before the reset, so the view knows what to show
        ResetList(name == kNoBatch);
    }
    currentBatch_ = name;
    RefreshView();
    SetModified(false);
}

void TBatchDocument::SetModified(bool modified) {
    modified_ = modified;
    host_.SetCaption(Caption());
    Changed();
}

void TBatchDocument::AddFile(const std::string& path, bool warnDuplicate) {
    const std::string name = engine::ExtractFileName(path);
    if (!engine::FileExistsReady(path)) {
        throw EQVException(qv::LoadFmt(IDS_FILE_NOT_FOUND, name), qv::LoadFmt(IDS_FILE_NOT_FOUND, path), qekError);
    }
    if (model_.AddUnique(path)) {
        int row = static_cast<int>(model_.Count()) - 1;
        RefreshView();
        view_.Select(row, true);
        view_.EnsureVisible(row);
        SetModified(true);
    } else if (warnDuplicate) {
        throw EQVException(qv::LoadFmt(IDS_ALREADY_IN_LIST, name), qv::LoadFmt(IDS_REPEATED_FILE, path), qekSuccess);
    }
}

int TBatchDocument::FindFile(const std::string& path) const { return model_.Find(path); }

void TBatchDocument::ResetList(bool placeholder) {
    model_.Clear();
    (void)placeholder;  // the view shows the placeholder row while no batch is open
    RefreshView();
    Changed();
}

void TBatchDocument::SaveCommand() {
    if (SaveBatch(currentBatch_)) SetModified(false);
}

void TBatchDocument::SaveAsCommand() {
    if (SaveBatchAs(currentBatch_)) SetModified(false);
}

std::string TBatchDocument::StorageKey() const {
    return (AppInfo ? AppInfo->RegistryKey : std::string()) + "\\Storage";
}

void TBatchDocument::AddRecentFile(const std::string& path) {
    recent_.Add(path);
    Changed();
}

void TBatchDocument::RemoveRecentFile(const std::string& path) {
    recent_.Remove(path);
    Changed();
}

void TBatchDocument::LoadRecentFiles() {
    if (!AppInfo) return;
    recent_.Load(HKEY_LOCAL_MACHINE, StorageKey());
    Changed();
}

void TBatchDocument::SaveRecentFiles() const {
    if (!AppInfo) return;
    recent_.Save(HKEY_LOCAL_MACHINE, StorageKey());
}

unsigned TBatchDocument::AutoSaveIntervalMs(long long minutes) {
    // An interval below one minute would save without pause; a longer one
    // than a timer takes would overflow.
    constexpr long long kLongest = 0x7FFFFFFF;  // USER_TIMER_MAXIMUM
    long long ms = std::max(minutes, 1LL) * 60000LL;
    return static_cast<unsigned>(std::min(ms, kLongest));
}

void TBatchDocument::ApplyAutoSave(bool on, int minutes) {
    unsigned interval = AutoSaveIntervalMs(minutes);
    if (interval != tAutoSave_.Interval()) tAutoSave_.SetInterval(interval);
    if (!on) {
        tAutoSave_.SetEnabled(false);
    } else if (!tAutoSave_.Enabled()) {
        tAutoSave_.SetEnabled(true);
    }
}

void TBatchDocument::AutoSaveTick() {
    // Never stacked on itself, on a modal window or on a registration; a
    // batch without changes is left alone, so that its backup keeps the
    // previous version.
    if (autoSaving_ || !HasBatch() || currentBatch_.empty() || !modified_) return;
    if (CanAutoSave && !CanAutoSave()) return;
    autoSaving_ = true;
    try {
        SaveCommand();
    } catch (...) {
        autoSaving_ = false;
        throw;
    }
    autoSaving_ = false;
}

void TBatchDocument::RemoveEntry(int row) {
    if (row < 0 || static_cast<size_t>(row) >= model_.Count()) return;
    model_.Remove(static_cast<size_t>(row));
    RefreshView();
    if (static_cast<size_t>(row) < model_.Count()) {
        view_.Select(row, true);
        view_.EnsureVisible(row);
    } else {
        view_.Select(-1);
    }
    SetModified(true);
}

void TBatchDocument::MoveEntry(int from, int to) {
    if (from < 0 || to < 0 || static_cast<size_t>(from) >= model_.Count() || static_cast<size_t>(to) >= model_.Count()) {
        return;
    }
    model_.Move(static_cast<size_t>(from), static_cast<size_t>(to));
    view_.RefreshRows(std::min(from, to), std::max(from, to));
    view_.Select(to, true);
    view_.EnsureVisible(to);
    SetModified(true);
}
