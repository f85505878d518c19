#include "engine/uRegistry.h"

#include <optional>

#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVMsgDetailsFrm.h"
#include "common/QVMsgFrm.h"
#include "engine/uHelper.h"
#include "ui/Application.h"

namespace engine {

unsigned RegistrationTimeoutMs = 60000;
void* RegistrationAbortEvent = nullptr;

namespace {

// The direction of the call in progress (one file at a time, user-interface
// thread), for the two file-type steps.
bool RegisterDirection = true;

void PumpMessages() { ui::Application.ProcessMessages(); }

TRegContext WindowedContext(QVLanguage language) {
    TRegContext context;
    context.language = language;
    context.timeoutMs = RegistrationTimeoutMs;
    context.pumpMessages = PumpMessages;
    context.abortEvent = RegistrationAbortEvent;
    UseHelpers(context);
    return context;
}

// The details speak the program's language; the command line, which shows
// its dialogs in English, passes English.
QVLanguage ProgramLanguage() { return AppInfo ? AppInfo->Language : qlEnglish; }

void RaiseFailure(const TRegOutcome& outcome) {
    if (!outcome.success) throw EQVException(outcome.message, outcome.details, qekError);
}

}  // namespace

TRegContext WindowedRegContext() { return WindowedContext(ProgramLanguage()); }

void RunServerExecutable(const std::string& path) {
    RaiseFailure(RunExecutableCore(path, RegisterDirection, WindowedContext(ProgramLanguage())));
}

void RegisterLibrary(const std::string& path) {
    RaiseFailure(RegisterLibraryCore(path, RegisterDirection, WindowedContext(ProgramLanguage())));
}

void RegisterServerFile(const std::string& path, bool register_) {
    // A run of many files shows the busy cursor for all of them; changing
    // the cursor twice per file would cost a tenth of a registration.
    std::optional<ui::TBusyCursor> busy;
    if (ui::Application.ScreenCursor() != ui::TCursor::HourGlass) busy.emplace();
    RegisterDirection = register_;
    TRegOutcome outcome = RegisterFileCore(path, register_, WindowedContext(ProgramLanguage()));
    throw EQVException(outcome.message, outcome.details, outcome.success ? qekSuccess : qekError);
}

bool RunRegistrationCommand(const std::string& path, bool register_) {
    std::optional<ui::TBusyCursor> busy(std::in_place);
    RegisterDirection = register_;
    TRegOutcome outcome = RegisterFileCore(path, register_, WindowedContext(qlEnglish));
    if (!outcome.success) {
        busy.reset();
        ui::Application.SetScreenCursor(ui::TCursor::Default);
        QVMessageDetails(outcome.message, outcome.details, ui::Application.Title, qdtWarning, qlEnglish, "Tahoma",
                         false);
        return false;
    }
    // The busy cursor stays until the dialog is dismissed.
    QVMessage(outcome.message, ui::Application.Title, qmtInformation, qbOK, 1, qlEnglish, "Tahoma");
    return true;
}

}  // namespace engine
