// FileExistsReady against the real file system of the Wine prefix.
#include <gtest/gtest.h>

#include "engine/uRegistry.h"
#include "support/TestEnv.h"

using engine::FileExistsReady;

namespace {

TEST(FileExistsReady, FilesFoldersAndMissingNames) {
    std::string dir = testenv::MakeTempDir("exists");
    testenv::WriteFile(dir + "present.dll", "x");
    EXPECT_TRUE(FileExistsReady(dir + "present.dll"));
    EXPECT_TRUE(FileExistsReady(dir + "PRESENT.DLL"));
    EXPECT_FALSE(FileExistsReady(dir + "absent.dll"));
    EXPECT_FALSE(FileExistsReady(dir));
    EXPECT_FALSE(FileExistsReady(dir.substr(0, dir.size() - 1)));
    EXPECT_FALSE(FileExistsReady(""));
}

TEST(FileExistsReady, AbsentDrivesAndInvalidLettersAreNotReady) {
    // Find a letter that no drive uses; its query must fail without a prompt.
    DWORD drives = GetLogicalDrives();
    char letter = 0;
    for (char c = 'Y'; c >= 'D'; --c) {
        if (!(drives & (1u << (c - 'A')))) {
            letter = c;
            break;
        }
    }
    ASSERT_NE(letter, 0);
    EXPECT_FALSE(FileExistsReady(std::string(1, letter) + ":\\server.dll"));
    EXPECT_FALSE(FileExistsReady(std::string(1, static_cast<char>(letter + 32)) + ":\\server.dll"));
    EXPECT_FALSE(FileExistsReady("1:\\server.dll"));
    EXPECT_FALSE(FileExistsReady("?:\\server.dll"));
}

TEST(FileExistsReady, RelativePathsUseTheCurrentFolder) {
    std::string dir = testenv::MakeTempDir("relative");
    CreateDirectoryA((dir + "sub").c_str(), nullptr);
    testenv::WriteFile(dir + "sub\\rel.dll", "x");
    testenv::ScopedCurrentDir cd(dir);
    EXPECT_TRUE(FileExistsReady("sub\\rel.dll"));
    EXPECT_FALSE(FileExistsReady("rel.dll"));
    testenv::ScopedCurrentDir cd2(dir + "sub");
    EXPECT_TRUE(FileExistsReady("rel.dll"));
}

TEST(FileExistsReady, UncStyleNamesTakeThePlainTest) {
    std::string dir = testenv::MakeTempDir("unc");
    testenv::WriteFile(dir + "u.dll", "x");
    EXPECT_TRUE(FileExistsReady("\\\\?\\" + dir + "u.dll"));
    EXPECT_FALSE(FileExistsReady("\\\\?\\" + dir + "missing.dll"));
    EXPECT_FALSE(FileExistsReady("\\\\nosuchserver\\share\\x.dll"));
}

}  // namespace

// The path a 32-bit process on 64-bit Windows opens for a name in System32:
// the same name through Sysnative, except in the subfolders Windows does not
// redirect; nothing is mapped in a 64-bit process or on 32-bit Windows.
namespace {

struct TNativeView {
    const char* path;
    const char* wow64;  // nullptr: unchanged
};

const TNativeView kNativeViews[] = {
    {"C:\\Windows\\System32\\scrrun.dll", "C:\\Windows\\Sysnative\\scrrun.dll"},
    {"c:\\WINDOWS\\SYSTEM32\\SCRRUN.DLL", "c:\\WINDOWS\\Sysnative\\SCRRUN.DLL"},
    {"C:/Windows/system32/x.dll", "C:/Windows/Sysnative/x.dll"},
    {"\\\\?\\C:\\Windows\\System32\\x.dll", "\\\\?\\C:\\Windows\\Sysnative\\x.dll"},
    {"C:\\Windows\\System32", "C:\\Windows\\Sysnative"},
    {"C:\\Windows\\System32\\", "C:\\Windows\\Sysnative\\"},
    {"C:\\Windows\\System32\\drivers\\x.sys", "C:\\Windows\\Sysnative\\drivers\\x.sys"},
    {"C:\\Windows\\System32\\catroot3\\x", "C:\\Windows\\Sysnative\\catroot3\\x"},
    {"C:\\Windows\\System32\\etc\\hosts", "C:\\Windows\\Sysnative\\etc\\hosts"},
    {"C:\\Windows\\System32\\catroot\\x.cat", nullptr},
    {"C:\\Windows\\System32\\CatRoot2\\x", nullptr},
    {"C:\\Windows\\System32\\DriverStore\\FileRepository\\x.inf", nullptr},
    {"C:\\Windows\\System32\\drivers\\etc\\hosts", nullptr},
    {"C:\\Windows\\System32\\drivers/ETC", nullptr},
    {"C:\\Windows\\System32\\LogFiles\\x.log", nullptr},
    {"C:\\Windows\\System32\\spool\\drivers\\x.dll", nullptr},
    {"C:\\Windows\\SysWOW64\\scrrun.dll", nullptr},
    {"C:\\Windows\\Sysnative\\scrrun.dll", nullptr},
    {"C:\\Windows\\System32x\\a.dll", nullptr},
    {"C:\\Windows\\System3\\a.dll", nullptr},
    {"C:\\Windows\\scrrun.dll", nullptr},
    {"C:\\Windows", nullptr},
    {"C:\\Windows2\\System32\\a.dll", nullptr},
    {"D:\\Windows\\System32\\a.dll", nullptr},
    {"C:\\Tools\\Windows\\System32\\a.dll", nullptr},
    {"\\\\server\\share\\Windows\\System32\\a.dll", nullptr},
    {"", nullptr},
};

TEST(NativeView, System32IsTheRealOneOnlyForA32BitProcessOn64BitWindows) {
    for (const char* windows : {"C:\\Windows", "c:\\windows\\"}) {
        for (const TNativeView& row : kNativeViews) {
            SCOPED_TRACE(std::string(windows) + " | " + row.path);
            EXPECT_EQ(engine::NativeViewOf(row.path, windows, true), row.wow64 ? row.wow64 : row.path);
            EXPECT_EQ(engine::NativeViewOf(row.path, windows, false), row.path);
        }
    }
}

}  // namespace
