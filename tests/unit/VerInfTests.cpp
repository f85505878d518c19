// Version information: the reader of a version resource's bytes over
// resources assembled here, whole and damaged one field at a time (also
// built and run natively on the build host), and the queries over the
// version resources of real files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/QVVersionResource.h"

#ifdef _WIN32
#include "common/QVStrings.h"
#include "common/QVVerInf.h"
#include "resource.h"
#include "support/TestEnv.h"
#endif

namespace {

// ---------------------------------------------------------------------------
// The reader over assembled resources

using Bytes = std::vector<unsigned char>;

// One block of a resource to assemble. The declared lengths are computed
// unless given.
struct Node {
    std::string key;
    std::uint16_t type = 0;
    Bytes value = {};
    std::vector<Node> children = {};
    int valueLength = -1;  // -1: the value's bytes (type 0) or UTF-16 units (type 1)
    int length = -1;       // -1: the whole block
};

void PutWord(Bytes& bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<unsigned char>(value & 0xFF);
    bytes[at + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

void AppendDword(Bytes& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void Pad4(Bytes& bytes) {
    while (bytes.size() % 4) bytes.push_back(0);
}

// The block's bytes; it is placed at an offset that is a multiple of 4.
Bytes Assemble(const Node& node) {
    Bytes bytes(6, 0);
    for (char c : node.key) {
        bytes.push_back(static_cast<unsigned char>(c));
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    Pad4(bytes);
    bytes.insert(bytes.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children) {
        Pad4(bytes);
        Bytes block = Assemble(child);
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    const size_t valueLength = node.type == 1 ? node.value.size() / 2 : node.value.size();
    PutWord(bytes, 0, node.length >= 0 ? static_cast<unsigned>(node.length) : static_cast<unsigned>(bytes.size()));
    PutWord(bytes, 2, node.valueLength >= 0 ? static_cast<unsigned>(node.valueLength) : static_cast<unsigned>(valueLength));
    PutWord(bytes, 4, node.type);
    return bytes;
}

// Text as UTF-16 (Latin-1 bytes widened) with its NUL.
Bytes Utf16(const std::string& text, bool nul = true) {
    Bytes bytes;
    for (char c : text) {
        bytes.push_back(static_cast<unsigned char>(c));
        bytes.push_back(0);
    }
    if (nul) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

Node String(const std::string& key, const std::string& text) { return Node{key, 1, Utf16(text), {}}; }

Bytes FixedPart(std::uint32_t versionHigh, std::uint32_t versionLow, std::uint32_t signature = qv::kFixedInfoSignature) {
    Bytes bytes;
    AppendDword(bytes, signature);
    AppendDword(bytes, 0x00010000);  // structure version
    AppendDword(bytes, versionHigh);
    AppendDword(bytes, versionLow);
    while (bytes.size() < qv::kFixedInfoBytes) AppendDword(bytes, 0);
    return bytes;
}

Bytes Pairs(std::vector<std::uint16_t> words) {
    Bytes bytes;
    for (std::uint16_t word : words) {
        bytes.push_back(static_cast<unsigned char>(word & 0xFF));
        bytes.push_back(static_cast<unsigned char>(word >> 8));
    }
    return bytes;
}

// A resource as a resource compiler writes it: version 1.4.0.32, US English
// with code page 1252, and a few strings.
Node WholeResource() {
    Node table{"040904E4", 1, {}, {String("CompanyName", "Quorvandel"), String("LegalCopyright", "Copyright \xA9 Q.")}};
    return Node{"VS_VERSION_INFO", 0, FixedPart(0x00010004, 0x00000020),
                {Node{"StringFileInfo", 1, {}, {table}},
                 Node{"VarFileInfo", 0, {}, {Node{"Translation", 0, Pairs({0x0409, 1252})}}}}};
}

Node& StringFileInfo(Node& root) { return root.children[0]; }
Node& Table(Node& root) { return root.children[0].children[0]; }
Node& Legal(Node& root) { return root.children[0].children[0].children[1]; }
Node& TranslationList(Node& root) { return root.children[1].children[0]; }

// What the reader finds, in one line: the file version, the first
// translation's table and its "LegalCopyright" ("-" for what is not found,
// other units as backslash-u escapes).
std::string Describe(const Bytes& bytes) {
    const unsigned char* data = bytes.empty() ? nullptr : bytes.data();
    std::string text;
    qv::TFileVersion version;
    if (qv::ReadFixedFileVersion(data, bytes.size(), &version)) {
        text = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
               std::to_string(version.release) + "." + std::to_string(version.build);
    } else {
        text = "-";
    }
    qv::TTranslation translation;
    if (!qv::ReadFirstTranslation(data, bytes.size(), &translation)) return text + " | - | -";
    const std::string table = qv::TranslationKey(translation);
    text += " | " + table + " | ";
    std::u16string value;
    if (!qv::ReadVersionString(data, bytes.size(), table, "LegalCopyright", &value)) return text + "-";
    text += "'";
    for (char16_t unit : value) {
        if (unit >= 0x20 && unit < 0x7F) {
            text += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            text += escape;
        }
    }
    return text + "'";
}

struct ResourceCase {
    const char* name;
    void (*change)(Node& root);
    const char* found;
};

const ResourceCase kResourceCases[] = {
    {"Whole", [](Node&) {}, "1.4.0.32 | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"FourSixteenBitParts", [](Node& r) { r.value = FixedPart(0xFFFF0001, 0x9C40FFFE); },
     "65535.1.40000.65534 | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"NoFixedPart", [](Node& r) { r.value.clear(); }, "- | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"WrongSignature", [](Node& r) { r.value = FixedPart(0x00010004, 0x20, 0xFEEF04BC); },
     "- | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"FixedPartTooShort", [](Node& r) { r.value.resize(48); }, "- | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"FixedPartPastTheRoot",
     [](Node& r) {
         r.children.clear();
         r.value.resize(40);
         r.valueLength = 52;
     },
     "- | - | -"},
    {"RootKeyOther", [](Node& r) { r.key = "VS_VERSION_INFX"; }, "- | - | -"},
    {"KeysIgnoreLetterCase",
     [](Node& r) {
         r.key = "vs_version_info";
         StringFileInfo(r).key = "STRINGFILEINFO";
         Table(r).key = "040904e4";
         Legal(r).key = "legalcopyright";
         r.children[1].key = "varfileinfo";
     },
     "1.4.0.32 | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"NoVarFileInfo", [](Node& r) { r.children.pop_back(); }, "1.4.0.32 | - | -"},
    {"TranslationTooShort", [](Node& r) { TranslationList(r).value = Pairs({0x0409}); }, "1.4.0.32 | - | -"},
    {"FirstTranslationCounts",
     [](Node& r) {
         TranslationList(r).value = Pairs({0x0816, 1252, 0x0409, 1252});
         StringFileInfo(r).children.push_back(Node{"081604E4", 1, {}, {String("LegalCopyright", "Direitos.")}});
     },
     "1.4.0.32 | 081604E4 | 'Direitos.'"},
    {"NoTableOfTheTranslation", [](Node& r) { TranslationList(r).value = Pairs({0x0816, 0x04B0}); },
     "1.4.0.32 | 081604B0 | -"},
    {"NoLegalCopyright", [](Node& r) { Table(r).children.pop_back(); }, "1.4.0.32 | 040904E4 | -"},
    {"EmptyValue", [](Node& r) { Legal(r) = Node{"LegalCopyright", 1, {}, {}}; }, "1.4.0.32 | 040904E4 | ''"},
    {"ValueOfOnlyItsNul", [](Node& r) { Legal(r).value = Utf16(""); }, "1.4.0.32 | 040904E4 | ''"},
    {"ValueWithoutNulEndsWithItsBlock", [](Node& r) { Legal(r).value = Utf16("abc", false); },
     "1.4.0.32 | 040904E4 | 'abc'"},
    {"ValueEndsAtItsFirstNul", [](Node& r) { Legal(r).value = Utf16(std::string("ab\0cd", 5)); },
     "1.4.0.32 | 040904E4 | 'ab'"},
    {"ValueLengthCountedInBytes", [](Node& r) { Legal(r).valueLength = 2 * 15; },
     "1.4.0.32 | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"BinaryTypeValue", [](Node& r) { Legal(r).type = 0; }, "1.4.0.32 | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"OtherTableFirst",
     [](Node& r) {
         auto& tables = StringFileInfo(r).children;
         tables.insert(tables.begin(), Node{"040704E4", 1, {}, {String("LegalCopyright", "Deutsch.")}});
     },
     "1.4.0.32 | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"VarFileInfoFirst", [](Node& r) { std::swap(r.children[0], r.children[1]); },
     "1.4.0.32 | 040904E4 | 'Copyright \\u00A9 Q.'"},
    {"ZeroLengthSiblingHidesTheRest", [](Node& r) { Table(r).children[0].length = 0; }, "1.4.0.32 | 040904E4 | -"},
    {"SiblingLongerThanItsParent", [](Node& r) { Table(r).children[0].length = 0xFFF0; },
     "1.4.0.32 | 040904E4 | -"},
    {"BlockShorterThanItsHeader", [](Node& r) { Legal(r).length = 5; }, "1.4.0.32 | 040904E4 | -"},
    {"KeyWithoutNulInItsBlock", [](Node& r) { Legal(r).length = 6 + 2 * 14; }, "1.4.0.32 | 040904E4 | -"},
    {"TableLongerThanStringFileInfo", [](Node& r) { Table(r).length = 0x7000; }, "1.4.0.32 | 040904E4 | -"},
    {"VarFileInfoPastTheRoot",
     [](Node& r) {
         Node withoutIt = r;
         withoutIt.children.pop_back();
         r.length = static_cast<int>(Assemble(withoutIt).size()) + 8;
     },
     "1.4.0.32 | - | -"},
    {"RootLongerThanTheData", [](Node& r) { r.length = 0xFFFF; }, "- | - | -"},
};

class VersionResourceCases : public ::testing::TestWithParam<ResourceCase> {};

TEST_P(VersionResourceCases, FindsWhatIsSound) {
    Node root = WholeResource();
    GetParam().change(root);
    EXPECT_EQ(Describe(Assemble(root)), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(VersionResource, VersionResourceCases, ::testing::ValuesIn(kResourceCases),
                         [](const ::testing::TestParamInfo<ResourceCase>& info) { return std::string(info.param.name); });

TEST(VersionResource, TruncatedOrExtendedData) {
    const Bytes whole = Assemble(WholeResource());
    // GetFileVersionInfo leaves room after the resource: it is not read.
    Bytes extended = whole;
    extended.resize(whole.size() * 2 + 4, 0xCD);
    EXPECT_EQ(Describe(extended), "1.4.0.32 | 040904E4 | 'Copyright \\u00A9 Q.'");
    // Any shorter data cuts the root: nothing is found, nothing read beyond.
    for (size_t size = 0; size < whole.size(); ++size) {
        EXPECT_EQ(Describe(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size))), "- | - | -")
            << size;
    }
}

TEST(VersionResource, TranslationKeyIsEightUpperCaseHexDigits) {
    EXPECT_EQ(qv::TranslationKey({0x0409, 1252}), "040904E4");
    EXPECT_EQ(qv::TranslationKey({0x0816, 0x04B0}), "081604B0");
    EXPECT_EQ(qv::TranslationKey({0xFFFF, 0}), "FFFF0000");
    EXPECT_EQ(qv::TranslationKey({}), "00000000");
}

TEST(VersionResource, NothingFoundLeavesTheOutputsAlone) {
    const Bytes junk = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    qv::TFileVersion version{1, 2, 3, 4};
    qv::TTranslation translation{5, 6};
    std::u16string value = u"kept";
    EXPECT_FALSE(qv::ReadFixedFileVersion(junk.data(), junk.size(), &version));
    EXPECT_FALSE(qv::ReadFirstTranslation(junk.data(), junk.size(), &translation));
    EXPECT_FALSE(qv::ReadVersionString(junk.data(), junk.size(), "040904E4", "LegalCopyright", &value));
    EXPECT_FALSE(qv::ReadVersionString(nullptr, 0, "040904E4", "LegalCopyright", &value));
    EXPECT_EQ(version.build, 4);
    EXPECT_EQ(translation.codePage, 6);
    EXPECT_EQ(value, u"kept");
}

// ---------------------------------------------------------------------------
// The queries over real files

#ifdef _WIN32
std::string Library(const std::string& name) { return testenv::TestDataDir() + "versions\\" + name + ".dll"; }

TEST(FileVersion, TheProgramsOwnExecutable) {
    const std::string exe = testenv::BinDir() + "Corvantis.exe";
    EXPECT_EQ(GetFileVersionText(exe), "1.4.0 Build 32");
    EXPECT_EQ(GetFileLegalNotice(exe), "Copyright \xC2\xA9 2026 Quorvandel. All rights reserved.");
    EXPECT_EQ(GetFileLanguage(exe), qlEnglish);
}

TEST(FileVersion, VersionTextFromTheFixedPart) {
    EXPECT_EQ(GetFileVersionText(Library("PortuguesePortugal")), "2.5.7 Build 1234");
    // The four parts are unsigned 16-bit numbers.
    EXPECT_EQ(GetFileVersionText(Library("HighNumbers")), "65535.1.40000 Build 65534");
}

TEST(FileVersion, LanguageFromTheFirstTranslation) {
    EXPECT_EQ(GetFileLanguage(Library("PortuguesePortugal")), qlPortuguese);
    EXPECT_EQ(GetFileLanguage(Library("PortugueseBrazil")), qlPortuguese);
    EXPECT_EQ(GetFileLanguage(Library("English")), qlEnglish);
    EXPECT_EQ(GetFileLanguage(Library("NoTranslation")), qlEnglish);
}

TEST(FileVersion, LegalNoticeFromTheTranslationsStrings) {
    EXPECT_EQ(GetFileLegalNotice(Library("PortuguesePortugal")), "Direitos reservados.");
    EXPECT_EQ(GetFileLegalNotice(Library("HighNumbers")), "High.") << "a Unicode code page block";
    // A resource without the string gives empty text, not the built-in notice.
    EXPECT_EQ(GetFileLegalNotice(Library("NoLegalCopyright")), "");
    EXPECT_EQ(GetFileLegalNotice(Library("NoTranslation")), "");
}

TEST(FileVersion, FilesWithoutVersionResource) {
    const std::string builtIn = qv::LoadStr(IDS_DEFAULT_LEGAL_NOTICE);
    ASSERT_FALSE(builtIn.empty());
    for (const std::string& path : {testenv::TestDataDir() + "NotALibrary.dll", testenv::TestDataDir() + "OkServer.dll",
                                    testenv::TestDataDir() + "Missing.dll", std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetFileVersionText(path), "0.0.0");
        EXPECT_EQ(GetFileLegalNotice(path), builtIn);
        EXPECT_EQ(GetFileLanguage(path), qlEnglish);
    }
}

#endif  // _WIN32

}  // namespace
