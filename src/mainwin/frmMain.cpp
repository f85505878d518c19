#include "mainwin/frmMain.h"

#include "common/QVExceptions.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVStrings.h"
#include "resource.h"
#include "ui/Application.h"

TZEPHMain::TZEPHMain() {
    CreateForm(ui::Application.Title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_APPWINDOW);
    SetClientSize(620, 420);
    CenterOnScreen();
}

void TZEPHMain::ApplicationException(std::exception_ptr error) {
    const std::string& title = ui::Application.Title;
    try {
        std::rethrow_exception(error);
    } catch (const EQVException& e) {
        QVMessageDetails(e.what(), e.Details, title, static_cast<QVDetailsType>(e.Kind), qlEnglish, "Tahoma", false);
        if (e.Kind == qekFatal) ui::Application.Terminate(1);
    } catch (const std::exception& e) {
        QVMessageDetails(qv::LoadStr(IDS_UNEXPECTED_ERROR), e.what(), title, qdtCritical, qlEnglish, "Tahoma", false);
        ui::Application.Terminate(1);
    } catch (...) {
        QVMessageDetails(qv::LoadStr(IDS_UNEXPECTED_ERROR), "", title, qdtCritical, qlEnglish, "Tahoma", false);
        ui::Application.Terminate(1);
    }
}
