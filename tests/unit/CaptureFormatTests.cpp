// The capture's forms: each value type as the registry editor writes it in a
// .reg file, where each captured key stands, the whole file's bytes, the
// capture's hand-over from the helper, and the WiX fragment (each value type
// as a row, the escaping, where keys go, the ids and what is reported).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "engine/uCapture.h"
#include "engine/uCaptureWix.h"
#include "support/TestEnv.h"

using engine::TCaptureRoot;

namespace {

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned v : values) out += static_cast<char>(v);
    return out;
}

// UTF-16LE bytes of `text`, with its terminating NUL when `nul`.
std::string Utf16(const std::wstring& text, bool nul = true) {
    std::string out;
    for (wchar_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    if (nul) out += std::string(2, '\0');
    return out;
}

struct TValueCase {
    const wchar_t* name;
    std::uint32_t type;
    std::string data;
    std::wstring line;
};

TEST(CaptureRegFile, EachValueTypeInItsRegForm) {
    const TValueCase cases[] = {
        {L"", REG_SZ, Utf16(L"C:\\a b\\x.dll"), L"@=\"C:\\\\a b\\\\x.dll\""},
        {L"Threading\"Model", REG_SZ, Utf16(L"Apartment"), L"\"Threading\\\"Model\"=\"Apartment\""},
        {L"\\a\"\\\"", REG_SZ, Utf16(L"\"\\"), L"\"\\\\a\\\"\\\\\\\"\"=\"\\\"\\\\\""},
        {L"Nul", REG_SZ, Utf16(L""), L"\"Nul\"=\"\""},
        {L"Long", REG_SZ, Utf16(std::wstring(5000, L'x') + L"\u00e9\U0001F600"),
         L"\"Long\"=\"" + std::wstring(5000, L'x') + L"\u00e9\U0001F600\""},
        // A string a quoted form would not give back is kept byte for byte:
        // no bytes at all, no terminating NUL, a NUL inside or a second one
        // at the end, an odd byte, a line break or other control character,
        // a surrogate out of its pair.
        {L"Empty", REG_SZ, std::string(), L"\"Empty\"=hex(1):"},
        {L"Odd", REG_SZ, Utf16(L"ab", false), L"\"Odd\"=hex(1):61,00,62,00"},
        {L"Inner", REG_SZ, Utf16(L"a") + Utf16(L"b"), L"\"Inner\"=hex(1):61,00,00,00,62,00,00,00"},
        {L"Twice", REG_SZ, Utf16(L"a") + Utf16(L""), L"\"Twice\"=hex(1):61,00,00,00,00,00"},
        {L"OddByte", REG_SZ, Bytes({0x61, 0, 0}), L"\"OddByte\"=hex(1):61,00,00"},
        {L"Lines", REG_SZ, Utf16(L"a\r\nb"), L"\"Lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
        {L"Tab", REG_SZ, Utf16(L"\t"), L"\"Tab\"=hex(1):09,00,00,00"},
        {L"C1", REG_SZ, Utf16(L"\x85"), L"\"C1\"=hex(1):85,00,00,00"},
        {L"High", REG_SZ, Utf16(L"\xD83D"), L"\"High\"=hex(1):3d,d8,00,00"},
        {L"Low", REG_SZ, Utf16(L"\xDE00" L"a"), L"\"Low\"=hex(1):00,de,61,00,00,00"},
        {L"E0", REG_EXPAND_SZ, std::string(), L"\"E0\"=hex(2):"},
        {L"M0", REG_MULTI_SZ, std::string(), L"\"M0\"=hex(7):"},
        {L"B0", REG_BINARY, std::string(), L"\"B0\"=hex:"},
        {L"Be", REG_DWORD_BIG_ENDIAN, Bytes({0x12, 0x34, 0x56, 0x78}), L"\"Be\"=hex(5):12,34,56,78"},
        {L"Link", REG_LINK, Utf16(L"x", false), L"\"Link\"=hex(6):78,00"},
        {L"D", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12}), L"\"D\"=dword:12345678"},
        {L"Short", REG_DWORD, Bytes({1, 2}), L"\"Short\"=hex(4):01,02"},
        {L"B", REG_BINARY, Bytes({0, 0xAB, 0xFF}), L"\"B\"=hex:00,ab,ff"},
        {L"E", REG_EXPAND_SZ, Utf16(L"%A%"), L"\"E\"=hex(2):25,00,41,00,25,00,00,00"},
        {L"M", REG_MULTI_SZ, Utf16(L"a") + Utf16(L"") , L"\"M\"=hex(7):61,00,00,00,00,00"},
        {L"Q", REG_QWORD, Bytes({1, 0, 0, 0, 0, 0, 0, 0x80}), L"\"Q\"=hex(b):01,00,00,00,00,00,00,80"},
        {L"N", REG_NONE, std::string(), L"\"N\"=hex(0):"},
        {L"N2", REG_NONE, Bytes({7}), L"\"N2\"=hex(0):07"},
        {L"Big", 0x1234, Bytes({9}), L"\"Big\"=hex(1234):09"},
    };
    for (const TValueCase& c : cases) {
        EXPECT_EQ(engine::RegValueLine(c.name, c.type, c.data), c.line) << std::string(c.data.size(), '.');
    }
}

TEST(CaptureRegFile, LongHexDataWrapsAsTheRegistryEditorDoes) {
    const std::string data(100, '\x5A');
    const std::wstring text = engine::RegValueLine(L"Data", REG_BINARY, data);
    // Lines of at most 80 columns, each but the last ended by ",\".
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, 11), L"\"Data\"=hex:");
    std::wstring joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 80u) << i;
        if (i + 1 < lines.size()) {
            EXPECT_EQ(lines[i].substr(lines[i].size() - 2), L",\\") << i;
        }
        if (i > 0) {
            EXPECT_EQ(lines[i].substr(0, 2), L"  ") << i;
            // Continuation lines hold 25 bytes each, as the registry editor's.
            if (i + 1 < lines.size()) {
                EXPECT_EQ(lines[i].size(), 2u + 25 * 3 + 1) << i;
            }
        }
        joined += i == 0 ? lines[i].substr(11) : lines[i].substr(2);
        if (i + 1 < lines.size()) joined.pop_back();
    }
    std::wstring expected;
    for (size_t i = 0; i < data.size(); ++i) expected += i ? L",5a" : L"5a";
    EXPECT_EQ(joined, expected);
}

struct TPlaceCase {
    TCaptureRoot root;
    const char* path;
    bool wow64;
    const char* placed;
};

TEST(CaptureRegFile, KeysArePlacedInTheServersView) {
    const TPlaceCase cases[] = {
        {TCaptureRoot::ClassesRoot, "CLSID\\{X}\\InprocServer32", false, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{X}\\InprocServer32"},
        {TCaptureRoot::ClassesRoot, "CLSID\\{X}", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}"},
        {TCaptureRoot::ClassesRoot, "clsid", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\clsid"},
        {TCaptureRoot::ClassesRoot, "Interface\\{I}", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\Interface\\{I}"},
        {TCaptureRoot::ClassesRoot, "DirectShow\\x", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\DirectShow\\x"},
        {TCaptureRoot::ClassesRoot, "Media Type\\x", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\Media Type\\x"},
        {TCaptureRoot::ClassesRoot, "MediaFoundation", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\MediaFoundation"},
        // Shared between the views.
        {TCaptureRoot::ClassesRoot, "TypeLib\\{L}\\1.0", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib\\{L}\\1.0"},
        {TCaptureRoot::ClassesRoot, "AppID\\{A}", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AppID\\{A}"},
        {TCaptureRoot::ClassesRoot, "My.Prog.1\\CLSID", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\My.Prog.1\\CLSID"},
        {TCaptureRoot::ClassesRoot, "CLSIDX", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSIDX"},
        {TCaptureRoot::LocalMachine, "Software\\Classes\\CLSID\\{X}", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}"},
        {TCaptureRoot::LocalMachine, "SOFTWARE\\Classes\\TypeLib", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib"},
        {TCaptureRoot::LocalMachine, "Software\\Maker\\App", true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Maker\\App"},
        {TCaptureRoot::LocalMachine, "Software\\Maker\\App", false, "HKEY_LOCAL_MACHINE\\Software\\Maker\\App"},
        {TCaptureRoot::LocalMachine, "System\\X", true, "HKEY_LOCAL_MACHINE\\System\\X"},
        {TCaptureRoot::CurrentUser, "Software\\Maker", true, "HKEY_CURRENT_USER\\Software\\Maker"},
        {TCaptureRoot::CurrentUser, "Software\\Classes\\CLSID\\{X}", true, "HKEY_CURRENT_USER\\Software\\Classes\\WOW6432Node\\CLSID\\{X}"},
        {TCaptureRoot::CurrentUser, "Software\\Classes\\CLSID\\{X}", false, "HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\{X}"},
        {TCaptureRoot::Users, ".DEFAULT\\Software", true, "HKEY_USERS\\.DEFAULT\\Software"},
    };
    for (const TPlaceCase& c : cases) {
        EXPECT_EQ(engine::PlacedKeyName(c.root, c.path, c.wow64), c.placed) << c.path << " wow64=" << c.wow64;
    }
}

engine::TCapture SampleCapture() {
    engine::TCapture capture;
    capture.file = "C:\\s\\Server.dll";
    capture.clean = true;
    capture.wow64 = true;
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "CLSID\\{X}", {{"", REG_SZ, Utf16(L"Thing")}}});
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "CLSID\\{X}\\InprocServer32",
                            {{"", REG_EXPAND_SZ, Utf16(L"%S%")}, {"ThreadingModel", REG_SZ, Utf16(L"Both")}}});
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "CLSID\\{X}\\Implemented Categories", {}});
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "Interface\\{I}", {{"", REG_SZ, Utf16(L"IThing")}}, true});
    // Deletions: a key in each view, one deleted and then written anew, and
    // values among the written ones.
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "Interface\\{I}\\Old", {}, true, true});
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "CLSID\\{X}\\Again", {}, false, true});
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "CLSID\\{X}\\Again",
                            {{"", 0, "", true}, {"A\"\\", 0, "", true}, {"N", REG_SZ, Utf16(L"new")}}});
    return capture;
}

TEST(CaptureRegFile, TheFileIsUtf16WithItsHeaderAndCrLf) {
    const std::string bytes = engine::RegFileBytes({SampleCapture()});
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    ASSERT_EQ(bytes.size() % 2, 0u);
    std::wstring text;
    for (size_t i = 2; i < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    EXPECT_EQ(text,
              L"Windows Registry Editor Version 5.00\r\n"
              L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}]\r\n"
              L"@=\"Thing\"\r\n"
              L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}\\InprocServer32]\r\n"
              L"@=hex(2):25,00,53,00,25,00,00,00\r\n"
              L"\"ThreadingModel\"=\"Both\"\r\n"
              L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}\\Implemented Categories]\r\n"
              // Mirrored into the 64-bit view: no WOW6432Node.
              L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Interface\\{I}]\r\n"
              L"@=\"IThing\"\r\n"
              L"\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Interface\\{I}\\Old]\r\n"
              L"\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}\\Again]\r\n"
              L"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}\\Again]\r\n"
              L"@=-\r\n"
              L"\"A\\\"\\\\\"=-\r\n"
              L"\"N\"=\"new\"\r\n"
              L"\r\n");
}

TEST(CaptureJson, DeletedKeysAndValuesAreMarkedWithoutData) {
    const std::string json = engine::CaptureJson(SampleCapture());
    const size_t deletions = json.find("{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Classes\\\\Interface\\\\{I}\\\\Old");
    ASSERT_NE(deletions, std::string::npos) << json;
    EXPECT_EQ(json.substr(deletions),
              "{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Classes\\\\Interface\\\\{I}\\\\Old\",\"deleted\":true,\"values\":[]},"
              "{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Classes\\\\WOW6432Node\\\\CLSID\\\\{X}\\\\Again\",\"deleted\":true,\"values\":[]},"
              "{\"key\":\"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Classes\\\\WOW6432Node\\\\CLSID\\\\{X}\\\\Again\",\"values\":["
              "{\"name\":\"\",\"deleted\":true},{\"name\":\"A\\\"\\\\\",\"deleted\":true},{\"name\":\"N\",\"type\":\"REG_SZ\",\"data\":\"new\"}]}"
              "],\"liveKeys\":[]}");
}

// A key as "<root letter>:<path>[<name>=<data>;...]", the data as stored.
std::string Shown(const engine::TCapturedKey& key) {
    const char roots[] = "CMUS";
    std::string text = std::string(1, roots[static_cast<int>(key.root)]) + ":" + key.path + (key.otherView ? "(other)" : "") + "[";
    for (const engine::TCapturedValue& value : key.values) text += value.name + "=" + value.data + ";";
    return text + "]";
}

struct TFoldCase {
    const char* what;
    std::vector<engine::TCapturedKey> keys;
    std::vector<std::string> folded;
};

TEST(CaptureFold, UserClassesFoldIntoTheClassesRoot) {
    using K = engine::TCapturedKey;
    const TCaptureRoot C = TCaptureRoot::ClassesRoot, U = TCaptureRoot::CurrentUser, M = TCaptureRoot::LocalMachine;
    const TFoldCase cases[] = {
        {"a per-user type library becomes the classes' own",
         {K{U, "Software\\Classes\\TypeLib\\{L}\\1.0", {{"", REG_SZ, "lib"}}},
          K{U, "Software\\Classes\\Interface\\{I}", {{"", REG_SZ, "I"}}}},
         {"C:TypeLib\\{L}\\1.0[=lib;]", "C:Interface\\{I}[=I;]"}},
        {"the prefix is matched ignoring case, whole names only",
         {K{U, "SOFTWARE\\CLASSES\\CLSID\\{X}", {{"", REG_SZ, "x"}}},
          K{U, "Software\\ClassesX\\Y", {{"", REG_SZ, "y"}}},
          K{U, "Software\\Classes", {{"v", REG_SZ, "c"}}},
          K{U, "Software\\Maker", {{"", REG_SZ, "m"}}},
          K{M, "Software\\Classes\\CLSID\\{Z}", {{"", REG_SZ, "z"}}}},
         {"C:CLSID\\{X}[=x;]", "U:Software\\ClassesX\\Y[=y;]", "U:Software\\Classes[v=c;]", "U:Software\\Maker[=m;]",
          "M:Software\\Classes\\CLSID\\{Z}[=z;]"}},
        {"a key of both is merged, the folded values winning",
         {K{C, "CLSID\\{X}", {{"", REG_SZ, "machine"}, {"T", REG_SZ, "t"}}},
          K{C, "AppID\\{A}", {}},
          K{U, "Software\\Classes\\clsid\\{x}", {{"", REG_SZ, "user"}, {"N", REG_DWORD, "n"}, {"t", REG_SZ, "u"}}}},
         {"C:CLSID\\{X}[=user;T=u;N=n;]", "C:AppID\\{A}[]"}},
        {"an empty classes key is implied by folded keys below it, not by a look-alike name",
         {K{C, "TypeLib\\{L}", {}},
          K{C, "TypeLib\\{L}X", {}},
          K{U, "Software\\Classes\\TypeLib\\{L}\\1.0\\0\\win32", {{"", REG_SZ, "p"}}}},
         {"C:TypeLib\\{L}X[]", "C:TypeLib\\{L}\\1.0\\0\\win32[=p;]"}},
        {"a mirror in the other view stays apart",
         {K{C, "Interface\\{I}", {{"", REG_SZ, "own"}}, true},
          K{U, "Software\\Classes\\Interface\\{I}", {{"", REG_SZ, "user"}}}},
         {"C:Interface\\{I}(other)[=own;]", "C:Interface\\{I}[=user;]"}},
    };
    for (const TFoldCase& c : cases) {
        std::vector<engine::TCapturedKey> keys = c.keys;
        engine::FoldUserClasses(keys);
        std::vector<std::string> shown;
        for (const engine::TCapturedKey& key : keys) shown.push_back(Shown(key));
        EXPECT_EQ(shown, c.folded) << c.what;
    }
}

// Folded keys stand in the .reg file under the machine's classes, in the
// server's view.
TEST(CaptureFold, FoldedKeysArePlacedAsTheMachinesClasses) {
    engine::TCapture capture;
    capture.wow64 = true;
    capture.keys.push_back({TCaptureRoot::CurrentUser, "Software\\Classes\\Interface\\{I}", {{"", REG_SZ, Utf16(L"I")}}});
    capture.keys.push_back({TCaptureRoot::CurrentUser, "Software\\Classes\\TypeLib\\{L}", {{"", REG_SZ, Utf16(L"L")}}});
    engine::FoldUserClasses(capture.keys);
    const std::string bytes = engine::RegFileBytes({capture});
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    EXPECT_NE(text.find(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\Interface\\{I}]"), std::wstring::npos) << std::string(text.begin(), text.end());
    EXPECT_NE(text.find(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib\\{L}]"), std::wstring::npos);
    EXPECT_EQ(text.find(L"HKEY_CURRENT_USER"), std::wstring::npos);
}

TEST(CaptureHandOver, EncodedCapturesComeBackWhole) {
    engine::TCapture sample = SampleCapture();
    sample.keys.push_back({TCaptureRoot::Users, "x", {{"raw", 0x77, std::string("\0\x01\xFF", 3)}}});
    sample.liveKeys = {"HKEY_CLASSES_ROOT\\CLSID\\{Y}"};
    engine::TCapture dirty = sample;
    dirty.clean = false;
    dirty.wow64 = false;
    for (const engine::TCapture& original : {sample, dirty, engine::TCapture{}}) {
        engine::TCapture back;
        ASSERT_TRUE(engine::DecodeCapture(engine::EncodeCapture(original), back));
        EXPECT_EQ(back.clean, original.clean);
        EXPECT_EQ(back.wow64, original.wow64);
        EXPECT_EQ(back.liveKeys, original.liveKeys);
        ASSERT_EQ(back.keys.size(), original.keys.size());
        for (size_t i = 0; i < back.keys.size(); ++i) {
            EXPECT_EQ(back.keys[i].root, original.keys[i].root);
            EXPECT_EQ(back.keys[i].path, original.keys[i].path);
            EXPECT_EQ(back.keys[i].otherView, original.keys[i].otherView);
            EXPECT_EQ(back.keys[i].deleted, original.keys[i].deleted);
            EXPECT_TRUE(back.keys[i].values == original.keys[i].values) << i;
        }
    }
    // Cut short or with bytes left over, the capture is refused.
    const std::string bytes = engine::EncodeCapture(sample);
    engine::TCapture back;
    for (size_t cut = 0; cut < bytes.size(); cut += 7) EXPECT_FALSE(engine::DecodeCapture(bytes.substr(0, cut), back)) << cut;
    EXPECT_FALSE(engine::DecodeCapture(bytes + "x", back));
}

// ---------------------------------------------------------------------------
// The WiX fragment.

const char* const kServer = "C:\\Srv\\Server.dll";  // no such file: its bitness comes from the capture

engine::TCapture OneKey(engine::TCapturedKey key, bool wow64 = true, const std::string& file = kServer) {
    engine::TCapture capture;
    capture.file = file;
    capture.clean = true;
    capture.wow64 = wow64;
    capture.keys.push_back(std::move(key));
    return capture;
}

// The text between the first RegistryKey's opening line and its end.
std::string ValueRows(const std::string& text) {
    const size_t open = text.find("<RegistryKey");
    if (open == std::string::npos) return "(no key)";
    const size_t start = text.find("\r\n", open) + 2;
    const size_t end = text.find("        </RegistryKey>", start);
    return end == std::string::npos ? "(no rows)" : text.substr(start, end - start);
}

std::string FileIdOf(const std::string& text) {
    const size_t at = text.find("<File Id=\"");
    return at == std::string::npos ? std::string() : text.substr(at + 10, 19);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

struct TWxsValueCase {
    const char* name;
    std::uint32_t type;
    std::string data;
    const char* rows;     // the rows with "{FILE}" for the file id; empty when the value is left out
    const char* problem;  // part of the one problem reported, or empty for none
};

TEST(CaptureWxs, EachValueTypeAsARowOrAProblem) {
    const std::string row = "          <RegistryValue ";
    const TWxsValueCase cases[] = {
        {"ThreadingModel", REG_SZ, Utf16(L"Apartment"), "Name=\"ThreadingModel\" Type=\"string\" Value=\"Apartment\" />", ""},
        {"", REG_SZ, Utf16(L"C:\\Srv\\Server.dll"), "Type=\"string\" Value=\"[#{FILE}]\" />", ""},
        {"", REG_SZ, Utf16(L"\"c:\\SRV\\server.DLL\" /x,1"), "Type=\"string\" Value=\"&quot;[#{FILE}]&quot; /x,1\" />", ""},
        {"", REG_SZ, Utf16(L"\\\\?\\C:\\Srv\\Server.dll"), "Type=\"string\" Value=\"\\\\?\\[#{FILE}]\" />", ""},
        // Another file beside it, or a longer name, is no reference.
        {"", REG_SZ, Utf16(L"C:\\Srv\\Server.dll2"), "Type=\"string\" Value=\"[INSTALLFOLDER]Server.dll2\" />", ""},
        {"", REG_SZ, Utf16(L"XC:\\Srv\\Server.dll"), "Type=\"string\" Value=\"XC:\\Srv\\Server.dll\" />", ""},
        {"HELPDIR", REG_SZ, Utf16(L"C:\\Srv"), "Name=\"HELPDIR\" Type=\"string\" Value=\"[INSTALLFOLDER]\" />", ""},
        {"", REG_SZ, Utf16(L"C:\\Srv\\help\\a.chm"), "Type=\"string\" Value=\"[INSTALLFOLDER]help\\a.chm\" />", ""},
        {"", REG_SZ, Utf16(L"C:\\Srv2\\a.chm"), "Type=\"string\" Value=\"C:\\Srv2\\a.chm\" />", ""},
        {"", REG_SZ, Utf16(L"a[b]c[~]"), "Type=\"string\" Value=\"a[\\[]b[\\]]c[\\[]~[\\]]\" />", ""},
        // WiX doubles a string's leading "#" itself.
        {"", REG_SZ, Utf16(L"#1"), "Type=\"string\" Value=\"#1\" />", ""},
        {"", REG_SZ, Utf16(L"<&>\"'"), "Type=\"string\" Value=\"&lt;&amp;&gt;&quot;'\" />", ""},
        {"", REG_SZ, Utf16(L"a\r\nb\t"), "Type=\"string\" Value=\"a&#13;&#10;b&#9;\" />", ""},
        {"", REG_SZ, Utf16(L"{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}"), "Type=\"string\" Value=\"{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}\" />", ""},
        {"", REG_SZ, Utf16(L"\u00e9\u6f22"), "Type=\"string\" Value=\"\xC3\xA9\xE6\xBC\xA2\" />", ""},
        {"a[1]", REG_SZ, Utf16(L"x"), "Name=\"a[\\[]1[\\]]\" Type=\"string\" Value=\"x\" />", ""},
        {"", REG_SZ, std::string(), "Type=\"string\" Value=\"\" />", ""},
        {"", REG_SZ, Utf16(L"ab", false), "Type=\"string\" Value=\"ab\" />", "terminating NUL"},
        {"", REG_SZ, Utf16(L"a") + Utf16(L"b"), "", "NUL inside"},
        {"", REG_SZ, Bytes({0x61, 0, 0}), "", "odd number of bytes"},
        {"", REG_SZ, Utf16(L"{[x]}"), "", "braces"},
        {"", REG_SZ, Utf16(L"{C:\\Srv\\Server.dll}"), "", "braces"},
        {"", REG_SZ, Utf16(L"a\x01"), "", "XML"},
        {"", REG_SZ, Utf16(std::wstring(1, wchar_t(0xD800))), "", "XML"},
        {"-", REG_SZ, Utf16(L""), "", "key operation"},
        {"E", REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\x.dll"), "Name=\"E\" Type=\"expandable\" Value=\"%SystemRoot%\\x.dll\" />", ""},
        {"E", REG_EXPAND_SZ, Utf16(L"%P%;C:\\Srv"), "Name=\"E\" Type=\"expandable\" Value=\"%P%;[INSTALLFOLDER]\" />", ""},
        {"D", REG_DWORD, Bytes({1, 0, 0, 0}), "Name=\"D\" Type=\"integer\" Value=\"1\" />", ""},
        {"D", REG_DWORD, Bytes({0xFF, 0xFF, 0xFF, 0x7F}), "Name=\"D\" Type=\"integer\" Value=\"2147483647\" />", ""},
        {"D", REG_DWORD, Bytes({0, 0, 0, 0x80}), "Name=\"D\" Type=\"integer\" Value=\"-2147483648\" />", ""},
        {"D", REG_DWORD, Bytes({0xFF, 0xFF, 0xFF, 0xFF}), "Name=\"D\" Type=\"integer\" Value=\"-1\" />", ""},
        {"D", REG_DWORD, Bytes({1, 2}), "", "REG_DWORD of 2 bytes"},
        {"B", REG_BINARY, Bytes({0, 0xAB, 0x5f}), "Name=\"B\" Type=\"binary\" Value=\"00AB5F\" />", ""},
        {"B", REG_BINARY, std::string(), "", "empty REG_BINARY"},
        {"M", REG_MULTI_SZ, Utf16(L"a") + Utf16(L"C:\\Srv\\Server.dll") + Utf16(L""),
         "Name=\"M\" Type=\"multiString\">\r\n            <MultiStringValue Value=\"a\" />\r\n"
         "            <MultiStringValue Value=\"[#{FILE}]\" />\r\n          </RegistryValue>", ""},
        {"M", REG_MULTI_SZ, Utf16(L"[x]"), "Name=\"M\" Type=\"multiString\">\r\n            <MultiStringValue Value=\"[\\[]x[\\]]\" />\r\n          </RegistryValue>", ""},
        {"M", REG_MULTI_SZ, Utf16(L"") + Utf16(L""), "", "empty REG_MULTI_SZ"},
        {"M", REG_MULTI_SZ, Utf16(L"a") + Utf16(L"") + Utf16(L"b") + Utf16(L""), "", "empty string inside"},
        {"M", REG_MULTI_SZ, Utf16(L"#a") + Utf16(L""), "", "begins with \"#\""},
        {"Q", REG_QWORD, Bytes({1, 0, 0, 0, 0, 0, 0, 0}), "", "cannot write a REG_QWORD"},
        {"N", REG_NONE, std::string(), "", "cannot write a REG_NONE"},
        {"L", REG_LINK, Utf16(L"x"), "", "cannot write a REG_LINK"},
        {"X", 0x1234, Bytes({9}), "", "cannot write a type 4660"},
    };
    for (const TWxsValueCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.type) + " " + std::to_string(c.data.size()));
        const engine::TWxsResult result = engine::WxsFragment(
            {OneKey({TCaptureRoot::ClassesRoot, "CLSID\\{X}", {{"P", REG_SZ, Utf16(L"p")}, {c.name, c.type, c.data}}})});
        std::string expected = row + "Name=\"P\" Type=\"string\" Value=\"p\" />\r\n";
        if (*c.rows) {
            std::string rows = row + c.rows;
            const size_t file = rows.find("{FILE}");
            if (file != std::string::npos) rows.replace(file, 6, FileIdOf(result.text));
            expected += rows + "\r\n";
        }
        EXPECT_EQ(ValueRows(result.text), expected);
        if (*c.problem) {
            ASSERT_EQ(result.problems.size(), 1u) << Joined(result.problems);
            EXPECT_NE(result.problems[0].find(c.problem), std::string::npos) << result.problems[0];
            // The problem names the file, the key and the value.
            EXPECT_NE(result.problems[0].find("'C:\\Srv\\Server.dll': HKLM\\Software\\Classes\\CLSID\\{X}"),
                      std::string::npos) << result.problems[0];
        } else {
            EXPECT_TRUE(result.problems.empty()) << Joined(result.problems);
        }
    }
}

struct TWxsKeyCase {
    TCaptureRoot root;
    const char* path;
    bool otherView;
    bool wow64;      // with no file to read, the capture's view is the server's bitness
    const char* key;      // the RegistryKey's opening, after "<RegistryKey "
    const char* bitness;  // the bitness of the component holding it
    bool ownComponent;    // in the server's component (with its file), or in the other one
};

TEST(CaptureWxs, KeysGoUnderTheirRootsWithTheBitnessDecidingTheView) {
    const TWxsKeyCase cases[] = {
        {TCaptureRoot::ClassesRoot, "CLSID\\{X}", false, true, "Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\{X}\"", "always32", true},
        {TCaptureRoot::ClassesRoot, "CLSID\\{X}", false, false, "Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\{X}\"", "always64", true},
        {TCaptureRoot::ClassesRoot, "", false, true, "Root=\"HKLM\" Key=\"Software\\Classes\"", "always32", true},
        // Mirrored by the system into the other view.
        {TCaptureRoot::ClassesRoot, "Interface\\{I}", true, true, "Root=\"HKLM\" Key=\"Software\\Classes\\Interface\\{I}\"", "always64", false},
        {TCaptureRoot::ClassesRoot, "Interface\\{I}", true, false, "Root=\"HKLM\" Key=\"Software\\Classes\\Interface\\{I}\"", "always32", false},
        // Named under WOW6432Node by the server: the 32-bit view, without the node.
        {TCaptureRoot::ClassesRoot, "Wow6432Node\\CLSID\\{X}", false, false, "Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\{X}\"", "always32", false},
        {TCaptureRoot::ClassesRoot, "WOW6432Node\\CLSID\\{X}", false, true, "Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\{X}\"", "always32", true},
        {TCaptureRoot::LocalMachine, "SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{X}", false, false, "Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\{X}\"", "always32", false},
        {TCaptureRoot::LocalMachine, "Software\\WOW6432Node\\Maker\\App", false, false, "Root=\"HKLM\" Key=\"Software\\Maker\\App\"", "always32", false},
        {TCaptureRoot::LocalMachine, "Software\\Classes\\TypeLib\\{L}", false, true, "Root=\"HKLM\" Key=\"Software\\Classes\\TypeLib\\{L}\"", "always32", true},
        {TCaptureRoot::LocalMachine, "Software\\Maker\\App", false, false, "Root=\"HKLM\" Key=\"Software\\Maker\\App\"", "always64", true},
        {TCaptureRoot::LocalMachine, "System\\X", false, true, "Root=\"HKLM\" Key=\"System\\X\"", "always32", true},
        {TCaptureRoot::CurrentUser, "Software\\Classes\\CLSID\\{X}", false, true, "Root=\"HKCU\" Key=\"Software\\Classes\\CLSID\\{X}\"", "always32", true},
        {TCaptureRoot::CurrentUser, "Software\\Classes\\Wow6432Node\\CLSID\\{X}", false, false, "Root=\"HKCU\" Key=\"Software\\Classes\\CLSID\\{X}\"", "always32", false},
        {TCaptureRoot::Users, ".DEFAULT\\Software\\X", false, true, "Root=\"HKU\" Key=\".DEFAULT\\Software\\X\"", "always32", true},
        {TCaptureRoot::ClassesRoot, "a[1]&b", false, true, "Root=\"HKLM\" Key=\"Software\\Classes\\a[\\[]1[\\]]&amp;b\"", "always32", true},
    };
    for (const TWxsKeyCase& c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.otherView ? " other view" : "") + (c.wow64 ? " wow64" : ""));
        // A key with a value, an empty key, a deleted key: each in the same place.
        for (int form : {0, 1, 2}) {
            const bool empty = form == 1, deleted = form == 2;
            engine::TCapturedKey key{c.root, c.path, {}, c.otherView, deleted};
            if (form == 0) key.values.push_back({"V", REG_SZ, Utf16(L"v")});
            const engine::TWxsResult result = engine::WxsFragment({OneKey(key, c.wow64)});
            EXPECT_TRUE(result.problems.empty()) << Joined(result.problems);
            EXPECT_EQ(result.text.find("WOW6432Node"), std::string::npos);
            EXPECT_EQ(result.text.find("Wow6432Node"), std::string::npos);
            // An empty key is created; a key with values gets its rows; a
            // deleted one is removed.
            const std::string opening = deleted ? std::string("<RemoveRegistryKey ") + c.key + " Action=\"removeOnInstall\" />"
                                                : std::string("<RegistryKey ") + c.key +
                                                      (empty ? " ForceCreateOnInstall=\"yes\" />" : ">");
            const size_t at = result.text.find(opening);
            ASSERT_NE(at, std::string::npos) << result.text;
            // The component around the key: the last one opened before it.
            const size_t component = result.text.rfind("<Component Id=\"", at);
            ASSERT_NE(component, std::string::npos);
            const std::string head = result.text.substr(component, result.text.find('>', component) - component);
            EXPECT_NE(head.find(std::string("Bitness=\"") + c.bitness + "\""), std::string::npos) << head;
            EXPECT_EQ(head.substr(15, 3), c.ownComponent ? "cmp" : "cmo") << head;
            // A component without a file takes its first value as key path.
            if (!c.ownComponent && form == 0) {
                EXPECT_NE(result.text.find("Value=\"v\" KeyPath=\"yes\" />"), std::string::npos) << result.text;
            }
            // The server's own component always holds its file, in the server's bitness.
            const size_t own = result.text.find("<Component Id=\"cmp");
            const std::string ownHead = result.text.substr(own, result.text.find('>', own) - own);
            EXPECT_NE(ownHead.find(c.wow64 ? "always32" : "always64"), std::string::npos) << ownHead;
        }
    }
}

TEST(CaptureWxs, DeletionsAreRemovedOnInstallInTheirOrder) {
    engine::TCapture capture = OneKey({TCaptureRoot::ClassesRoot, "CLSID\\{X}\\Again", {}, false, true});
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "CLSID\\{X}\\Again",
                            {{"", 0, "", true}, {"N", REG_SZ, Utf16(L"n")}, {"a[1]&", 0, "", true}, {"-", 0, "", true},
                             {"x\x01", 0, "", true}}});
    capture.keys.push_back({TCaptureRoot::ClassesRoot, "CLSID\\{X}\\Gone", {{"G", 0, "", true}}});
    const engine::TWxsResult result = engine::WxsFragment({capture});
    const std::string key = "Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\{X}\\";
    // The server's component, after its file.
    const std::string fileEnd = "KeyPath=\"yes\" />\r\n";
    const size_t body = result.text.find(fileEnd) + fileEnd.size();
    ASSERT_GE(body, fileEnd.size()) << result.text;
    EXPECT_EQ(result.text.substr(body, result.text.find("      </Component>") - body),
              "        <RemoveRegistryKey " + key + "Again\" Action=\"removeOnInstall\" />\r\n"
              "        <RemoveRegistryValue " + key + "Again\" />\r\n"
              "        <RemoveRegistryValue " + key + "Again\" Name=\"a[\\[]1[\\]]&amp;\" />\r\n"
              "        <RegistryKey " + key + "Again\">\r\n"
              "          <RegistryValue Name=\"N\" Type=\"string\" Value=\"n\" />\r\n"
              "        </RegistryKey>\r\n"
              "        <RemoveRegistryValue " + key + "Gone\" Name=\"G\" />\r\n"
              "        <RegistryKey " + key + "Gone\" ForceCreateOnInstall=\"yes\" />\r\n");
    ASSERT_EQ(result.problems.size(), 2u) << Joined(result.problems);
    EXPECT_NE(result.problems[0].find("Again value \"-\": a value named \"-\" cannot be removed alone"), std::string::npos)
        << result.problems[0];
    EXPECT_NE(result.problems[1].find("Again value \"x\x01\": its name holds characters XML cannot carry"), std::string::npos)
        << result.problems[1];
}

TEST(CaptureWxs, BitnessComesFromTheServersHeader) {
    // Each build's own test server, with the capture's view saying the
    // opposite: the header decides.
    const std::string server = testenv::TestDataDir() + "OkServer.dll";
    const bool is64 = sizeof(void*) == 8;
    const engine::TWxsResult result =
        engine::WxsFragment({OneKey({TCaptureRoot::ClassesRoot, "CLSID\\{X}", {}}, /*wow64=*/is64, server)});
    EXPECT_NE(result.text.find(std::string("Bitness=\"") + (is64 ? "always64" : "always32") + "\">\r\n        <File "),
              std::string::npos) << result.text;
    EXPECT_NE(result.text.find("Name=\"OkServer.dll\" Source=\"" + server + "\" KeyPath=\"yes\""), std::string::npos)
        << result.text;
}

TEST(CaptureWxs, IdsFollowTheFolderAndFileNameOnly) {
    const engine::TCapturedKey key{TCaptureRoot::ClassesRoot, "CLSID\\{X}", {{"", REG_SZ, Utf16(L"C:\\Srv\\Server.dll")}}};
    const engine::TWxsResult first = engine::WxsFragment({OneKey(key)});
    // The documented rule, pinned: FNV-1a of "INSTALLFOLDER\SERVER.DLL".
    EXPECT_NE(first.text.find("<Component Id=\"cmp65D895AEFE8BE3F9\" Guid=\"{A580E3CC-9E33-83EA-AD86-ECB0D1890808}\" "
                              "Bitness=\"always32\">"),
              std::string::npos) << first.text;
    EXPECT_NE(first.text.find("<File Id=\"fil65D895AEFE8BE3F9\""), std::string::npos);
    EXPECT_NE(first.text.find("Value=\"[#fil65D895AEFE8BE3F9]\""), std::string::npos);
    EXPECT_NE(first.text.find("<DirectoryRef Id=\"INSTALLFOLDER\">"), std::string::npos);
    EXPECT_NE(first.text.find("<ComponentGroup Id=\"CapturedServers.INSTALLFOLDER\">\r\n      <ComponentRef Id=\"cmp65D895AEFE8BE3F9\" />"),
              std::string::npos);
    EXPECT_NE(first.text.find("<Wix xmlns=\"http://wixtoolset.org/schemas/v4/wxs\">"), std::string::npos);
    // Run after run, the same text.
    EXPECT_EQ(engine::WxsFragment({OneKey(key)}).text, first.text);
    // The same name captured elsewhere, in other case: the same ids.
    engine::TCapturedKey moved = key;
    moved.values[0].data = Utf16(L"D:\\Build\\SERVER.dll");
    const engine::TWxsResult elsewhere = engine::WxsFragment({OneKey(moved, true, "D:\\Build\\SERVER.dll")});
    EXPECT_EQ(FileIdOf(elsewhere.text), "fil65D895AEFE8BE3F9");
    EXPECT_NE(elsewhere.text.find("Value=\"[#fil65D895AEFE8BE3F9]\""), std::string::npos);
    // Another folder id or another name: other ids, each its own.
    const engine::TWxsResult otherFolder = engine::WxsFragment({OneKey(key)}, "APPDIR");
    EXPECT_NE(FileIdOf(otherFolder.text), "fil65D895AEFE8BE3F9");
    EXPECT_NE(otherFolder.text.find("<DirectoryRef Id=\"APPDIR\">"), std::string::npos);
    EXPECT_NE(otherFolder.text.find("<ComponentGroup Id=\"CapturedServers.APPDIR\">"), std::string::npos);
    const engine::TWxsResult two = engine::WxsFragment({OneKey(key), OneKey(key, true, "C:\\Srv\\Other.dll")});
    EXPECT_TRUE(two.problems.empty()) << Joined(two.problems);
    const size_t second = two.text.find("<File Id=\"", two.text.find("<File Id=\"") + 1);
    ASSERT_NE(second, std::string::npos);
    EXPECT_NE(two.text.substr(second + 10, 19), "fil65D895AEFE8BE3F9");
}

TEST(CaptureWxs, ADrivesRootIsNoFolderOfTheServer) {
    const engine::TWxsResult result = engine::WxsFragment({OneKey(
        {TCaptureRoot::ClassesRoot, "CLSID\\{X}", {{"A", REG_SZ, Utf16(L"C:\\Windows\\x.dll")}, {"B", REG_SZ, Utf16(L"C:\\Server.dll")}}},
        true, "C:\\Server.dll")});
    EXPECT_NE(result.text.find("Name=\"A\" Type=\"string\" Value=\"C:\\Windows\\x.dll\" />"), std::string::npos) << result.text;
    EXPECT_NE(result.text.find("Name=\"B\" Type=\"string\" Value=\"[#" + FileIdOf(result.text) + "]\" />"), std::string::npos)
        << result.text;
}

TEST(CaptureWxs, WhatCannotBeInstalledIsReported) {
    const engine::TCapturedKey key{TCaptureRoot::ClassesRoot, "CLSID\\{X}", {{"", REG_SZ, Utf16(L"x")}}};
    // The same name twice in one folder: one file, the second left out.
    engine::TWxsResult result = engine::WxsFragment({OneKey(key), OneKey(key, false, "D:\\Other\\server.DLL")});
    ASSERT_EQ(result.problems.size(), 1u) << Joined(result.problems);
    EXPECT_NE(result.problems[0].find("'D:\\Other\\server.DLL': would be installed as the same file as 'C:\\Srv\\Server.dll'"),
              std::string::npos) << result.problems[0];
    EXPECT_EQ(result.text.find("D:\\Other"), std::string::npos);
    // A capture that failed is named, not written.
    engine::TCapture failed = OneKey(key, true, "C:\\Srv\\Bad.dll");
    failed.clean = false;
    failed.outcome.message = "It wrote live.";
    result = engine::WxsFragment({failed});
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_EQ(result.problems[0], "'C:\\Srv\\Bad.dll': not captured, left out (It wrote live.).");
    EXPECT_EQ(result.text.find("Bad.dll"), std::string::npos);
    // A folder id that is no identifier gives no fragment.
    for (const char* id : {"", "1DIR", "MY-DIR", "A B", "X[Y]"}) {
        result = engine::WxsFragment({OneKey(key)}, id);
        EXPECT_TRUE(result.text.empty()) << id;
        ASSERT_EQ(result.problems.size(), 1u) << id;
        EXPECT_NE(result.problems[0].find("not an identifier"), std::string::npos);
    }
    EXPECT_TRUE(engine::IsWixIdentifier("_a.B9"));
    EXPECT_FALSE(engine::IsWixIdentifier(std::string(73, 'A')));
    EXPECT_TRUE(engine::IsWixIdentifier(std::string(72, 'A')));
    // A key that braces would change is left out with its values, and said.
    result = engine::WxsFragment({OneKey({TCaptureRoot::ClassesRoot, "{[x]}", {{"", REG_SZ, Utf16(L"x")}}})});
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(result.problems[0].find("left out with its values"), std::string::npos) << result.problems[0];
    EXPECT_EQ(result.text.find("<RegistryKey"), std::string::npos);
}

}  // namespace
