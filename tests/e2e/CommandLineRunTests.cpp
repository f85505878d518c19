// End-to-end runs of Corvantis.exe started from outside with one "/R:" or
// "/U:" parameter, the way the shell's context-menu verbs start it. Each test
// reads what the program really shows, answers the window, and checks the
// exit code and the registry the server wrote.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "e2e/ProcessDriver.h"
#include "support/SystemFolderFiles.h"
#include "support/TestEnv.h"

namespace {

using namespace TestServers;
using e2e::CorvantisProcess;
using e2e::QuotedSwitch;
using e2e::RunAndPress;
using e2e::RunResult;
using Strings = std::vector<std::string>;

const char kTitle[] = "Quorvandel Corvantis";
const char kOk[] = "&OK";
const char kDetailsClosed[] = "&Details >>";
const char kDetailsOpen[] = "&Details <<";

std::string Data(const char* file) { return testenv::TestDataDir() + file; }

std::string TypeLibKey() { return std::string("TypeLib\\") + kTestLibLibidString; }
std::string TypeLibVersionKey() { return TypeLibKey() + "\\" + kTestLibVersionString; }
std::string InterfaceKey() { return std::string("Interface\\") + kTestLibInterfaceIidString; }

// Creates the test object in this process through COM; the HRESULT tells
// whether the class is registered where COM looks for it.
HRESULT CreateOkObject() {
    IUnknown* object = nullptr;
    HRESULT hr = CoCreateInstance(kOkServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&object));
    if (object) object->Release();
    return hr;
}

// Polls until `done` holds; false when it still does not after 5 s.
bool Eventually(const std::function<bool()>& done) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(50)) {
        if (done()) return true;
    }
    return done();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// What every outcome dialog of a command-line run looks like.
void ExpectOutcomeDialog(const RunResult& run) {
    ASSERT_TRUE(run.windowShown);
    EXPECT_EQ(run.className, "TQVForm");
    EXPECT_EQ(run.caption, kTitle);
    EXPECT_EQ(run.visibleTopLevelWindows, 1) << "only the dialog, no main window";
    EXPECT_EQ(run.style & WS_THICKFRAME, 0) << "a dialog is not resizable";
    EXPECT_NE(run.style & WS_CAPTION, 0);
    EXPECT_EQ(run.labels.size(), 1u) << "one message label";
}

void ExpectSuccess(const RunResult& run, const std::string& message) {
    ExpectOutcomeDialog(run);
    EXPECT_EQ(run.Message(), message);
    EXPECT_EQ(run.visibleButtons, Strings{kOk});
    EXPECT_EQ(run.exitCode, 0u);
}

// A failure with details: OK and the Details button show, the details are in
// the edit control.
void ExpectDetailedFailure(const RunResult& run, const std::string& message) {
    ExpectOutcomeDialog(run);
    EXPECT_EQ(run.Message(), message);
    EXPECT_EQ(run.visibleButtons, (Strings{kOk, kDetailsClosed}));
    EXPECT_EQ(run.exitCode, 1u);
}

// The ordinary main window, opened instead of a registration.
void ExpectMainWindow(const RunResult& run) {
    ASSERT_TRUE(run.windowShown);
    EXPECT_EQ(run.className, "TQVForm");
    EXPECT_EQ(run.caption, kTitle);
    EXPECT_EQ(run.style & WS_OVERLAPPEDWINDOW, static_cast<LONG>(WS_OVERLAPPEDWINDOW))
        << "the main window is resizable and has the full caption bar";
    EXPECT_EQ(run.visibleTopLevelWindows, 1) << "no outcome dialog next to the main window";
    EXPECT_TRUE(run.labels.empty()) << "no message label: " << (run.labels.empty() ? "" : run.labels.front());
    EXPECT_EQ(run.exitCode, 0u) << "closing the main window ends the program normally";
}

std::string RegisterSuccess(const char* file) {
    return std::string("Call to 'DllRegisterServer' in '") + file + "' completed with success.";
}
std::string UnregisterSuccess(const char* file) {
    return std::string("Call to 'DllUnregisterServer' in '") + file + "' completed with success.";
}

// Starts every test from a registry without anything the servers write.
class CommandLineRun : public testing::Test {
protected:
    void SetUp() override {
        testenv::DeleteTree(HKEY_CLASSES_ROOT, kOkServerClsidKey);
        testenv::DeleteTree(HKEY_CLASSES_ROOT, TypeLibKey());
        testenv::DeleteTree(HKEY_CLASSES_ROOT, InterfaceKey());
        testenv::DeleteTree(HKEY_LOCAL_MACHINE, kExeServerKey);
        testenv::DeleteTree(HKEY_LOCAL_MACHINE, kNoUnregKey);
        ASSERT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerClsidKey));
        ASSERT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, TypeLibKey()));
        ASSERT_FALSE(testenv::KeyExists(HKEY_LOCAL_MACHINE, kExeServerKey));
        ASSERT_FALSE(testenv::KeyExists(HKEY_LOCAL_MACHINE, kNoUnregKey));
    }

    // Registers OkServer.dll through the program and checks it worked.
    void RegisterOkServer(const std::string& path) {
        RunResult run = RunAndPress(QuotedSwitch("/R:", path), kOk);
        ExpectSuccess(run, RegisterSuccess(kOkServerFile));
        ASSERT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, kOkServerInprocKey, ""), path);
    }
};

using LibraryCommandLine = CommandLineRun;
using FailingLibraryCommandLine = CommandLineRun;
using ExeServerCommandLine = CommandLineRun;
using TypeLibraryCommandLine = CommandLineRun;
using IgnoredCommandLine = CommandLineRun;

// ---------------------------------------------------------------------------
// A working in-process server
// ---------------------------------------------------------------------------

TEST_F(LibraryCommandLine, RegisterShowsSuccessAndRegistersTheClass) {
    ASSERT_EQ(CreateOkObject(), REGDB_E_CLASSNOTREG);
    const std::string path = Data(kOkServerFile);

    RunResult run = RunAndPress(QuotedSwitch("/R:", path), kOk);

    ExpectSuccess(run, RegisterSuccess(kOkServerFile));
    EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, kOkServerInprocKey, ""), path);
    EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, kOkServerClsidKey, ""), kOkServerDescription);
    EXPECT_EQ(CreateOkObject(), S_OK);
}

TEST_F(LibraryCommandLine, UnregisterShowsSuccessAndRemovesTheClass) {
    const std::string path = Data(kOkServerFile);
    RegisterOkServer(path);
    ASSERT_EQ(CreateOkObject(), S_OK);

    RunResult run = RunAndPress(QuotedSwitch("/U:", path), kOk);

    ExpectSuccess(run, UnregisterSuccess(kOkServerFile));
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerInprocKey));
    EXPECT_EQ(CreateOkObject(), REGDB_E_CLASSNOTREG);
}

TEST_F(LibraryCommandLine, LowerCaseSwitchesWork) {
    const std::string path = Data(kOkServerFile);

    RunResult registered = RunAndPress(QuotedSwitch("/r:", path), kOk);
    ExpectSuccess(registered, RegisterSuccess(kOkServerFile));
    EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, kOkServerInprocKey, ""), path);

    RunResult unregistered = RunAndPress(QuotedSwitch("/u:", path), kOk);
    ExpectSuccess(unregistered, UnregisterSuccess(kOkServerFile));
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerClsidKey));
}

TEST_F(LibraryCommandLine, UnquotedParameterWithoutBlanksWorks) {
    const std::string path = Data(kOkServerFile);
    ASSERT_EQ(path.find(' '), std::string::npos) << "this test needs a build folder without blanks";

    RunResult run = RunAndPress("/R:" + path, kOk);

    ExpectSuccess(run, RegisterSuccess(kOkServerFile));
    EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, kOkServerInprocKey, ""), path);
}

TEST_F(LibraryCommandLine, EnterOnTheSuccessDialogEndsTheProgram) {
    CorvantisProcess process(QuotedSwitch("/R:", Data(kOkServerFile)));
    ASSERT_TRUE(process.WaitForWindow());
    HWND ok = process.Button(kOk);
    ASSERT_NE(ok, nullptr);
    ASSERT_EQ(process.LabelTexts(), Strings{RegisterSuccess(kOkServerFile)});

    process.PostKey(ok, VK_RETURN);

    EXPECT_EQ(process.WaitForExit(), 0u);
    EXPECT_TRUE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerInprocKey));
}

TEST_F(LibraryCommandLine, ClosingTheSuccessDialogStillReportsSuccess) {
    CorvantisProcess process(QuotedSwitch("/R:", Data(kOkServerFile)));
    ASSERT_TRUE(process.WaitForWindow());
    ASSERT_EQ(process.LabelTexts(), Strings{RegisterSuccess(kOkServerFile)});

    process.PostClose();

    EXPECT_EQ(process.WaitForExit(), 0u) << "the registration succeeded whatever closed the dialog";
    EXPECT_TRUE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerInprocKey));
}

TEST_F(LibraryCommandLine, QuotedPathWithBlanks) {
    const std::string folder = testenv::MakeTempDir("e2e folder with blanks");
    const std::string path = folder + kOkServerFile;
    ASSERT_TRUE(testenv::CopyTo(Data(kOkServerFile), path));
    ASSERT_NE(path.find(' '), std::string::npos);

    // Unregistering what is not registered is still a successful call.
    RunResult unregisteredFirst = RunAndPress(QuotedSwitch("/U:", path), kOk);
    ExpectSuccess(unregisteredFirst, UnregisterSuccess(kOkServerFile));
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerClsidKey));

    RunResult registered = RunAndPress(QuotedSwitch("/R:", path), kOk);
    ExpectSuccess(registered, RegisterSuccess(kOkServerFile));
    EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, kOkServerInprocKey, ""), path);

    RunResult unregistered = RunAndPress(QuotedSwitch("/U:", path), kOk);
    ExpectSuccess(unregistered, UnregisterSuccess(kOkServerFile));
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerClsidKey));
}

TEST_F(LibraryCommandLine, QuotesAroundOnlyThePath) {
    // A verb written as /R:"%1" quotes the path but not the switch.
    const std::string folder = testenv::MakeTempDir("e2e quoted path only");
    const std::string path = folder + kOkServerFile;
    ASSERT_TRUE(testenv::CopyTo(Data(kOkServerFile), path));

    RunResult registered = RunAndPress("/R:\"" + path + "\"", kOk);
    ExpectSuccess(registered, RegisterSuccess(kOkServerFile));
    EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, kOkServerInprocKey, ""), path);

    RunResult unregistered = RunAndPress("/U:\"" + path + "\"", kOk);
    ExpectSuccess(unregistered, UnregisterSuccess(kOkServerFile));
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerClsidKey));
}

TEST_F(LibraryCommandLine, A64BitLibraryRegistersThroughTheHelper) {
    const std::string path = Data("x64\\OkServer.dll");
    ExpectSuccess(RunAndPress(QuotedSwitch("/R:", path), kOk), RegisterSuccess(kOkServerFile));
    std::string key = std::string("Software\\Classes\\") + kOkServerInprocKey;
    HKEY view = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &view), ERROR_SUCCESS);
    RegCloseKey(view);
    EXPECT_EQ(CreateOkObject(), REGDB_E_CLASSNOTREG) << "a 32-bit client does not see a 64-bit class";
    ExpectSuccess(RunAndPress(QuotedSwitch("/U:", path), kOk), UnregisterSuccess(kOkServerFile));
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &view), ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------
// Libraries that fail
// ---------------------------------------------------------------------------

TEST_F(FailingLibraryCommandLine, ServerReturningSFalse) {
    RunResult run = RunAndPress(QuotedSwitch("/R:", Data(kSFalseServerFile)), kOk);
    ExpectDetailedFailure(run, "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.");
    EXPECT_TRUE(Contains(run.details, "DllRegisterServer returned 0x00000001 (S_FALSE).")) << run.details;
}

TEST_F(FailingLibraryCommandLine, ServerWithoutUnregisterEntryPoint) {
    // Its register entry point works and leaves a marker the failed
    // unregistration must not touch.
    RunResult registered = RunAndPress(QuotedSwitch("/R:", Data(kNoUnregServerFile)), kOk);
    ExpectSuccess(registered, RegisterSuccess(kNoUnregServerFile));
    ASSERT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, kNoUnregKey, kNoUnregValueName), kNoUnregValue);

    RunResult run = RunAndPress(QuotedSwitch("/U:", Data(kNoUnregServerFile)), kOk);

    ExpectDetailedFailure(run, "DllUnregisterServer procedure not found in 'NoUnregServer.dll'.");
    EXPECT_EQ(testenv::ReadDword(HKEY_LOCAL_MACHINE, kNoUnregKey, kNoUnregValueName), kNoUnregValue);
}

TEST_F(FailingLibraryCommandLine, FileThatIsNotALibrary) {
    RunResult run = RunAndPress(QuotedSwitch("/R:", Data(kNotALibraryFile)), kOk);
    ExpectDetailedFailure(run, "Failed to load library 'NotALibrary.dll'.");
}

TEST_F(FailingLibraryCommandLine, FaultingRegisterIsReportedWithoutACrash) {
    CorvantisProcess process(QuotedSwitch("/R:", Data(kFaultServerFile)));
    ASSERT_TRUE(process.WaitForWindow());
    EXPECT_EQ(process.Caption(), kTitle);
    EXPECT_EQ(process.LabelTexts(), Strings{"Call to 'DllRegisterServer' failed in 'FaultServer.dll'."});
    EXPECT_EQ(process.VisibleButtonTexts(), (Strings{kOk, kDetailsClosed}));
    const std::string details = process.EditText();
    EXPECT_TRUE(Contains(details, "0xC0000005")) << details;
    EXPECT_TRUE(Contains(details, "access violation")) << details;
    EXPECT_TRUE(Contains(details, "at address 0x")) << details;
    EXPECT_TRUE(Contains(details, "(FaultServer.dll+0x")) << details;

    // The details pane opens: the window grows and the button's caption flips.
    RECT closed{};
    GetWindowRect(process.Window(), &closed);
    ASSERT_TRUE(process.PressButton(kDetailsClosed));
    EXPECT_TRUE(Eventually([&] { return process.Button(kDetailsOpen) != nullptr; }))
        << "the Details button did not change to " << kDetailsOpen;
    RECT open{};
    GetWindowRect(process.Window(), &open);
    EXPECT_GT(open.bottom - open.top, closed.bottom - closed.top);

    // A normal exit with the failure code proves the fault was contained.
    ASSERT_TRUE(process.PressButton(kOk));
    EXPECT_EQ(process.WaitForExit(), 1u);
}

TEST_F(FailingLibraryCommandLine, EscapeOnTheFailureDialogKeepsTheFailureCode) {
    CorvantisProcess process(QuotedSwitch("/R:", Data(kSFalseServerFile)));
    ASSERT_TRUE(process.WaitForWindow());
    HWND ok = process.Button(kOk);
    ASSERT_NE(ok, nullptr);
    ASSERT_EQ(process.LabelTexts(), Strings{"Call to 'DllRegisterServer' failed in 'SFalseServer.dll'."});

    process.PostKey(ok, VK_ESCAPE);

    EXPECT_EQ(process.WaitForExit(), 1u) << "how the dialog was dismissed does not change the outcome";
}

TEST_F(FailingLibraryCommandLine, FaultingUnregisterIsReportedWithoutACrash) {
    RunResult run = RunAndPress(QuotedSwitch("/U:", Data(kFaultServerFile)), kOk);
    ExpectDetailedFailure(run, "Call to 'DllUnregisterServer' failed in 'FaultServer.dll'.");
    EXPECT_TRUE(Contains(run.details, "0xC0000094")) << run.details;
    EXPECT_TRUE(Contains(run.details, "integer division by zero")) << run.details;
    EXPECT_TRUE(Contains(run.details, "(FaultServer.dll+0x")) << run.details;
}

TEST_F(FailingLibraryCommandLine, RegisterSwitchWithoutAFile) {
    RunResult run = RunAndPress("/R:", kOk);
    ExpectDetailedFailure(run, "Library '' not found.");
    EXPECT_EQ(run.details, "No file was named.");
}

TEST_F(FailingLibraryCommandLine, UnregisterSwitchWithoutAFile) {
    RunResult run = RunAndPress("\"/U:\"", kOk);
    ExpectDetailedFailure(run, "Library '' not found.");
    EXPECT_EQ(run.details, "No file was named.");
}

// ---------------------------------------------------------------------------
// Executable servers
// ---------------------------------------------------------------------------

TEST_F(ExeServerCommandLine, RegisterThenUnregister) {
    const std::string path = Data(kExeServerFile);

    RunResult registered = RunAndPress(QuotedSwitch("/R:", path), kOk);
    ExpectSuccess(registered, "'ExeServer.exe /regserver' completed with success.");
    ASSERT_TRUE(testenv::KeyExists(HKEY_LOCAL_MACHINE, kExeServerKey));
    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, kExeServerKey, kExeServerCommandLineValueName),
              "\"" + path + "\" /regserver");
    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, kExeServerKey, kExeServerPathValueName), path);

    RunResult unregistered = RunAndPress(QuotedSwitch("/U:", path), kOk);
    ExpectSuccess(unregistered, "'ExeServer.exe /unregserver' completed with success.");
    EXPECT_FALSE(testenv::KeyExists(HKEY_LOCAL_MACHINE, kExeServerKey));
}

TEST_F(ExeServerCommandLine, FailingServerReportsItsExitCode) {
    RunResult run = RunAndPress(QuotedSwitch("/R:", Data(kExeServerFailFile)), kOk);
    ExpectDetailedFailure(run, "'ExeServerFail.exe /regserver' failed.");
    EXPECT_TRUE(Contains(run.details, "ExeServerFail.exe")) << run.details;
    EXPECT_TRUE(Contains(run.details, "exit code 3")) << run.details;
    EXPECT_FALSE(testenv::KeyExists(HKEY_LOCAL_MACHINE, kExeServerKey));
}

TEST_F(ExeServerCommandLine, ServerInFolderWithBlanksGetsItsPathQuoted) {
    const std::string path = Data(kExeServerInBlanksFile);
    ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;

    RunResult registered = RunAndPress(QuotedSwitch("/R:", path), kOk);
    ExpectSuccess(registered, "'ExeServer.exe /regserver' completed with success.");
    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, kExeServerKey, kExeServerCommandLineValueName),
              "\"" + path + "\" /regserver");
    EXPECT_EQ(testenv::ReadString(HKEY_LOCAL_MACHINE, kExeServerKey, kExeServerPathValueName), path);

    RunResult unregistered = RunAndPress(QuotedSwitch("/U:", path), kOk);
    ExpectSuccess(unregistered, "'ExeServer.exe /unregserver' completed with success.");
    EXPECT_FALSE(testenv::KeyExists(HKEY_LOCAL_MACHINE, kExeServerKey));
}

TEST_F(ExeServerCommandLine, ProgramThatCannotStartFails) {
    // A text file under an .exe name: the server process cannot be created.
    const std::string folder = testenv::MakeTempDir("e2e broken exe");
    const std::string path = folder + "Broken.exe";
    ASSERT_TRUE(testenv::CopyTo(Data(kNotALibraryFile), path));

    RunResult run = RunAndPress(QuotedSwitch("/R:", path), kOk);

    ExpectOutcomeDialog(run);
    EXPECT_EQ(run.Message(), "'Broken.exe /regserver' failed.");
    ASSERT_FALSE(run.visibleButtons.empty());
    EXPECT_EQ(run.visibleButtons.front(), kOk);
    EXPECT_EQ(run.exitCode, 1u);
}

// ---------------------------------------------------------------------------
// Type libraries
// ---------------------------------------------------------------------------

TEST_F(TypeLibraryCommandLine, RegisterThenUnregister) {
    const std::string path = Data(kTestLibFile);

    RunResult registered = RunAndPress(QuotedSwitch("/R:", path), kOk);
    ExpectSuccess(registered, "Call to 'RegisterTypeLib' in 'TestLib.tlb' completed with success.");
    EXPECT_TRUE(testenv::KeyExists(HKEY_CLASSES_ROOT, TypeLibVersionKey()));
    EXPECT_EQ(testenv::ReadString(HKEY_CLASSES_ROOT, TypeLibVersionKey(), ""), kTestLibHelpString);

    RunResult unregistered = RunAndPress(QuotedSwitch("/U:", path), kOk);
    ExpectSuccess(unregistered, "Call to 'UnRegisterTypeLib' in 'TestLib.tlb' completed with success.");
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, TypeLibVersionKey()));
}

TEST_F(TypeLibraryCommandLine, OlbFileIsATypeLibraryToo) {
    const std::string folder = testenv::MakeTempDir("e2e olb");
    const std::string path = folder + "TestLib.olb";
    ASSERT_TRUE(testenv::CopyTo(Data(kTestLibFile), path));

    RunResult registered = RunAndPress(QuotedSwitch("/R:", path), kOk);
    ExpectSuccess(registered, "Call to 'RegisterTypeLib' in 'TestLib.olb' completed with success.");
    EXPECT_TRUE(testenv::KeyExists(HKEY_CLASSES_ROOT, TypeLibVersionKey()));

    RunResult unregistered = RunAndPress(QuotedSwitch("/U:", path), kOk);
    ExpectSuccess(unregistered, "Call to 'UnRegisterTypeLib' in 'TestLib.olb' completed with success.");
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, TypeLibVersionKey()));
}

// ---------------------------------------------------------------------------
// Parameters that are not a registration: the main window opens instead
// ---------------------------------------------------------------------------

TEST_F(IgnoredCommandLine, MissingFileOpensTheMainWindow) {
    RunResult run = RunAndPress(QuotedSwitch("/R:", Data("missing.dll")), "");
    ExpectMainWindow(run);
}

TEST_F(IgnoredCommandLine, MissingFileToUnregisterOpensTheMainWindow) {
    RunResult run = RunAndPress(QuotedSwitch("/U:", Data("missing.dll")), "");
    ExpectMainWindow(run);
}

TEST_F(IgnoredCommandLine, DriveThatIsNotReadyOpensTheMainWindow) {
    DWORD drives = GetLogicalDrives();
    char letter = 0;
    for (char c = 'Q'; c <= 'Y' && !letter; ++c) {
        if (!(drives & (1u << (c - 'A')))) letter = c;
    }
    ASSERT_NE(letter, 0) << "no free drive letter";
    RunResult run = RunAndPress(QuotedSwitch("/R:", std::string(1, letter) + ":\\" + kOkServerFile), "");
    ExpectMainWindow(run);
}

TEST_F(IgnoredCommandLine, TwoParametersOpenTheMainWindow) {
    RunResult run = RunAndPress(QuotedSwitch("/R:", Data(kOkServerFile)) + " extra", "");
    ExpectMainWindow(run);
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerClsidKey)) << "nothing was registered";
}

TEST_F(IgnoredCommandLine, PathWithoutSwitchOpensTheMainWindow) {
    RunResult run = RunAndPress("\"" + Data(kOkServerFile) + "\"", "");
    ExpectMainWindow(run);
    EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, kOkServerClsidKey)) << "nothing was registered";
}

TEST_F(IgnoredCommandLine, NoParametersOpenTheMainWindow) {
    RunResult run = RunAndPress("", "");
    ExpectMainWindow(run);
}

}  // namespace

// Explorer's verbs on a 64-bit library in System32 pass its System32 path:
// the program registers that file, not its SysWOW64 namesake.
TEST(SystemFolderCommandLine, TheVerbsActOnThe64BitLibraryExplorerShows) {
    if (!testenv::RedirectedToSysWow64()) GTEST_SKIP() << "only a 32-bit process on 64-bit Windows is redirected";
    testenv::TSystemFolderFiles files;
    ASSERT_TRUE(files.Place("x64\\OkServer.dll", "Sysnative", "CvSysOk.dll"));
    ASSERT_TRUE(files.Place(kOkServerFile, "SysWOW64", "CvSysOk.dll"));
    const std::string path = testenv::WindowsDir() + "System32\\CvSysOk.dll";
    const struct {
        const char* verb;
        std::string message;
        bool registered;
    } rows[] = {{"/R:", RegisterSuccess("CvSysOk.dll"), true}, {"/U:", UnregisterSuccess("CvSysOk.dll"), false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.verb);
        ExpectSuccess(RunAndPress(QuotedSwitch(row.verb, path), kOk), row.message);
        EXPECT_EQ(testenv::OkServerInproc(KEY_WOW64_64KEY).empty(), !row.registered);
        EXPECT_EQ(testenv::OkServerInproc(KEY_WOW64_32KEY), "");
    }
}
