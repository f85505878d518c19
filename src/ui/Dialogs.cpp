#include "ui/Dialogs.h"

#include <commdlg.h>

#include <cstring>
#include <utility>
#include <vector>

#include "app/uCmdLine.h"
#include "common/QVCodePage.h"
#include "common/QVSystem.h"

namespace ui {

namespace {

// The wide dialog, so that a name the program's code page cannot hold (on
// Windows before 10 1903, which ignores the program's UTF-8 code page) is
// seen whole and refused by name rather than passed on with '?' in it.
bool Execute(HWND owner, TFileDialog& dialog, bool save) {
    std::wstring filter = qv::TextToWide(dialog.Filter);
    for (wchar_t& c : filter) {
        if (c == L'|') c = L'\0';
    }
    filter.append(2, L'\0');
    const std::wstring proposed = qv::TextToWide(dialog.FileName);
    std::vector<wchar_t> name(32768, L'\0');
    lstrcpynW(name.data(), proposed.c_str(), static_cast<int>(name.size()));
    const std::wstring title = qv::TextToWide(dialog.Title), defaultExt = qv::TextToWide(dialog.DefaultExt);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = dialog.FilterIndex > 0 ? dialog.FilterIndex : 1;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
    ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | dialog.Options;
    BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!chosen) return false;
    std::string chosenName;
    if (!qv::WideToAnsi(name.data(), chosenName)) throw LostNameError(chosenName);
    dialog.FileName = chosenName;
    dialog.FilterIndex = ofn.nFilterIndex;
    return true;
}

}  // namespace

bool ExecuteOpenDialog(HWND owner, TFileDialog& dialog) { return Execute(owner, dialog, false); }

bool ExecuteSaveDialog(HWND owner, TFileDialog& dialog) { return Execute(owner, dialog, true); }

namespace {

bool OpenClipboardBriefly(HWND owner, int attempts) {
    for (int attempt = 1;; ++attempt) {
        if (OpenClipboard(owner)) return true;
        if (attempt >= attempts) return false;
        Sleep(kClipboardRetryMs);
    }
}

}  // namespace

// The text goes as CF_UNICODETEXT, converted from the program's UTF-8:
// the system makes CF_TEXT from it for programs that ask for that, in their
// own code page. UTF-8 bytes put into CF_TEXT would be read in another code
// page.
bool SetClipboardText(HWND owner, const std::string& text) {
    const std::wstring wide = qv::TextToWide(text);
    const size_t size = (wide.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return false;
    void* data = GlobalLock(memory);
    if (!data) {
        GlobalFree(memory);
        return false;
    }
    memcpy(data, wide.c_str(), size);
    GlobalUnlock(memory);
    if (!OpenClipboardBriefly(owner, kClipboardAttempts)) {
        GlobalFree(memory);
        return false;
    }
    EmptyClipboard();
    // Once set, the memory belongs to the clipboard.
    bool done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    if (!done) GlobalFree(memory);
    CloseClipboard();
    return done;
}

bool ReadClipboardText(HWND owner, std::string* text, int attempts) {
    if (!OpenClipboardBriefly(owner, attempts)) return false;
    std::wstring read;
    // CF_UNICODETEXT whatever the format the text was put there in: the
    // system makes it from CF_TEXT or CF_OEMTEXT in their code pages.
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            // Never past the data's size, whether or not it ends with a NUL.
            size_t size = GlobalSize(data) / sizeof(wchar_t);
            size_t length = 0;
            while (length < size && chars[length]) ++length;
            read.assign(chars, length);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    *text = qv::WideToText(read);
    return true;
}

std::string GetClipboardText(HWND owner) {
    std::string text;
    ReadClipboardText(owner, &text);
    return text;
}

}  // namespace ui
