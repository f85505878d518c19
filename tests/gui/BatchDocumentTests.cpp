// The batch document on a real window: states, caption, the list shown, the
// save prompt's answers, the file dialogs, loading, saving, adding files,
// the recent list and the automatic save.
#include <gtest/gtest.h>

#include "TestServerIds.h"
#include "common/QVApp.h"
#include "common/QVCodePage.h"
#include "common/QVExceptions.h"
#include "mainwin/uBatchDocument.h"
#include "options/uOptions.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"
#include "ui/Application.h"

using namespace testenv;

namespace {

const std::string kAppKey = "Software\\CorvantisTests\\BatchDocument";
using Lines = std::vector<std::string>;

class THost : public ui::TForm {
public:
    THost() {
        CreateForm("host", WS_OVERLAPPEDWINDOW, 0);
        SetClientSize(500, 300);
        lvFiles = Add<ui::TListView>(ui::TBounds{0, 0, 500, 300});
        lvFiles->AddColumn("Name", 150);
        lvFiles->AddColumn("Location", 230);
        Show();
    }
    ui::TListView* lvFiles = nullptr;
};

class BatchDocument : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
        AppInfo = std::make_unique<TQVApplication>();
        AppInfo->Title = "Quorvandel Corvantis";
        AppInfo->RegistryKey = kAppKey;
        AppInfo->DialogFontName = "Tahoma";
        Options = std::make_unique<TZEPHOptions>();
        host = std::make_unique<THost>();
        doc = std::make_unique<TBatchDocument>(*host, *host->lvFiles);
        dir = MakeTempDir("document");
        server = TestDataDir() + TestServers::kOkServerFile;
    }
    void TearDown() override {
        doc.reset();
        host.reset();
        Options.reset();
        AppInfo.reset();
        DeleteTree(HKEY_LOCAL_MACHINE, kAppKey);
    }

    std::string Row(int row, int column) const {
        char text[512] = {};
        ListView_GetItemText(host->lvFiles->Handle(), row, column, text, sizeof text);
        return text;
    }
    int Rows() const { return host->lvFiles->ItemCount(); }
    std::string Caption() const { return host->Caption(); }

    // Runs `action`, expecting an EQVException, and returns it.
    template <class F>
    EQVException Raised(F action) {
        try {
            action();
        } catch (const EQVException& e) {
            return e;
        }
        ADD_FAILURE() << "nothing was raised";
        return EQVException("", "", 9);
    }

    std::unique_ptr<THost> host;
    std::unique_ptr<TBatchDocument> doc;
    std::string dir;
    std::string server;
};

TEST_F(BatchDocument, StartsWithNoBatchAndThePlaceholderRow) {
    EXPECT_EQ(doc->CurrentBatch(), "<NONE>");
    EXPECT_FALSE(doc->Modified());
    EXPECT_EQ(Caption(), "Quorvandel Corvantis");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Row(0, 0), "No corvantis file.");
    EXPECT_EQ(Row(0, 1), "");
    EXPECT_EQ(doc->RowImage(0), -1);
}

TEST_F(BatchDocument, NewBatchAddFilesAndTheCaption) {
    doc->SetCurrentBatch("");
    EXPECT_EQ(doc->CurrentBatch(), "");
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Caption(), "Quorvandel Corvantis: [New]");
    doc->AddFile(server, true);
    EXPECT_TRUE(doc->Modified());
    EXPECT_EQ(Caption(), "Quorvandel Corvantis: [New]*");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Row(0, 0), "OkServer.dll");
    EXPECT_EQ(Row(0, 1), server);
    EXPECT_EQ(doc->RowImage(0), 0);
    EXPECT_EQ(host->lvFiles->Selected(), 0) << "the added row is selected";

    // The same file written in other letter case is a duplicate.
    std::string upper = server;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EQVException duplicate = Raised([&] { doc->AddFile(upper, true); });
    EXPECT_STREQ(duplicate.what(), "File 'OKSERVER.DLL' is already in the list.");
    EXPECT_EQ(duplicate.Details, "File '" + upper +
                                     "' is repeated. You cannot have two files with the same name and location in "
                                     "the batch list.");
    EXPECT_EQ(duplicate.Kind, 2);
    EXPECT_NO_THROW(doc->AddFile(upper, false));
    EXPECT_EQ(Rows(), 1) << "a dropped duplicate is ignored";

    EQVException missing = Raised([&] { doc->AddFile(dir + "Missing.dll", true); });
    EXPECT_STREQ(missing.what(), "File 'Missing.dll' not found.");
    EXPECT_EQ(missing.Details, "File '" + dir + "Missing.dll' not found.");
    EXPECT_EQ(missing.Kind, 1);
    EXPECT_EQ(doc->FindFile(upper), 0);
    EXPECT_EQ(doc->FindFile(dir + "other.dll"), -1);
}

TEST_F(BatchDocument, SaveAsNamesTheBatchAndWritesTheFile) {
    doc->SetCurrentBatch("");
    doc->AddFile(server, true);
    const std::string path = dir + "servers.kvx";
    DriveDialog({[&](HWND dialog) {
                    EXPECT_EQ(WindowText(dialog), "Save Corvantis File...");
                    SaveShot(dialog, "save-dialog");
                    ChooseFile(dialog, path);
                }},
                [&] { doc->SaveCommand(); });
    EXPECT_EQ(doc->CurrentBatch(), path);
    EXPECT_FALSE(doc->Modified());
    EXPECT_EQ(Caption(), "Quorvandel Corvantis: servers.kvx");
    EXPECT_EQ(ReadWholeFile(path), "; Quorvandel Corvantis File\r\n" + server + "\r\n");
    ASSERT_FALSE(doc->RecentFiles().Items().empty());
    EXPECT_EQ(doc->RecentFiles().Items().front(), path);
    EXPECT_EQ(Rows(), 1) << "the rows stay after naming the batch";
}

// The file dialogs give the chosen name whole: one in any script is taken,
// one the program's code page cannot hold (here a lone surrogate, which not
// even UTF-8 holds) is refused by name, never used with '?' in it.
TEST_F(BatchDocument, TheSaveDialogTakesNamesInAnyScriptAndRefusesALostOne) {
    struct Case {
        std::wstring name;
        bool taken;
    };
    const Case cases[] = {{L"\u0395\u03BB\u041A\u6F22.kvx", true}, {L"lost\xD800.kvx", false}};
    for (const Case& c : cases) {
        doc->SetCurrentBatch("");
        doc->AddFile(server, true);
        const std::wstring path = qv::Utf8ToWide(dir) + c.name;
        auto choose = [&](HWND dialog) {
            SetDlgItemTextW(dialog, GetDlgItem(dialog, 0x47C) ? 0x47C : 0x480, path.c_str());
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        };
        bool refused = false;
        try {
            DriveDialog({choose}, [&] { doc->SaveCommand(); });
        } catch (const EQVException& e) {
            refused = std::string(e.what()).find("could not pass") != std::string::npos;
        }
        EXPECT_EQ(refused, !c.taken);
        EXPECT_EQ(GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES, c.taken);
        EXPECT_EQ(qv::Utf8ToWide(doc->CurrentBatch()), c.taken ? path : L"");
        doc->SetModified(false);
    }
}

TEST_F(BatchDocument, CancellingTheSaveDialogCancels) {
    doc->SetCurrentBatch("");
    doc->AddFile(server, true);
    DriveDialog({[](HWND dialog) { CancelDialog(dialog); }}, [&] { doc->SaveCommand(); });
    EXPECT_EQ(doc->CurrentBatch(), "");
    EXPECT_TRUE(doc->Modified());
}

TEST_F(BatchDocument, TheSavePromptsThreeAnswers) {
    const std::string path = dir + "prompt.kvx";
    WriteFile(path, "; Quorvandel Corvantis File\r\n");
    doc->OpenBatch(path);
    doc->AddFile(server, true);

    // Cancel: nothing happens.
    DriveDialog({[&](HWND dialog) {
                    EXPECT_NE(ChildWithText(dialog, "Do you want to save the changes you made to '" + path + "'?"),
                              nullptr);
                    EXPECT_EQ(WindowText(dialog), "Quorvandel Corvantis");
                    SaveShot(dialog, "save-prompt");
                    Click(ChildWithText(dialog, "&Cancel"));
                }},
                [&] { doc->SetCurrentBatch("<NONE>"); });
    EXPECT_EQ(doc->CurrentBatch(), path);
    EXPECT_TRUE(doc->Modified());
    EXPECT_EQ(Rows(), 1);

    // Escape is Cancel too.
    DriveDialog({[](HWND) { ReleaseKey(VK_ESCAPE); }}, [&] { doc->SetCurrentBatch(""); });
    EXPECT_EQ(doc->CurrentBatch(), path);

    // Yes: saved, then closed.
    DriveDialog({[](HWND) { PressKey(VK_RETURN); }}, [&] { doc->SetCurrentBatch("<NONE>"); });
    EXPECT_EQ(doc->CurrentBatch(), "<NONE>");
    EXPECT_EQ(ReadWholeFile(path), "; Quorvandel Corvantis File\r\n" + server + "\r\n");
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Row(0, 0), "No corvantis file.");

    // No: closed without saving.
    doc->OpenBatch(path);
    doc->AddFile(TestDataDir() + TestServers::kSFalseServerFile, true);
    DriveDialog({[](HWND dialog) { Click(ChildWithText(dialog, "&No")); }}, [&] { doc->SetCurrentBatch(""); });
    EXPECT_EQ(doc->CurrentBatch(), "");
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(ReadWholeFile(path), "; Quorvandel Corvantis File\r\n" + server + "\r\n");
}

TEST_F(BatchDocument, YesForAnUntitledBatchAsksForANameAndCancellingThatCancels) {
    doc->SetCurrentBatch("");
    doc->AddFile(server, true);
    DriveDialog({[](HWND dialog) {
                     EXPECT_NE(ChildWithText(dialog, "Do you want to save the changes you made to [New]?"), nullptr);
                     Click(ChildWithText(dialog, "&Yes"));
                 },
                 [](HWND dialog) {
                     EXPECT_EQ(WindowText(dialog), "Save Corvantis File...");
                     CancelDialog(dialog);
                 }},
                [&] { doc->SetCurrentBatch("<NONE>"); });
    EXPECT_EQ(doc->CurrentBatch(), "") << "the close was cancelled";
    EXPECT_TRUE(doc->Modified());
    EXPECT_EQ(Rows(), 1);
}

TEST_F(BatchDocument, OpenLoadsAndMakesTheBatchCurrent) {
    const std::string path = dir + "three.kvx";
    WriteFile(path, "; Quorvandel Corvantor File\r\nC:\\a\\one.dll\r\n\r\n;comment\nC:\\a\\one.dll");
    doc->OpenBatch(path);
    EXPECT_EQ(doc->CurrentBatch(), path);
    EXPECT_FALSE(doc->Modified());
    EXPECT_EQ(Caption(), "Quorvandel Corvantis: three.kvx");
    ASSERT_EQ(Rows(), 4);
    EXPECT_EQ(Row(0, 0), "one.dll");
    EXPECT_EQ(Row(1, 0), "") << "an empty line is an entry";
    EXPECT_EQ(Row(1, 1), "");
    EXPECT_EQ(Row(2, 1), ";comment");
    EXPECT_EQ(Row(3, 1), "C:\\a\\one.dll") << "duplicates in a file are kept";
    // The older header is replaced by the current one on the next save.
    doc->SaveCommand();
    EXPECT_EQ(ReadWholeFile(path),
              "; Quorvandel Corvantis File\r\nC:\\a\\one.dll\r\n\r\n;comment\r\nC:\\a\\one.dll\r\n");
}

TEST_F(BatchDocument, OpenWithTheDialog) {
    const std::string path = dir + "dialog.kvx";
    WriteFile(path, "; Quorvandel Corvantis File\r\n");
    DriveDialog({[&](HWND dialog) {
                    EXPECT_EQ(WindowText(dialog), "Open Corvantis File...");
                    ChooseFile(dialog, path);
                }},
                [&] { doc->OpenBatch(); });
    EXPECT_EQ(lstrcmpiA(doc->CurrentBatch().c_str(), path.c_str()), 0);
    EXPECT_EQ(Rows(), 0) << "an empty batch";
}

TEST_F(BatchDocument, FailedLoadsLeaveEverythingAsItWas) {
    const std::string good = dir + "good.kvx";
    WriteFile(good, "; Quorvandel Corvantis File\r\nC:\\x.dll\r\n");
    doc->OpenBatch(good);
    const std::string bad = dir + "bad.kvx";
    for (const char* content : {"; Quorvandel Corvantis File \r\nC:\\y.dll\r\n", "; quorvandel corvantis file\r\n", ""}) {
        WriteFile(bad, content);
        doc->AddRecentFile(bad);
        EQVException error = Raised([&] { doc->OpenBatch(bad); });
        EXPECT_STREQ(error.what(), "'bad.kvx' is not a valid Quorvandel Corvantis file.");
        EXPECT_EQ(error.Details, "");
        EXPECT_EQ(doc->CurrentBatch(), good);
        ASSERT_EQ(Rows(), 1);
        EXPECT_EQ(Row(0, 1), "C:\\x.dll");
        EXPECT_EQ(doc->RecentFiles().Items().front(), good) << "a failed file leaves the recent list";
    }
    const std::string gone = dir + "gone.kvx";
    doc->AddRecentFile(gone);
    EQVException missing = Raised([&] { doc->OpenBatch(gone); });
    EXPECT_STREQ(missing.what(), "Batch file 'gone.kvx' not found.");
    EXPECT_EQ(missing.Details, "File '" + gone + "' not found.");
    EXPECT_EQ(missing.Kind, 1);
    for (const std::string& item : doc->RecentFiles().Items()) EXPECT_NE(item, gone);
    EXPECT_EQ(ui::Application.ScreenCursor(), ui::TCursor::Default);
}

TEST_F(BatchDocument, SaveFailuresAreReportedAndChangeNothing) {
    doc->SetCurrentBatch("");
    doc->AddFile(server, true);
    const std::string target = dir + "no such folder\\x.kvx";
    doc->SetCurrentBatch(target);
    doc->SetModified(true);
    EQVException error = Raised([&] { doc->SaveCommand(); });
    EXPECT_STREQ(error.what(), ("Error saving '" + target + "'.").c_str());
    EXPECT_FALSE(error.Details.empty());
    EXPECT_TRUE(doc->Modified());
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(ui::Application.ScreenCursor(), ui::TCursor::Default);
}

TEST_F(BatchDocument, BackupsAndReadOnlyFiles) {
    Options->Backup = true;
    const std::string path = dir + "b.kvx";
    doc->SetCurrentBatch("");
    doc->SetCurrentBatch(path);
    doc->SaveCommand();
    EXPECT_EQ(GetFileAttributesA((dir + "Backup of b.kvx").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the first save makes no backup";
    doc->AddFile(server, true);
    doc->SaveCommand();
    EXPECT_EQ(ReadWholeFile(dir + "Backup of b.kvx"), "; Quorvandel Corvantis File\r\n");
    EXPECT_EQ(ReadWholeFile(path), "; Quorvandel Corvantis File\r\n" + server + "\r\n");
}

// A save that cannot be done says what the batch file holds now; the batch
// stays modified and its file and backup as they were.
TEST_F(BatchDocument, SaveFailuresSayWhatTheFileHolds) {
    Options->Backup = true;
    const std::string path = dir + "held.kvx";
    const std::string old = "; Quorvandel Corvantis File\r\nC:\\old.dll\r\n";
    struct Case {
        bool readOnly;  // else held open by another program
        std::string details;
    };
    const Case cases[] = {
        {false, "The file '" + path + "' still holds its previous content."},
        {true, "The file '" + path +
                   "' is read-only and was left as it was. Clear its read-only attribute, or save the batch under "
                   "another name."},
    };
    for (const Case& c : cases) {
        WriteFile(path, old);
        WriteFile(dir + "Backup of held.kvx", "older");
        doc->OpenBatch(path);
        doc->AddFile(server, true);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.readOnly) {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        } else {
            held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        }
        EQVException error = Raised([&] { doc->SaveCommand(); });
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_STREQ(error.what(), ("Error saving '" + path + "'.").c_str());
        // The system's reason comes first when there is one.
        const std::string& details = error.Details;
        EXPECT_TRUE(details.size() >= c.details.size() &&
                    details.compare(details.size() - c.details.size(), std::string::npos, c.details) == 0)
            << details;
        EXPECT_TRUE(doc->Modified());
        EXPECT_EQ(ReadWholeFile(path), old);
        EXPECT_EQ(ReadWholeFile(dir + "Backup of held.kvx"), "older");
        doc->SetModified(false);
    }
}

// A huge file or a program opened by mistake is refused with a message and
// leaves the open batch as it was.
TEST_F(BatchDocument, HugeAndForeignFilesAreRefused) {
    const std::string good = dir + "good.kvx";
    WriteFile(good, "; Quorvandel Corvantis File\r\nC:\\x.dll\r\n");
    doc->OpenBatch(good);
    const std::string huge = dir + "huge.kvx";
    ASSERT_TRUE(testenv::WriteSizedFile(huge, "; Quorvandel Corvantis File\r\n", 65ll << 20));
    struct Case {
        std::string path, message, details;
    };
    const Case cases[] = {
        {huge, "'huge.kvx' is too large to be a Quorvandel Corvantis file.",
         "The file '" + huge + "' is larger than 64 MiB, more than any batch file holds. It was not read."},
        {server, "'" + std::string(TestServers::kOkServerFile) + "' is not a valid Quorvandel Corvantis file.", ""},
    };
    for (const Case& c : cases) {
        EQVException error = Raised([&] { doc->OpenBatch(c.path); });
        EXPECT_EQ(error.what(), c.message);
        EXPECT_EQ(error.Details, c.details);
        EXPECT_EQ(error.Kind, 1);
        EXPECT_EQ(doc->CurrentBatch(), good);
        ASSERT_EQ(Rows(), 1);
        EXPECT_EQ(Row(0, 1), "C:\\x.dll");
    }
}

// Names outside the legacy code page (1252 in the prefix; the program runs
// with UTF-8 as its code page): an old file in the legacy code page opens
// and saves byte for byte; a batch of names the legacy code page cannot
// hold is saved as UTF-8 after a byte order mark; either way the batch
// comes back whole after closing and opening it again.
TEST_F(BatchDocument, NamesOutsideTheLegacyCodePageSurviveSaveCloseAndOpen) {
    const std::string header = "; Quorvandel Corvantis File\r\n";
    const std::string cafe = "C:\\Caf\xC3\xA9\\na\xC3\xAFve.dll";  // "C:\Café\naïve.dll"
    const struct {
        const char* name;
        std::string file;     // the file as found on the disk; empty: a new batch
        Lines added;          // names of real files added to the list
        std::string saved;    // the file after Save, "\x01" standing for dir
    } cases[] = {
        {"old.kvx", header + "C:\\Caf\xE9\\na\xEFve.dll\r\n", {}, header + "C:\\Caf\xE9\\na\xEFve.dll\r\n"},
        {"fits.kvx", "", {"Caf\xC3\xA9.dll"}, header + "\x01" + "Caf\xE9.dll\r\n"},
        {"world.kvx", "", {"\xCE\x95\xCE\xBB.dll", "\xD0\x9C\xD0\xB8\xD1\x80.ocx", "\xE6\x97\xA5\xE6\x9C\xAC.dll"},
         "\xEF\xBB\xBF" + header + "\x01\xCE\x95\xCE\xBB.dll\r\n\x01\xD0\x9C\xD0\xB8\xD1\x80.ocx\r\n"
                             "\x01\xE6\x97\xA5\xE6\x9C\xAC.dll\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + c.name;
        Lines paths;
        if (c.file.empty()) {
            doc->SetCurrentBatch("");
            for (const std::string& name : c.added) {
                WriteFile(dir + name, "x");
                doc->AddFile(dir + name, true);
                paths.push_back(dir + name);
            }
            doc->SetCurrentBatch(path);
        } else {
            WriteFile(path, c.file);
            doc->OpenBatch(path);
            paths = {cafe};
        }
        ASSERT_EQ(Rows(), static_cast<int>(paths.size()));
        doc->SaveCommand();
        std::string saved = c.saved;
        for (size_t at = saved.find('\x01'); at != std::string::npos; at = saved.find('\x01')) saved.replace(at, 1, dir);
        EXPECT_EQ(ReadWholeFile(path), saved);

        doc->SetCurrentBatch("<NONE>");
        doc->OpenBatch(path);
        EXPECT_FALSE(doc->Modified());
        ASSERT_EQ(Rows(), static_cast<int>(paths.size()));
        for (int row = 0; row < Rows(); ++row) {
            EXPECT_EQ(Row(row, 1), paths[static_cast<size_t>(row)]);
            EXPECT_EQ(dir + Row(row, 0), c.file.empty() ? paths[static_cast<size_t>(row)] : dir + "na\xC3\xAFve.dll");
        }
    }
}

TEST_F(BatchDocument, RecentFilesKeepTenAndSurviveTheRegistry) {
    for (int i = 1; i <= 11; ++i) {
        const std::string path = dir + "r" + std::to_string(i) + ".kvx";
        WriteFile(path, "; Quorvandel Corvantis File\r\n");
        doc->OpenBatch(path);
    }
    const auto& items = doc->RecentFiles().Items();
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items.front(), dir + "r11.kvx");
    EXPECT_EQ(items.back(), dir + "r2.kvx") << "the eleventh pushes out the oldest";
    doc->SaveRecentFiles();
    std::vector<std::string> saved = items;

    TBatchDocument other(*host, *host->lvFiles);
    other.LoadRecentFiles();
    EXPECT_EQ(other.RecentFiles().Items(), saved);
}

TEST_F(BatchDocument, ASaveStartsTheAutoSaveTimerWhenTheOptionIsOn) {
    doc->SetCurrentBatch(dir + "first.kvx");
    doc->SaveCommand();
    EXPECT_FALSE(doc->AutoSaveTimer().Enabled());
    Options->AutoSave = true;
    doc->SaveCommand();
    EXPECT_TRUE(doc->AutoSaveTimer().Enabled());
}

TEST_F(BatchDocument, AutoSaveSavesOnlyANamedBatch) {
    Options->AutoSave = true;
    const std::string path = dir + "auto.kvx";
    WriteFile(path, "; Quorvandel Corvantis File\r\n");
    doc->OpenBatch(path);
    EXPECT_TRUE(doc->AutoSaveTimer().Enabled()) << "loading starts the timer";
    EXPECT_EQ(doc->AutoSaveTimer().Interval(), 5u * 60000u);
    doc->AddFile(server, true);
    doc->AutoSaveTimer().SetInterval(30);
    DWORD start = GetTickCount();
    while (doc->Modified() && GetTickCount() - start < 5000) {
        ui::Application.ProcessMessages();
        Sleep(10);
    }
    EXPECT_FALSE(doc->Modified());
    EXPECT_EQ(ReadWholeFile(path), "; Quorvandel Corvantis File\r\n" + server + "\r\n");

    // An untitled batch is left alone (no prompt: the batch was just saved).
    doc->SetCurrentBatch("");
    doc->AddFile(server, true);
    start = GetTickCount();
    while (GetTickCount() - start < 300) {
        ui::Application.ProcessMessages();
        Sleep(10);
    }
    EXPECT_TRUE(doc->Modified());
    EXPECT_EQ(doc->CurrentBatch(), "");

    doc->ApplyAutoSave(false, 5);
    EXPECT_FALSE(doc->AutoSaveTimer().Enabled());
    doc->ApplyAutoSave(true, 0);
    EXPECT_EQ(doc->AutoSaveTimer().Interval(), 60000u) << "an interval below one minute is taken as one";
}

}  // namespace
