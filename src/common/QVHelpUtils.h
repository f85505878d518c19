#pragma once
// Help, System Information and web commands built on the application record.
#include <windows.h>

#include <string>

class TQVApplication;
namespace ui {
class TForm;
}

// Help contexts of the help file.
enum : int { hcContents = 0, hcPreferences = 500, hcTechnicalSupport = 60000 };

// Shows the record's help file, at `context` when it is not 0. Does nothing
// when there is no help file. Raises EQVException (Kind 1) when showing fails.
void ShowHelp(const TQVApplication& record, int context);

// The HTML Help viewer's HtmlHelpA, bound on first use. Without a viewer,
// beeps and returns -1.
INT_PTR CallHtmlHelp(HWND window, const std::string& file, UINT command, DWORD_PTR data);

// The key-up handler shared by the program's windows: Escape closes the form,
// F1 shows help at the form's help context.
void HandleFormKey(WORD& key, ui::TForm& form, const TQVApplication& record);

// Starts the System Information tool; raises EQVException (Kind 1) "Unable to
// run System Info at this time." with the reason as details when it cannot.
void RunSystemInfo();

// Opens the address in the default web browser; one without a scheme is
// taken as a web address. Reports nothing.
void OpenWebAddress(const std::string& address);

namespace qv {
// The address as handed to the browser.
std::string WebAddressToOpen(const std::string& address);
}  // namespace qv
