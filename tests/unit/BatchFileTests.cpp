// The batch file: splitting and parsing its text, formatting it, the backup
// name, and reading and writing files on the real file system of the Wine
// prefix. The text half also builds and runs natively on the build host.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "mainwin/uBatchText.h"
#include "support/Latin1CodePage.h"

#ifdef _WIN32
#include "TestServerIds.h"
#include "common/QVCodePage.h"
#include "mainwin/uBatch.h"
#include "support/TestEnv.h"
#endif

namespace {

using Lines = std::vector<std::string>;

const std::string kHeader = "; Quorvandel Corvantis File";
const std::string kOldHeader = "; Quorvandel Corvantor File";

// ---------------------------------------------------------------------------
// Splitting into lines

TEST(BatchLines, EachKindOfLineBreakEndsALine) {
    EXPECT_EQ(SplitBatchLines("a\r\nb\r\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(SplitBatchLines("a\rb\rc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(SplitBatchLines("a\nb\nc"), (Lines{"a", "b", "c"}));
    EXPECT_EQ(SplitBatchLines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    // LF CR is two breaks, CR CR LF is two breaks too.
    EXPECT_EQ(SplitBatchLines("a\n\rb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitBatchLines("a\r\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitBatchLines("single"), (Lines{"single"}));
}

TEST(BatchLines, FinalBreaksAndEmptyLines) {
    EXPECT_EQ(SplitBatchLines("a\r\nb\r\n"), (Lines{"a", "b"})) << "a final break adds no empty line";
    EXPECT_EQ(SplitBatchLines("a\r"), (Lines{"a"}));
    EXPECT_EQ(SplitBatchLines("a\n"), (Lines{"a"}));
    EXPECT_EQ(SplitBatchLines("a\r\n\r\n"), (Lines{"a", ""})) << "two final breaks: one empty line";
    EXPECT_EQ(SplitBatchLines("a\n\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitBatchLines("a\r\n\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitBatchLines("\r\n"), (Lines{""}));
    EXPECT_EQ(SplitBatchLines("\r\na"), (Lines{"", "a"}));
    EXPECT_EQ(SplitBatchLines(""), Lines{}) << "empty text has no lines";
}

TEST(BatchLines, TextEndsAtItsFirstNul) {
    EXPECT_EQ(SplitBatchLines(std::string("a\r\nb\0c\r\nd", 9)), (Lines{"a", "b"}));
    EXPECT_EQ(SplitBatchLines(std::string("a\r\n\0b", 5)), (Lines{"a"}));
    EXPECT_EQ(SplitBatchLines(std::string("\0a\r\nb", 5)), Lines{});
    // A NUL right after CR: the CR still ends the line, no LF is looked for.
    EXPECT_EQ(SplitBatchLines(std::string("a\r\0\nb", 5)), (Lines{"a"}));
}

TEST(BatchLines, OtherBytesStayAsTheyAre) {
    EXPECT_EQ(SplitBatchLines(" a \t\r\n\x80\xFF\xE9\r\n"), (Lines{" a \t", "\x80\xFF\xE9"}));
}

// ---------------------------------------------------------------------------
// Parsing

TEST(BatchParse, BothHeadersAreAccepted) {
    Lines paths;
    EXPECT_TRUE(ParseBatchText(kHeader + "\r\nC:\\a.dll\r\nD:\\b.ocx\r\n", &paths));
    EXPECT_EQ(paths, (Lines{"C:\\a.dll", "D:\\b.ocx"}));
    paths.clear();
    EXPECT_TRUE(ParseBatchText(kOldHeader + "\r\nC:\\old.dll\r\n", &paths));
    EXPECT_EQ(paths, (Lines{"C:\\old.dll"}));
    // Any line break after the header, and no break at the end.
    EXPECT_TRUE(ParseBatchText(kHeader + "\nx.dll\ry.dll", &paths));
    EXPECT_EQ(paths, (Lines{"x.dll", "y.dll"}));
    EXPECT_EQ(std::string(kBatchHeader), kHeader);
    EXPECT_EQ(std::string(kOldBatchHeader), kOldHeader);
}

TEST(BatchParse, HeaderMustMatchExactly) {
    const Lines untouched = {"keep me"};
    const std::string body = "\r\nC:\\a.dll\r\n";
    const std::vector<std::pair<std::string, const char*>> rejected = {
        {kHeader + " " + body, "trailing blank"},
        {kHeader + "\t" + body, "trailing tab"},
        {" " + kHeader + body, "leading blank"},
        {"; quorvandel corvantis file" + body, "other case"},
        {"; QUORVANDEL CORVANTIS FILE" + body, "other case"},
        {";Quorvandel Corvantis File" + body, "blank missing"},
        {"Quorvandel Corvantis File" + body, "semicolon missing"},
        {"C:\\a.dll\r\nC:\\b.dll\r\n", "no header"},
        {"\r\n" + kHeader + body, "header not on line 1"},
        {"", "empty file"},
        {"\r\n", "one empty line"},
        {"\xEF\xBB\xBF" + kHeader + body, "byte order mark"},
        {std::string("\0", 1) + kHeader + body, "the text ends before the header"},
    };
    for (const auto& [text, why] : rejected) {
        Lines paths = untouched;
        EXPECT_FALSE(ParseBatchText(text, &paths)) << why;
        EXPECT_EQ(paths, untouched) << "a rejected text leaves the paths alone: " << why;
    }
    EXPECT_FALSE(ParseBatchText("nothing", nullptr));
    EXPECT_TRUE(ParseBatchText(kHeader, nullptr));
}

TEST(BatchParse, HeaderOnlyIsAnEmptyBatch) {
    Lines paths = {"old"};
    EXPECT_TRUE(ParseBatchText(kHeader, &paths));
    EXPECT_EQ(paths, Lines{});
    paths = {"old"};
    EXPECT_TRUE(ParseBatchText(kHeader + "\r\n", &paths));
    EXPECT_EQ(paths, Lines{});
    paths = {"old"};
    EXPECT_TRUE(ParseBatchText(kOldHeader + "\n", &paths));
    EXPECT_EQ(paths, Lines{});
}

TEST(BatchParse, EveryFurtherLineIsAnEntryVerbatim) {
    Lines paths;
    // An empty line is an empty entry, ';' lines are entries, nothing is
    // trimmed, duplicates and upper-half bytes are kept, and a second header
    // is just another entry.
    const std::string text = kHeader + "\r\n" + "C:\\a.dll\r\n" + "\r\n" + "; a comment?\r\n" +
                             "  C:\\spaced.dll  \r\n" + "c:\\A.DLL\r\n" + "C:\\a.dll\r\n" +
                             "C:\\\x80\xC9\xE9\xFF.dll\r\n" + "\t\r\n" + kHeader + "\r\n";
    ASSERT_TRUE(ParseBatchText(text, &paths));
    EXPECT_EQ(paths, (Lines{"C:\\a.dll", "", "; a comment?", "  C:\\spaced.dll  ", "c:\\A.DLL", "C:\\a.dll",
                            "C:\\\x80\xC9\xE9\xFF.dll", "\t", kHeader}));
    // Two final breaks leave one empty entry at the end.
    ASSERT_TRUE(ParseBatchText(kHeader + "\r\nx.dll\r\n\r\n", &paths));
    EXPECT_EQ(paths, (Lines{"x.dll", ""}));
    // Lines after a NUL are not read.
    ASSERT_TRUE(ParseBatchText(kHeader + std::string("\r\nx.dll\r\n\0y.dll\r\n", 16), &paths));
    EXPECT_EQ(paths, (Lines{"x.dll"}));
}

// ---------------------------------------------------------------------------
// Formatting

TEST(BatchFormat, ExactBytes) {
    EXPECT_EQ(FormatBatchText({}), "; Quorvandel Corvantis File\r\n");
    EXPECT_EQ(FormatBatchText({"C:\\a.dll"}), "; Quorvandel Corvantis File\r\nC:\\a.dll\r\n");
    EXPECT_EQ(FormatBatchText({"C:\\a.dll", "", "; x", " b ", "C:\\a.dll", "\xE9\xFF"}),
              "; Quorvandel Corvantis File\r\nC:\\a.dll\r\n\r\n; x\r\n b \r\nC:\\a.dll\r\n\xE9\xFF\r\n");
    EXPECT_EQ(FormatBatchText({"x"}).find(kOldHeader), std::string::npos) << "the old header is never written";
}

TEST(BatchFormat, RoundTripsThroughParse) {
    const Lines paths = {"C:\\a.dll", "", "; x", " b ", "c:\\A.DLL", "\x80\xFF"};
    Lines back;
    ASSERT_TRUE(ParseBatchText(FormatBatchText(paths), &back));
    EXPECT_EQ(back, paths);
    ASSERT_TRUE(ParseBatchText(FormatBatchText({}), &back));
    EXPECT_EQ(back, Lines{});
    // An empty last entry survives: its CR LF follows the previous one's.
    ASSERT_TRUE(ParseBatchText(FormatBatchText({"a", ""}), &back));
    EXPECT_EQ(back, (Lines{"a", ""}));
}

// ---------------------------------------------------------------------------
// Encodings: UTF-8 with or without a byte order mark, or the legacy code
// page (here ISO 8859-1, as the host has no system conversion)

const std::string kBom = "\xEF\xBB\xBF";
// "C:\Café\naïve.dll" in UTF-8 and in the legacy code page.
const std::string kCafeUtf8 = "C:\\Caf\xC3\xA9\\na\xC3\xAFve.dll";
const std::string kCafeLegacy = "C:\\Caf\xE9\\na\xEFve.dll";
// Greek, Cyrillic and Japanese names: no legacy form.
const std::string kGreek = "C:\\\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1\\a.dll";
const std::string kCyrillic = "D:\\\xD0\x9C\xD0\xB8\xD1\x80.ocx";
const std::string kJapanese = "E:\\\xE6\x97\xA5\xE6\x9C\xAC\\\xF0\x9F\x98\x80.dll";

TEST(BatchUtf8, ValidityOfEachKindOfSequence) {
    const struct {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ASCII text, longer than eight bytes", true},
        {kCafeUtf8 + kGreek + kCyrillic + kJapanese, true},
        {"\xF4\x8F\xBF\xBF", true},          // U+10FFFF
        {"\xED\x9F\xBF", true},              // U+D7FF, below the surrogates
        {kCafeLegacy, false},                  // a lone E9
        {"\xC0\xAF", false},                  // overlong '/'
        {"\xE0\x9F\xBF", false},              // overlong
        {"\xF0\x8F\xBF\xBF", false},          // overlong
        {"\xED\xA0\x80", false},              // a surrogate
        {"\xF4\x90\x80\x80", false},          // past U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\x80", false},                      // a continuation byte alone
        {"\xE6\x97", false},                  // cut short at the end
        {"\xE6\x97x", false},                 // cut short by ASCII
        {"\xC3\xA9\xC3", false},
        {"\xFF", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidUtf8(c.bytes.data(), c.bytes.size()), c.valid) << c.bytes;
        // Wherever it stands in a long ASCII text, whatever the alignment.
        for (size_t before : {size_t(1), size_t(7), size_t(8), size_t(13)}) {
            const std::string within = std::string(before, 'a') + c.bytes + std::string(17, 'b');
            EXPECT_EQ(IsValidUtf8(within.data(), within.size()), c.valid) << before << ": " << c.bytes;
        }
    }
}

TEST(BatchEncoding, HeaderProbeAcceptsAByteOrderMark) {
    const struct {
        std::string start;
        bool header;
    } cases[] = {
        {kHeader, true},
        {kHeader + "\r\n", true},
        {kOldHeader + "\n", true},
        {kBom + kHeader, true},
        {kBom + kHeader + "\r\nC", true},
        {kBom + kOldHeader + "\r", true},
        {kBom + kHeader + std::string(1, '\0'), true},
        {kBom + kHeader + " ", false},
        {kBom + kBom + kHeader + "\r\n", false},   // one mark only
        {"\xEF\xBB" + kHeader + "\r\n", false},  // half a mark
        {kBom, false},
        {kBom + "; Quorvandel", false},
        {" " + kBom + kHeader, false},
    };
    for (const auto& c : cases) {
        const std::string probe = c.start.substr(0, kBatchHeaderProbe);
        EXPECT_EQ(StartsWithBatchHeader(probe), c.header) << c.start;
    }
}

TEST(BatchEncoding, DecodingTakesUtf8AndOtherwiseTheLegacyCodePage) {
    const TLatin1CodePage legacy;
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {
        {kHeader + "\r\nC:\\a.dll\r\n", kHeader + "\r\nC:\\a.dll\r\n"},
        {kBom + kHeader + "\r\n" + kGreek + "\r\n", kHeader + "\r\n" + kGreek + "\r\n"},
        {kHeader + "\r\n" + kJapanese + "\r\n" + kCafeUtf8, kHeader + "\r\n" + kJapanese + "\r\n" + kCafeUtf8},
        {kHeader + "\r\n" + kCafeLegacy + "\r\n", kHeader + "\r\n" + kCafeUtf8 + "\r\n"},
        // One byte that is not UTF-8 makes the whole file legacy.
        {kHeader + "\r\n\xC3\xA9\xE9", kHeader + "\r\n\xC3\x83\xC2\xA9\xC3\xA9"},
        // A mark before bytes that are not UTF-8: the rest is legacy.
        {kBom + kHeader + "\r\n" + kCafeLegacy, kHeader + "\r\n" + kCafeUtf8},
        // The text ends at its first NUL, before anything is judged.
        {kHeader + "\r\n" + kGreek + std::string(1, '\0') + "\xE9", kHeader + "\r\n" + kGreek},
        {kBom, ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeBatchText(c.bytes, legacy), c.text) << c.bytes;
    }
}

TEST(BatchEncoding, LegacyWhenEveryLineFitsUtf8WithAMarkOtherwise) {
    const TLatin1CodePage legacy;
    const std::string header = kHeader + "\r\n";
    const struct {
        Lines paths;
        std::string bytes;
    } cases[] = {
        {{"C:\\a.dll", ""}, header + "C:\\a.dll\r\n\r\n"},
        {{kCafeUtf8, "C:\\a.dll"}, header + kCafeLegacy + "\r\nC:\\a.dll\r\n"},
        {{kCafeUtf8, kGreek}, kBom + header + kCafeUtf8 + "\r\n" + kGreek + "\r\n"},
        {{kCyrillic}, kBom + header + kCyrillic + "\r\n"},
        {{kJapanese}, kBom + header + kJapanese + "\r\n"},
        // "Ã©" fits the legacy code page, but its bytes read as UTF-8 "é".
        {{"C:\\\xC3\x83\xC2\xA9.dll"}, kBom + header + "C:\\\xC3\x83\xC2\xA9.dll\r\n"},
    };
    for (const auto& c : cases) {
        const std::string bytes = EncodeBatchText(c.paths, legacy);
        EXPECT_EQ(bytes, c.bytes);
        Lines back;
        ASSERT_TRUE(StartsWithBatchHeader(bytes.substr(0, kBatchHeaderProbe)));
        ASSERT_TRUE(ParseBatchText(DecodeBatchText(bytes, legacy), &back));
        EXPECT_EQ(back, c.paths);
    }
}

// ---------------------------------------------------------------------------
// Backup name

TEST(BatchBackupName, GoesBetweenFolderAndFileName) {
    EXPECT_EQ(BackupFileName("C:\\Work\\servers.kvx"), "C:\\Work\\Backup of servers.kvx");
    EXPECT_EQ(BackupFileName("servers.kvx"), "Backup of servers.kvx");
    EXPECT_EQ(BackupFileName("C:servers.kvx"), "C:Backup of servers.kvx");
    EXPECT_EQ(BackupFileName("\\\\srv\\share\\a.kvx"), "\\\\srv\\share\\Backup of a.kvx");
    EXPECT_EQ(BackupFileName("C:\\servers.kvx"), "C:\\Backup of servers.kvx");
    EXPECT_EQ(BackupFileName("sub\\dir\\x"), "sub\\dir\\Backup of x");
    EXPECT_EQ(BackupFileName("C:\\Work\\"), "C:\\Work\\Backup of ");
    EXPECT_EQ(BackupFileName(""), "Backup of ");
}

#ifdef _WIN32
// ---------------------------------------------------------------------------
// Reading and writing files

// The names in the folder, sorted, without "." and "..".
Lines FolderNames(const std::string& folder) {
    Lines names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The file's bytes as the system reads them, or "<missing>".
std::string Bytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool ReadOnly(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void MakeReadOnly(const std::string& path) {
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(ReadOnly(path));
}

// The system's text for an error, as the caller would show it.
std::string SystemText(DWORD code) {
    char buffer[1024] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// The message of the runtime_error the call throws; "<no error>" when it
// returns normally.
template <class F>
std::string ErrorOf(F call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "<no error>";
}

TEST(BatchRead, ReadsEveryByte) {
    const std::string dir = testenv::MakeTempDir("batch-read");
    std::string bytes = kHeader + "\r\n" + std::string("a\0b\r\xFF\x80\n", 7);
    testenv::WriteFile(dir + "x.kvx", bytes);
    EXPECT_EQ(ReadWholeFile(dir + "x.kvx"), bytes);
    testenv::WriteFile(dir + "empty.kvx", "");
    EXPECT_EQ(ReadWholeFile(dir + "empty.kvx"), "");
    // Longer than one read.
    std::string large;
    for (int i = 0; i < 30000; ++i) large += "C:\\Servers\\s" + std::to_string(i) + ".dll\r\n";
    ASSERT_GT(large.size(), 300000u);
    testenv::WriteFile(dir + "large.kvx", large);
    EXPECT_EQ(ReadWholeFile(dir + "large.kvx"), large);
    // A read-only file reads.
    MakeReadOnly(dir + "x.kvx");
    EXPECT_EQ(ReadWholeFile(dir + "x.kvx"), bytes);
    SetFileAttributesA((dir + "x.kvx").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A file that is not a batch file is never read past its first bytes, and
// a batch file larger than the limit is refused before its body is read.
TEST(BatchRead, ForeignAndHugeFilesAreRefusedEarly) {
    const std::string dir = testenv::MakeTempDir("batch-read-early");
    // A file of `size` bytes that begins with `start`, the rest zeros.
    auto sized = [&](const std::string& name, const std::string& start, long long size) {
        EXPECT_TRUE(testenv::WriteSizedFile(dir + name, start, size));
        return dir + name;
    };
    const long long huge = 65ll << 20;
    struct Case {
        std::string path;
        TBatchRead result;
        unsigned long long mostRead;
    };
    const Case cases[] = {
        {sized("huge.kvx", kHeader + "\r\nC:\\a.dll\r\n", huge), TBatchRead::TooLarge, kBatchHeaderProbe},
        {sized("huge.bin", "", huge), TBatchRead::NotABatch, kBatchHeaderProbe},
        {testenv::TestDataDir() + TestServers::kOkServerFile, TBatchRead::NotABatch, kBatchHeaderProbe},
        {sized("long-first-line.kvx", kHeader + "x", 1 << 20), TBatchRead::NotABatch, kBatchHeaderProbe},
        {sized("short.kvx", "; Quorvandel", 12), TBatchRead::NotABatch, 12},
    };
    for (const Case& c : cases) {
        Lines paths = {"untouched"};
        unsigned long long read = ~0ull;
        EXPECT_EQ(ReadBatchFile(c.path, &paths, &read), c.result) << c.path;
        EXPECT_LE(read, c.mostRead) << c.path;
        EXPECT_EQ(paths, Lines{"untouched"}) << c.path;
    }
    // A batch file is read whole.
    testenv::WriteFile(dir + "ok.kvx", kOldHeader + "\nC:\\a.dll\r\n\r\n");
    Lines paths;
    unsigned long long read = 0;
    EXPECT_EQ(ReadBatchFile(dir + "ok.kvx", &paths, &read), TBatchRead::Read);
    EXPECT_EQ(paths, (Lines{"C:\\a.dll", ""}));
    EXPECT_EQ(read, kOldHeader.size() + 13);
    EXPECT_THROW(ReadBatchFile(dir + "missing.kvx", &paths), std::runtime_error);
}

TEST(BatchRead, FailuresThrowTheSystemText) {
    const std::string dir = testenv::MakeTempDir("batch-read-fail");
    std::string message = ErrorOf([&] { ReadWholeFile(dir + "missing.kvx"); });
    EXPECT_NE(message, "<no error>");
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(message, SystemText(ERROR_FILE_NOT_FOUND));
    message = ErrorOf([&] { ReadWholeFile(dir + "no\\such\\folder.kvx"); });
    EXPECT_EQ(message, SystemText(ERROR_PATH_NOT_FOUND));
    // A folder is not a file.
    CreateDirectoryA((dir + "folder.kvx").c_str(), nullptr);
    message = ErrorOf([&] { ReadWholeFile(dir + "folder.kvx"); });
    EXPECT_NE(message, "<no error>");
    EXPECT_FALSE(message.empty());
}

TEST(BatchWrite, NewFileAndOverwrite) {
    const std::string dir = testenv::MakeTempDir("batch-write");
    const std::string path = dir + "servers.kvx";
    const std::string first = FormatBatchText({"C:\\a.dll", "C:\\b.dll"});
    WriteBatchFile(path, first, false);
    EXPECT_EQ(Bytes(path), first);
    EXPECT_EQ(FolderNames(dir), Lines{"servers.kvx"}) << "no temporary file is left behind";

    // A shorter text replaces a longer one whole: nothing of the old tail stays.
    const std::string second = FormatBatchText({"x"});
    WriteBatchFile(path, second, false);
    EXPECT_EQ(Bytes(path), second);
    EXPECT_EQ(FolderNames(dir), Lines{"servers.kvx"});

    // Any bytes, and none.
    const std::string raw("\0\xFF\r\n\x80", 5);
    WriteBatchFile(path, raw, false);
    EXPECT_EQ(Bytes(path), raw);
    WriteBatchFile(path, "", false);
    EXPECT_EQ(Bytes(path), "");
    EXPECT_EQ(ReadWholeFile(path), "");
    EXPECT_EQ(FolderNames(dir), Lines{"servers.kvx"});
}

TEST(BatchWrite, LargeFileRoundTrips) {
    const std::string dir = testenv::MakeTempDir("batch-write-large");
    Lines paths;
    for (int i = 0; i < 20000; ++i) paths.push_back("C:\\Servers\\Group" + std::to_string(i % 13) + "\\s" +
                                                    std::to_string(i) + ".dll");
    const std::string text = FormatBatchText(paths);
    WriteBatchFile(dir + "big.kvx", text, true);
    EXPECT_EQ(ReadWholeFile(dir + "big.kvx"), text);
    Lines back;
    ASSERT_TRUE(ParseBatchText(ReadWholeFile(dir + "big.kvx"), &back));
    EXPECT_EQ(back, paths);
    EXPECT_EQ(FolderNames(dir), Lines{"big.kvx"});
}

// A read-only batch file is refused before anything is written: neither the
// file nor its attribute changes, and the failure says why. (Wine's own
// ReplaceFile also refuses such a file, but with a plain access error, so
// the failure's kind tells the two apart.)
TEST(BatchWrite, ReadOnlyTargetIsRefusedUntouched) {
    const std::string dir = testenv::MakeTempDir("batch-write-ro");
    const std::string path = dir + "locked.kvx";
    testenv::WriteFile(path, "old contents");
    MakeReadOnly(path);
    try {
        WriteBatchFile(path, FormatBatchText({"C:\\new.dll"}), false);
        ADD_FAILURE() << "a read-only batch file must be refused";
    } catch (const EBatchWrite& e) {
        EXPECT_EQ(e.Failure, TBatchWriteFailure::ReadOnly);
    }
    EXPECT_EQ(Bytes(path), "old contents");
    EXPECT_TRUE(ReadOnly(path));
    EXPECT_EQ(FolderNames(dir), Lines{"locked.kvx"});
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(BatchWrite, BackupKeepsThePreviousContents) {
    const std::string dir = testenv::MakeTempDir("batch-write-backup");
    const std::string path = dir + "x.kvx";
    const std::string backupPath = dir + "Backup of x.kvx";
    const std::string one = FormatBatchText({"one.dll"});
    const std::string two = FormatBatchText({"two.dll"});
    const std::string three = FormatBatchText({"three.dll"});

    // The first save has nothing to back up.
    WriteBatchFile(path, one, true);
    EXPECT_EQ(Bytes(path), one);
    EXPECT_EQ(FolderNames(dir), Lines{"x.kvx"});

    WriteBatchFile(path, two, true);
    EXPECT_EQ(Bytes(path), two);
    EXPECT_EQ(Bytes(backupPath), one);
    EXPECT_EQ(FolderNames(dir), (Lines{"Backup of x.kvx", "x.kvx"}));

    // An older backup, read-only, gives way to the newer one.
    MakeReadOnly(backupPath);
    WriteBatchFile(path, three, true);
    EXPECT_EQ(Bytes(path), three);
    EXPECT_EQ(Bytes(backupPath), two);
    EXPECT_FALSE(ReadOnly(backupPath));
    EXPECT_EQ(FolderNames(dir), (Lines{"Backup of x.kvx", "x.kvx"}));

    // A read-only batch file is refused: it and its backup stay; once the
    // attribute is cleared the next save backs it up as any other.
    MakeReadOnly(path);
    EXPECT_THROW(WriteBatchFile(path, one, true), EBatchWrite);
    EXPECT_EQ(Bytes(path), three);
    EXPECT_EQ(Bytes(backupPath), two);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteBatchFile(path, one, true);
    EXPECT_EQ(Bytes(path), one);
    EXPECT_EQ(Bytes(backupPath), three);
    EXPECT_EQ(FolderNames(dir), (Lines{"Backup of x.kvx", "x.kvx"}));
}

// Each way a save meets the folder: what the batch file and its backup hold
// afterwards, and what a failure says the batch file's name holds.
TEST(BatchWrite, SaveOutcomes) {
    enum Hold { NoHold, HoldTarget, HoldBackup };
    enum Fails { Succeeds, KeepsOld, RefusedReadOnly };
    struct Case {
        const char* name;
        bool backup;
        const char* old;        // the batch file before, or null
        const char* oldBackup;  // the backup before, or null
        bool readOnlyTarget;
        bool readOnlyBackup;
        Hold hold;  // a handle another program holds, without delete sharing
        Fails fails;
        const char* file;        // the batch file after
        const char* backupFile;  // the backup after, or null for none
    };
    const Case cases[] = {
        {"first save", true, nullptr, nullptr, false, false, NoHold, Succeeds, "new", nullptr},
        {"overwrite, no backups", false, "old", "older", false, false, NoHold, Succeeds, "new", "older"},
        {"overwrite with a backup", true, "old", nullptr, false, false, NoHold, Succeeds, "new", "old"},
        {"a read-only backup gives way", true, "old", "older", false, true, NoHold, Succeeds, "new", "old"},
        {"target held open, backups on", true, "old", "older", false, false, HoldTarget, KeepsOld, "old", "older"},
        {"target held open, no backups", false, "old", "older", false, false, HoldTarget, KeepsOld, "old", "older"},
        {"read-only target", true, "old", "older", true, false, NoHold, RefusedReadOnly, "old", "older"},
        {"backup name held open", true, "old", "older", false, false, HoldBackup, Succeeds, "new", "older"},
    };
    for (const Case& c : cases) {
        const std::string dir = testenv::MakeTempDir("batch-write-outcomes");
        const std::string path = dir + "x.kvx";
        const std::string backupPath = dir + "Backup of x.kvx";
        if (c.old) testenv::WriteFile(path, c.old);
        if (c.oldBackup) testenv::WriteFile(backupPath, c.oldBackup);
        if (c.readOnlyTarget) MakeReadOnly(path);
        if (c.readOnlyBackup) MakeReadOnly(backupPath);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.hold != NoHold) {
            held = CreateFileA((c.hold == HoldTarget ? path : backupPath).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE) << c.name;
        }
        Fails outcome = Succeeds;
        try {
            WriteBatchFile(path, "new", c.backup);
        } catch (const EBatchWrite& e) {
            outcome = e.Failure == TBatchWriteFailure::ReadOnly ? RefusedReadOnly : KeepsOld;
            EXPECT_TRUE(e.Failure == TBatchWriteFailure::ReadOnly || e.Failure == TBatchWriteFailure::OldKept)
                << c.name;
            EXPECT_FALSE(std::string(e.what()).empty()) << c.name;
        }
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(outcome, c.fails) << c.name;
        EXPECT_EQ(Bytes(path), c.file) << c.name;
        EXPECT_EQ(Bytes(backupPath), c.backupFile ? c.backupFile : "<missing>") << c.name;
        Lines names = {"x.kvx"};
        if (c.backupFile) names.insert(names.begin(), "Backup of x.kvx");
        EXPECT_EQ(FolderNames(dir), names) << c.name << ": no temporary file is left";
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesA(backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(BatchWrite, NoBackupWhenNotWanted) {
    const std::string dir = testenv::MakeTempDir("batch-write-nobackup");
    const std::string path = dir + "x.kvx";
    WriteBatchFile(path, "first", false);
    WriteBatchFile(path, "second", false);
    EXPECT_EQ(Bytes(path), "second");
    EXPECT_EQ(FolderNames(dir), Lines{"x.kvx"});
    // An existing backup is left alone when none is made.
    testenv::WriteFile(dir + "Backup of x.kvx", "older backup");
    WriteBatchFile(path, "third", false);
    EXPECT_EQ(Bytes(path), "third");
    EXPECT_EQ(Bytes(dir + "Backup of x.kvx"), "older backup");
    EXPECT_EQ(FolderNames(dir), (Lines{"Backup of x.kvx", "x.kvx"}));
}

TEST(BatchWrite, RelativeNamesLandInTheCurrentFolder) {
    const std::string dir = testenv::MakeTempDir("batch-write-relative");
    CreateDirectoryA((dir + "sub").c_str(), nullptr);
    testenv::ScopedCurrentDir cd(dir);
    WriteBatchFile("bare.kvx", "bare", true);
    WriteBatchFile("bare.kvx", "bare 2", true);
    EXPECT_EQ(Bytes(dir + "bare.kvx"), "bare 2");
    EXPECT_EQ(Bytes(dir + "Backup of bare.kvx"), "bare");
    WriteBatchFile("sub\\rel.kvx", "rel", true);
    WriteBatchFile("sub/rel.kvx", "rel 2", false);
    EXPECT_EQ(Bytes(dir + "sub\\rel.kvx"), "rel 2");
    EXPECT_EQ(FolderNames(dir), (Lines{"Backup of bare.kvx", "bare.kvx", "sub"}));
    EXPECT_EQ(FolderNames(dir + "sub\\"), Lines{"rel.kvx"});
    // A drive-relative name is relative to the current folder of that drive.
    const std::string driveRelative = dir.substr(0, 2) + "drive.kvx";
    WriteBatchFile(driveRelative, "drive", false);
    EXPECT_EQ(Bytes(dir + "drive.kvx"), "drive");
    EXPECT_EQ(FolderNames(dir), (Lines{"Backup of bare.kvx", "bare.kvx", "drive.kvx", "sub"}));
}

TEST(BatchWrite, MissingFolderThrowsAndLeavesNothing) {
    const std::string dir = testenv::MakeTempDir("batch-write-nofolder");
    std::string message = ErrorOf([&] { WriteBatchFile(dir + "absent\\x.kvx", "text", true); });
    EXPECT_NE(message, "<no error>");
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(FolderNames(dir), Lines{});
}

TEST(BatchWrite, FolderInThePlaceOfTheFileThrowsAndKeepsEverything) {
    const std::string dir = testenv::MakeTempDir("batch-write-folder");
    const std::string path = dir + "x.kvx";
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    testenv::WriteFile(path + "\\inside.txt", "inside");
    testenv::WriteFile(dir + "Backup of x.kvx", "older backup");
    for (bool backup : {false, true}) {
        std::string message = ErrorOf([&] { WriteBatchFile(path, "text", backup); });
        EXPECT_NE(message, "<no error>") << backup;
        EXPECT_FALSE(message.empty()) << backup;
        DWORD attributes = GetFileAttributesA(path.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_EQ(Bytes(path + "\\inside.txt"), "inside");
        EXPECT_EQ(Bytes(dir + "Backup of x.kvx"), "older backup");
        EXPECT_EQ(FolderNames(dir), (Lines{"Backup of x.kvx", "x.kvx"})) << "the temporary file is deleted";
        EXPECT_EQ(FolderNames(path + "\\"), Lines{"inside.txt"});
    }
}

TEST(BatchWrite, FileInUseThrowsAndStaysWhole) {
    const std::string dir = testenv::MakeTempDir("batch-write-inuse");
    const std::string path = dir + "x.kvx";
    const std::string old = FormatBatchText({"old.dll"});
    WriteBatchFile(path, old, false);
    // Open without sharing delete access: the file cannot be replaced.
    HANDLE open = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    std::string message = ErrorOf([&] { WriteBatchFile(path, FormatBatchText({"new.dll"}), false); });
    CloseHandle(open);
    EXPECT_NE(message, "<no error>");
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(Bytes(path), old);
    EXPECT_EQ(FolderNames(dir), Lines{"x.kvx"});
}

// The system's own conversion: the test program runs with UTF-8 as its
// code page, as the program does, and the prefix's legacy code page is
// 1252. Each file is read, then saved again from what was read.
TEST(BatchFileEncoding, ReadInEitherEncodingAndSavedInTheRightOne) {
    ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8)) << "the test program's manifest declares UTF-8";
    ASSERT_EQ(qv::LegacyCodePage(), 1252u);
    const std::string header = kHeader + "\r\n";
    const std::string euro = "C:\\\xE2\x82\xAC.dll";  // 0x80 in 1252
    const struct {
        const char* name;
        std::string bytes;
        Lines paths;
        std::string saved;
    } cases[] = {
        {"legacy", header + kCafeLegacy + "\r\nC:\\\x80.dll\r\n", {kCafeUtf8, euro},
         header + kCafeLegacy + "\r\nC:\\\x80.dll\r\n"},
        {"utf8-bom", kBom + header + kGreek + "\r\n" + kCyrillic + "\r\n" + kJapanese + "\r\n",
         {kGreek, kCyrillic, kJapanese}, kBom + header + kGreek + "\r\n" + kCyrillic + "\r\n" + kJapanese + "\r\n"},
        {"utf8-plain", header + kCafeUtf8 + "\r\n" + kGreek + "\r\n", {kCafeUtf8, kGreek},
         kBom + header + kCafeUtf8 + "\r\n" + kGreek + "\r\n"},
        {"utf8-fits-legacy", header + euro + "\r\n", {euro}, header + "C:\\\x80.dll\r\n"},
        {"invalid-utf8", header + "C:\\\xC3\xA9\xE9.dll\r\n", {"C:\\\xC3\x83\xC2\xA9\xC3\xA9.dll"},
         header + "C:\\\xC3\xA9\xE9.dll\r\n"},
    };
    const std::string dir = testenv::MakeTempDir("batch-encoding");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + c.name + ".kvx";
        testenv::WriteFile(path, c.bytes);
        Lines paths;
        ASSERT_EQ(ReadBatchFile(path, &paths), TBatchRead::Read);
        EXPECT_EQ(paths, c.paths);
        WriteBatchFile(path, EncodeBatchText(paths, SystemLegacyCodePage()), false);
        EXPECT_EQ(Bytes(path), c.saved);
        Lines again;
        ASSERT_EQ(ReadBatchFile(path, &again), TBatchRead::Read);
        EXPECT_EQ(again, c.paths);
    }
}

#endif  // _WIN32

}  // namespace
