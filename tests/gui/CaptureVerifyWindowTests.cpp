// Capturing and verifying from the main window, with real test servers: the
// Capture Registration dialog, the capture file's format, and the task
// window's capture and verification runs.
#include <gtest/gtest.h>

#include "TestServerIds.h"
#include "common/QVRegUtils.h"
#include "engine/frmLog.h"
#include "engine/uHelper.h"
#include "engine/uRegCore.h"
#include "mainwin/uBatch.h"
#include "mainwin/frmCapture.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "support/TextFit.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

std::string Ok() { return TestDataDir() + ts::kOkServerFile; }
std::string Exe() { return TestDataDir() + ts::kExeServerFile; }

bool OkServerRegistered() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ts::kOkServerClsidKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Starts from a registry without the test server's class, whatever an
// earlier test left.
void UnregisterOkServer() {
    engine::TRegContext context;
    engine::UseHelpers(context);
    engine::RegisterFileCore(Ok(), false, context);
    ASSERT_FALSE(OkServerRegistered());
}

// The task window that a run opened, from the step's window.
TLogFrm& LogOf(HWND dialog) { return *static_cast<TLogFrm*>(ui::TForm::FromHandle(dialog)); }

// A step that waits until the task window a run opened has finished.
DialogStep RunFinished() {
    return WaitUntil([] {
        HWND active = GetActiveWindow();
        return active && ui::TForm::FromHandle(active) && LogOf(active).Run().Finished();
    });
}

std::vector<std::string> Statuses(const TLogFrm& log) {
    std::vector<std::string> texts;
    for (int row = 0; row < log.Run().ProgressMax(); ++row) texts.push_back(log.Run().StatusText(row));
    return texts;
}

}  // namespace

TEST(CaptureWindow, TheFormatFollowsTheTypedExtensionThenTheChosenFileType) {
    struct TCase {
        const char* name;
        unsigned filter;
        TCaptureFormat format;
    };
    for (const TCase& c : {TCase{"a.reg", 3, TCaptureFormat::Reg}, TCase{"a.WXS", 1, TCaptureFormat::Wxs},
                           TCase{"a.Json", 2, TCaptureFormat::Json}, TCase{"a.txt", 2, TCaptureFormat::Wxs},
                           TCase{"a", 3, TCaptureFormat::Json}, TCase{"a.regx", 1, TCaptureFormat::Reg},
                           TCase{"a", 0, TCaptureFormat::Reg}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CaptureFormatOf(c.name, c.filter), c.format);
    }
}

TEST(CaptureWindow, TheDialogOffersTheSelectedFileFirstAndFitsItsTexts) {
    struct TCase {
        std::string selected;
        int count;
        bool selectedEnabled, allChecked;
    };
    for (const TCase& c : {TCase{"A rather long server name.ocx", 12, true, false}, TCase{"", 3, false, true}}) {
        SCOPED_TRACE(c.selected);
        TCaptureFrm form(c.selected, c.count);
        ShowWindow(form.Handle(), SW_SHOWNA);
        EXPECT_EQ(form.rdSelected->Enabled(), c.selectedEnabled);
        EXPECT_EQ(form.WholeBatch(), c.allChecked);
        EXPECT_NE(form.rdSelected->Text().find(c.selected), std::string::npos);
        EXPECT_NE(form.rdAll->Text().find("(" + std::to_string(c.count) + ")"), std::string::npos);
        EXPECT_EQ(DescribeMisfits(form.Handle()), "");
        SaveShot(form.Handle(), c.selected.empty() ? "capture_dialog_batch" : "capture_dialog");
        ShowWindow(form.Handle(), SW_HIDE);
    }
}

TEST(CaptureWindow, ARunWritesWhatWasCapturedListsTheRestAndRegistersNothing) {
    UnregisterOkServer();
    const std::string dir = MakeTempDir("capture-window");
    struct TCase {
        std::string file;
        std::string description;
        std::string error;  // a line of the error list
        bool written;
    };
    for (const TCase& c :
         {TCase{dir + "out.json",
                "1 of 2 files were captured and written to 'out.json'. The list of errors below names the others.",
                "Cannot capture 'ExeServer.exe'.", true},
          TCase{dir + "gone\\out.json", "The captured registration could not be written to 'out.json'.",
                "The captured registration could not be written to '" + dir + "gone\\out.json'.", false}}) {
        SCOPED_TRACE(c.file);
        std::vector<std::string> rows;
        std::string description, errors;
        DriveDialog({RunFinished(),
                     [&](HWND dialog) {
                         TLogFrm& log = LogOf(dialog);
                         rows = Statuses(log);
                         description = log.lblDescription->Text();
                         if (c.written) SaveShot(dialog, "capture_run");
                         for (const TErrorRow& error : log.Run().Errors()) errors += error.Text + "\n";
                         Click(log.cmdClose->Handle());
                     }},
                    [&] { RunCaptureList({Ok(), Exe()}, c.file, TCaptureFormat::Json); });
        EXPECT_EQ(rows, (std::vector<std::string>{"Completed", "Failed"}));
        EXPECT_EQ(description, c.description);
        EXPECT_NE(errors.find(c.error + "\n"), std::string::npos) << errors;
        ASSERT_EQ(GetFileAttributesA(c.file.c_str()) != INVALID_FILE_ATTRIBUTES, c.written);
        if (!c.written) continue;
        const std::string json = ReadWholeFile(c.file);
        EXPECT_EQ(json.substr(0, 3), "[\r\n");
        EXPECT_NE(json.find(ts::kOkServerClsidString), std::string::npos);
        EXPECT_EQ(json.find("ExeServer"), std::string::npos);
    }
    EXPECT_FALSE(OkServerRegistered());
}

TEST(VerifyWindow, EachRowShowsItsFilesStateAndTheErrorsTheDifferences) {
    UnregisterOkServer();
    struct TCase {
        bool registerFirst;
        std::vector<std::string> rows;
        std::string description;
    };
    for (const TCase& c :
         {TCase{false, {"Not registered", "Could not be verified"},
                "2 of 2 files are not registered as their own registration registers them. Please review the list "
                "of errors below for the differences."},
          TCase{true, {"Registered", "Could not be verified"},
                "1 of 2 files are not registered as their own registration registers them. Please review the list "
                "of errors below for the differences."}}) {
        SCOPED_TRACE(c.registerFirst);
        engine::TRegContext context;
        engine::UseHelpers(context);
        if (c.registerFirst) {
            ASSERT_TRUE(engine::RegisterFileCore(Ok(), true, context).success);
        }
        std::vector<std::string> rows;
        std::string description;
        size_t errorRows = 0;
        DriveDialog({RunFinished(),
                     [&](HWND dialog) {
                         TLogFrm& log = LogOf(dialog);
                         rows = Statuses(log);
                         // Every state shows whole in its column, the longest too.
                         for (const char* state : {"Overridden for the current user", "Registered to another file"}) {
                             EXPECT_LE(SendMessageA(log.lvTasks->Handle(), LVM_GETSTRINGWIDTHA, 0,
                                                    reinterpret_cast<LPARAM>(state)) + 12,
                                       log.lvTasks->ColumnWidth(1)) << state;
                         }
                         description = log.lblDescription->Text();
                         errorRows = static_cast<size_t>(log.lvErrors->ItemCount());
                         SaveShot(dialog, c.registerFirst ? "verify_registered" : "verify_not_registered");
                         log.pcTasks->SetActivePage(1);
                         SaveShot(dialog, c.registerFirst ? "verify_registered_errors" : "verify_not_registered_errors");
                         Click(log.cmdClose->Handle());
                     }},
                    [&] { RunVerifyList({Ok(), Exe()}); });
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(description, c.description);
        EXPECT_GE(errorRows, c.registerFirst ? 1u : 2u);
        if (c.registerFirst) {
            EXPECT_TRUE(engine::RegisterFileCore(Ok(), false, context).success);
        }
    }
    EXPECT_FALSE(OkServerRegistered());
}
