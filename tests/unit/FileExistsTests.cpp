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
