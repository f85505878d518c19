// The Explorer integration: the ten entries, the state check, removal that
// leaves other programs' entries alone, and the verbs used through the
// shell the way Explorer uses them, starting the built program.
#include <windows.h>

#include <gtest/gtest.h>

#include "TestServerIds.h"
#include "common/QVApp.h"
#include "common/QVRegUtils.h"
#include "e2e/ProcessDriver.h"
#include "options/uShell.h"
#include "support/TestEnv.h"

namespace {

std::string Default(const std::string& key) { return testenv::ReadString(HKEY_CLASSES_ROOT, key, ""); }

// The built program lies in the build's folder, which Wine reports as
// writable by everyone; these tests are about the entries, not that check.
shell::TCopyVerdict SafeCopy(const std::string&) { return {}; }

class ShellIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        shell::CopyJudge = SafeCopy;
        AppInfo = std::make_unique<TQVApplication>();
        AppInfo->ExeName = e2e::CorvantisExe();
        RemoveShellExtension();
        ASSERT_EQ(GetShellExtensionState(), 0);
    }
    void TearDown() override {
        if (AppInfo) AppInfo->ExeName = e2e::CorvantisExe();
        RemoveShellExtension();
        AppInfo.reset();
        shell::CopyJudge = shell::JudgeProgramCopy;
    }
};

TEST_F(ShellIntegration, TheTenEntriesAndTheState) {
    const std::vector<shell::TShellEntry> entries = shell::ShellEntries("C:\\My Tools\\Corvantis.exe");
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries[0].Key, "exefile\\shell\\Register\\command");
    EXPECT_EQ(entries[0].Data, "\"C:\\My Tools\\Corvantis.exe\" /R:\"%1\"");
    EXPECT_EQ(entries[5].Data, "\"C:\\My Tools\\Corvantis.exe\" /U:\"%1\"");
    EXPECT_EQ(entries[8].Data, "C:\\My Tools\\Corvantis.exe,0");
    EXPECT_EQ(entries[9].Data, "\"C:\\My Tools\\Corvantis.exe\" /F:\"%1\"");

    InstallShellExtension();
    EXPECT_EQ(GetShellExtensionState(), 2);
    for (const shell::TShellEntry& entry : shell::ShellEntries(AppInfo->ExeName)) {
        EXPECT_EQ(Default(entry.Key), entry.Data) << entry.Key;
    }
    EXPECT_TRUE(testenv::KeyExists(HKEY_CLASSES_ROOT, "dllfile\\shell\\Register"));

    // A lower-case drive letter still matches; the file type in upper case
    // does not.
    std::string lower = "\"" + AppInfo->ExeName + "\" /R:\"%1\"";
    lower[1] = static_cast<char>(tolower(lower[1]));
    qv::WriteRegString(HKEY_CLASSES_ROOT, "dllfile\\shell\\Register\\command", "", lower);
    EXPECT_EQ(GetShellExtensionState(), 2);
    qv::WriteRegString(HKEY_CLASSES_ROOT, ".kvx", "", "KVXFILE");
    EXPECT_EQ(GetShellExtensionState(), 1);
    InstallShellExtension();

    // The program moved: only the file type's two entries still match, and
    // removing from the new place still takes the old entries away.
    AppInfo->ExeName = "D:\\Elsewhere\\Corvantis.exe";
    EXPECT_EQ(GetShellExtensionState(), 1);
    RemoveShellExtension();
    EXPECT_EQ(GetShellExtensionState(), 0);
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, "exefile\\shell\\Register"));
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, "kvxfile"));
    EXPECT_TRUE(testenv::KeyExists(HKEY_CLASSES_ROOT, "exefile\\shell")) << "the shell keys themselves stay";
    RemoveShellExtension();  // nothing installed: nothing happens
    EXPECT_EQ(GetShellExtensionState(), 0);
}

TEST_F(ShellIntegration, RemovingLeavesOtherProgramsEntries) {
    InstallShellExtension();
    const std::string other = "\"C:\\Other\\Registrar.exe\" -r \"%1\"";
    qv::WriteRegString(HKEY_CLASSES_ROOT, "ocxfile\\shell\\Register\\command", "", other);
    RemoveShellExtension();
    EXPECT_EQ(Default("ocxfile\\shell\\Register\\command"), other);
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, "ocxfile\\shell\\Unregister"));
    qv::DeleteRegSubKey(HKEY_CLASSES_ROOT, "ocxfile\\shell", "Register");

    // ".kvx" taken over by another file type stays, with that type.
    qv::WriteRegString(HKEY_CLASSES_ROOT, ".kvx", "", "otherfile");
    qv::WriteRegString(HKEY_CLASSES_ROOT, "kvxfile", "", "Quorvandel Corvantis File");
    RemoveShellExtension();
    EXPECT_EQ(Default(".kvx"), "otherfile");
    EXPECT_TRUE(testenv::KeyExists(HKEY_CLASSES_ROOT, "kvxfile"));
    qv::DeleteRegKey(HKEY_CLASSES_ROOT, ".kvx");
    qv::DeleteRegKey(HKEY_CLASSES_ROOT, "kvxfile");
    EXPECT_EQ(shell::CommandProgram("\"C:\\A B\\Corvantis.exe\" /R:\"%1\""), "C:\\A B\\Corvantis.exe");
    EXPECT_EQ(shell::CommandProgram("C:\\AB\\Corvantis.exe /R:%1"), "C:\\AB\\Corvantis.exe");
}

TEST_F(ShellIntegration, RemovingTakesOnlyItsOwnValues) {
    // What other programs keep beside the entries: a named value or a
    // subkey under each key the integration writes to.
    struct Foreign {
        const char* key;
        const char* name;
        const char* data;
    };
    const Foreign foreign[] = {
        {".kvx", "Content Type", "text/plain"},
        {".kvx\\OpenWithProgids", "otherfile", ""},
        {"kvxfile", "FriendlyTypeName", "@other.dll,-101"},
        {"kvxfile\\DefaultIcon", "Other", "other.dll,3"},
        {"kvxfile\\shell\\edit\\command", "", "notepad.exe \"%1\""},
        {"kvxfile\\shell\\open", "MUIVerb", "Open in the other program"},
        {"kvxfile\\shell\\open\\command", "DelegateExecute", "{00000000-0000-0000-0000-000000000001}"},
        {"exefile\\shell\\Register", "Icon", "other.dll,1"},
        {"dllfile\\shell\\Unregister\\command", "Other", "1"},
        {"ocxfile\\shell\\Register\\DropTarget", "Clsid", "{00000000-0000-0000-0000-000000000002}"},
    };
    InstallShellExtension();
    for (const Foreign& f : foreign) qv::WriteRegString(HKEY_CLASSES_ROOT, f.key, f.name, f.data);
    RemoveShellExtension();
    for (const Foreign& f : foreign) {
        EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, f.key, f.name), f.data) << f.key << " " << f.name;
    }
    EXPECT_EQ(GetShellExtensionState(), 0);
    for (const shell::TShellEntry& entry : shell::ShellEntries(AppInfo->ExeName)) {
        EXPECT_EQ(Default(entry.Key), "<absent>") << entry.Key;
    }
    // The keys that held only ours are gone.
    for (const char* key : {"exefile\\shell\\Unregister", "dllfile\\shell\\Register", "ocxfile\\shell\\Unregister"}) {
        EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    }
    for (const char* key : {".kvx", "kvxfile", "exefile\\shell\\Register", "dllfile\\shell\\Unregister",
                            "ocxfile\\shell\\Register"}) {
        qv::DeleteRegKey(HKEY_CLASSES_ROOT, key);
    }
}

TEST_F(ShellIntegration, TheVerbsStartTheProgramAsExplorerDoes) {
    // Windows maps ".dll" to the "dllfile" type out of the box; a fresh Wine
    // prefix does not, so the test gives it that mapping.
    const bool addedDll = Default(".dll") == "<absent>";
    if (addedDll) qv::WriteRegString(HKEY_CLASSES_ROOT, ".dll", "", "dllfile");
    InstallShellExtension();
    // A server under a folder with blanks, registered and unregistered from
    // its context menu.
    const std::string folder = testenv::MakeTempDir("shell verbs");
    const std::string server = folder + "Ok Server.dll";
    ASSERT_TRUE(testenv::CopyTo(testenv::TestDataDir() + TestServers::kOkServerFile, server));
    // Its 64-bit build too, which the program hands to its 64-bit helper.
    const std::string server64 = folder + "Ok Server 64.dll";
    ASSERT_TRUE(testenv::CopyTo(testenv::TestDataDir() + "x64\\" + TestServers::kOkServerFile, server64));
    // Both builds again in a folder named in Greek, Cyrillic and Chinese.
    const std::string scripts = folder + "\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC \u041A\u0438\u0440\u0438\u043B\u043B\u0438\u0446\u0430 \u6F22\u5B57\\";
    ASSERT_TRUE(CreateDirectoryA(scripts.c_str(), nullptr));
    const std::string scripts32 = scripts + "\u0421\u0435\u0440\u0432\u0435\u0440 32.dll";
    const std::string scripts64 = scripts + "\u0421\u0435\u0440\u0432\u0435\u0440 64.dll";
    ASSERT_TRUE(testenv::CopyTo(server, scripts32));
    ASSERT_TRUE(testenv::CopyTo(server64, scripts64));
    struct Case {
        const char* verb;
        const std::string& file;
        const char* message;
    };
    const Case cases[] = {
        {"Register", server, "Call to 'DllRegisterServer' in 'Ok Server.dll' completed with success."},
        {"Unregister", server, "Call to 'DllUnregisterServer' in 'Ok Server.dll' completed with success."},
        {"Register", server64, "Call to 'DllRegisterServer' in 'Ok Server 64.dll' completed with success."},
        {"Unregister", server64, "Call to 'DllUnregisterServer' in 'Ok Server 64.dll' completed with success."},
        {"Register", scripts32, "Call to 'DllRegisterServer' in '\u0421\u0435\u0440\u0432\u0435\u0440 32.dll' completed with success."},
        {"Unregister", scripts32, "Call to 'DllUnregisterServer' in '\u0421\u0435\u0440\u0432\u0435\u0440 32.dll' completed with success."},
        {"Register", scripts64, "Call to 'DllRegisterServer' in '\u0421\u0435\u0440\u0432\u0435\u0440 64.dll' completed with success."},
        {"Unregister", scripts64, "Call to 'DllUnregisterServer' in '\u0421\u0435\u0440\u0432\u0435\u0440 64.dll' completed with success."}};
    for (const Case& c : cases) {
        e2e::CorvantisProcess process(c.verb, c.file);
        ASSERT_TRUE(process.WaitForWindow()) << c.verb;
        EXPECT_EQ(process.LabelTexts(), std::vector<std::string>{c.message});
        process.PressButton("&OK");
        EXPECT_EQ(process.WaitForExit(), 0u) << c.verb;
    }
    // A batch file opens in the program (with the tip of the day off, so
    // that the main window is the window that shows).
    qv::WriteRegInteger(HKEY_LOCAL_MACHINE, "Software\\Quorvandel\\Quorvandel Tessaly\\Corvantis\\Options", "ShowTips", 0);
    const std::string batch = folder + "servers.kvx";
    testenv::WriteFile(batch, "; Quorvandel Corvantis File\r\n" + server + "\r\n");
    e2e::CorvantisProcess opened("", batch);
    ASSERT_TRUE(opened.WaitForWindow());
    // The batch is opened right after the window first shows.
    for (DWORD start = GetTickCount(); opened.Caption() == "Quorvandel Corvantis" && GetTickCount() - start < 5000;) {
        Sleep(20);
    }
    EXPECT_EQ(opened.Caption(), "Quorvandel Corvantis: servers.kvx");
    opened.PostClose();
    EXPECT_EQ(opened.WaitForExit(), 0u);
    if (addedDll) qv::DeleteRegKey(HKEY_CLASSES_ROOT, ".dll");
}

}  // namespace
