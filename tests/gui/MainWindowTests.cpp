// The main window on a real window: the enabling rules, the moves and drops,
// the clipboard, the start modes, the stored state, the busy lock, the bars
// and the fatal-error path.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>  // DROPFILES

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "TestServerIds.h"
#include "app/uCmdLine.h"
#include "common/QVApp.h"
#include "common/QVExceptions.h"
#include "common/QVRegUtils.h"
#include "mainwin/frmMain.h"
#include "options/uOptions.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

using namespace testenv;

namespace {

const std::string kAppKey = "Software\\CorvantisTests\\MainWindow";

void Pump(DWORD ms = 0) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // the fatal path's quit is not the test's
            ui::Application.HandleMessage(msg);
        }
        if (ms) Sleep(5);
    } while (GetTickCount() - start < ms);
}

// Text of any child window of the dialog that contains `part`.
std::string ChildTextContaining(HWND dialog, const std::string& part) {
    std::string found;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::string text = WindowText(child);
        if (text.find(part) != std::string::npos) found = text;
    }
    return found;
}

// Another program's hold on the clipboard: a thread of its own opens the
// clipboard with a window of that thread and keeps it open until released.
class TClipboardHolder {
public:
    TClipboardHolder() {
        thread_ = std::thread([this] {
            HWND window = CreateWindowExA(0, "STATIC", "holder", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
            opened_ = OpenClipboard(window) != FALSE;
            SetEvent(ready_);
            WaitForSingleObject(release_, 10000);
            if (opened_) CloseClipboard();
            DestroyWindow(window);
        });
        WaitForSingleObject(ready_, 10000);
    }
    ~TClipboardHolder() { Release(); }
    bool Opened() const { return opened_; }
    void Release() {
        if (!thread_.joinable()) return;
        SetEvent(release_);
        thread_.join();
        CloseHandle(ready_);
        CloseHandle(release_);
    }

private:
    HANDLE ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool opened_ = false;
    std::thread thread_;
};


struct WindowSearch {
    std::string caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    if (IsWindowVisible(hwnd) && WindowText(hwnd) == search->caption) search->found = hwnd;
    return TRUE;
}

// A visible window of this thread with that caption, if any.
HWND ThreadWindow(const std::string& caption) {
    WindowSearch search{caption, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Gives the file a last-write time a number of hours after a fixed moment.
void SetWriteTime(const std::string& path, int hours) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ULARGE_INTEGER time;
    time.QuadPart = 132000000000000000ULL + static_cast<ULONGLONG>(hours) * 36000000000ULL;
    FILETIME written{time.LowPart, time.HighPart};
    SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The clipboard's CF_UNICODETEXT, read with the wide API as another program
// would.
std::wstring UnicodeClipboard() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"<busy>";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    } else {
        text = L"<none>";
    }
    CloseClipboard();
    return text;
}

// Puts the text on the clipboard as CF_UNICODETEXT alone, as another program
// would.
void PutUnicodeClipboard(const std::wstring& text) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    ASSERT_NE(memory, nullptr);
    memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    EXPECT_NE(SetClipboardData(CF_UNICODETEXT, memory), nullptr);
    CloseClipboard();
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
        // A start offers a recovery copy of an untitled batch left behind.
        DeleteFileA(TZEPHMain::UntitledRecoveryCopy().c_str());
        NewApp();
        dir = MakeTempDir("mainwin");
        Open();
    }
    void TearDown() override {
        main.reset();
        Options.reset();
        AppInfo.reset();
        StartMode = smNormal;
        CommandLineFile.clear();
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
    }
    static void NewApp() {
        AppInfo = std::make_unique<TQVApplication>();
        AppInfo->Title = "Quorvandel Corvantis";
        AppInfo->RegistryKey = kAppKey;
        AppInfo->DialogFontName = "Tahoma";
        Options = std::make_unique<TZEPHOptions>();
        Options->ShowTips = false;
    }
    void Open() {
        main = std::make_unique<TZEPHMain>();
        main->Show();
        Pump();
    }
    // Closes the window as the user would (state stored), then starts a new
    // one, as the next run of the program.
    void Restart() {
        main->Close();
        main.reset();
        NewApp();
        Open();
    }
    // A new batch of `count` files named A.dll, B.dll, ...
    void NewBatch(int count) {
        main->Batch().SetModified(false);
        main->actFileNewExecute();
        for (int i = 0; i < count; ++i) {
            std::string path = dir + std::string(1, static_cast<char>('A' + i)) + ".dll";
            WriteFile(path, "x");
            main->Batch().AddFile(path, false);
        }
        main->Batch().SetModified(false);
    }
    std::string Order() const {
        std::string order;
        for (const TBatchEntry& entry : main->Batch().Model().Entries()) order += entry.Name[0];
        return order;
    }
    POINT RowCentre(int row) const {
        RECT r{};
        ListView_GetItemRect(main->lvFiles->Handle(), row, &r, LVIR_BOUNDS);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    std::set<std::string> Enabled() {
        main->alMain.Update();
        std::set<std::string> names;
        for (auto& action : main->alMain.Actions()) {
            if (action->Enabled()) names.insert(action->Name.substr(3));
        }
        return names;
    }

    std::unique_ptr<TZEPHMain> main;
    std::string dir;
};

TEST_F(MainWindow, EnablingRules) {
    const std::set<std::string> always{"File", "Edit", "View", "Registry", "Help", "FileNew", "FileOpen",
                                       "FilePreferences", "FileExit", "ViewToolbar", "ViewStatusBar",
                                       "ViewAlwaysOnTop", "RegistryRegisterFile", "RegistryUnregisterFile",
                                       "RegistryRunRegistry", "HelpContents", "HelpTipOfTheDay", "HelpOnTheWeb",
                                       "HelpSendEmail", "HelpAbout"};
    const std::set<std::string> open{"FileClose", "FileSave", "FileSaveAs", "FileAddFile"};
    const std::set<std::string> rows{"EditClearAll", "RegistryRegisterAll", "RegistryUnregisterAll", "RegistryVerifyAll",
                                     "RegistryCapture"};
    const std::set<std::string> selected{"FileRemoveFile", "FileProperties", "EditCut", "EditCopy",
                                         "RegistryRegisterSelected", "RegistryUnregisterSelected",
                                         "RegistryVerifySelected"};
    auto with = [](std::initializer_list<std::set<std::string>> parts, std::set<std::string> extra = {}) {
        for (auto& part : parts) extra.insert(part.begin(), part.end());
        return extra;
    };
    struct Case {
        const char* name;
        int entries;  // -1: no batch
        int select;
        std::set<std::string> expected;
    };
    const Case cases[] = {
        {"no batch", -1, -1, always},
        {"empty batch", 0, -1, with({always, open})},
        {"three, none selected", 3, -1, with({always, open, rows})},
        {"three, first", 3, 0, with({always, open, rows, selected}, {"EditMoveDown", "EditMoveLast"})},
        {"three, middle", 3, 1,
         with({always, open, rows, selected}, {"EditMoveDown", "EditMoveLast", "EditMoveFirst", "EditMoveUp"})},
        {"three, last", 3, 2, with({always, open, rows, selected}, {"EditMoveFirst", "EditMoveUp"})},
        {"one, selected", 1, 0, with({always, open, rows, selected})},
    };
    ui::SetClipboardText(main->Handle(), "not a file");
    for (const Case& c : cases) {
        if (c.entries < 0) {
            main->actFileCloseExecute();
        } else {
            NewBatch(c.entries);
        }
        main->lvFiles->Select(c.select);
        EXPECT_EQ(Enabled(), c.expected) << c.name;
    }
    // The recent list, the clipboard and a running registration.
    main->Batch().AddRecentFile(dir + "x.kvx");
    EXPECT_TRUE(Enabled().count("FileRecent"));
    ui::SetClipboardText(main->Handle(), dir + "A.dll");
    EXPECT_TRUE(Enabled().count("EditPaste"));
    for (const char* text : {"\r\n", "\n", "\t"}) {
        ui::SetClipboardText(main->Handle(), dir + "A.dll" + text);
        EXPECT_FALSE(Enabled().count("EditPaste")) << "control character " << int(text[0]);
    }
    ui::SetClipboardText(main->Handle(), std::string(MAX_PATH, 'a'));
    EXPECT_FALSE(Enabled().count("EditPaste"));
    {
        ui::TActionLock busy(main->alMain);
        EXPECT_TRUE(Enabled().empty()) << "nothing may start during a registration";
        EXPECT_FALSE(main->actFileNew->Execute());
        main->Close();
        EXPECT_TRUE(IsWindow(main->Handle())) << "the window stays open during a registration";
    }
    // The clipboard is read once per change, not on every idle update.
    ui::SetClipboardText(main->Handle(), dir + "A.dll");
    unsigned long before = main->ClipboardReads();
    for (int i = 0; i < 1000; ++i) main->alMain.Update();
    EXPECT_EQ(main->ClipboardReads() - before, 1u);
    EXPECT_TRUE(Enabled().count("EditPaste"));
    EXPECT_EQ(main->ClipboardReads() - before, 1u);
}

// Another program holding the clipboard open for a moment: the Paste check
// tries again at the next update, and Copy and Cut report the failure and
// leave the clipboard's contents as they were.
TEST_F(MainWindow, BusyClipboard) {
    NewBatch(2);
    const std::string earlier = dir + "B.dll";
    ASSERT_TRUE(ui::SetClipboardText(main->Handle(), earlier));
    {
        TClipboardHolder holder;
        ASSERT_TRUE(holder.Opened());
        EXPECT_FALSE(Enabled().count("EditPaste")) << "the clipboard cannot be read now";
    }
    EXPECT_TRUE(Enabled().count("EditPaste")) << "a failed read is not remembered";

    struct Case {
        ui::TAction* action;
        const char* message;
    };
    const Case cases[] = {
        {main->actEditCopy, "The clipboard is in use by another program. 'A.dll' was not copied."},
        {main->actEditCut, "The clipboard is in use by another program. 'A.dll' was not cut."},
    };
    for (const Case& c : cases) {
        main->lvFiles->Select(0);
        TClipboardHolder holder;
        ASSERT_TRUE(holder.Opened());
        try {
            c.action->OnExecute();
            ADD_FAILURE() << c.message;
        } catch (const EQVException& e) {
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_EQ(e.Kind, qekError);
        }
        holder.Release();
        EXPECT_EQ(ui::GetClipboardText(main->Handle()), earlier) << "the clipboard keeps its contents";
        EXPECT_EQ(Order(), "AB");
    }
}

TEST_F(MainWindow, MovesAndRowDrops) {
    enum Op { First, Up, Down, Last, DropOn, DropBelow };
    struct Case {
        int count, selected;
        Op op;
        int target;
        const char* order;
        int selectedAfter;
    };
    const Case cases[] = {
        {3, 1, Down, 0, "ACB", 2},    {3, 1, Up, 0, "BAC", 0},      {4, 2, First, 0, "CABD", 0},
        {4, 1, Last, 0, "ACDB", 3},   {4, 0, DropOn, 2, "BCAD", 2}, {4, 0, DropBelow, 0, "BCDA", 3},
        {4, 3, DropOn, 0, "DABC", 0}, {4, 1, DropOn, 1, "ABCD", 1},
    };
    for (const Case& c : cases) {
        NewBatch(c.count);
        main->lvFiles->Select(c.selected);
        switch (c.op) {
        case First: main->actEditMoveFirst->Execute(); break;
        case Up: main->actEditMoveUp->Execute(); break;
        case Down: main->actEditMoveDown->Execute(); break;
        case Last: main->actEditMoveLast->Execute(); break;
        case DropOn: main->lvFilesDragDrop(RowCentre(c.target)); break;
        case DropBelow: {
            POINT below = RowCentre(c.count - 1);
            below.y += 40;
            main->lvFilesDragDrop(below);
            break;
        }
        }
        std::string label = std::to_string(c.selected) + "->" + std::to_string(c.op);
        EXPECT_EQ(Order(), c.order) << label;
        EXPECT_EQ(main->lvFiles->Selected(), c.selectedAfter) << label;
        EXPECT_EQ(main->Batch().Modified(), std::string(c.order) != "ABCD") << label;
    }
    // Keys go through the actions: PgDn moves the selected entry down.
    NewBatch(3);
    main->lvFiles->Select(0);
    main->lvFiles->SetFocus();
    PostMessageA(main->lvFiles->Handle(), WM_KEYDOWN, VK_NEXT, 0);
    PostMessageA(main->lvFiles->Handle(), WM_KEYUP, VK_NEXT, 0xC0000000);
    // Escape released never closes the main window.
    PostMessageA(main->lvFiles->Handle(), WM_KEYUP, VK_ESCAPE, 0xC0000000);
    Pump(50);
    EXPECT_EQ(Order(), "BAC");
    EXPECT_TRUE(IsWindowVisible(main->Handle()));
}

TEST_F(MainWindow, RemoveClearAndTheClipboard) {
    NewBatch(3);
    main->lvFiles->Select(0);
    DriveDialog({[](HWND dialog) {
                    EXPECT_NE(ChildWithText(dialog, "Remove file 'A.dll'?"), nullptr);
                    PressKey(VK_RETURN);  // Yes is the default
                }},
                [&] { main->actFileRemoveFile->Execute(); });
    EXPECT_EQ(Order(), "BC");
    EXPECT_EQ(main->lvFiles->Selected(), 0) << "the entry that followed is selected";
    main->lvFiles->Select(1);
    DriveDialog({[](HWND) { PressKey(VK_RETURN); }}, [&] { main->actFileRemoveFile->Execute(); });
    EXPECT_EQ(Order(), "B");
    EXPECT_EQ(main->lvFiles->Selected(), -1) << "removing the last entry leaves no selection";

    DriveDialog({[](HWND dialog) {
                    EXPECT_NE(ChildWithText(dialog, "Remove all files in batch?"), nullptr);
                    PressKey(VK_RETURN);  // No is the default
                }},
                [&] { main->actEditClearAll->Execute(); });
    EXPECT_EQ(Order(), "B");

    // Copy, Cut, Paste: the entry comes back at the end.
    NewBatch(3);
    main->lvFiles->Select(0);
    main->actEditCopy->Execute();
    EXPECT_EQ(ui::GetClipboardText(main->Handle()), dir + "A.dll");
    EXPECT_FALSE(main->Batch().Modified()) << "copying changes nothing";
    main->actEditCut->Execute();
    EXPECT_EQ(Order(), "BC");
    EXPECT_EQ(main->lvFiles->Selected(), -1);
    main->actEditPaste->Execute();
    EXPECT_EQ(Order(), "BCA");
    EXPECT_TRUE(main->Batch().Modified());

    // A clipboard held by another program: the entry stays.
    HANDLE opened = CreateEventA(nullptr, TRUE, FALSE, nullptr), release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        OpenClipboard(nullptr);
        SetEvent(opened);
        WaitForSingleObject(release, 5000);
        CloseClipboard();
    });
    WaitForSingleObject(opened, 5000);
    main->lvFiles->Select(0);
    try {
        main->actEditCutExecute();
        ADD_FAILURE() << "a cut without the clipboard must fail";
    } catch (const EQVException& e) {
        EXPECT_EQ(e.Kind, qekError);
        EXPECT_NE(std::string(e.what()).find("'B.dll' was not cut"), std::string::npos) << e.what();
    }
    SetEvent(release);
    holder.join();
    CloseHandle(opened);
    CloseHandle(release);
    EXPECT_EQ(Order(), "BCA");
}


// Names outside the legacy code page go through the clipboard as Unicode
// text: Copy puts the path there as CF_UNICODETEXT, Cut and Paste bring the
// entry back unchanged, and Unicode text put there by another program
// pastes as that path.
TEST_F(MainWindow, UnicodeNamesGoThroughTheClipboard) {
    const struct {
        std::string name;    // UTF-8, as the program holds it
        std::wstring wide;  // the same name in UTF-16
    } cases[] = {
        {"\xCE\x95\xCE\xBB.dll", L"\u0395\u03bb.dll"},
        {"\xD0\x9C\xD0\xB8\xD1\x80 \xE6\x97\xA5.ocx", L"\u041c\u0438\u0440 \u65e5.ocx"},
        {"Caf\xC3\xA9.dll", L"Caf\u00e9.dll"},
    };
    const std::wstring wideDir(dir.begin(), dir.end());  // the temporary folder's name is ASCII
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewBatch(1);
        WriteFile(dir + c.name, "x");
        main->Batch().AddFile(dir + c.name, false);
        main->lvFiles->Select(1);
        main->actEditCopy->Execute();
        EXPECT_EQ(UnicodeClipboard(), wideDir + c.wide);
        main->actEditCut->Execute();
        EXPECT_EQ(main->Batch().Model().Count(), 1u);
        ASSERT_TRUE(Enabled().count("EditPaste"));
        main->actEditPaste->Execute();
        ASSERT_EQ(main->Batch().Model().Count(), 2u);
        EXPECT_EQ(main->Batch().Model().Entry(1).Path, dir + c.name);

        // From another program: the file is added under its UTF-8 path.
        NewBatch(0);
        PutUnicodeClipboard(wideDir + c.wide);
        ASSERT_TRUE(Enabled().count("EditPaste"));
        main->actEditPaste->Execute();
        ASSERT_EQ(main->Batch().Model().Count(), 1u);
        EXPECT_EQ(main->Batch().Model().Entry(0).Path, dir + c.name);
        EXPECT_EQ(main->Batch().Model().Entry(0).Name, c.name);
    }
}
TEST_F(MainWindow, DropsFromTheShell) {
    const std::string server = TestDataDir() + TestServers::kOkServerFile;
    NewBatch(1);
    RECT reg = main->RegisterTarget(), unreg = main->UnregisterTarget();
    ASSERT_GT(reg.right, reg.left);
    // Each file's outcome in its own message; the image's right and bottom
    // edges count as inside.
    std::vector<std::string> messages;
    auto answer = [&](HWND dialog) {
        messages.push_back(ChildTextContaining(dialog, "'OkServer.dll'"));
        PressKey(VK_RETURN);
    };
    DriveDialog({answer}, [&] { main->DropFiles({server}, POINT{reg.right, reg.bottom}); });
    DriveDialog({answer}, [&] { main->DropFiles({server}, POINT{unreg.left, unreg.top}); });
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Call to 'DllRegisterServer' in 'OkServer.dll' completed with success.");
    EXPECT_EQ(messages[1], "Call to 'DllUnregisterServer' in 'OkServer.dll' completed with success.");

    // A folder on the register image: Cancel on the first file stops the rest.
    const std::string folder = MakeTempDir("mainwin-drop");
    for (const char* name : {"one.dll", "two.dll"}) WriteFile(folder + name, "not a library");
    CreateDirectoryA((folder + "sub").c_str(), nullptr);
    messages.clear();
    DriveDialog({[&](HWND dialog) {
                    messages.push_back(WindowText(dialog));
                    Click(ChildWithText(dialog, "&Cancel"));
                }},
                [&] { main->DropFiles({folder, server}, POINT{reg.left + 2, reg.top + 2}); });
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(VisibleForms(), 1) << "no further message after Cancel";

    // Anywhere else, and on the images' places while the panel is hidden,
    // the files are added.
    main->actFileCloseExecute();
    main->DropFiles({folder}, POINT{reg.right + 1, reg.bottom});
    EXPECT_EQ(main->Batch().Caption(), "Quorvandel Corvantis: [New]*");
    EXPECT_EQ(main->Batch().Model().Count(), 2u) << "the folder's two files, not its subfolder";
    main->actViewStatusBar->Execute();
    main->DropFiles({server}, POINT{reg.left + 2, reg.top + 2});
    EXPECT_EQ(main->Batch().Model().Count(), 3u);
    main->DropFiles({server}, POINT{10, 10});
    EXPECT_EQ(main->Batch().Model().Count(), 3u) << "a file already in the list is skipped";

    // A real drop block with a path longer than 255 characters.
    std::string deep = dir;
    while (deep.size() < 200) {
        deep += "folder-of-servers\\";
        CreateDirectoryA(deep.c_str(), nullptr);
    }
    std::string longPath = deep + std::string(258 - deep.size() - 4, 'L') + ".dll";
    ASSERT_GT(longPath.size(), 255u);
    WriteFile(longPath, "x");
    size_t size = sizeof(DROPFILES) + longPath.size() + 2;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = POINT{20, 60};
    memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), longPath.c_str(), longPath.size());
    GlobalUnlock(block);
    PostMessageA(main->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
    Pump(50);
    ASSERT_EQ(main->Batch().Model().Count(), 4u);
    EXPECT_EQ(main->Batch().Model().Entry(3).Path, longPath);
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

// A drop block of wide names, as Explorer makes it.
HGLOBAL WideDropBlock(const std::vector<std::wstring>& names, POINT point) {
    std::wstring list;
    for (const std::wstring& name : names) list += name + L'\0';
    list += L'\0';
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = point;
    drop->fWide = TRUE;
    memcpy(drop + 1, list.data(), list.size() * sizeof(wchar_t));
    GlobalUnlock(block);
    return block;
}

TEST_F(MainWindow, DropsOfNamesInAnyScript) {
    // Servers of both bitnesses in a folder named in Greek, Cyrillic and
    // Chinese, dropped on the register image: each name reaches its server.
    const std::string folder = MakeTempDir("mainwin-drop-scripts") + "\u0395\u03BB \u041A\u0438 \u6F22\u5B57\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string names[] = {"\u0421\u0435\u0440\u0432\u0435\u0440 32.dll", "\u0421\u0435\u0440\u0432\u0435\u0440 64.dll"};
    ASSERT_TRUE(CopyTo(TestDataDir() + TestServers::kOkServerFile, folder + names[0]));
    // The 64-bit build of the tests has only 64-bit servers.
    const std::string x64 = sizeof(void*) == 8 ? TestDataDir() : TestDataDir() + "x64\\";
    ASSERT_TRUE(CopyTo(x64 + TestServers::kOkServerFile, folder + names[1]));
    NewBatch(1);
    const RECT reg = main->RegisterTarget();
    std::vector<std::string> messages;
    auto answer = [&](HWND dialog) {
        messages.push_back(ChildTextContaining(dialog, "DllRegisterServer"));
        PressKey(VK_RETURN);
    };
    DriveDialog({answer, answer}, [&] {
        HGLOBAL block = WideDropBlock({Wide(folder + names[0]), Wide(folder + names[1])}, POINT{reg.left + 2, reg.top + 2});
        SendMessageW(main->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
    });
    EXPECT_EQ(messages, (std::vector<std::string>{"Call to 'DllRegisterServer' in '" + names[0] + "' completed with success.",
                                                  "Call to 'DllRegisterServer' in '" + names[1] + "' completed with success."}));

    // A name with a lone surrogate, which no code page holds: the whole drop
    // is refused by that name, and nothing is added.
    std::string refused;
    ui::Application.OnException = [&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            refused = e.what();
        }
    };
    HGLOBAL block = WideDropBlock({Wide(folder + names[0]), Wide(folder) + L"x\xD800.dll"}, POINT{10, 10});
    SendMessageW(main->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
    ui::Application.OnException = nullptr;
    EXPECT_EQ(refused, "The name 'x\xEF\xBF\xBD.dll' holds characters that Windows could not pass to the program, "
                       "so it was not used.");
    EXPECT_EQ(main->Batch().Model().Count(), 1u);
}

TEST_F(MainWindow, StartModes) {
    const std::string batch = dir + "start.kvx";
    WriteFile(batch, "; Quorvandel Corvantis File\r\n" + dir + "A.dll\r\n");
    main.reset();
    struct Case {
        TStartMode mode;
        std::string file;
        bool autoOpen;
        std::string caption;
    };
    const Case cases[] = {
        {smNewBatch, "", false, "Quorvandel Corvantis: [New]"},
        {smOpenBatch, batch, false, "Quorvandel Corvantis: start.kvx"},
        {smNormal, "", true, "Quorvandel Corvantis: start.kvx"},  // the most recent batch
        {smNormal, "", false, "Quorvandel Corvantis"},
    };
    for (const Case& c : cases) {
        NewApp();
        StartMode = c.mode;
        CommandLineFile = c.file;
        Options->AutoOpenLastBatch = c.autoOpen;
        Open();
        EXPECT_EQ(main->Caption(), c.caption);
        EXPECT_FALSE(main->FirstShow);
        main.reset();
    }
    // The last batch was deleted: one message, the path leaves the list.
    DeleteFileA(batch.c_str());
    NewApp();
    StartMode = smNormal;
    Options->AutoOpenLastBatch = true;
    std::vector<std::string> shown;
    DriveDialog({[&](HWND dialog) {
                    shown.push_back(ChildTextContaining(dialog, "Batch file"));
                    PressKey(VK_RETURN);
                }},
                [&] { Open(); });
    EXPECT_EQ(shown, std::vector<std::string>{"Batch file 'start.kvx' not found."});
    EXPECT_EQ(main->Caption(), "Quorvandel Corvantis");
    EXPECT_TRUE(main->Batch().RecentFiles().Items().empty());
}

TEST_F(MainWindow, StoredStateRoundTrip) {
    SetWindowPos(main->Handle(), nullptr, 40, 50, 640, 420, SWP_NOZORDER);
    ListView_SetColumnWidth(main->lvFiles->Handle(), 0, 111);
    main->tbMain->SetPlace(ui::deLeft, 0, 0);
    main->actViewStatusBar->Execute();
    main->actViewAlwaysOnTop->Execute();
    ASSERT_TRUE(main->StayOnTop());
    RECT before{};
    GetWindowRect(main->Handle(), &before);
    Restart();
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Storage", "FormStyle"), 3u);
    RECT after{};
    GetWindowRect(main->Handle(), &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_EQ(main->lvFiles->ColumnWidth(0), 111);
    EXPECT_EQ(main->tbMain->CurrentDock(), ui::deLeft);
    EXPECT_FALSE(main->BottomVisible());
    EXPECT_EQ(main->PendingFormStyle, fsStayOnTop) << "restored for the style timer";
    Pump(300);
    EXPECT_FALSE(main->tSetFormStyle->Enabled()) << "it fires once";
    EXPECT_TRUE(main->StayOnTop()) << "back on top about 100 ms after the show";

    // Values no monitor shows, and malformed ones, are not applied as they
    // stand.
    const std::string storage = kAppKey + "\\Storage";
    main.reset();
    qv::WriteRegString(HKEY_LOCAL_MACHINE, storage, "NormPos", "9000,9000,9600,9400");
    qv::WriteRegInteger(HKEY_LOCAL_MACHINE, storage, "ShowCmd", SW_SHOWMINIMIZED);
    qv::WriteRegInteger(HKEY_LOCAL_MACHINE, storage, "FormStyle", 7);
    qv::WriteRegInteger(HKEY_LOCAL_MACHINE, storage, "tbMain.CurrentDock", 9);
    NewApp();
    Open();
    Pump(300);
    RECT r{}, work{};
    GetWindowRect(main->Handle(), &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_TRUE(r.left >= work.left && r.right <= work.right && r.top >= work.top) << "centred on the screen";
    EXPECT_FALSE(IsIconic(main->Handle()));
    EXPECT_FALSE(main->StayOnTop()) << "a style other than 3 is normal";
    EXPECT_EQ(main->tbMain->CurrentDock(), ui::deTop) << "a dock out of range is ignored";

    // With SaveWindow off nothing is read or written.
    main.reset();
    DeleteTree(HKEY_LOCAL_MACHINE, storage);
    NewApp();
    Options->SaveWindow = false;
    Open();
    main->Close();
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, storage, "NormPos"), "<absent>");
}

TEST_F(MainWindow, BarsDockOnEveryEdge) {
    auto dockSize = [&](ui::TDockEdge edge) {
        RECT r = main->docks->DockRect(edge);
        return SIZE{r.right - r.left, r.bottom - r.top};
    };
    EXPECT_EQ(main->tbMenu->DockRow(), 0);
    EXPECT_EQ(main->tbMain->DockRow(), 1) << "the menu bar above the toolbar";
    for (ui::TDockEdge edge : {ui::deBottom, ui::deLeft, ui::deRight, ui::deTop}) {
        // Dragged by its gripper until the pointer is at that edge.
        RECT client{};
        GetClientRect(main->Handle(), &client);
        POINT at{edge == ui::deRight ? client.right - 5 : 5,
                 edge == ui::deBottom ? client.bottom - main->Scale(25) : client.bottom / 2};
        if (edge == ui::deTop) {
            // In the last strip of the menu bar's row: a new row below it.
            RECT menu{};
            GetWindowRect(main->tbMenu->Handle(), &menu);
            MapWindowPoints(nullptr, main->Handle(), reinterpret_cast<POINT*>(&menu), 2);
            at = POINT{300, menu.bottom - 2};
        }
        ClientToScreen(main->Handle(), &at);
        main->docks->DragTo(*main->tbMain, at, POINT{2, 2});
        EXPECT_EQ(main->tbMain->CurrentDock(), edge);
        SIZE size = dockSize(edge);
        bool vertical = edge == ui::deLeft || edge == ui::deRight;
        EXPECT_GT(vertical ? size.cy : size.cx, vertical ? size.cx : size.cy) << "dock " << edge;
    }
    // Into the menu bar's row where both fit: one row, the menu bar
    // shortened.
    SetWindowPos(main->Handle(), nullptr, 0, 0, main->Scale(1100), main->Scale(388), SWP_NOMOVE | SWP_NOZORDER);
    RECT menuBefore{};
    GetWindowRect(main->tbMenu->Handle(), &menuBefore);
    POINT inRow{400, (menuBefore.top + menuBefore.bottom) / 2};
    main->docks->DragTo(*main->tbMain, inRow, POINT{2, 2});
    EXPECT_EQ(main->tbMain->DockRow(), main->tbMenu->DockRow());
    RECT menuAfter{};
    GetWindowRect(main->tbMenu->Handle(), &menuAfter);
    EXPECT_LT(menuAfter.right - menuAfter.left, menuBefore.right - menuBefore.left);
    RECT list{};
    GetWindowRect(main->lvFiles->Handle(), &list);
    EXPECT_GE(list.top, menuAfter.bottom) << "the list starts below the docks";

    // Standing, the menu bar puts each menu on a line, and the toolbar
    // takes as many columns as the window's height asks.
    main->tbMenu->SetPlace(ui::deRight, 0, 0);
    main->tbMain->SetPlace(ui::deLeft, 0, 0);
    auto item = [](HWND toolbar, int index) {
        RECT r{};
        SendMessageA(toolbar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
        return r;
    };
    HWND menu = main->tbMenu->Content(), tools = main->tbMain->Content();
    EXPECT_EQ(item(menu, 4).left, item(menu, 0).left);
    EXPECT_GT(item(menu, 4).top, item(menu, 3).top);
    RECT bar{}, lastButton = item(tools, static_cast<int>(SendMessageA(tools, TB_BUTTONCOUNT, 0, 0)) - 1);
    GetClientRect(tools, &bar);
    EXPECT_LE(lastButton.bottom, bar.bottom) << "every button within reach";
    EXPECT_GT(bar.right, item(tools, 0).right) << "more than one column";
}

// Where a bar lies in its dock, in the dock's coordinates.
RECT BarRect(const ui::TDockBar& bar) {
    RECT r{};
    GetWindowRect(bar.Handle(), &r);
    MapWindowPoints(nullptr, GetParent(bar.Handle()), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(MainWindow, StoredBarLayoutsComeBackAsStored) {
    struct Layout {
        const char* name;
        int menuRow, menuPos, toolRow, toolPos;
    };
    const Layout layouts[] = {
        {"menu-first", 0, 0, 1, 0},
        {"toolbar-first", 1, 0, 0, 0},
        {"same-row-menu-first", 0, 0, 0, 250},
        {"same-row-toolbar-first", 0, 250, 0, 0},
    };
    const char* edges[] = {"top", "bottom", "left", "right"};
    const std::string storage = kAppKey + "\\Storage";
    for (int edge = ui::deTop; edge <= ui::deRight; ++edge) {
        for (const Layout& layout : layouts) {
            std::string name = std::string(edges[edge]) + "-" + layout.name;
            main.reset();
            const std::pair<std::string, int> values[] = {
                {"tbMenu.CurrentDock", edge}, {"tbMenu.DockRow", layout.menuRow}, {"tbMenu.DockPos", layout.menuPos},
                {"tbMain.CurrentDock", edge}, {"tbMain.DockRow", layout.toolRow}, {"tbMain.DockPos", layout.toolPos},
            };
            for (const auto& [value, number] : values) qv::WriteRegInteger(HKEY_LOCAL_MACHINE, storage, value, number);
            NewApp();
            Open();
            SaveShot(main->Handle(), "bars-" + name);
            ui::TDockBar& menu = *main->tbMenu;
            ui::TDockBar& tools = *main->tbMain;
            EXPECT_EQ(menu.CurrentDock(), edge) << name;
            EXPECT_EQ(tools.CurrentDock(), edge) << name;
            EXPECT_EQ(menu.DockRow(), layout.menuRow) << name;
            EXPECT_EQ(tools.DockRow(), layout.toolRow) << name;
            EXPECT_EQ(menu.DockPos(), layout.menuPos) << name;
            EXPECT_EQ(tools.DockPos(), layout.toolPos) << name;
            // Shown as stored: one bar after the other along one row, or
            // the rows in their order across the dock; never overlapping.
            bool vertical = edge == ui::deLeft || edge == ui::deRight;
            RECT m = BarRect(menu), t = BarRect(tools), overlap{};
            bool menuFirst =
                layout.menuRow == layout.toolRow ? layout.menuPos < layout.toolPos : layout.menuRow < layout.toolRow;
            const RECT& first = menuFirst ? m : t;
            const RECT& second = menuFirst ? t : m;
            if (layout.menuRow == layout.toolRow) {
                EXPECT_LE(vertical ? first.bottom : first.right, vertical ? second.top : second.left) << name;
            } else {
                EXPECT_LE(vertical ? first.right : first.bottom, vertical ? second.left : second.top) << name;
            }
            EXPECT_FALSE(IntersectRect(&overlap, &m, &t)) << name;
            // Lying, the menu keeps its captions on one line.
            RECT file{}, help{};
            SendMessageA(main->tbMenu->Content(), TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&file));
            SendMessageA(main->tbMenu->Content(), TB_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&help));
            if (!vertical) EXPECT_EQ(help.top, file.top) << name;
            // Stored again on closing as it was read.
            main->Close();
            for (const auto& [value, number] : values) {
                EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, storage, value), static_cast<DWORD>(number))
                    << name << " " << value;
            }
        }
    }
}

TEST_F(MainWindow, ADroppedBarThatDoesNotFitGetsARowOfItsOwn) {
    struct Case {
        const char* name;
        int y;  // the pointer's height, relative to the menu bar's top (or bottom
                // for negative values)
        bool above;
    };
    const Case cases[] = {
        {"in the menu bar's upper half", 3, true},
        {"in the menu bar's lower half", -7, false},
        {"over the title bar, above the menu bar", -1000, true},
    };
    for (const Case& c : cases) {
        main->tbMain->SetPlace(ui::deLeft, 0, 0);
        RECT menu{};
        GetWindowRect(main->tbMenu->Handle(), &menu);
        POINT at{menu.left + main->Scale(200), c.y == -1000 ? menu.top - main->Scale(6)
                                               : c.y >= 0   ? menu.top + c.y
                                                            : menu.bottom + c.y};
        main->docks->DragTo(*main->tbMain, at, POINT{2, 2});
        Pump();
        EXPECT_EQ(main->tbMain->CurrentDock(), ui::deTop) << c.name;
        EXPECT_EQ(main->tbMain->DockRow(), c.above ? 0 : 1) << c.name;
        EXPECT_EQ(main->tbMenu->DockRow(), c.above ? 1 : 0) << c.name;
        // Both whole: every button shown, every menu on one line.
        EXPECT_FALSE(main->tbMain->ChevronShown()) << c.name;
        EXPECT_TRUE(main->tbMain->HiddenActions().empty()) << c.name;
        RECT first{}, last{};
        SendMessageA(main->tbMenu->Content(), TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&first));
        SendMessageA(main->tbMenu->Content(), TB_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&last));
        EXPECT_EQ(last.top, first.top) << c.name;
    }
    SaveShot(main->Handle(), "bars-dropped-above");
}

// Pixels of a window as the screen shows it.
std::vector<COLORREF> ScreenPixels(HWND window) {
    // Waiting in the message wait lets the display driver put what was
    // painted on the screen before it is read.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 150, 0);
    RECT r{};
    GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* first = static_cast<const COLORREF*>(bits);
    std::vector<COLORREF> pixels(first, first + static_cast<size_t>(width) * static_cast<size_t>(height));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

TEST_F(MainWindow, EveryButtonIsPaintedAfterAMove) {
    HWND tools = main->tbMain->Content();
    for (ui::TDockEdge edge : {ui::deLeft, ui::deBottom, ui::deTop}) {
        main->tbMain->SetPlace(edge, edge == ui::deTop ? 1 : 0, 0);
        Pump();
        std::vector<COLORREF> shown = ScreenPixels(tools);
        RedrawWindow(main->Handle(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        std::vector<COLORREF> fresh = ScreenPixels(tools);
        ASSERT_EQ(shown.size(), fresh.size());
        RECT client{};
        GetClientRect(tools, &client);
        int count = static_cast<int>(SendMessageA(tools, TB_BUTTONCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            RECT button{}, visible{};
            SendMessageA(tools, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&button));
            if (!IntersectRect(&visible, &button, &client)) continue;
            int differing = 0;
            for (int y = visible.top; y < visible.bottom; ++y) {
                for (int x = visible.left; x < visible.right; ++x) {
                    size_t at = static_cast<size_t>(y * client.right + x);
                    differing += shown[at] != fresh[at];
                }
            }
            EXPECT_EQ(differing, 0) << "button " << i << " after the move to dock " << edge;
        }
    }
}

// Runs `step` once a pop-up menu of this thread shows, from inside its loop.
std::function<void(HWND)> g_menuStep;
void CALLBACK MenuTick(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND menu = FindWindowA("#32768", nullptr);
    if (!menu || !IsWindowVisible(menu) || !g_menuStep) return;
    KillTimer(nullptr, timer);
    auto step = std::move(g_menuStep);
    g_menuStep = nullptr;
    step(menu);
}
void WhenMenuShows(std::function<void(HWND)> step) {
    g_menuStep = std::move(step);
    SetTimer(nullptr, 0, 25, MenuTick);
}

TEST_F(MainWindow, ANarrowWindowOffersTheHiddenButtonsBehindAChevron) {
    NewBatch(1);
    ui::TActionToolBar& tools = *main->tbMain;
    EXPECT_FALSE(IsWindowVisible(tools.Chevron())) << "all buttons shown in the default window";
    SetWindowPos(main->Handle(), nullptr, 0, 0, main->Scale(320), main->Scale(300), SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    ASSERT_TRUE(IsWindowVisible(tools.Chevron()));
    SaveShot(main->Handle(), "bars-narrow");
    // The shown buttons are whole, the others are the hidden ones.
    RECT client{};
    GetClientRect(tools.Content(), &client);
    std::vector<int> hidden;
    int count = static_cast<int>(SendMessageA(tools.Content(), TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TBBUTTON button{};
        RECT r{};
        SendMessageA(tools.Content(), TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
        SendMessageA(tools.Content(), TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
        if (!(button.fsStyle & BTNS_SEP) && r.right > client.right) hidden.push_back(button.idCommand);
    }
    ASSERT_FALSE(hidden.empty());
    ASSERT_TRUE(main->alMain.ById(hidden.back()) == main->actHelpContents);

    // The chevron's menu lists exactly those, with their enabled states,
    // and runs the chosen one.
    std::vector<int> listed;
    std::vector<bool> enabled, expected;
    auto readMenu = [&](HWND window) {
        HMENU menu = reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0));
        listed.clear();
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            int id = static_cast<int>(GetMenuItemID(menu, i));
            if (id == 0) continue;  // a separator
            listed.push_back(id);
            enabled.push_back(!(GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_GRAYED));
            expected.push_back(main->alMain.ById(id)->Enabled());
        }
        SaveShot(main->Handle(), "bars-chevron-menu");
        PostMessageA(window, WM_CHAR, 'a', 0);  // Always On Top
    };
    WhenMenuShows(readMenu);
    SendMessageA(tools.Chevron(), BM_CLICK, 0, 0);
    EXPECT_EQ(listed, hidden);
    EXPECT_EQ(enabled, expected);
    EXPECT_TRUE(main->StayOnTop()) << "chosen from the chevron's menu";

    // Reached with Tab and opened with Enter.
    main->SetActiveControl(main->lvFiles);
    PressKey(VK_TAB);
    Pump();
    ASSERT_EQ(GetFocus(), tools.Chevron());
    listed.clear();
    WhenMenuShows(readMenu);
    PressKey(VK_RETURN);
    Pump();
    EXPECT_EQ(listed, hidden);
    EXPECT_FALSE(main->StayOnTop()) << "chosen again from the keyboard";

    // Wide again: no chevron, every button shown.
    SetWindowPos(main->Handle(), nullptr, 0, 0, main->Scale(900), main->Scale(388), SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    EXPECT_FALSE(IsWindowVisible(tools.Chevron()));
    EXPECT_TRUE(tools.HiddenActions().empty());
    SaveShot(main->Handle(), "bars-wide");
}

TEST_F(MainWindow, MenuBarKeysAndHints) {
    auto key = [&](UINT message, WPARAM vk, LPARAM flags = 0) {
        MSG msg{main->Handle(), message, vk, flags, 0, {}};
        return main->tbMenu->PreTranslateMessage(msg);
    };
    EXPECT_TRUE(key(WM_SYSKEYDOWN, VK_F10));
    EXPECT_TRUE(main->tbMenu->InMenuMode());
    EXPECT_EQ(main->sbMain->SimpleText(), "File commands");
    key(WM_KEYDOWN, VK_RIGHT);
    key(WM_KEYDOWN, VK_RIGHT);
    EXPECT_EQ(main->tbMenu->HotItem(), 2);
    EXPECT_EQ(main->sbMain->SimpleText(), "View commands");
    key(WM_KEYDOWN, VK_LEFT);
    key(WM_KEYDOWN, VK_LEFT);
    key(WM_KEYDOWN, VK_LEFT);
    EXPECT_EQ(main->tbMenu->HotItem(), 4) << "wraps to Help";
    key(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_FALSE(main->tbMenu->InMenuMode());
    // Alt alone enters the bar; Alt with another key does not.
    key(WM_SYSKEYDOWN, VK_MENU);
    EXPECT_TRUE(key(WM_SYSKEYUP, VK_MENU));
    EXPECT_TRUE(main->tbMenu->InMenuMode());
    key(WM_SYSKEYDOWN, VK_MENU);
    key(WM_SYSKEYUP, VK_MENU);
    EXPECT_FALSE(main->tbMenu->InMenuMode());
    key(WM_SYSKEYDOWN, VK_MENU);
    key(WM_SYSKEYDOWN, 'Q');
    EXPECT_FALSE(key(WM_SYSKEYUP, VK_MENU));
    EXPECT_EQ(main->tbMenu->FindMnemonic('r'), 3);
    EXPECT_EQ(main->tbMenu->FindMnemonic('z'), -1);

    // A menu item's hint in the status bar.
    HMENU menu = main->menus->Build(main->popFiles);
    SendMessageA(main->Handle(), WM_MENUSELECT, MAKEWPARAM(main->actEditCopy->Id(), MF_STRING),
                 reinterpret_cast<LPARAM>(menu));
    EXPECT_EQ(main->sbMain->SimpleText(), "Copy selected file to the clipboard");
    SendMessageA(main->Handle(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(main->sbMain->SimpleText(), "");
    DestroyMenu(menu);
}

TEST_F(MainWindow, AutoSaveSavesOnlyChangesAndNeverDuringWork) {
    const std::string path = dir + "auto.kvx";
    const std::string stale = "; Quorvandel Corvantis File\r\nstale\r\n";
    NewBatch(1);
    DriveDialog({[&](HWND dialog) { ChooseFile(dialog, path); }}, [&] { main->actFileSaveAs->Execute(); });
    WriteFile(path, stale);
    main->Batch().AutoSaveTick();
    EXPECT_EQ(ReadWholeFile(path), stale) << "a batch without changes is not saved";
    main->Batch().SetModified(true);
    {
        ui::TActionLock busy(main->alMain);
        main->Batch().AutoSaveTick();
        EXPECT_EQ(ReadWholeFile(path), stale) << "no save during a registration";
    }
    main->Batch().AutoSaveTick();
    EXPECT_EQ(ReadWholeFile(path), "; Quorvandel Corvantis File\r\n" + dir + "A.dll\r\n");
    EXPECT_FALSE(main->Batch().Modified());
}

TEST_F(MainWindow, AFailedSaveAsKeepsTheNameAndTheChanges) {
    const std::string target = dir + "locked.kvx";
    WriteFile(target, "old");
    HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    NewBatch(1);
    main->Batch().SetModified(true);
    EXPECT_THROW(DriveDialog({[&](HWND dialog) { ChooseFile(dialog, target); },
                              [](HWND dialog) { Click(ChildWithText(dialog, "&Yes")); }},
                             [&] { main->actFileSaveAsExecute(); }),
                 EQVException);
    CloseHandle(lock);
    EXPECT_EQ(main->Batch().CurrentBatch(), "") << "still untitled";
    EXPECT_TRUE(main->Batch().Modified());
    EXPECT_EQ(ReadWholeFile(target), "old");
}

TEST_F(MainWindow, AFatalErrorKeepsTheUsersWork) {
    const std::string path = dir + "work.kvx";
    const std::string original = "; Quorvandel Corvantis File\r\n" + dir + "A.dll\r\n";
    WriteFile(dir + "A.dll", "x");
    WriteFile(dir + "B.dll", "x");
    WriteFile(path, original);
    main->MRUListClick(path);
    main->Batch().AddFile(dir + "B.dll", false);
    std::string details;
    DriveDialog({[&](HWND dialog) {
                    details = ChildTextContaining(dialog, "Recovery of");
                    PressKey(VK_RETURN);
                }},
                [&] { main->ApplicationException(std::make_exception_ptr(std::runtime_error("boom"))); });
    Pump();
    const std::string recovery = dir + "Recovery of work.kvx";
    EXPECT_NE(details.find("boom"), std::string::npos) << details;
    EXPECT_NE(details.find(recovery), std::string::npos) << details;
    EXPECT_EQ(ReadWholeFile(path), original) << "the original is never overwritten";
    EXPECT_EQ(ReadWholeFile(recovery), original + dir + "B.dll\r\n");
    EXPECT_EQ(main->Handle(), nullptr) << "the application ends";
    EXPECT_EQ(AppInfo, nullptr) << "the shutdown ran";
    EXPECT_NE(ReadString(HKEY_LOCAL_MACHINE, kAppKey + "\\Storage\\MRU", path), "<absent>")
        << "the recent files were saved";
    EXPECT_NE(ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Options", "ShowTips"), 0xFFFFFFFFu)
        << "the options were saved";
}

TEST_F(MainWindow, RecentItemsAndTheListsLook) {
    for (int i = 11; i >= 1; --i) main->Batch().AddRecentFile(dir + "R&D\\b" + std::to_string(i) + ".kvx");
    std::vector<ui::TDynamicItem> items = main->RecentItems();
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[0].Caption, "&1 " + dir + "R&&D\\b1.kvx");
    EXPECT_EQ(items[8].Caption.substr(0, 3), "&9 ");
    EXPECT_EQ(items[9].Caption, "&A " + dir + "R&&D\\b10.kvx");

    struct Case {
        bool colorDefault;
        std::uint32_t text, background;
        COLORREF expectedText, expectedBack;
    };
    const Case cases[] = {
        {true, 0x0000FF, 0x00FF00, GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW)},
        {false, 0x0000FF, 0x00FF00, 0x0000FF, 0x00FF00},
        {false, 0x80000000u | COLOR_HIGHLIGHTTEXT, 0x80000000u | COLOR_INFOBK, GetSysColor(COLOR_HIGHLIGHTTEXT),
         GetSysColor(COLOR_INFOBK)},
    };
    for (const Case& c : cases) {
        Options->ColorDefault = c.colorDefault;
        Options->TextColor = c.text;
        Options->BackgroundColor = c.background;
        main->ApplyOptions();
        EXPECT_EQ(ListView_GetTextColor(main->lvFiles->Handle()), c.expectedText);
        EXPECT_EQ(ListView_GetBkColor(main->lvFiles->Handle()), c.expectedBack);
    }
    // Two faces the test prefix has (Wine's own, which scripts/winenv.sh
    // copies in), one after the other, so that each is seen to replace the
    // list's font.
    for (const char* face : {"Symbol", "Tahoma"}) {
        ASSERT_TRUE(ui::IsFontInstalled(face)) << face;
        Options->FontName = face;
        main->ApplyOptions();
        EXPECT_EQ(FontFaceOf(main->lvFiles->Handle()), face);
    }
    Options->AutoSave = true;
    Options->AutoSaveInterval = 2;
    main->ApplyOptions();
    EXPECT_TRUE(main->Batch().AutoSaveTimer().Enabled());
    EXPECT_EQ(main->Batch().AutoSaveTimer().Interval(), 120000u);
}

TEST_F(MainWindow, NothingElseRunsWhileAServerIsWaitedFor) {
    ScopedEnv delay(TestServers::kServerDelayEnvVar, "700");
    main->actFileNewExecute();
    main->Batch().AddFile(TestDataDir() + TestServers::kExeServerFile, false);
    main->Batch().SetModified(false);  // a close would not even ask
    main->lvFiles->Select(0);
    // Arrive while the server runs: the close box, Close from a menu, and
    // a drop from the shell.
    PostMessageA(main->Handle(), WM_CLOSE, 0, 0);
    PostMessageA(main->Handle(), WM_COMMAND, static_cast<WPARAM>(main->actFileClose->Id()), 0);
    std::string message;
    try {
        main->actRegistryRegisterSelectedExecute();
    } catch (const EQVException& outcome) {
        message = outcome.what();
    }
    EXPECT_EQ(message, "'ExeServer.exe /regserver' completed with success.");
    Pump(50);
    EXPECT_TRUE(IsWindow(main->Handle())) << "not closed under the registration";
    EXPECT_TRUE(main->Batch().HasBatch()) << "no other command ran meanwhile";
    EXPECT_FALSE(main->Busy());
}

TEST_F(MainWindow, NotClosedUnderItsOwnModalWindow) {
    NewBatch(1);
    main->lvFiles->Select(0);
    ui::Application.SetMainForm(main.get());  // as the program does
    DriveDialog({[&](HWND dialog) {
                    EXPECT_EQ(GetWindow(dialog, GW_OWNER), main->Handle()) << "owned by the main window";
                    PostMessageA(main->Handle(), WM_CLOSE, 0, 0);
                },
                [](HWND) { PressKey(VK_ESCAPE); }},
                [&] { main->actFileRemoveFile->Execute(); });
    Pump(50);
    ui::Application.SetMainForm(nullptr);
    EXPECT_TRUE(IsWindow(main->Handle()));
    EXPECT_EQ(Order(), "A") << "Escape answered No";
}

TEST_F(MainWindow, TheTipOfTheDayWaitsForTheStartUpMessages) {
    const std::string tips = dir + "tips.tip";
    WriteFile(tips, "The only tip.\r\n");
    struct Case {
        TStartMode mode;
        bool autoOpen;
        const char* firstCaption;  // the message or dialog of the first show
        bool systemDialog;
    };
    const Case cases[] = {
        {smNormal, true, "Quorvandel Corvantis", false},  // "Batch file 'gone.kvx' not found."
        {smOpenBatch, false, "Open Corvantis File...", true},
    };
    for (const Case& c : cases) {
        main.reset();
        NewApp();
        AppInfo->TipsFile = tips;
        Options->ShowTips = true;
        Options->AutoOpenLastBatch = c.autoOpen;
        qv::WriteRegString(HKEY_LOCAL_MACHINE, kAppKey + "\\Storage\\MRU", dir + "gone.kvx", "");
        StartMode = c.mode;
        CommandLineFile.clear();
        DriveDialog({[&](HWND dialog) {
                         EXPECT_EQ(WindowText(dialog), c.firstCaption);
                         EXPECT_EQ(ThreadWindow("Tip Of The Day..."), nullptr) << "not over " << c.firstCaption;
                         if (c.systemDialog) {
                             CancelDialog(dialog);
                         } else {
                             PressKey(VK_RETURN);
                         }
                     },
                     [&](HWND dialog) {
                         EXPECT_EQ(WindowText(dialog), "Tip Of The Day...") << "after " << c.firstCaption;
                         Click(ChildWithText(dialog, "&Close"));
                     }},
                    [&] { Open(); });
    }
}

TEST_F(MainWindow, ClosingAsksToSaveTheChanges) {
    const std::string path = dir + "work.kvx";
    const std::string original = "; Quorvandel Corvantis File\r\n" + dir + "A.dll\r\n";
    WriteFile(dir + "A.dll", "x");
    WriteFile(dir + "B.dll", "x");
    for (const char* answer : {"&Cancel", "&No", "&Yes"}) {
        main.reset();
        NewApp();
        Open();
        WriteFile(path, original);
        main->MRUListClick(path);
        main->Batch().AddFile(dir + "B.dll", false);
        EXPECT_EQ(main->ShutdownBlockReason(), "The changes to 'work.kvx' are not saved.");
        HWND window = main->Handle();
        DriveDialog({[&](HWND dialog) {
                        EXPECT_NE(ChildWithText(dialog, "Do you want to save the changes you made to '" + path + "'?"),
                                  nullptr);
                        Click(ChildWithText(dialog, answer));
                    }},
                    [&] { PostMessageA(window, WM_CLOSE, 0, 0), Pump(50); });
        const bool cancel = answer == std::string("&Cancel"), yes = answer == std::string("&Yes");
        EXPECT_EQ(IsWindow(window) != FALSE, cancel) << answer;
        EXPECT_EQ(ReadFileBytes(path), yes ? original + dir + "B.dll\r\n" : original) << answer;
    }
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Storage", "FormStyle"), 0u) << "the state was stored";
}

TEST_F(MainWindow, TheEndOfTheSessionKeepsTheWork) {
    const std::string path = dir + "work.kvx", copy = dir + "Recovery of work.kvx";
    const std::string original = "; Quorvandel Corvantis File\r\n" + dir + "A.dll\r\n";
    WriteFile(dir + "A.dll", "x");
    WriteFile(dir + "B.dll", "x");
    enum Send { Query = 1, End = 2 };
    struct Case {
        const char* name;
        bool modified;
        int send;
        BOOL ending;
        LPARAM flags;
        LRESULT answer;      // to WM_QUERYENDSESSION
        const char* prompt;  // the button pressed in the save prompt that follows, if one does
        bool copyKept, settingsWritten, closed;
    };
    const Case cases[] = {
        {"unmodified, query", false, Query, 0, 0, TRUE, nullptr, false, false, false},
        {"modified, query, Cancel", true, Query, 0, 0, FALSE, "&Cancel", true, false, false},
        {"modified, query, No", true, Query, 0, 0, FALSE, "&No", false, true, true},
        {"unmodified, end", false, End, TRUE, 0, 0, nullptr, false, true, false},
        {"modified, end", true, End, TRUE, 0, 0, nullptr, true, true, false},
        {"modified, end cancelled", true, End, FALSE, 0, 0, nullptr, false, false, false},
        {"unmodified, close app", false, Query | End, TRUE, ENDSESSION_CLOSEAPP, TRUE, nullptr, false, true, true},
        {"modified, close app", true, Query | End, TRUE, ENDSESSION_CLOSEAPP, TRUE, nullptr, true, true, true},
    };
    const std::string withB = original + dir + "B.dll\r\n";
    for (const Case& c : cases) {
        main.reset();
        DeleteFileA(copy.c_str());
        NewApp();
        Open();
        WriteFile(path, original);
        main->MRUListClick(path);
        if (c.modified) main->Batch().AddFile(dir + "B.dll", false);
        Pump();
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
        HWND window = main->Handle();
        if (c.send & Query) {
            EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, c.flags), c.answer) << c.name;
            if (c.modified) EXPECT_EQ(ReadFileBytes(copy), withB) << c.name << ": written before the answer";
        }
        if (c.send & End) SendMessageA(window, WM_ENDSESSION, c.ending, c.flags);
        std::vector<DialogStep> steps;
        if (c.prompt) {
            steps.push_back([&](HWND dialog) {
                EXPECT_NE(ChildWithText(dialog, "Do you want to save the changes you made to '" + path + "'?"), nullptr);
                Click(ChildWithText(dialog, c.prompt));
            });
        }
        DriveDialog(steps, [&] { Pump(100); });
        EXPECT_EQ(ReadFileBytes(copy), c.copyKept ? withB : "") << c.name;
        EXPECT_EQ(ReadFileBytes(path), original) << c.name;
        const DWORD absent = 0xFFFFFFFF;
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Options", "ShowTips") != absent, c.settingsWritten)
            << c.name;
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kAppKey + "\\Storage", "FormStyle") != absent, c.settingsWritten)
            << c.name;
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kAppKey + "\\Storage\\MRU", path) != "<absent>", c.settingsWritten)
            << c.name;
        EXPECT_EQ(IsWindow(window) == FALSE, c.closed) << c.name;
    }
    // Saved: the session may end, and the copy of the changes goes.
    main.reset();
    DeleteFileA(copy.c_str());
    NewApp();
    Open();
    main->MRUListClick(path);
    main->Batch().AddFile(dir + "B.dll", false);
    SendMessageA(main->Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP);
    ASSERT_TRUE(FileExists(copy));
    main->actFileSaveExecute();
    EXPECT_EQ(main->ShutdownBlockReason(), "");
    EXPECT_FALSE(FileExists(copy));
    EXPECT_EQ(SendMessageA(main->Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
}

TEST_F(MainWindow, ARecoveryCopyIsOfferedAtTheNextStart) {
    const std::string path = dir + "work.kvx", copy = dir + "Recovery of work.kvx";
    const std::string untitled = TZEPHMain::UntitledRecoveryCopy();
    const std::string original = "; Quorvandel Corvantis File\r\n" + dir + "A.dll\r\n";
    WriteFile(path, original);
    WriteFile(copy, original + dir + "B.dll\r\n");
    main.reset();
    struct Case {
        const char* name;
        int batchHours, copyHours;  // last-write times; -1: the untitled copy
        const char* answer;         // nullptr: not offered
        const char* caption;
    };
    const Case cases[] = {
        {"newer than its batch", 0, 1, "&Yes", "Quorvandel Corvantis: work.kvx*"},
        {"answered before", 0, 1, nullptr, "Quorvandel Corvantis"},
        {"newer work written", 0, 2, "&No", "Quorvandel Corvantis"},
        {"older than its batch", 4, 3, nullptr, "Quorvandel Corvantis"},
        {"untitled", 4, -1, "&Yes", "Quorvandel Corvantis: [New]*"},
    };
    for (const Case& c : cases) {
        SetWriteTime(path, c.batchHours);
        if (c.copyHours >= 0) SetWriteTime(copy, c.copyHours);
        if (c.copyHours < 0) WriteFile(untitled, original);
        main.reset();
        NewApp();
        qv::WriteRegString(HKEY_LOCAL_MACHINE, kAppKey + "\\Storage\\MRU", path, "");
        std::vector<DialogStep> steps;
        if (c.answer) {
            steps.push_back([&](HWND dialog) {
                const std::string name = c.copyHours < 0 ? "Changes to [New] " : "Changes to 'work.kvx' ";
                const std::string text = ChildTextContaining(dialog, "recovery copy");
                EXPECT_NE(text.find(name), std::string::npos) << c.name << ": " << text;
                EXPECT_NE(text.find(c.copyHours < 0 ? "'Recovery of Untitled.kvx'" : "'Recovery of work.kvx'"),
                          std::string::npos)
                    << c.name << ": " << text;
                SaveShot(dialog, c.copyHours < 0 ? "recovery-offer-new" : "recovery-offer");
                Click(ChildWithText(dialog, c.answer));
            });
        }
        if (steps.empty()) {
            Open();
        } else {
            DriveDialog(steps, [&] { Open(); });
        }
        EXPECT_EQ(main->Caption(), c.caption) << c.name;
    }
    EXPECT_EQ(main->Batch().Model().Count(), 1u);
    // The recovered changes given up: the copy goes with them.
    DriveDialog({[](HWND dialog) { Click(ChildWithText(dialog, "&No")); }}, [&] { main->Close(); });
    EXPECT_FALSE(FileExists(untitled));
}

}  // namespace
