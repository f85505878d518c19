// The registry routines against the real registry of the test prefix.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/QVRegUtils.h"
#include "support/TestEnv.h"

using namespace qv;

namespace {

const std::string kBase = "Software\\CorvantisTests\\RegUtils";

class RegUtils : public ::testing::Test {
protected:
    void SetUp() override { testenv::DeleteTree(HKEY_CURRENT_USER, kBase); }
    void TearDown() override { testenv::DeleteTree(HKEY_CURRENT_USER, kBase); }

    // Writes a raw value with the system's own call.
    static void Raw(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size) {
        HKEY handle;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(handle);
    }
    // Type and bytes of a value as stored.
    static std::pair<DWORD, std::string> Stored(const std::string& key, const std::string& name) {
        char data[512];
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                         &size) != ERROR_SUCCESS) {
            return {REG_NONE, "<absent>"};
        }
        return {type, std::string(data, size)};
    }
};

TEST_F(RegUtils, ReadStringTakesTextTypesOnly) {
    Raw(kBase, "sz", REG_SZ, "abc\0def", 8);
    Raw(kBase, "expand", REG_EXPAND_SZ, "%WINDIR%\\x", 11);
    DWORD number = 5;
    Raw(kBase, "dword", REG_DWORD, &number, 4);
    Raw(kBase, "empty", REG_BINARY, "", 0);
    Raw(kBase, "", REG_SZ, "default", 8);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase, "sz", "fb"), "abc") << "the text ends at its first NUL";
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase, "expand", "fb"), "%WINDIR%\\x") << "not expanded";
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase, "dword", "fb"), "fb");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase, "empty", "fb"), "") << "no data reads as empty text";
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase, "", "fb"), "default");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "\\" + kBase, "sz", "fb"), "abc") << "one leading backslash";
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase, "missing", "fb"), "fb");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase + "\\missing", "sz", "fb"), "fb");
    // A long value is read whole.
    std::string longText(5000, 'q');
    Raw(kBase, "long", REG_SZ, longText.c_str(), static_cast<DWORD>(longText.size() + 1));
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase, "long", "fb"), longText);
}

TEST_F(RegUtils, ReadNumbersTakeDwordsOnly) {
    DWORD seven = 7, zero = 0, all = 0xFFFFFFFF;
    Raw(kBase, "seven", REG_DWORD, &seven, 4);
    Raw(kBase, "zero", REG_DWORD, &zero, 4);
    Raw(kBase, "all", REG_DWORD, &all, 4);
    Raw(kBase, "binary", REG_BINARY, &seven, 4);
    unsigned long long wide = 7;
    Raw(kBase, "qword", REG_QWORD, &wide, 8);
    Raw(kBase, "text", REG_SZ, "10", 3);
    EXPECT_EQ(ReadRegInteger(HKEY_CURRENT_USER, kBase, "seven", -1), 7);
    EXPECT_EQ(ReadRegInteger(HKEY_CURRENT_USER, kBase, "all", 3), -1);
    EXPECT_EQ(ReadRegInteger(HKEY_CURRENT_USER, kBase, "binary", -1), -1);
    EXPECT_EQ(ReadRegInteger(HKEY_CURRENT_USER, kBase, "qword", -1), -1);
    EXPECT_EQ(ReadRegInteger(HKEY_CURRENT_USER, kBase, "text", -1), -1);
    EXPECT_EQ(ReadRegInteger(HKEY_CURRENT_USER, kBase, "missing", 42), 42);
    EXPECT_TRUE(ReadRegBool(HKEY_CURRENT_USER, kBase, "seven", false));
    EXPECT_FALSE(ReadRegBool(HKEY_CURRENT_USER, kBase, "zero", true));
    EXPECT_TRUE(ReadRegBool(HKEY_CURRENT_USER, kBase, "binary", true));
    EXPECT_FALSE(ReadRegBool(HKEY_CURRENT_USER, kBase, "binary", false));
    EXPECT_TRUE(ReadRegBool(HKEY_CURRENT_USER, kBase + "\\none", "x", true));
}

TEST_F(RegUtils, WritersCreateTheWholePathAndStoreExactBytes) {
    const std::string deep = kBase + "\\one\\two\\three";
    WriteRegString(HKEY_CURRENT_USER, deep, "text", "hello");
    EXPECT_EQ(Stored(deep, "text"), std::make_pair(DWORD(REG_SZ), std::string("hello\0", 6)));
    WriteRegString(HKEY_CURRENT_USER, deep, "", "");
    EXPECT_EQ(Stored(deep, ""), std::make_pair(DWORD(REG_SZ), std::string("\0", 1)));
    WriteRegBool(HKEY_CURRENT_USER, deep, "on", true);
    WriteRegBool(HKEY_CURRENT_USER, deep, "off", false);
    WriteRegInteger(HKEY_CURRENT_USER, deep, "minus", -5);
    EXPECT_EQ(Stored(deep, "on"), std::make_pair(DWORD(REG_DWORD), std::string("\1\0\0\0", 4)));
    EXPECT_EQ(Stored(deep, "off"), std::make_pair(DWORD(REG_DWORD), std::string("\0\0\0\0", 4)));
    EXPECT_EQ(Stored(deep, "minus"), std::make_pair(DWORD(REG_DWORD), std::string("\xFB\xFF\xFF\xFF", 4)));
    // A writer replaces a value of another type.
    WriteRegInteger(HKEY_CURRENT_USER, deep, "text", 3);
    EXPECT_EQ(Stored(deep, "text").first, DWORD(REG_DWORD));
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(RegUtils, ValueNamesRoundTrip) {
    // The registry does not promise to enumerate values in the order they
    // were written (Wine sorts them), so only the names are compared.
    const std::vector<std::string> names = {"C:\\z.kvx", "C:\\a.kvx", "D:\\m m\\b.kvx"};
    WriteRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", names);
    EXPECT_EQ(Sorted(ReadRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", {"fallback"})), Sorted(names));
    // Value names ignore case: two entries differing only in case are one.
    WriteRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", {"C:\\a.kvx", "c:\\A.KVX"});
    EXPECT_EQ(ReadRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", {}).size(), 1u);
    WriteRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", names);
    EXPECT_EQ(Stored(kBase + "\\Storage\\MRU", "C:\\z.kvx"), std::make_pair(DWORD(REG_SZ), std::string("\0", 1)));

    // Writing again replaces everything the subkey held, subkeys included.
    WriteRegString(HKEY_CURRENT_USER, kBase + "\\Storage\\MRU\\nested", "x", "y");
    WriteRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", {"only"});
    EXPECT_EQ(ReadRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", {}),
              std::vector<std::string>{"only"});
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\Storage\\MRU\\nested"));

    // An empty list leaves the subkey existing and empty.
    WriteRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", {});
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\Storage\\MRU"));
    EXPECT_EQ(ReadRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", {"fallback"}),
              std::vector<std::string>{});
}

TEST_F(RegUtils, ValueNamesFallBackWhenKeyOrSubkeyIsMissing) {
    const std::vector<std::string> fallback = {"mine", "unchanged"};
    EXPECT_EQ(ReadRegValueNames(HKEY_CURRENT_USER, kBase + "\\none", "MRU", fallback), fallback);
    WriteRegString(HKEY_CURRENT_USER, kBase + "\\Storage", "x", "y");
    EXPECT_EQ(ReadRegValueNames(HKEY_CURRENT_USER, kBase + "\\Storage", "MRU", fallback), fallback);
}

TEST_F(RegUtils, SubkeysWithALeadingBackslashAreTakenFromTheRoot) {
    WriteRegValueNames(HKEY_CURRENT_USER, kBase + "\\ignored", "\\" + kBase + "\\rooted", {"a", "b"});
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\rooted"));
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\ignored\\" + kBase));
    EXPECT_EQ(ReadRegValueNames(HKEY_CURRENT_USER, kBase + "\\ignored", "\\" + kBase + "\\rooted", {}),
              (std::vector<std::string>{"a", "b"}));
    DeleteRegSubKey(HKEY_CURRENT_USER, kBase + "\\ignored", "\\" + kBase + "\\rooted");
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\rooted"));
}

TEST_F(RegUtils, ClearValuesKeepsSubkeys) {
    for (int i = 0; i < 20; ++i) WriteRegInteger(HKEY_CURRENT_USER, kBase, "v" + std::to_string(i), i);
    WriteRegString(HKEY_CURRENT_USER, kBase, "", "default");
    WriteRegString(HKEY_CURRENT_USER, kBase + "\\child", "c", "stays");
    ClearRegValues(HKEY_CURRENT_USER, kBase);
    EXPECT_EQ(ReadRegValueNames(HKEY_CURRENT_USER, kBase, "", {"fallback"}), std::vector<std::string>{});
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, kBase + "\\child", "c", ""), "stays");
    ClearRegValues(HKEY_CURRENT_USER, kBase + "\\missing");  // quietly nothing
}

TEST_F(RegUtils, DeletersRemoveWholeSubtrees) {
    for (const char* path : {"\\a\\b\\c\\d", "\\a\\b\\e", "\\a\\f", "\\g"}) {
        WriteRegString(HKEY_CURRENT_USER, kBase + path, "v", "x");
    }
    DeleteRegSubKey(HKEY_CURRENT_USER, kBase, "a");
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\a"));
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\g"));
    DeleteRegSubKey(HKEY_CURRENT_USER, kBase + "\\missing", "g");
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\g"));

    WriteRegString(HKEY_CURRENT_USER, kBase + "\\h\\i\\j", "v", "x");
    DeleteRegKey(HKEY_CURRENT_USER, "\\" + kBase + "\\h");
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\h"));
    DeleteRegKey(HKEY_CURRENT_USER, kBase);
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kBase));
    DeleteRegKey(HKEY_CURRENT_USER, kBase);  // quietly nothing
}

TEST_F(RegUtils, AnEmptyKeyPathIsTheRootItself) {
    WriteRegString(HKEY_CURRENT_USER, "", "CorvantisTestsRootValue", "root");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "", "CorvantisTestsRootValue", ""), "root");
    HKEY root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_ALL_ACCESS, &root), ERROR_SUCCESS);
    RegDeleteValueA(root, "CorvantisTestsRootValue");
    RegCloseKey(root);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "", "CorvantisTestsRootValue", "gone"), "gone");
    // Deleting "the root" is refused.
    DeleteRegKey(HKEY_CURRENT_USER, "");
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, "Software"));
}

TEST_F(RegUtils, RegKeyClosesOnceAndMoves) {
    WriteRegString(HKEY_CURRENT_USER, kBase, "v", "x");
    RegKey first = RegKey::Open(HKEY_CURRENT_USER, kBase, KEY_READ);
    ASSERT_TRUE(first);
    RegKey second = std::move(first);
    EXPECT_FALSE(first);
    ASSERT_TRUE(second);
    DWORD count = 0;
    EXPECT_EQ(RegQueryInfoKeyA(second.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, 1u);
    EXPECT_FALSE(RegKey::Open(HKEY_CURRENT_USER, kBase + "\\missing", KEY_READ));
}

TEST_F(RegUtils, DeleteValueThenKeyOnlyWhenEmpty) {
    Raw(kBase + "\\Valued", "other", REG_SZ, "x", 2);
    Raw(kBase + "\\Ours", "", REG_SZ, "ours", 5);
    Raw(kBase + "\\Parent\\Child", "", REG_SZ, "c", 2);
    DeleteRegValue(HKEY_CURRENT_USER, kBase + "\\Ours", "");
    DeleteRegValue(HKEY_CURRENT_USER, kBase + "\\Missing", "");  // nothing to do, nothing reported
    EXPECT_EQ(Stored(kBase + "\\Ours", "").second, "<absent>");
    for (const char* key : {"Valued", "Ours", "Parent", "Missing"}) {
        DeleteRegKeyIfEmpty(HKEY_CURRENT_USER, kBase + "\\" + key);
    }
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\Valued")) << "a value keeps the key";
    EXPECT_FALSE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\Ours"));
    EXPECT_TRUE(testenv::KeyExists(HKEY_CURRENT_USER, kBase + "\\Parent\\Child")) << "a subkey keeps the key";
}

}  // namespace
