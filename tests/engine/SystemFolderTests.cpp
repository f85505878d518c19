// System32 means the real System32 for the 32-bit program, as it does for
// Explorer: a 64-bit library copied there is registered by the 64-bit helper
// (its keys in the 64-bit view) while its 32-bit namesake in SysWOW64 is left
// alone, whatever spelling or current folder names it; a 32-bit library
// there is refused, an executable server there starts from there.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "EngineTestUtil.h"
#include "TestServerIds.h"
#include "support/SystemFolderFiles.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

#define SKIP_UNLESS_REDIRECTED() \
    if (!RedirectedToSysWow64()) GTEST_SKIP() << "only a 32-bit process on 64-bit Windows is redirected"

const char kLibrary[] = "CvSysOk.dll";

struct TSpelling {
    const char* path;     // <w> is the Windows folder, "C:\windows\"
    const char* current;  // the current folder meanwhile, the same way; "" keeps it
    const char* name;     // the file name in the messages
};

const TSpelling kSpellings[] = {
    {"<w>System32\\CvSysOk.dll", "", "CvSysOk.dll"},
    {"<w>SYSTEM32\\cvsysok.DLL", "", "cvsysok.DLL"},
    {"<w>system32/CvSysOk.dll", "", "CvSysOk.dll"},
    {"CvSysOk.dll", "<w>System32", "CvSysOk.dll"},
    {"..\\System32\\CvSysOk.dll", "<w>SysWOW64", "CvSysOk.dll"},
    // Named as 32-bit programs reach the real System32: the 64-bit helper
    // has no Sysnative and is handed the System32 path.
    {"<w>Sysnative\\CvSysOk.dll", "", "CvSysOk.dll"},
};

std::string Expand(const std::string& text) {
    std::string out = text;
    for (size_t at = out.find("<w>"); at != std::string::npos; at = out.find("<w>", at)) {
        out.replace(at, 3, WindowsDir());
    }
    return out;
}

}  // namespace

TEST(SystemFolder, A64BitLibraryInSystem32IsRegisteredAndItsSysWow64NamesakeLeftAlone) {
    SKIP_UNLESS_REDIRECTED();
    TSystemFolderFiles files;
    ASSERT_TRUE(files.Place(std::string("x64\\") + ts::kOkServerFile, "Sysnative", kLibrary));
    ASSERT_TRUE(files.Place(ts::kOkServerFile, "SysWOW64", kLibrary));
    const std::string namesake = WindowsDir() + "SysWOW64\\" + kLibrary;
    ASSERT_TRUE(Succeeded(RunFile(namesake, true), "Call to 'DllRegisterServer' in 'CvSysOk.dll' completed with success."));
    const std::string namesakeEntry = OkServerInproc(KEY_WOW64_32KEY);
    ASSERT_NE(namesakeEntry, "");

    for (const TSpelling& row : kSpellings) {
        SCOPED_TRACE(row.path);
        const std::string current = Expand(row.current);
        std::unique_ptr<ScopedCurrentDir> inFolder;
        if (!current.empty()) inFolder = std::make_unique<ScopedCurrentDir>(current);
        const std::string path = Expand(row.path);
        const std::string name = row.name;
        EXPECT_TRUE(
            Succeeded(RunFile(path, true), "Call to 'DllRegisterServer' in '" + name + "' completed with success."));
        EXPECT_EQ(lstrcmpiA(OkServerInproc(KEY_WOW64_64KEY).c_str(), (WindowsDir() + "System32\\CvSysOk.dll").c_str()),
                  0)
            << OkServerInproc(KEY_WOW64_64KEY);
        EXPECT_EQ(OkServerInproc(KEY_WOW64_32KEY), namesakeEntry);
        EXPECT_TRUE(Succeeded(RunFile(path, false),
                              "Call to 'DllUnregisterServer' in '" + name + "' completed with success."));
        EXPECT_EQ(OkServerInproc(KEY_WOW64_64KEY), "");
        EXPECT_EQ(OkServerInproc(KEY_WOW64_32KEY), namesakeEntry);
    }
}

// What is not in the real System32 under that name is never taken from
// SysWOW64, and a 32-bit library there is refused with its reason.
struct TRefusal {
    const char* source;  // under testdata; "" places nothing there
    const char* wow64;   // the same for SysWOW64
    const char* message;
    const char* reason;
};

const TRefusal kRefusals[] = {
    {ts::kOkServerFile, "", "Failed to load library 'CvSysOk.dll'.",
     "'CvSysOk.dll' is a 32-bit library in the 64-bit system folder (<w>System32). Windows sends 32-bit programs "
     "that look for it there to <w>syswow64 instead"},
    {ts::kOkServerFile, ts::kOkServerFile, "Failed to load library 'CvSysOk.dll'.",
     "is a 32-bit library in the 64-bit system folder"},
    {"", ts::kOkServerFile, "Library '<w>System32\\CvSysOk.dll' not found.",
     "The file '<w>System32\\CvSysOk.dll' does not exist."},
};

TEST(SystemFolder, NothingButA64BitLibraryInTheRealSystem32IsRegisteredFromThere) {
    SKIP_UNLESS_REDIRECTED();
    for (const TRefusal& row : kRefusals) {
        TSystemFolderFiles files;
        if (*row.source) {
            ASSERT_TRUE(files.Place(row.source, "Sysnative", kLibrary));
        }
        if (*row.wow64) {
            ASSERT_TRUE(files.Place(row.wow64, "SysWOW64", kLibrary));
        }
        for (bool register_ : {true, false}) {
            Outcome outcome = RunFile(WindowsDir() + "System32\\" + kLibrary, register_);
            EXPECT_TRUE(Failed(outcome, Expand(row.message)));
            EXPECT_NE(outcome.details.find(Expand(row.reason)), std::string::npos) << outcome.details;
            EXPECT_EQ(OkServerInproc(KEY_WOW64_32KEY), "");
            EXPECT_EQ(OkServerInproc(KEY_WOW64_64KEY), "");
        }
    }
}

TEST(SystemFolder, AnExecutableServerInSystem32StartsFromTheRealSystem32) {
    SKIP_UNLESS_REDIRECTED();
    TSystemFolderFiles files;
    ASSERT_TRUE(files.Place(std::string("x64\\") + ts::kExeServerFile, "Sysnative", "CvSysExe.exe"));
    ASSERT_TRUE(files.Place(ts::kExeServerFile, "SysWOW64", "CvSysExe.exe"));
    const std::string path = WindowsDir() + "System32\\CvSysExe.exe";
    EXPECT_TRUE(Succeeded(RunFile(path, true), "'CvSysExe.exe /regserver' completed with success."));
    EXPECT_EQ(ReadInView(ts::kExeServerKey, ts::kExeServerCommandLineValueName, KEY_WOW64_64KEY),
              "\"" + path + "\" /regserver");
    EXPECT_EQ(ReadInView(ts::kExeServerKey, ts::kExeServerCommandLineValueName, KEY_WOW64_32KEY), "")
        << "the 32-bit namesake did not run";
}

// A type library in the real System32 is registered by the 64-bit helper
// when it declares 64-bit code, and refused like a 32-bit library otherwise.
TEST(SystemFolder, ATypeLibraryInSystem32) {
    SKIP_UNLESS_REDIRECTED();
    const std::string win32 = ReadFileBytes(TestDataDir() + ts::kTestLibFile);
    ASSERT_GT(win32.size(), 0x20u);
    std::string win64 = win32;
    win64[0x14] = static_cast<char>((win64[0x14] & 0xF0) | SYS_WIN64);
    const std::string path = WindowsDir() + "System32\\CvSysLib.tlb";
    const std::string entry = std::string("Software\\Classes\\TypeLib\\") + ts::kTestLibLibidString + "\\" +
                              ts::kTestLibVersionString + "\\0\\win64";
    const struct {
        const std::string* bytes;
        bool registered;
    } rows[] = {{&win64, true}, {&win32, false}};
    for (const auto& row : rows) {
        TSystemFolderFiles files;
        files.Write("Sysnative", "CvSysLib.tlb", *row.bytes);
        Outcome outcome = RunFile(path, true);
        if (row.registered) {
            EXPECT_TRUE(Succeeded(outcome, "Call to 'RegisterTypeLib' in 'CvSysLib.tlb' completed with success."));
            // Wine's oleaut32 records the path in its "\\\\?\\" form.
            std::string recorded = ReadInView(entry, nullptr, KEY_WOW64_64KEY);
            if (recorded.rfind("\\\\?\\", 0) == 0) recorded.erase(0, 4);
            EXPECT_EQ(lstrcmpiA(recorded.c_str(), path.c_str()), 0) << recorded;
            EXPECT_TRUE(Succeeded(RunFile(path, false),
                                  "Call to 'UnRegisterTypeLib' in 'CvSysLib.tlb' completed with success."));
        } else {
            EXPECT_TRUE(Failed(outcome, "Call to 'RegisterTypeLib' failed in 'CvSysLib.tlb'."));
            EXPECT_NE(outcome.details.find("is a 32-bit library in the 64-bit system folder"), std::string::npos)
                << outcome.details;
        }
        EXPECT_EQ(ReadInView(entry, nullptr, KEY_WOW64_64KEY), "");
    }
}
