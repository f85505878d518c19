#include "mainwin/frmMain.h"

#include "app/uMain.h"
#include "common/QVAboutFrm2.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVHelpUtils.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVStrings.h"
#include "options/uOptions.h"
#include "resource.h"
#include "ui/Application.h"

namespace {
enum : UINT { cmHelpContents = 1001, cmHelpOnTheWeb, cmHelpAbout };

QVLanguage DialogLanguage() { return AppInfo ? AppInfo->Language : qlEnglish; }
std::string DialogFont() { return AppInfo ? AppInfo->DialogFontName : "Tahoma"; }
}  // namespace

TZEPHMain::TZEPHMain() {
    CreateForm(ui::Application.Title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_APPWINDOW);
    KeyPreview = true;
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, cmHelpContents, "Quorvandel Corvantis &Help\tF1");
    AppendMenuA(help, MF_STRING, cmHelpOnTheWeb, "Quorvandel On The &Web");
    AppendMenuA(help, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(help, MF_STRING, cmHelpAbout, "&About...");
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
    SetMenu(Handle(), bar);
    SetClientSize(620, 420);

    lvFiles = Add<ui::TListView>(ui::TBounds{0, 0, 620, 420});
    lvFiles->AddColumn("Name", 150);
    lvFiles->AddColumn("Location", 230);
    batch_ = std::make_unique<TBatchDocument>(*this, *lvFiles);
    batch_->LoadRecentFiles();
    if (Options) batch_->ApplyAutoSave(Options->AutoSave, Options->AutoSaveInterval);
    FitList();
    SetActiveControl(lvFiles);
    CenterOnScreen();
}

void TZEPHMain::FitList() {
    RECT client{};
    GetClientRect(Handle(), &client);
    SetWindowPos(lvFiles->Handle(), nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TZEPHMain::actHelpContentsExecute() { ShowHelp(*AppInfo, hcContents); }

void TZEPHMain::actHelpOnTheWebExecute() { OpenWebAddress(AppInfo->WebAddresses->WebSite); }

void TZEPHMain::actHelpAboutExecute() { ShowAboutBox(*AppInfo, AppInfo->DialogFontName); }

bool TZEPHMain::FormKeyUp(WORD key, unsigned) {
    // Escape never closes the main window.
    if (key == VK_ESCAPE) key = 0;
    if (AppInfo) HandleFormKey(key, *this, *AppInfo);
    return key == VK_F1;
}

LRESULT TZEPHMain::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        if (lParam == 0 && HIWORD(wParam) == 0) {
            switch (LOWORD(wParam)) {
            case cmHelpContents: actHelpContentsExecute(); return 0;
            case cmHelpOnTheWeb: actHelpOnTheWebExecute(); return 0;
            case cmHelpAbout: actHelpAboutExecute(); return 0;
            default: break;
            }
        }
        break;
    case WM_SIZE:
        if (lvFiles) FitList();
        break;
    case WM_DESTROY:
        ui::TForm::WndProc(msg, wParam, lParam);
        if (batch_) batch_->SaveRecentFiles();
        StopApplication();
        return 0;
    default:
        break;
    }
    return ui::TForm::WndProc(msg, wParam, lParam);
}

void TZEPHMain::ApplicationException(std::exception_ptr error) {
    const std::string& title = ui::Application.Title;
    try {
        std::rethrow_exception(error);
    } catch (const EQVException& e) {
        QVMessageDetails(e.what(), e.Details, title, static_cast<QVDetailsType>(e.Kind), DialogLanguage(),
                         DialogFont(), false);
        if (e.Kind == qekFatal) ui::Application.Terminate(1);
    } catch (const std::exception& e) {
        QVMessageDetails(qv::LoadStr(IDS_UNEXPECTED_ERROR), e.what(), title, qdtCritical, DialogLanguage(),
                         DialogFont(), false);
        ui::Application.Terminate(1);
    } catch (...) {
        QVMessageDetails(qv::LoadStr(IDS_UNEXPECTED_ERROR), "", title, qdtCritical, DialogLanguage(), DialogFont(),
                         false);
        ui::Application.Terminate(1);
    }
}
