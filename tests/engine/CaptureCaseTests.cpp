// Each way a registration writes, captured through the helpers of both
// bitnesses: the capture holds every write as it was made (bytes exact,
// deletions in their order, the view it was meant for); the .reg file, the
// WiX fragment and the JSON place each key in that view; and the live
// registry stays as it was, byte for byte, in both views. One server,
// CaptureCases.dll copied under each case's name, serves every row. A type
// library registered for real, whose live keys were then changed, is
// captured as when it is not registered at all.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "engine/uCapture.h"
#include "engine/uCaptureWix.h"
#include "engine/uHelper.h"
#include "support/RegSnapshot.h"
#include "support/TestEnv.h"

using namespace testenv;
using engine::TCaptureRoot;
using engine::TCapturedKey;
using engine::TCapturedValue;
namespace ts = TestServers;

namespace {

const size_t kNone = std::string::npos;

// A REG_SZ of the UTF-16 units of `text`, its terminating NUL included.
template <size_t N>
TCapturedValue Sz(const char* name, const wchar_t (&text)[N]) {
    return {name, REG_SZ, std::string(reinterpret_cast<const char*>(text), N * sizeof(wchar_t))};
}
TCapturedValue Gone(const char* name) { return {name, 0, "", true}; }

std::string Lower(std::string text) {
    CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != kNone; at = text.find(what, at + 1)) ++n;
    return n;
}

// The keys one a line (paths in lower case), each value below its key with
// its type and bytes: compared as a whole, the difference shows.
std::string Listed(const std::vector<TCapturedKey>& keys) {
    static const char* const kRoots[] = {"HKCR", "HKLM", "HKCU", "HKU"};
    std::string out;
    for (const TCapturedKey& key : keys) {
        out += std::string(key.deleted ? "-" : "") + kRoots[static_cast<int>(key.root)] + "\\" + Lower(key.path) +
               (key.otherView ? " (other view)" : "") + "\n";
        for (const TCapturedValue& value : key.values) {
            out += "  \"" + value.name + "\" " + (value.deleted ? "deleted" : std::to_string(value.type) + ":");
            for (unsigned char c : value.data) out += {' ', "0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
            out += "\n";
        }
    }
    return out;
}

// Where a key written in the view `view` (32 or 64) stands in a .reg file,
// lower case: the classes Windows keeps apart per view, and
// HKEY_LOCAL_MACHINE\Software, go under WOW6432Node in the 32-bit view.
std::string RegName(const TCapturedKey& key, int view) {
    const std::string path = Lower(key.path);
    const std::string wow = view == 32 ? "wow6432node\\" : "";
    if (key.root == TCaptureRoot::LocalMachine && path.compare(0, 9, "software\\") == 0) {
        return "hkey_local_machine\\software\\" + wow + path.substr(9);
    }
    EXPECT_EQ(key.root, TCaptureRoot::ClassesRoot) << key.path;
    for (const char* split : {"clsid\\", "directshow\\", "interface\\", "media type\\", "mediafoundation\\"}) {
        if (path.compare(0, std::strlen(split), split) == 0) return "hkey_local_machine\\software\\classes\\" + wow + path;
    }
    return "hkey_local_machine\\software\\classes\\" + path;
}

// A fragment's keys with the bitness of their component, lower case:
// "always64 hklm\software\classes\clsid\{...}".
std::set<std::string> WixKeys(const std::string& text) {
    auto attribute = [&text](size_t at, size_t end, const std::string& name) {
        const size_t found = text.find(" " + name + "=\"", at), start = found + name.size() + 3;
        return found >= end ? std::string() : text.substr(start, text.find('"', start) - start);
    };
    std::set<std::string> keys;
    std::string bitness;
    for (size_t at = 0, end = 0; at < text.size(); at = end + 1) {
        end = std::min(text.find('\n', at), text.size());
        if (!attribute(at, end, "Bitness").empty()) bitness = attribute(at, end, "Bitness");
        const std::string key = attribute(at, end, "Key");
        if (!key.empty()) keys.insert(Lower(bitness + " " + attribute(at, end, "Root") + "\\" + key));
    }
    return keys;
}

// The capture's keys where its .reg file, WiX fragment and JSON put them, for
// a server of `bits` bits: each key in its view, each deletion as one.
void ExpectPlaced(const engine::TCapture& capture, int bits) {
    const std::string bytes = engine::RegFileBytes({capture});
    std::string reg;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) reg += bytes[i];
    reg = Lower(reg);
    const std::string json = Lower(engine::CaptureJson(capture));
    std::set<std::string> wix;
    size_t deletions = 0;
    for (const TCapturedKey& key : capture.keys) {
        const int view = key.otherView ? 96 - bits : bits;
        const std::string name = RegName(key, view);
        SCOPED_TRACE(name);
        const size_t at = reg.find("\r\n[" + std::string(key.deleted ? "-" : "") + name + "]\r\n");
        EXPECT_NE(at, kNone) << reg;
        const std::string section = at == kNone ? "" : reg.substr(at, reg.find("\r\n[", at + 3) - at);
        wix.insert("always" + std::to_string(view) + " hklm\\" +
                   (key.root == TCaptureRoot::ClassesRoot ? "software\\classes\\" : "") + Lower(key.path));
        std::string escaped;
        for (char c : name) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        if (key.deleted) {
            ++deletions;
            EXPECT_NE(json.find("{\"key\":\"" + escaped + "\",\"deleted\":true"), kNone) << json;
        }
        for (const TCapturedValue& value : key.values) {
            if (!value.deleted) continue;
            ++deletions;
            EXPECT_NE(section.find("\r\n\"" + Lower(value.name) + "\"=-\r\n"), kNone) << section;
            EXPECT_NE(json.find("{\"name\":\"" + Lower(value.name) + "\",\"deleted\":true}"), kNone) << json;
        }
    }
    EXPECT_EQ(Count(reg, "\r\n["), capture.keys.size()) << reg;
    EXPECT_EQ(Count(json, "\"deleted\":true"), deletions) << json;
    const engine::TWxsResult fragment = engine::WxsFragment({capture});
    EXPECT_EQ(WixKeys(fragment.text), wix) << fragment.text;
}

// Writes the REG_SZ `text` into `path` of `root` in `view`, making the key.
bool Plant(HKEY root, const std::string& path, const std::string& text, REGSAM view) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr)) return false;
    const LONG status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Deletes `path` of `root` with everything below it, in both views.
void DeleteInBothViews(HKEY root, const std::string& path) {
    const size_t cut = path.find_last_of('\\');
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY parent = nullptr;
        if (RegOpenKeyExA(root, path.substr(0, cut).c_str(), 0, KEY_ALL_ACCESS | view, &parent)) continue;
        RegDeleteTreeA(parent, path.substr(cut + 1).c_str());
        RegCloseKey(parent);
    }
}

// A key a row's capture must hold: `view` 32 or 64 is the view it was
// written in, 0 the server's own.
struct TKey { TCaptureRoot root; std::string path; int view; bool deleted; std::vector<TCapturedValue> values; };
struct TRow { const char* name; std::vector<TKey> keys; };  // the server's case, its keys

TEST(CaptureCases, EachWriteIsCapturedAsWrittenAndTheLiveRegistryIsUnchanged) {
    // The 32-bit build of the tests drives both helpers with servers of both
    // bitnesses.
    if (sizeof(void*) == 8) GTEST_SKIP() << "run by the 32-bit tests, through both helpers";
    const TCaptureRoot HKCR = TCaptureRoot::ClassesRoot, HKLM = TCaptureRoot::LocalMachine;
    const std::string deleted = ts::kCaptureDeletedKey, vendor = ts::kCaptureVendorKey;
    const TRow rows[] = {
        {"equal", {{HKCR, ts::kCaptureEqualKey, 0, false, {Sz("", ts::kCaptureEqualTextW)}}}},
        {"deleted",
         {{HKCR, deleted, 0, false, {Sz("Kept", L"kept"), Gone("Dropped")}}, {HKCR, deleted + "\\Sub", 0, true, {}}}},
        {"view64", {{HKLM, vendor, 64, false, {Sz("View", L"64")}}}},
        {"view32", {{HKLM, vendor, 32, false, {Sz("View", L"32")}}}},
        {"vendor", {{HKLM, vendor, 0, false, {Sz("View", L"own")}}}},
        {"shapes",
         {{HKLM, ts::kCaptureShapesKey, 0, false,
           {Sz("Lines", L"one\r\ntwo"), Sz("Nul", L"a\0b"), Sz("Empty", L""), {"None", REG_BINARY, ""}}}}},
    };
    const std::string iface = std::string("Interface\\") + ts::kTestLibInterfaceIidString;
    const std::string typeLib = std::string("TypeLib\\") + ts::kTestLibLibidString;
    const std::string version = typeLib + "\\" + ts::kTestLibVersionString;
    const std::string tlb = TestDataDir() + ts::kTestLibFile;
    BOOL win64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &win64);
    const std::string folder = MakeTempDir("capture-cases");
    auto caseFile = [&](int bits, const char* name) {
        return folder + std::to_string(bits) + "\\" + ts::kCaptureCasePrefix + name + ".dll";
    };
    for (int bits : {32, 64}) {
        CreateDirectoryA((folder + std::to_string(bits)).c_str(), nullptr);
        for (const TRow& row : rows) {
            const std::string server = TestDataDir() + (bits == 64 ? "x64\\" : "") + ts::kCaptureCasesFile;
            ASSERT_TRUE(CopyTo(server, caseFile(bits, row.name))) << server;
        }
    }
    const char* const liveKeys[] = {ts::kCaptureEqualKey, ts::kCaptureDeletedKey, iface.c_str(), typeLib.c_str()};
    for (const char* key : liveKeys) DeleteInBothViews(HKEY_CLASSES_ROOT, key);

    engine::THelperSession helpers;
    engine::TRegContext context;
    // The type library captured unregistered, then registered for real, its
    // interface's name and its version's text changed live in the 64-bit
    // view; the value "equal" writes, planted live in both views.
    const engine::TCapture bare = engine::CaptureFile(tlb, context);
    ASSERT_TRUE(engine::RegisterFileCore(tlb, true, context).success);
    ASSERT_TRUE(Plant(HKEY_CLASSES_ROOT, iface, "Planted interface", KEY_WOW64_64KEY));
    ASSERT_TRUE(Plant(HKEY_CLASSES_ROOT, version, "9.9", KEY_WOW64_64KEY));
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        ASSERT_TRUE(Plant(HKEY_CLASSES_ROOT, ts::kCaptureEqualKey, ts::kCaptureEqualText, view));
    }
    const TRegSnapshot before = RegistrySnapshot();

    for (int bits : {32, 64}) {
        for (const TRow& row : rows) {
            if (bits == 64 && !win64) continue;
            SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(bits) + "-bit");
            const engine::TCapture capture = engine::CaptureFile(caseFile(bits, row.name), context);
            EXPECT_TRUE(capture.clean) << capture.outcome.message << "\n" << capture.outcome.details;
            std::vector<TCapturedKey> expected;
            for (const TKey& key : row.keys) {
                expected.push_back({key.root, key.path, key.values, key.view != 0 && key.view != bits, key.deleted});
            }
            EXPECT_EQ(Listed(capture.keys), Listed(expected));
            ExpectPlaced(capture, bits);
        }
    }
    const engine::TCapture registered = engine::CaptureFile(tlb, context);
    const TRegSnapshot after = RegistrySnapshot();
    EXPECT_TRUE(before == after) << SnapshotDifferences(before, after);

    // The type library: the same capture as when it was not registered, its
    // interface once in each view, each key of the library once, in the
    // server's view (Windows shares TypeLib between the views).
    EXPECT_TRUE(bare.clean && registered.clean) << bare.outcome.details << registered.outcome.details;
    EXPECT_EQ(Listed(registered.keys), Listed(bare.keys));
    int own = 0, other = 0, versions = 0;
    for (const TCapturedKey& key : registered.keys) {
        if (Lower(key.path) == Lower(iface)) ++(key.otherView ? other : own);
        const bool library = Lower(key.path).compare(0, typeLib.size(), Lower(typeLib)) == 0;
        EXPECT_FALSE(library && key.otherView) << key.path;
        versions += Lower(key.path) == Lower(version);
    }
    EXPECT_EQ(own, 1);
    EXPECT_EQ(other, win64 ? 1 : 0);
    EXPECT_EQ(versions, 1);
    ExpectPlaced(registered, 32);

    EXPECT_TRUE(engine::RegisterFileCore(tlb, false, context).success);
    for (const char* key : liveKeys) DeleteInBothViews(HKEY_CLASSES_ROOT, key);
}

// COM looks classes up in the machine's registry: a registration that asks
// it for a class of its own is not captured the same everywhere, and fails
// naming the class, through either helper.
TEST(CaptureCases, ARegistrationThatAsksComForItsOwnClassFailsNamingIt) {
    if (sizeof(void*) == 8) GTEST_SKIP() << "run by the 32-bit tests, through both helpers";
    const std::string folder = MakeTempDir("capture-ownclass");
    engine::THelperSession helpers;
    for (const char* bits : {"", "x64\\"}) {
        SCOPED_TRACE(bits);
        const std::string sub = folder + (*bits ? "64\\" : "32\\");
        CreateDirectoryA(sub.c_str(), nullptr);
        const std::string file = sub + ts::kCaptureCasePrefix + "ownclass.dll";
        ASSERT_TRUE(CopyTo(TestDataDir() + bits + ts::kCaptureCasesFile, file));
        const engine::TCapture capture = engine::CaptureFile(file, engine::TRegContext());
        EXPECT_FALSE(capture.outcome.success);
        EXPECT_NE(capture.outcome.details.find("asks COM for a class of its own"), std::string::npos)
            << capture.outcome.details;
        EXPECT_NE(capture.outcome.details.find(ts::kCaptureOwnClassKey), std::string::npos) << capture.outcome.details;
    }
}

}  // namespace
