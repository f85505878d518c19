// The task window with real test servers: rows, statuses, the error list,
// the stop rules, Details, copying and saving the errors.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "TestServerIds.h"
#include "common/QVExceptions.h"
#include "common/QVSystem.h"
#include "engine/frmLog.h"
#include "engine/uRegistry.h"
#include "mainwin/uBatch.h"
#include "options/uOptions.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "ui/Application.h"
#include "ui/Dialogs.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

std::string Ok() { return TestDataDir() + ts::kOkServerFile; }
std::string SFalse() { return TestDataDir() + ts::kSFalseServerFile; }
std::string Fault() { return TestDataDir() + ts::kFaultServerFile; }

std::string ItemText(const ui::TListView* list, int row, int column) {
    char text[1024] = {};
    ListView_GetItemText(list->Handle(), row, column, text, sizeof text);
    return text;
}

std::vector<std::string> Column(const ui::TListView* list, int column) {
    std::vector<std::string> texts;
    for (int row = 0; row < list->ItemCount(); ++row) texts.push_back(ItemText(list, row, column));
    return texts;
}

int ImageOf(const ui::TListView* list, int row) {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    SendMessageA(list->Handle(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.iImage;
}

using Strings = std::vector<std::string>;

// The error list's rows with a picture: the failures and stop notices,
// without the indented lines of their reasons.
Strings HeadRows(const ui::TListView* list) {
    Strings texts;
    for (int row = 0; row < list->ItemCount(); ++row) {
        if (ImageOf(list, row) >= 0) texts.push_back(ItemText(list, row, 0));
    }
    return texts;
}

const char kSFalseReason[] =
    "    DllRegisterServer returned 0x00000001 (S_FALSE).\r\n"
    "    The server reports that it did not do all of its work; only S_OK (0) counts as success.\r\n";

TEST(LogWindow, LayoutAndRowsBeforeTheRunStarts) {
    TLogFrm log({Ok(), SFalse(), Ok()}, true, true, TStopRules{stopNever, 5});
    bool checked = false;
    auto real = log.Perform;
    log.Perform = [&](const std::string& path, bool reg) {
        if (!checked) {
            checked = true;
            EXPECT_EQ(WindowText(log.Handle()), "Task Progress...");
            SIZE client = ClientSize96(log.Handle());
            EXPECT_EQ(client.cx, 465);
            EXPECT_EQ(client.cy, 287);
            // While the run lasts, Close is Stop.
            EXPECT_TRUE(log.cmdClose->Enabled());
            EXPECT_EQ(log.cmdClose->Text(), "&Stop");
            EXPECT_EQ(log.lblDescription->Text(), "Performing selected tasks. Please wait...");
            EXPECT_EQ(log.pBar->Max(), 6);
            EXPECT_EQ(log.pcTasks->ActivePage(), 0);
            EXPECT_EQ(Column(log.lvTasks, 0),
                      (Strings{"Unregister 'OkServer.dll'...", "Unregister 'SFalseServer.dll'...",
                               "Unregister 'OkServer.dll'...", "Register 'OkServer.dll'...",
                               "Register 'SFalseServer.dll'...", "Register 'OkServer.dll'..."}));
            EXPECT_EQ(Column(log.lvTasks, 1), Strings(6, "Waiting"));
            EXPECT_EQ(ImageOf(log.lvTasks, 5), 0);
            RECT r = ChildBounds(log.Handle(), log.cmdClose->Handle());
            EXPECT_EQ(r.left, 376);
            EXPECT_EQ(r.top, 8);
            r = ChildBounds(log.Handle(), log.pBar->Handle());
            EXPECT_EQ(r.left, 16);
            EXPECT_EQ(r.top, 52);
            EXPECT_EQ(r.right - r.left, 353);
            r = ChildBounds(log.Handle(), log.pcTasks->Handle());
            EXPECT_EQ(r.left, 16);
            EXPECT_EQ(r.top, 96);
            EXPECT_EQ(r.right - r.left, 433);
            EXPECT_EQ(r.bottom - r.top, 177);
            EXPECT_EQ(ListView_GetColumnWidth(log.lvTasks->Handle(), 0), ui::Application.Scale(300));
            EXPECT_EQ(ListView_GetColumnWidth(log.lvTasks->Handle(), 1), ui::Application.Scale(100));
        }
        if (log.Run().Progress() == 3) SaveShot(log.Handle(), "log-during");
        real(path, reg);
    };
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND dialog) {
                     EXPECT_EQ(Column(log.lvTasks, 1), (Strings{"Completed", "Failed", "Completed", "Completed",
                                                                "Failed", "Completed"}));
                     EXPECT_EQ(ImageOf(log.lvTasks, 0), 1);
                     EXPECT_EQ(ImageOf(log.lvTasks, 1), 2);
                     EXPECT_EQ(HeadRows(log.lvErrors),
                               (Strings{"Call to 'DllUnregisterServer' failed in 'SFalseServer.dll'.",
                                        "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'."}));
                     EXPECT_EQ(ImageOf(log.lvErrors, 0), 3);
                     EXPECT_EQ(log.lblDescription->Text(),
                               "The processing of requested tasks was completed with errors. Please review the list "
                               "of errors below for more details.");
                     EXPECT_TRUE(log.cmdClose->Enabled());
                     EXPECT_TRUE(log.cmdClose->Focused());
                     EXPECT_EQ(log.pBar->Position(), 6);
                     EXPECT_EQ(log.pcTasks->ActivePage(), 0) << "the tab is not changed";
                     SaveShot(dialog, "log-after-tasks");
                     log.pcTasks->SetActivePage(1);
                 },
                 [&](HWND dialog) {
                     EXPECT_TRUE(IsWindowVisible(log.lvErrors->Handle()));
                     EXPECT_FALSE(IsWindowVisible(log.lvTasks->Handle()));
                     SaveShot(dialog, "log-after-errors");
                     PressKey(VK_RETURN);
                 }},
                [&] { log.ShowModal(); });
    EXPECT_TRUE(checked);
}

TEST(LogWindow, StopAfterFirstErrorCancelsTheRest) {
    TLogFrm log({Ok(), SFalse(), Ok(), Ok()}, true, false, TStopRules{stopAfterFirst, 5});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND dialog) {
                     EXPECT_EQ(Column(log.lvTasks, 1), (Strings{"Completed", "Failed", "Cancelled", "Cancelled"}));
                     EXPECT_EQ(ImageOf(log.lvTasks, 3), 3);
                     EXPECT_EQ(HeadRows(log.lvErrors), (Strings{"Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.",
                                                                 "Processing stopped after first error."}));
                     EXPECT_EQ(ImageOf(log.lvErrors, 1), -1) << "a line of the reason has no picture";
                     EXPECT_EQ(ImageOf(log.lvErrors, log.lvErrors->ItemCount() - 1), 4);
                     EXPECT_EQ(log.pBar->Position(), 1) << "the task that stopped the run does not advance it";
                     SaveShot(dialog, "log-stopped");
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

TEST(LogWindow, AFaultInAServerIsThatTasksFailure) {
    TLogFrm log({Fault(), Ok()}, false, true, TStopRules{stopNever, 5});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND) {
                     EXPECT_EQ(Column(log.lvTasks, 0),
                               (Strings{"Unregister 'FaultServer.dll'...", "Unregister 'OkServer.dll'..."}));
                     EXPECT_EQ(Column(log.lvTasks, 1), (Strings{"Failed", "Completed"}));
                     EXPECT_EQ(HeadRows(log.lvErrors),
                               Strings{"Call to 'DllUnregisterServer' failed in 'FaultServer.dll'."});
                     EXPECT_EQ(ItemText(log.lvErrors, 1, 0).rfind(
                                   "    DllUnregisterServer raised exception 0xC0000094 (integer division by zero)", 0),
                               0u);
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

TEST(LogWindow, TheListFollowsTheRunningTask) {
    TLogFrm log(std::vector<std::string>(40, Ok()), false, false, TStopRules{stopNever, 5});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND) {
                     HWND list = log.lvTasks->Handle();
                     int top = ListView_GetTopIndex(list);
                     EXPECT_GT(top, 0);
                     EXPECT_LE(39, top + ListView_GetCountPerPage(list) - 1) << "the last task is in view";
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

TEST(LogWindow, AnEmptyListEndsAtOnce) {
    TLogFrm log({}, true, true, TStopRules{stopNever, 5});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND) {
                     EXPECT_EQ(log.lvTasks->ItemCount(), 0);
                     EXPECT_EQ(log.pBar->Max(), 0);
                     EXPECT_EQ(log.lblDescription->Text(), "The processing of requested tasks was completed.");
                     EXPECT_TRUE(log.cmdClose->Enabled());
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

// Posts a key press (down and up) to the control, whether or not the window
// is the active one.
void PressKeyOn(HWND control, WORD vk) {
    UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(control, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(control, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000);
}

// Esc never stops a run; once the run is over it closes the window.
TEST(LogWindow, EscDoesNothingDuringTheRunAndClosesTheWindowAfterIt) {
    TLogFrm log({Ok(), Ok(), Ok()}, true, false, TStopRules{stopNever, 5});
    auto real = log.Perform;
    log.Perform = [&](const std::string& path, bool reg) {
        if (log.Run().Progress() == 0) PressKeyOn(log.lvTasks->Handle(), VK_ESCAPE);
        real(path, reg);
    };
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND dialog) {
                     EXPECT_TRUE(IsWindowVisible(dialog)) << "Esc closed the window during the run";
                     EXPECT_EQ(Column(log.lvTasks, 1), Strings(3, "Completed")) << "Esc stopped the run";
                     PressKeyOn(log.cmdClose->Handle(), VK_ESCAPE);
                 }},
                [&] { log.ShowModal(); });
}

// The text of the tooltip's one tool, read with the wide message: the ANSI
// one may stop at 80 characters.
std::string TipText(HWND tip) {
    wchar_t text[1024] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    SendMessageW(tip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = text;
    SendMessageW(tip, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
    char ansi[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, sizeof ansi, nullptr, nullptr);
    return ansi;
}

// A line longer than the error column shows whole in a tip: over its row
// when the keyboard selects it, under the pointer resting on it; a line that
// fits shows none.
TEST(LogWindow, ALongErrorLineShowsWholeInATip) {
    TLogFrm log({SFalse()}, true, false, TStopRules{stopNever, 5});
    const int longRow = 2;  // the second line of the reason
    std::string full;
    auto rowCentre = [&](int row) {
        RECT r{};
        ListView_GetItemRect(log.lvErrors->Handle(), row, &r, LVIR_LABEL);
        POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        return at;
    };
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND) {
                     ASSERT_EQ(log.lvErrors->ItemCount(), 3);
                     full = log.Run().Errors()[longRow].Text;
                     ASSERT_EQ(ItemText(log.lvErrors, longRow, 0), full);
                     SetCursorPos(0, 0);
                     log.pcTasks->SetActivePage(1);
                     log.lvErrors->SetFocus();
                     log.lvErrors->Select(0);
                     PressKeyOn(log.lvErrors->Handle(), VK_END);
                 },
                 [&](HWND) {
                     EXPECT_EQ(log.lvErrors->Selected(), longRow);
                     EXPECT_TRUE(IsWindowVisible(log.lvErrors->KeyTip()));
                     EXPECT_EQ(TipText(log.lvErrors->KeyTip()), full);
                     SaveShot(GetDesktopWindow(), "log-tip-keyboard");
                     PressKeyOn(log.lvErrors->Handle(), VK_HOME);
                 },
                 [&](HWND) {
                     EXPECT_EQ(log.lvErrors->Selected(), 0);
                     EXPECT_FALSE(IsWindowVisible(log.lvErrors->KeyTip())) << "the first line fits its column";
                     POINT at = rowCentre(longRow);
                     POINT screen = at;
                     ClientToScreen(log.lvErrors->Handle(), &screen);
                     SetCursorPos(screen.x, screen.y);
                     PostMessageA(log.lvErrors->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
                 },
                 WaitUntil([&] { return IsWindowVisible(log.lvErrors->HoverTip()) != FALSE; }),
                 [&](HWND) {
                     EXPECT_EQ(TipText(log.lvErrors->HoverTip()), full);
                     SaveShot(GetDesktopWindow(), "log-tip-pointer");
                     POINT at = rowCentre(0);
                     POINT screen = at;
                     ClientToScreen(log.lvErrors->Handle(), &screen);
                     SetCursorPos(screen.x, screen.y);
                     PostMessageA(log.lvErrors->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
                 },
                 [&](HWND) {
                     EXPECT_EQ(TipText(log.lvErrors->HoverTip()), "") << "the first line fits its column";
                     SetCursorPos(0, 0);
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

TEST(LogWindow, DetailsCollapsesAndExpands) {
    TLogFrm log({Ok()}, true, false, TStopRules{stopNever, 5});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND dialog) {
                     EXPECT_EQ(log.cmdDetails->Text(), "<< &Details");
                     Click(log.cmdDetails->Handle());
                     (void)dialog;
                 },
                 [&](HWND dialog) {
                     EXPECT_EQ(OuterHeight96(dialog), 107);
                     EXPECT_EQ(log.cmdDetails->Text(), "&Details >>");
                     SaveShot(dialog, "log-collapsed");
                     Click(log.cmdDetails->Handle());
                 },
                 [&](HWND dialog) {
                     EXPECT_EQ(OuterHeight96(dialog), 314);
                     EXPECT_EQ(log.cmdDetails->Text(), "<< &Details");
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

TEST(LogWindow, CopyTakesTheSelectedErrorAndSaveWritesAllOfThem) {
    TLogFrm log({SFalse(), TestDataDir() + "Missing.dll"}, true, false, TStopRules{stopAfterN, 2});
    const std::string file = MakeTempDir("log") + "errors.log";
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND) {
                     // Two failures on the last row: no stop notice.
                     EXPECT_EQ(HeadRows(log.lvErrors).size(), 2u);
                     log.popErrorsPopup();
                     EXPECT_FALSE(log.popErrors.Item(log.popErrorsCopy).Enabled) << "nothing selected";
                     EXPECT_TRUE(log.popErrors.Item(log.popErrorsSaveToFile).Enabled);
                     log.pcTasks->SetActivePage(1);
                     log.lvErrors->Select(3);
                     log.popErrorsPopup();
                     EXPECT_TRUE(log.popErrors.Item(log.popErrorsCopy).Enabled);
                     log.popErrorsCopyClick();
                     EXPECT_EQ(ui::GetClipboardText(nullptr),
                               "Library '" + TestDataDir() + "Missing.dll' not found.");
                     log.popErrorsSaveToFileClick();  // runs the save dialog; the next step answers it
                 },
                 [&](HWND dialog) {
                     EXPECT_EQ(WindowText(dialog), "Save Errors As...");
                     ChooseFile(dialog, file);
                 },
                 [&](HWND dialog) {
                     EXPECT_EQ(dialog, log.Handle());
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
    EXPECT_EQ(ReadWholeFile(file), "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.\r\n" +
                                       std::string(kSFalseReason) + "Library '" + TestDataDir() +
                                       "Missing.dll' not found.\r\n    The file '" + TestDataDir() +
                                       "Missing.dll' does not exist.\r\n");
}

TEST(LogWindow, AFailedSaveGivesTheSystemsReason) {
    const std::string dir = MakeTempDir("log-fail");
    // A file another program holds open without sharing it.
    const std::string inUse = dir + "in use.log";
    WriteFile(inUse, "kept");
    HANDLE holder = CreateFileA(inUse.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    struct TCase {
        std::string file;
        DWORD error;
        // The log is written beside the file and moved over it: a file in
        // use refuses the move with either code.
        DWORD alsoError;
        bool replacePrompt;  // the save dialog first asks to replace an existing file
    };
    for (const TCase& c :
         {TCase{dir + "no such folder\\errors.log", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND, false},
          TCase{inUse, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, true}}) {
        SCOPED_TRACE(c.file);
        TLogFrm log({SFalse()}, true, false, TStopRules{stopNever, 5});
        std::string message = "<none>", details;
        std::vector<DialogStep> steps = {WaitUntil([&] { return log.Run().Finished(); }),
                                         [&](HWND) {
                                             try {
                                                 log.popErrorsSaveToFileClick();
                                             } catch (const EQVException& e) {
                                                 message = e.what();
                                                 details = e.Details;
                                             }
                                         },
                                         [&](HWND dialog) { ChooseFile(dialog, c.file); }};
        if (c.replacePrompt) steps.push_back([](HWND dialog) { Click(ChildWithText(dialog, "&Yes")); });
        steps.push_back([&](HWND) { Click(log.cmdClose->Handle()); });
        DriveDialog(steps, [&] { log.ShowModal(); });
        EXPECT_EQ(message, "Error saving log file.");
        EXPECT_TRUE(details == qv::SystemErrorText(c.error) || details == qv::SystemErrorText(c.alsoError)) << details;
        EXPECT_EQ(details.find("System error"), std::string::npos) << "the system's own text";
    }
    CloseHandle(holder);
    EXPECT_EQ(ReadWholeFile(inUse), "kept");
}

TEST(LogWindow, StopAfterNAddsItsNoticeBeforeTheLastRow) {
    TLogFrm log({SFalse(), SFalse(), Ok()}, true, false, TStopRules{stopAfterN, 2});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND) {
                     EXPECT_EQ(Column(log.lvTasks, 1), (Strings{"Failed", "Failed", "Cancelled"}));
                     EXPECT_EQ(log.Run().Errors().back().Text, "Processing stopped after 2 error(s).");
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

TEST(LogWindow, TheCloseBoxDuringTheRunClosesItOnceTheRunHasEnded) {
    TLogFrm log({Ok(), Ok(), Ok()}, true, true, TStopRules{stopNever, 5});
    auto real = log.Perform;
    log.Perform = [&](const std::string& path, bool reg) {
        if (log.Run().Progress() == 0) PostMessageA(log.Handle(), WM_CLOSE, 0, 0);
        real(path, reg);
    };
    log.ShowModal();
    EXPECT_TRUE(log.Run().Finished());
    EXPECT_EQ(log.Run().Progress(), 6) << "the run was not interrupted";
}

TEST(LogWindow, InputDuringATaskIsHandledBeforeTheNextTask) {
    struct TCase {
        const char* name;
        std::function<void(TLogFrm&)> act;
        std::function<bool(TLogFrm&)> done;
    };
    const TCase cases[] = {
        {"Details", [](TLogFrm& log) { Click(log.cmdDetails->Handle()); },
         [](TLogFrm& log) { return log.cmdDetails->Text() == "&Details >>"; }},
        {"Errors tab",
         [](TLogFrm& log) {
             HWND tabs = log.pcTasks->Handle();
             PostMessageA(tabs, WM_KEYDOWN, VK_RIGHT, 1);
             PostMessageA(tabs, WM_KEYUP, VK_RIGHT, 0xC0000001);
         },
         [](TLogFrm& log) { return IsWindowVisible(log.lvErrors->Handle()) != FALSE; }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TLogFrm log(std::vector<std::string>(6, Ok()), true, false, TStopRules{stopNever, 5});
        auto real = log.Perform;
        bool doneBeforeTask3 = false;
        log.Perform = [&](const std::string& path, bool reg) {
            int task = log.Run().Progress();
            if (task == 2) {
                // The input arrives during a task that takes its time.
                c.act(log);
                Sleep(20);
            }
            if (task == 3) doneBeforeTask3 = c.done(log);
            real(path, reg);
        };
        DriveDialog({WaitUntil([&] { return log.Run().Finished(); }), [&](HWND) { Click(log.cmdClose->Handle()); }},
                    [&] { log.ShowModal(); });
        EXPECT_TRUE(doneBeforeTask3);
    }
}

// What a timer of the thread sees while the slow task of a run waits for its
// server: the bar's position and whether the slow task's row is in view.
struct TSlowTaskView {
    TLogFrm* log = nullptr;
    bool waiting = false;
    int bar = -1;
    bool rowInView = false;
    int row = 0;
} g_slow;

void CALLBACK LookAtTheLog(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_slow.waiting) return;
    HWND list = g_slow.log->lvTasks->Handle();
    int top = ListView_GetTopIndex(list);
    g_slow.bar = g_slow.log->pBar->Position();
    g_slow.rowInView = g_slow.row >= top && g_slow.row < top + ListView_GetCountPerPage(list);
}

TEST(LogWindow, WhileATaskWaitsForItsServerTheWindowShowsTheTasksBeforeIt) {
    // Twenty quick tasks, then an executable server that takes its time.
    std::vector<std::string> files(20, Ok());
    files.push_back(TestDataDir() + ts::kExeServerFile);
    TLogFrm log(files, true, false, TStopRules{stopNever, 5});
    g_slow = TSlowTaskView{&log, false, -1, false, 20};
    auto real = log.Perform;
    log.Perform = [&](const std::string& path, bool reg) {
        // Every outcome leaves as an exception.
        struct TWaiting {
            explicit TWaiting(bool on) { g_slow.waiting = on; }
            ~TWaiting() { g_slow.waiting = false; }
        } waiting(path == files.back());
        real(path, reg);
    };
    UINT_PTR timer = SetTimer(nullptr, 0, 20, LookAtTheLog);
    {
        ScopedEnv delay(ts::kServerDelayEnvVar, "500");
        DriveDialog({WaitUntil([&] { return log.Run().Finished(); }), [&](HWND) { Click(log.cmdClose->Handle()); }},
                    [&] { log.ShowModal(); });
    }
    KillTimer(nullptr, timer);
    EXPECT_EQ(log.Run().ErrorCount(), 0);
    EXPECT_EQ(g_slow.bar, 20) << "the bar counts the twenty tasks done";
    EXPECT_TRUE(g_slow.rowInView) << "the list shows the task that runs";
    DeleteTree(HKEY_LOCAL_MACHINE, ts::kExeServerKey);
}

TEST(LogWindow, ALongRunEndsShowingItsFinalState) {
    // 300 tasks, every tenth failing: far more tasks than frames.
    std::vector<std::string> files;
    for (int i = 0; i < 300; ++i) files.push_back(i % 10 == 9 ? SFalse() : Ok());
    TLogFrm log(files, true, false, TStopRules{stopNever, 5});
    DriveDialog({WaitUntil([&] { return log.Run().Finished(); }),
                 [&](HWND) {
                     EXPECT_EQ(log.pBar->Position(), 300);
                     EXPECT_EQ(HeadRows(log.lvErrors).size(), 30u);
                     HWND list = log.lvTasks->Handle();
                     EXPECT_LE(299, ListView_GetTopIndex(list) + ListView_GetCountPerPage(list) - 1)
                         << "the last task is in view";
                     EXPECT_EQ(ItemText(log.lvTasks, 299, 1), "Failed");
                     EXPECT_EQ(HeadRows(log.lvErrors).back(),
                               "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.");
                     Click(log.cmdClose->Handle());
                 }},
                [&] { log.ShowModal(); });
}

TEST(LogWindow, AnUnexpectedErrorEndsTheRunAndReachesTheHandler) {
    TLogFrm log({Ok(), Ok(), Ok()}, false, false, TStopRules{stopNever, 5});
    auto real = log.Perform;
    log.Perform = [&](const std::string& path, bool reg) {
        if (log.Run().Progress() == 1) throw std::runtime_error("out of something");
        real(path, reg);
    };
    std::string caught;
    ui::Application.OnException = [&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            caught = e.what();
        }
    };
    DriveDialog({WaitUntil([&] { return !caught.empty(); }),
                 [&](HWND dialog) {
                     EXPECT_EQ(caught, "out of something");
                     EXPECT_FALSE(log.cmdClose->Enabled());
                     EXPECT_EQ(log.lblDescription->Text(), "Performing selected tasks. Please wait...");
                     EXPECT_EQ(Column(log.lvTasks, 1), (Strings{"Completed", "Waiting", "Waiting"}));
                     PostMessageA(dialog, WM_CLOSE, 0, 0);
                 }},
                [&] { log.ShowModal(); });
    ui::Application.OnException = nullptr;
}

TEST(LogWindow, RunTaskListTakesTheOptions) {
    Options = std::make_unique<TZEPHOptions>();
    Options->UnregisterBefore = false;
    Options->StopAfter = stopAfterFirst;
    DriveDialog({[](HWND dialog) {
                     // The task list is the list view with column headers.
                     HWND tasks = nullptr;
                     while ((tasks = FindWindowExA(dialog, tasks, "SysListView32", nullptr)) &&
                            (GetWindowLongA(tasks, GWL_STYLE) & LVS_NOCOLUMNHEADER)) {
                     }
                     ASSERT_NE(tasks, nullptr);
                     if (!IsWindowEnabled(FindWindowExA(dialog, nullptr, "Button", "&Close"))) {
                         RepeatStep();
                         return;
                     }
                     EXPECT_EQ(ListView_GetItemCount(tasks), 2) << "no unregister rows";
                     char status[64] = {};
                     ListView_GetItemText(tasks, 1, 1, status, sizeof status);
                     EXPECT_STREQ(status, "Cancelled");
                     Click(FindWindowExA(dialog, nullptr, "Button", "&Close"));
                 }},
                [&] { RunTaskList({SFalse(), Ok()}, true); });
    Options.reset();
}

// Stop: pressed while a server has worked for more than two seconds it ends
// that server and the task fails as stopped; pressed sooner, the task
// finishes. Either way nothing after it runs.
TEST(LogWindow, StopEndsAServerThatHangsAndLetsAShortTaskFinish) {
    struct {
        const char* slowMs;
        double pressAfterMs;
        const char* firstStatus;
    } cases[] = {{"60000", 2600, "Failed"}, {"1200", 300, "Completed"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slowMs);
        ScopedEnv slow(ts::kMisbehaveSlowEnvVar, c.slowMs);
        const std::string slowFile = TestDataDir() + ts::kMisbehaveSlowFile;
        TLogFrm log({slowFile, Ok()}, true, false, TStopRules{stopNever, 5});
        const double start = qv::NowMs();
        DriveDialog({WaitUntil([&] { return qv::NowMs() - start > c.pressAfterMs; }),
                     [&](HWND) {
                         EXPECT_EQ(log.cmdClose->Text(), "&Stop");
                         EXPECT_TRUE(log.cmdClose->Enabled());
                         SaveShot(log.Handle(), std::string("log_stop_pressed_") + c.firstStatus);
                         Click(log.cmdClose->Handle());
                     },
                     WaitUntil([&] { return log.Run().Finished(); }),
                     [&](HWND) {
                         SaveShot(log.Handle(), std::string("log_stopped_") + c.firstStatus);
                         EXPECT_EQ(log.cmdClose->Text(), "&Close");
                         EXPECT_TRUE(log.cmdClose->Focused());
                         Click(log.cmdClose->Handle());
                     }},
                    [&] { log.ShowModal(); });
        EXPECT_LT(qv::NowMs() - start, 8000.0) << "the hung server was not ended at once";
        EXPECT_EQ(Column(log.lvTasks, 1), (Strings{c.firstStatus, "Cancelled"}));
        const auto& errors = log.Run().Errors();
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().Text, "Processing stopped at the user's request.");
        if (std::string(c.firstStatus) == "Failed") {
            ASSERT_GE(errors.size(), 3u);
            EXPECT_EQ(errors[0].Text, "Call to 'DllRegisterServer' failed in 'Slow.dll'.");
            EXPECT_EQ(errors[1].Text.find("    The user stopped the work on 'Slow.dll' after "), 0u) << errors[1].Text;
        } else {
            EXPECT_EQ(errors.size(), 1u);
        }
    }
}

}  // namespace
