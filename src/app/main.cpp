// The process entry: COM apartment, title, command line; then either one
// registration with its outcome dialog, or the windowed application.
#include <windows.h>
#include <objbase.h>

#include "app/uCmdLine.h"
#include "app/uMain.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uCapture.h"
#include "engine/uRegistry.h"
#include "mainwin/frmMain.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

int RunWindowed() {
    StartApplication();
    TZEPHMain mainForm;
    ui::Application.SetMainForm(&mainForm);
    ui::Application.OnException = [&mainForm](std::exception_ptr error) { mainForm.ApplicationException(error); };
    mainForm.Show();
    int exitCode = ui::Application.Run();
    ui::Application.OnException = nullptr;
    ui::Application.SetMainForm(nullptr);
    return exitCode;
}

int RunProgram() {
    ui::Application.Initialize();
    ui::Application.Title = qv::LoadStr(IDS_APP_TITLE);
    // A name Windows could not pass whole is refused before anything acts on
    // it: "?" in place of its letters would name another file, or none.
    const std::string lost = LostCommandLineParameter();
    if (!lost.empty()) {
        const EQVException refused = LostNameError(lost);
        QVMessageDetails(refused.what(), refused.Details, ui::Application.Title, qdtWarning, qlEnglish, "Tahoma",
                         false);
        return 1;
    }
    ParseCommandLine();
    if (StartMode == smRegister || StartMode == smUnregister) {
        // Scripts and installers read the outcome from the exit code.
        return engine::RunRegistrationCommand(CommandLineFile, StartMode == smRegister) ? 0 : 1;
    }
    return RunWindowed();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Before anything loads a library by name: none comes from the current
    // folder (a batch's or a download's folder).
    qv::HardenDllSearch();
    // Scratch keys a capture left when its helper was killed are not kept.
    engine::RemoveStaleCaptureKeys();
    HRESULT com = CoInitialize(nullptr);
    int exitCode = 1;
    try {
        exitCode = RunProgram();
    } catch (const std::exception& e) {
        QVMessageDetails(qv::LoadStr(IDS_UNEXPECTED_ERROR), e.what(), ui::Application.Title, qdtCritical, qlEnglish,
                         "Tahoma", false);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
