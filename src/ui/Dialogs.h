#pragma once
// The system's open and save dialogs, and the clipboard's text.
#include <windows.h>
#include <commdlg.h>

#include <string>

namespace ui {

struct TFileDialog {
    std::string Title;
    // Pairs of description and pattern separated by '|', e.g.
    // "Log Files (*.log)|*.log|All Files (*.*)|*.*".
    std::string Filter;
    std::string DefaultExt;
    std::string FileName;  // proposed on entry, chosen on return
    DWORD Options = 0;     // OFN_ flags besides the ones always set
    // The filter shown (1 is the first); the user's last choice after OK,
    // so that a dialog kept between uses opens with it again.
    DWORD FilterIndex = 1;
};

// Shows the dialog, owned by `owner`; true with the chosen name in
// dialog.FileName, false when cancelled.
bool ExecuteOpenDialog(HWND owner, TFileDialog& dialog);
bool ExecuteSaveDialog(HWND owner, TFileDialog& dialog);

// Another program may hold the clipboard open for a moment: opening it is
// tried this many times, kClipboardRetryMs apart, before it counts as busy.
constexpr int kClipboardAttempts = 10;
constexpr DWORD kClipboardRetryMs = 10;

// Puts plain text (UTF-8) on the clipboard as CF_UNICODETEXT; false when
// the clipboard is busy or the memory cannot be had. The text is ready
// before the clipboard is opened and emptied, so a failure leaves the
// clipboard's contents as they were.
bool SetClipboardText(HWND owner, const std::string& text);
// The clipboard's CF_UNICODETEXT as UTF-8, up to its first NUL and never
// past the data's size (empty text when it holds none) into `text`; false,
// with `text` untouched, when the clipboard could not be opened in
// `attempts` tries.
bool ReadClipboardText(HWND owner, std::string* text, int attempts = kClipboardAttempts);
// ReadClipboardText's text, or empty text when the clipboard is busy.
std::string GetClipboardText(HWND owner);

}  // namespace ui
