// The main window's list editing: remove, clear, the four moves, the
// clipboard, dragging a row inside the list or onto the drop images, and
// files dropped from the shell.
#include <windows.h>
#include <shellapi.h>

#include "app/uCmdLine.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVMsgFrm.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uRegistry.h"
#include "mainwin/frmMain.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

QVResult Ask(const std::string& text, std::int16_t defaultButton) {
    return QVMessage(text, ui::Application.Title, qmtQuestion, qbYesNo, defaultButton,
                     AppInfo ? AppInfo->Language : qlEnglish, AppInfo ? AppInfo->DialogFontName : "Tahoma");
}

// Both corners of the rectangle count as inside.
bool InsideInclusive(const RECT& r, POINT p) {
    return r.right > r.left && p.x >= r.left && p.x <= r.right && p.y >= r.top && p.y <= r.bottom;
}

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    // Attributes that cannot be read make no folder.
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The files directly inside a folder, in the order the system returns them:
// hidden and system files included, names beginning with '.', folders and
// volume labels left out.
std::vector<std::string> FolderFiles(const std::string& folder) {
    std::string prefix = folder;
    if (prefix.empty() || (prefix.back() != '\\' && prefix.back() != '/')) prefix += '\\';
    std::vector<std::string> files;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((prefix + "*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        constexpr DWORD kVolumeLabel = 0x8;
        if (found.cFileName[0] == '.') continue;
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | kVolumeLabel)) continue;
        files.push_back(prefix + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

}  // namespace

// ---------------------------------------------------------- list editing

void TZEPHMain::actFileRemoveFileExecute() {
    int row = lvFiles->Selected();
    if (row < 0 || static_cast<size_t>(row) >= batch_->Model().Count()) return;
    if (Ask(qv::LoadFmt(IDS_REMOVE_FILE, batch_->Model().Entry(static_cast<size_t>(row)).Name), 1) != qrYes) return;
    batch_->RemoveEntry(row);
}

void TZEPHMain::actEditClearAllExecute() {
    if (Ask(qv::LoadStr(IDS_REMOVE_ALL), 2) != qrYes) return;
    batch_->ResetList(false);
    batch_->SetModified(true);
}

void TZEPHMain::MoveSelected(int to) {
    int row = lvFiles->Selected();
    int count = static_cast<int>(batch_->Model().Count());
    if (row < 0 || row >= count) return;
    batch_->MoveEntry(row, std::max(0, std::min(to, count - 1)));
}

void TZEPHMain::actEditMoveFirstExecute() { MoveSelected(0); }

void TZEPHMain::actEditMoveUpExecute() { MoveSelected(lvFiles->Selected() - 1); }

void TZEPHMain::actEditMoveDownExecute() { MoveSelected(lvFiles->Selected() + 1); }

void TZEPHMain::actEditMoveLastExecute() { MoveSelected(static_cast<int>(batch_->Model().Count()) - 1); }

void TZEPHMain::actEditCutExecute() {
    int row = lvFiles->Selected();
    if (row < 0 || static_cast<size_t>(row) >= batch_->Model().Count()) return;
    const TBatchEntry entry = batch_->Model().Entry(static_cast<size_t>(row));
    // The row goes only once the clipboard holds its path.
    if (!ui::SetClipboardText(Handle(), entry.Path)) {
        throw EQVException(qv::LoadFmt(IDS_CLIPBOARD_BUSY, entry.Name), qv::LoadStr(IDS_CLIPBOARD_BUSY_DETAILS),
                           qekError);
    }
    batch_->RemoveEntry(row);
    lvFiles->Select(-1);
}

void TZEPHMain::actEditCopyExecute() {
    const TBatchEntry* entry = SelectedEntry();
    if (!entry) return;
    if (!ui::SetClipboardText(Handle(), entry->Path)) {
        throw EQVException(qv::LoadFmt(IDS_CLIPBOARD_COPY_BUSY, entry->Name),
                           qv::LoadStr(IDS_CLIPBOARD_COPY_BUSY_DETAILS), qekError);
    }
}

void TZEPHMain::actEditPasteExecute() {
    std::string text;
    if (!ui::ReadClipboardText(Handle(), &text)) {
        throw EQVException(qv::LoadStr(IDS_CLIPBOARD_PASTE_BUSY), qv::LoadStr(IDS_CLIPBOARD_PASTE_BUSY_DETAILS),
                           qekError);
    }
    batch_->AddFile(text, true);
}

// ---------------------------------------------------------- row dragging

namespace {

// The row under a point of the list's client area: -1 below the last row,
// -2 outside the rows (the header, or beside the list).
int DropRow(HWND list, POINT p) {
    RECT client{};
    GetClientRect(list, &client);
    if (!PtInRect(&client, p)) return -2;
    int count = ListView_GetItemCount(list);
    int top = ListView_GetTopIndex(list);
    RECT first{};
    if (count == 0 || !ListView_GetItemRect(list, top, &first, LVIR_BOUNDS)) return -1;
    int height = std::max<int>(1, first.bottom - first.top);
    if (p.y < first.top) return -2;
    int row = top + (p.y - first.top) / height;
    return row < count ? row : -1;
}

}  // namespace

bool TZEPHMain::lvFilesDragOver(POINT client) const {
    if (!batch_->HasBatch()) return false;
    int selected = lvFiles->Selected();
    if (selected < 0) return false;
    int row = DropRow(lvFiles->Handle(), client);
    return row != -2 && row != selected;
}

void TZEPHMain::lvFilesDragDrop(POINT client) {
    if (!lvFilesDragOver(client)) return;
    int selected = lvFiles->Selected();
    int row = DropRow(lvFiles->Handle(), client);
    // One move from the selected row to the target's place, checked as the
    // moves in that direction are.
    alMain.Update();
    if (row == -1) {
        if (actEditMoveLast->Enabled()) MoveSelected(static_cast<int>(batch_->Model().Count()) - 1);
    } else if (selected < row) {
        if (actEditMoveDown->Enabled()) MoveSelected(row);
    } else if (actEditMoveUp->Enabled()) {
        MoveSelected(row);
    }
}

bool TZEPHMain::imgDragOver() const { return dragging_ && bottomVisible_; }

void TZEPHMain::imgRegisterDragDrop() {
    if (const TBatchEntry* entry = SelectedEntry()) RegisterOne(entry->Path, true);
}

void TZEPHMain::imgUnregisterDragDrop() {
    if (const TBatchEntry* entry = SelectedEntry()) RegisterOne(entry->Path, false);
}

void TZEPHMain::BeginRowDrag(int row) {
    if (Busy() || !batch_->HasBatch() || row < 0 || static_cast<size_t>(row) >= batch_->Model().Count()) return;
    lvFiles->Select(row, true);
    dragRow_ = row;
    dragging_ = true;
    POINT origin{};
    if (dragImage_) ImageList_Destroy(dragImage_);
    dragImage_ = ListView_CreateDragImage(lvFiles->Handle(), row, &origin);
    POINT cursor;
    GetCursorPos(&cursor);
    if (dragImage_) {
        POINT inList = cursor;
        ScreenToClient(lvFiles->Handle(), &inList);
        ImageList_BeginDrag(dragImage_, 0, inList.x - origin.x, inList.y - origin.y);
        RECT window{};
        GetWindowRect(Handle(), &window);
        ImageList_DragEnter(Handle(), cursor.x - window.left, cursor.y - window.top);
    }
    SetCapture(Handle());
}

void TZEPHMain::RowDragMove(POINT screen) {
    POINT inList = screen, inForm = screen;
    ScreenToClient(lvFiles->Handle(), &inList);
    ScreenToClient(Handle(), &inForm);
    bool overImage = InsideInclusive(RegisterTarget(), inForm) || InsideInclusive(UnregisterTarget(), inForm);
    bool overList = lvFilesDragOver(inList);
    // Near the list's top or bottom edge the rows scroll by one.
    RECT client{}, first{};
    GetClientRect(lvFiles->Handle(), &client);
    int top = ListView_GetTopIndex(lvFiles->Handle());
    int scroll = 0;
    if (ListView_GetItemRect(lvFiles->Handle(), top, &first, LVIR_BOUNDS) && inList.x >= 0 && inList.x < client.right) {
        int height = first.bottom - first.top;
        if (inList.y >= first.top && inList.y < first.top + height / 2 && top > 0) scroll = -height;
        if (inList.y > client.bottom - height / 2 && inList.y < client.bottom) scroll = height;
    }
    int row = overList ? DropRow(lvFiles->Handle(), inList) : -3;
    int mark = row == -3 ? -1 : (row == -1 ? static_cast<int>(batch_->Model().Count()) : row);
    if (scroll != 0 || mark != insertMark_) {
        // The window is locked while the drag image shows; it is released
        // for the repaint and taken again.
        if (dragImage_) ImageList_DragLeave(Handle());
        if (scroll != 0) ListView_Scroll(lvFiles->Handle(), 0, scroll);
        SetInsertMark(mark);
        RECT window{};
        GetWindowRect(Handle(), &window);
        if (dragImage_) ImageList_DragEnter(Handle(), screen.x - window.left, screen.y - window.top);
    }
    SetCursor(LoadCursorA(nullptr, (overList || overImage) ? MAKEINTRESOURCEA(32512)    // IDC_ARROW
                                                           : MAKEINTRESOURCEA(32648)));  // IDC_NO
    RECT window{};
    GetWindowRect(Handle(), &window);
    if (dragImage_) ImageList_DragMove(screen.x - window.left, screen.y - window.top);
}

void TZEPHMain::SetInsertMark(int row) {
    // The mark is a line where the dragged entry would land: above the
    // target row when moving up, below it when moving down or past the end.
    insertMark_ = row;
    // Erased too: the mark runs past the last column.
    InvalidateRect(lvFiles->Handle(), nullptr, TRUE);
    UpdateWindow(lvFiles->Handle());
    if (row < 0) return;
    int selected = lvFiles->Selected();
    int count = static_cast<int>(batch_->Model().Count());
    int anchor = std::min(row, count - 1);
    bool below = row >= count || row > selected;
    RECT r{}, client{};
    if (anchor < 0 || !ListView_GetItemRect(lvFiles->Handle(), anchor, &r, LVIR_BOUNDS)) return;
    GetClientRect(lvFiles->Handle(), &client);
    int y = below ? r.bottom - 1 : r.top;
    HDC dc = GetDC(lvFiles->Handle());
    HBRUSH brush = GetSysColorBrush(COLOR_HIGHLIGHT);
    RECT line{client.left, y - 1, client.right, y + 1};
    RECT left{client.left, y - 3, client.left + 2, y + 3};
    RECT right{client.right - 2, y - 3, client.right, y + 3};
    FillRect(dc, &line, brush);
    FillRect(dc, &left, brush);
    FillRect(dc, &right, brush);
    ReleaseDC(lvFiles->Handle(), dc);
}

void TZEPHMain::EndRowDrag(bool drop) {
    if (!dragging_) return;
    dragging_ = false;
    if (dragImage_) {
        ImageList_DragLeave(Handle());
        ImageList_EndDrag();
        ImageList_Destroy(dragImage_);
        dragImage_ = nullptr;
    }
    if (GetCapture() == Handle()) ReleaseCapture();
    if (insertMark_ >= 0) SetInsertMark(-1);
    if (!drop) return;
    POINT screen;
    GetCursorPos(&screen);
    POINT inList = screen, inForm = screen;
    ScreenToClient(lvFiles->Handle(), &inList);
    ScreenToClient(Handle(), &inForm);
    if (InsideInclusive(RegisterTarget(), inForm)) {
        imgRegisterDragDrop();
    } else if (InsideInclusive(UnregisterTarget(), inForm)) {
        imgUnregisterDragDrop();
    } else {
        lvFilesDragDrop(inList);
    }
}

// ----------------------------------------------------- drops from the shell

void TZEPHMain::HandleDropFiles(HDROP drop) {
    // The drop data is released however the handler is left.
    struct TRelease {
        HDROP drop;
        ~TRelease() { DragFinish(drop); }
    } release{drop};
    if (Busy()) return;
    SetForegroundWindow(Handle());
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    POINT point{};
    DragQueryPoint(drop, &point);
    std::vector<std::string> items;
    for (UINT i = 0; i < count; ++i) {
        // Each path is read whole, however long, in its wide form: the ANSI
        // one has "?" for every character the code page lacks, and a drop
        // holding such a name is refused whole before anything acts on it.
        UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring wide(length + 1, L'\0');
        wide.resize(DragQueryFileW(drop, i, wide.data(), length + 1));
        std::string path;
        if (!qv::WideToAnsi(wide, path)) throw LostNameError(path);
        if (!path.empty()) items.push_back(path);
    }
    DropFiles(items, point);
}

void TZEPHMain::DropFiles(const std::vector<std::string>& items, POINT client) {
    if (Busy()) return;
    if (InsideInclusive(RegisterTarget(), client)) {
        RegisterDropped(items, true);
    } else if (InsideInclusive(UnregisterTarget(), client)) {
        RegisterDropped(items, false);
    } else {
        AddDropped(items);
    }
}

void TZEPHMain::RegisterDropped(const std::vector<std::string>& items, bool register_) {
    ui::TActionLock busy(alMain);
    // Each file's outcome in its own message; Cancel stops the rest.
    auto run = [this, register_](const std::string& path) {
        std::string message;
        try {
            engine::RegisterServerFile(path, register_);
        } catch (const std::exception& outcome) {
            message = outcome.what();
        }
        return QVMessage(message, ui::Application.Title, qmtInformation, qbOKCancel, 1,
                         AppInfo ? AppInfo->Language : qlEnglish,
                         AppInfo ? AppInfo->DialogFontName : "Tahoma") != qrCancel;
    };
    for (const std::string& item : items) {
        if (IsFolder(item)) {
            for (const std::string& file : FolderFiles(item)) {
                if (!run(file)) return;
            }
        } else if (!run(item)) {
            return;
        }
    }
}

void TZEPHMain::AddDropped(const std::vector<std::string>& items) {
    if (!batch_->HasBatch()) batch_->SetCurrentBatch("");
    for (const std::string& item : items) {
        if (IsFolder(item)) {
            for (const std::string& file : FolderFiles(item)) batch_->AddFile(file, false);
        } else {
            batch_->AddFile(item, false);
        }
    }
}
