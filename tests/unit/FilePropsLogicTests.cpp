// The file properties routines that need no window: text rules, the icon
// source, and what they read from real files and the registry.
#include <gtest/gtest.h>

#include "common/QVFilePropsFrm.h"
#include "common/QVRegUtils.h"
#include "support/TestEnv.h"

using namespace testenv;

namespace {

TEST(FilePropsText, ThousandSeparators) {
    const struct {
        const char* digits;
        char separator;
        const char* expected;
    } cases[] = {{"1234567", ',', "1,234,567"}, {"123456", ',', "123,456"}, {"123", ',', "123"},
                 {"1234", '.', "1.234"},         {"-1", ',', "-1"},           {"-123456", ',', "-123,456"},
                 {"0", ',', "0"},                {"", ',', ""},               {"12", ',', "12"}};
    for (const auto& c : cases) {
        EXPECT_EQ(InsertThousandSeparators(c.digits, c.separator), c.expected) << c.digits;
    }
}

TEST(FilePropsText, SizeInBytes) {
    EXPECT_EQ(qv::FormatFileSize(1234567), "1,234,567 bytes");
    EXPECT_EQ(qv::FormatFileSize(999), "999 bytes");
    EXPECT_EQ(qv::FormatFileSize(0), "0 bytes");
    EXPECT_EQ(qv::FormatFileSize(-1), "-1 bytes");
    EXPECT_EQ(qv::FormatFileSize(5000000000LL), "5,000,000,000 bytes");
}

TEST(FilePropsText, NameAndFolderSplitAtTheLastBackslashOrColon) {
    const struct {
        const char* path;
        const char* name;
        const char* folder;
    } cases[] = {{"C:\\dir\\file.dll", "file.dll", "C:\\dir\\"},
                 {"C:file.dll", "file.dll", "C:"},
                 {"file.dll", "file.dll", ""},
                 {"C:\\dir\\", "", "C:\\dir\\"},
                 {"\\\\server\\share\\a.b.ocx", "a.b.ocx", "\\\\server\\share\\"}};
    for (const auto& c : cases) {
        EXPECT_EQ(qv::FileNamePart(c.path), c.name) << c.path;
        EXPECT_EQ(qv::FolderPart(c.path), c.folder) << c.path;
    }
}

// A UTC file time from a local date and time.
FILETIME LocalTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st{year, month, 0, day, hour, minute, second, 0};
    FILETIME local{}, utc{};
    SystemTimeToFileTime(&st, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

TEST(FilePropsText, FileTimesThroughTheirDosForm) {
    // 1 January 1980 is day 29221 after 30 December 1899.
    EXPECT_DOUBLE_EQ(qv::FileTimeToDateTime(LocalTime(1980, 1, 1, 0, 0, 0)), 29221.0);
    EXPECT_DOUBLE_EQ(qv::FileTimeToDateTime(LocalTime(2000, 1, 1, 12, 0, 0)), 36526.5);
    // Two-second resolution: an odd second is dropped.
    EXPECT_DOUBLE_EQ(qv::FileTimeToDateTime(LocalTime(2021, 6, 15, 13, 45, 31)),
                     qv::FileTimeToDateTime(LocalTime(2021, 6, 15, 13, 45, 30)));
    // No DOS form before 1980 or after 2107.
    EXPECT_EQ(qv::FileTimeToDateTime(LocalTime(1979, 12, 31, 23, 59, 58)), 0);
    EXPECT_EQ(qv::FileTimeToDateTime(LocalTime(2108, 1, 1, 0, 0, 0)), 0);
    EXPECT_EQ(qv::FileTimeToDateTime(FILETIME{0, 0}), 0);
}

std::string UserFormat(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME st{year, month, 0, day, hour, minute, second, 0};
    char date[128] = {}, time[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

TEST(FilePropsText, DateTimeInTheUsersFormats) {
    EXPECT_EQ(FormatFileDateTime(36526.5), UserFormat(2000, 1, 1, 12, 0, 0));
    EXPECT_EQ(FormatFileDateTime(qv::FileTimeToDateTime(LocalTime(2021, 6, 15, 13, 45, 30))),
              UserFormat(2021, 6, 15, 13, 45, 30));
    EXPECT_EQ(FormatFileDateTime(qv::FileTimeToDateTime(LocalTime(2107, 12, 31, 23, 59, 58))),
              UserFormat(2107, 12, 31, 23, 59, 58));
    // A day before the system's calendar starts cannot be formatted.
    EXPECT_EQ(FormatFileDateTime(-200000.0), "");
}

TEST(FilePropsText, AttributeItemsInTheirOrder) {
    const char* captions[] = {"Archive", "Read-only", "Hidden", "System", "Compressed"};
    const DWORD bits[] = {0x20, 0x01, 0x02, 0x04, 0x800};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_STREQ(qv::kFileAttributeItems[i].Caption, captions[i]);
        EXPECT_EQ(qv::kFileAttributeItems[i].Bit, bits[i]);
    }
    using Checks = std::array<bool, 5>;
    EXPECT_EQ(qv::CheckedAttributeItems(0x20 | 0x04), (Checks{true, false, false, true, false}));
    EXPECT_EQ(qv::CheckedAttributeItems(0x01 | 0x02 | 0x800 | 0x10), (Checks{false, true, true, false, true}));
    EXPECT_EQ(qv::CheckedAttributeItems(INVALID_FILE_ATTRIBUTES), (Checks{}));
}

TEST(FilePropsIcon, SourceFromTheDefaultIconValue) {
    const struct {
        const char* value;
        bool found;
        const char* file;
        int index;
    } cases[] = {{"C:\\x\\icons.dll,3", true, "C:\\x\\icons.dll", 3},
                 {"icons.dll,-154", true, "icons.dll", -154},
                 {"icons.dll, 2 ", true, "icons.dll", 2},
                 {"\"C:\\a b\\c.dll\",1", true, "C:\\a b\\c.dll", 1},
                 {"%1", false, "", 0},
                 {"icons.dll", false, "", 0},
                 {"icons.dll,x", false, "", 0},
                 {"icons.dll,", false, "", 0},
                 {"icons.dll,3,4", false, "", 0},
                 {"icons.dll,99999999999", false, "", 0},
                 {"", false, "", 0}};
    for (const auto& c : cases) {
        auto source = qv::ParseIconSource(c.value);
        ASSERT_EQ(source.has_value(), c.found) << c.value;
        if (!source) continue;
        EXPECT_EQ(source->File, c.file) << c.value;
        EXPECT_EQ(source->Index, c.index) << c.value;
    }
}

TEST(FilePropsIcon, EnvironmentVariablesInTheFileAreExpanded) {
    ScopedEnv env("QV_ICON_DIR", "C:\\Icons");
    auto source = qv::ParseIconSource("%QV_ICON_DIR%\\set.dll,4");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->File, "C:\\Icons\\set.dll");
}

TEST(FilePropsIcon, MinusOneIsNeverAskedFor) {
    using Indexes = std::vector<int>;
    EXPECT_EQ(qv::IconIndexesToTry(5), (Indexes{5, 4}));
    EXPECT_EQ(qv::IconIndexesToTry(1), (Indexes{1, 0}));
    EXPECT_EQ(qv::IconIndexesToTry(0), (Indexes{0}));
    EXPECT_EQ(qv::IconIndexesToTry(-1), (Indexes{-2}));
    EXPECT_EQ(qv::IconIndexesToTry(-3), (Indexes{-3, -4}));
}

// A file class for a test extension under HKEY_CLASSES_ROOT, removed again.
class TestFileType {
public:
    TestFileType(const std::string& extension, const std::string& description, const std::string& defaultIcon)
        : extension_(extension), class_("CorvantisTests" + extension) {
        qv::WriteRegString(HKEY_CLASSES_ROOT, extension_, "", class_);
        if (!description.empty()) qv::WriteRegString(HKEY_CLASSES_ROOT, class_, "", description);
        if (!defaultIcon.empty()) qv::WriteRegString(HKEY_CLASSES_ROOT, class_ + "\\DefaultIcon", "", defaultIcon);
    }
    ~TestFileType() {
        DeleteTree(HKEY_CLASSES_ROOT, extension_);
        DeleteTree(HKEY_CLASSES_ROOT, class_);
    }

private:
    std::string extension_, class_;
};

TEST(FilePropsRead, TypeNameFromTheRegistryOrTheExtension) {
    TestFileType described(".qvdesc", "Corvantis Test Document", "");
    TestFileType bare(".qvbare", "", "");
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {{"C:\\x\\a.QVDesc", "Corvantis Test Document"},
                 {"C:\\x\\a.qvbare", "QVBARE File"},
                 {"C:\\x\\a.qvnone", "QVNONE File"},
                 {"C:\\x.y\\noextension", " File"},
                 {"C:\\x\\two.dots.QvNone", "QVNONE File"}};
    for (const auto& c : cases) EXPECT_EQ(GetFileTypeName(c.path), c.expected) << c.path;
}

TEST(FilePropsRead, SizesOfRealFiles) {
    std::string dir = MakeTempDir("propsizes");
    const struct {
        const char* name;
        size_t bytes;
    } cases[] = {{"big.bin", 1234567}, {"small.bin", 999}, {"empty.bin", 0}};
    for (const auto& c : cases) {
        WriteFile(dir + c.name, std::string(c.bytes, 'x'));
        EXPECT_EQ(GetFileSizeBytes(dir + c.name), static_cast<std::int64_t>(c.bytes)) << c.name;
    }
    EXPECT_EQ(GetFileSizeBytes(dir), -1) << "a folder with its backslash";
    EXPECT_EQ(GetFileSizeBytes(dir.substr(0, dir.size() - 1)), -1) << "a folder";
    EXPECT_EQ(GetFileSizeBytes(dir + "missing.bin"), -1);
    EXPECT_EQ(GetFileSizeBytes(""), -1);
}

TEST(FilePropsRead, AWildcardNamesNoFile) {
    std::string dir = MakeTempDir("propwild");
    WriteFile(dir + "only.bin", std::string(999, 'x'));
    for (const std::string& path : {dir + "*.bin", dir + "only.?in", dir + "*"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetFileSizeBytes(path), -1);
        EXPECT_EQ(GetFileLastWriteDateTime(path), 0);
        EXPECT_EQ(qv::ReadFileAttributes(path), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileIcon(path), nullptr);
    }
    EXPECT_EQ(GetFileSizeBytes(dir + "only.bin"), 999);
}

TEST(FilePropsRead, TimeStampsOfARealFile) {
    std::string path = MakeTempDir("proptimes") + "stamped.txt";
    WriteFile(path, "x");
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME written = LocalTime(2019, 3, 4, 5, 6, 7), old = LocalTime(1975, 5, 5, 5, 5, 4);
    ASSERT_TRUE(SetFileTime(file, nullptr, &old, &written));
    CloseHandle(file);
    EXPECT_DOUBLE_EQ(GetFileLastWriteDateTime(path), qv::FileTimeToDateTime(LocalTime(2019, 3, 4, 5, 6, 6)));
    EXPECT_EQ(GetFileLastAccessDateTime(path), 0) << "before 1980";
    EXPECT_EQ(GetFileCreationDateTime(path + ".missing"), 0);
}

}  // namespace
