#include "common/QVHelpUtils.h"

#include <shellapi.h>

#include <cctype>
#include <stdexcept>

#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVHandles.h"
#include "common/QVRegUtils.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "resource.h"
#include "ui/Application.h"
#include "ui/Form.h"

namespace {

constexpr UINT kHelpDisplayTopic = 0;   // HH_DISPLAY_TOPIC
constexpr UINT kHelpContext = 15;       // HH_HELP_CONTEXT

}  // namespace

INT_PTR CallHtmlHelp(HWND window, const std::string& file, UINT command, DWORD_PTR data) {
    using THtmlHelp = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
    // Loaded once, from the system folder only; freed when the process ends.
    static qv::Module library(qv::LoadSystemLibrary("HHCtrl.ocx"));
    static THtmlHelp htmlHelp =
        library ? reinterpret_cast<THtmlHelp>(reinterpret_cast<void*>(GetProcAddress(library.get(), "HtmlHelpA")))
                : nullptr;
    if (!htmlHelp) {
        Beep(1000, 100);
        return -1;
    }
    return reinterpret_cast<INT_PTR>(htmlHelp(window, file.c_str(), command, data));
}

void ShowHelp(const TQVApplication& record, int context) {
    if (record.HelpFile.empty() || !qv::FileExists(record.HelpFile)) return;
    try {
        std::string target = record.HelpFile + ">MainWindow";
        if (context != 0) {
            CallHtmlHelp(ui::Application.Handle(), target, kHelpContext, static_cast<DWORD_PTR>(context));
        } else {
            CallHtmlHelp(ui::Application.Handle(), target, kHelpDisplayTopic, 0);
        }
    } catch (const std::exception& e) {
        throw EQVException(qv::LoadFmt(IDS_HELP_FAILED, record.HelpFile), e.what(), qekError);
    }
}

void HandleFormKey(WORD& key, ui::TForm& form, const TQVApplication& record) {
    if (key == VK_ESCAPE) form.Close();
    if (key == VK_F1) ShowHelp(record, form.HelpContext);
}

void RunSystemInfo() {
    try {
        std::string path =
            qv::ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "Path", "");
        if (path.empty()) throw EQVException(qv::LoadStr(IDS_SYSINFO_EMPTY_PATH), "", qekError);
        auto result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(ui::Application.Handle(), nullptr, path.c_str(), "", nullptr, SW_SHOWNORMAL));
        if (result <= 32) throw EQVException(qv::LoadStr(IDS_SYSINFO_RUN_ERROR), "", qekError);
    } catch (const std::exception& e) {
        throw EQVException(qv::LoadStr(IDS_SYSINFO_UNABLE), e.what(), qekError);
    }
}

namespace qv {

std::string WebAddressToOpen(const std::string& address) {
    // An address that already names a scheme ("http://", "HTTPS://",
    // "ftp://", "mailto:") is opened as it stands; anything else is taken as
    // a web address.
    size_t separator = address.find("://");
    bool hasScheme = separator != std::string::npos && separator > 0;
    for (size_t i = 0; hasScheme && i < separator; ++i) {
        unsigned char c = static_cast<unsigned char>(address[i]);
        hasScheme = std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
    }
    if (!hasScheme && address.size() > 7 && lstrcmpiA(address.substr(0, 7).c_str(), "mailto:") == 0) hasScheme = true;
    return hasScheme ? address : "http://" + address;
}

}  // namespace qv

void OpenWebAddress(const std::string& address) {
    if (address.empty()) return;
    ShellExecuteA(nullptr, nullptr, qv::WebAddressToOpen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
