// The capture's forms: each value type as the registry editor writes it in a
// .reg file, where each captured key stands, the whole file's bytes, and the
// capture's hand-over from the helper.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "engine/uCapture.h"

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
    const wchar_t* line;
};

TEST(CaptureRegFile, EachValueTypeInItsRegForm) {
    const TValueCase cases[] = {
        {L"", REG_SZ, Utf16(L"C:\\a b\\x.dll"), L"@=\"C:\\\\a b\\\\x.dll\""},
        {L"Threading\"Model", REG_SZ, Utf16(L"Apartment"), L"\"Threading\\\"Model\"=\"Apartment\""},
        {L"Empty", REG_SZ, std::string(), L"\"Empty\"=\"\""},
        // Without its terminating NUL a string is kept byte for byte.
        {L"Odd", REG_SZ, Utf16(L"ab", false), L"\"Odd\"=hex(1):61,00,62,00"},
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
        EXPECT_EQ(engine::RegValueLine(c.name, c.type, c.data), std::wstring(c.line)) << std::string(c.data.size(), '.');
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
              L"\r\n");
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
            EXPECT_TRUE(back.keys[i].values == original.keys[i].values) << i;
        }
    }
    // Cut short or with bytes left over, the capture is refused.
    const std::string bytes = engine::EncodeCapture(sample);
    engine::TCapture back;
    for (size_t cut = 0; cut < bytes.size(); cut += 7) EXPECT_FALSE(engine::DecodeCapture(bytes.substr(0, cut), back)) << cut;
    EXPECT_FALSE(engine::DecodeCapture(bytes + "x", back));
}

}  // namespace
