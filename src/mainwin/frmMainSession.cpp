// The main window and the end of the Windows session: the reason it gives
// Windows for holding up a log-off or shut-down while the batch has unsaved
// changes, its answers to WM_QUERYENDSESSION and WM_ENDSESSION, and, at the
// next start, the offer of a recovery copy that such an end left behind.
#include <windows.h>

#include <cstdio>

#include "common/QVApp.h"
#include "common/QVMsgFrm.h"
#include "common/QVRegUtils.h"
#include "common/QVStrings.h"
#include "engine/uRegistry.h"
#include "mainwin/frmMain.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

// Bound at run time: user32 of some systems lacks them.
using BlockCreateFn = decltype(&ShutdownBlockReasonCreate);
using BlockDestroyFn = decltype(&ShutdownBlockReasonDestroy);

template <class Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

std::wstring Widen(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    return wide;
}

// The name the messages give a batch: its file-name part in quotes, or
// "[New]" as the save prompt says.
std::string BatchDisplayName(const std::string& batch) {
    return batch.empty() ? qv::LoadStr(IDS_NEW_BATCH) : "'" + engine::ExtractFileName(batch) + "'";
}

bool LastWriteTime(const std::string& path, FILETIME* time) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *time = data.ftLastWriteTime;
    return true;
}

std::string TimeStamp(const FILETIME& time) {
    char text[20] = {};
    std::snprintf(text, sizeof text, "%08lX%08lX", static_cast<unsigned long>(time.dwHighDateTime),
                  static_cast<unsigned long>(time.dwLowDateTime));
    return text;
}

// The recovery copies already offered, each with the write time it had
// then: a copy is offered again only once newer work has been written to it.
std::string AnsweredKey() { return AppInfo->RegistryKey + "\\Storage\\Recovery"; }

}  // namespace

void TZEPHMain::SyncShutdownBlock() {
    if (!batch_ || !Handle() || fatal_) return;
    std::string reason;
    if (batch_->HasBatch() && batch_->Modified()) {
        reason = qv::LoadFmt(IDS_SHUTDOWN_REASON, BatchDisplayName(batch_->CurrentBatch()));
    }
    if (reason == blockReason_) return;
    blockReason_ = reason;
    if (reason.empty()) {
        static const auto destroy = User32Function<BlockDestroyFn>("ShutdownBlockReasonDestroy");
        if (destroy) destroy(Handle());
        // Saved or given up: the copy of the changes is no longer needed.
        DiscardRecoveryCopy();
    } else {
        static const auto create = User32Function<BlockCreateFn>("ShutdownBlockReasonCreate");
        if (create) create(Handle(), Widen(reason).c_str());
    }
}

void TZEPHMain::KeepRecoveryCopy() {
    std::string failure;
    std::string copy = WriteRecoveryCopy(&failure);
    if (!copy.empty() && failure.empty()) recoveryCopy_ = copy;
}

void TZEPHMain::DiscardRecoveryCopy() {
    if (recoveryCopy_.empty() || fatal_) return;
    SetFileAttributesA(recoveryCopy_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(recoveryCopy_.c_str());
    recoveryCopy_.clear();
}

LRESULT TZEPHMain::QueryEndSession(LPARAM flags) {
    // Answered at once and without a dialog: Windows waits for the answer,
    // and may end the process soon after whatever it is.
    if (fatal_ || !batch_->HasBatch() || !batch_->Modified()) return TRUE;
    // The changes are kept first: the user may still end the session from
    // the system's own screen.
    KeepRecoveryCopy();
    // A program closed for an update or a restart asks nobody.
    if (flags & ENDSESSION_CLOSEAPP) return TRUE;
    // The save prompt comes once this answer is given; saving or giving up
    // the changes there closes the window, and the user can end the
    // session again.
    PostMessageA(Handle(), WM_SESSION_PROMPT, 0, 0);
    return FALSE;
}

void TZEPHMain::EndSession(bool ending, LPARAM flags) {
    if (!ending || fatal_) return;
    // The process may end as soon as this returns, without WM_DESTROY: the
    // changes and the window's closing work are written now.
    if (batch_->HasBatch() && batch_->Modified()) KeepRecoveryCopy();
    StoreState();
    batch_->SaveRecentFiles();
    if (Options) Options->Save();
    // The Restart Manager expects the program to go by itself.
    if (flags & ENDSESSION_CLOSEAPP) PostMessageA(Handle(), WM_SESSION_CLOSE, 0, 0);
}

void TZEPHMain::OfferRecoveryCopies() {
    if (!AppInfo) return;
    struct Candidate {
        std::string copy, batch;  // batch: empty for an untitled batch
    };
    std::vector<Candidate> candidates{{UntitledRecoveryCopy(), std::string()}};
    for (const std::string& path : batch_->RecentFiles().Items()) candidates.push_back({RecoveryFileName(path), path});
    for (const Candidate& candidate : candidates) {
        FILETIME copyTime{}, batchTime{};
        if (!engine::FileExistsReady(candidate.copy) || !LastWriteTime(candidate.copy, &copyTime)) continue;
        // Saved after the copy was written: the copy is older work.
        if (!candidate.batch.empty() && LastWriteTime(candidate.batch, &batchTime) &&
            CompareFileTime(&copyTime, &batchTime) <= 0) {
            continue;
        }
        const std::string stamp = TimeStamp(copyTime);
        if (qv::ReadRegString(HKEY_LOCAL_MACHINE, AnsweredKey(), candidate.copy, "") == stamp) continue;
        // The dialog does not grow: the copy is named by its file name, which
        // tells where it is (beside its batch, or in the documents folder).
        const std::string copyName = engine::ExtractFileName(candidate.copy);
        QVResult answer = QVMessage(candidate.batch.empty()
                                        ? qv::LoadFmt(IDS_RECOVERY_OFFER_NEW, copyName)
                                        : qv::LoadFmt(IDS_RECOVERY_OFFER, engine::ExtractFileName(candidate.batch), copyName),
                                    AppInfo->Title, qmtQuestion, qbYesNo, 1, AppInfo->Language,
                                    AppInfo->DialogFontName);
        qv::WriteRegString(HKEY_LOCAL_MACHINE, AnsweredKey(), candidate.copy, stamp);
        if (answer != qrYes) continue;
        if (batch_->RecoverBatch(candidate.copy, candidate.batch)) {
            // Saving or giving up the recovered changes removes the copy.
            recoveryCopy_ = candidate.copy;
            return;
        }
    }
}
