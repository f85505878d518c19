// Captures through the real helpers: a server's keys come back, and neither
// registry view changes; a server that undoes the redirection fails, naming
// what it wrote; executable servers are refused.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "engine/uCapture.h"
#include "engine/uHelper.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

// Every key below `path` with its values, one line each, in one view.
void Dump(HKEY root, const std::string& path, REGSAM view, int depth, std::string& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    out += "[" + path + "]\n";
    char name[1024];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof name, size = sizeof data, type = 0;
        LONG result = RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) continue;
        out += std::string(name, nameLength) + "|" + std::to_string(type) + "|" +
               std::string(reinterpret_cast<char*>(data), size) + "\n";
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        LONG result = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_SUCCESS) subkeys.push_back(std::string(name, length));
    }
    RegCloseKey(key);
    for (const std::string& subkey : subkeys) {
        if (depth > 0) {
            Dump(root, path + "\\" + subkey, view, depth - 1, out);
        } else {
            out += "[" + path + "\\" + subkey + "]\n";
        }
    }
}

// The registry a registration would change, in both views.
std::string Snapshot() {
    std::string out;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        for (const char* path : {"CLSID", "TypeLib", "Interface"}) Dump(HKEY_CLASSES_ROOT, path, view, 8, out);
        Dump(HKEY_LOCAL_MACHINE, "Software\\Classes", view, 0, out);
        Dump(HKEY_CURRENT_USER, "Software", view, 0, out);
    }
    return out;
}

// The first line where two snapshots differ, for the failure message.
std::string FirstDifference(const std::string& a, const std::string& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    size_t start = a.rfind('\n', i);
    start = start == std::string::npos ? 0 : start + 1;
    return "before: " + a.substr(start, a.find('\n', i) - start) + "\nafter:  " + b.substr(start, b.find('\n', i) - start);
}

const engine::TCapturedKey* FindKey(const engine::TCapture& capture, const std::string& path) {
    for (const engine::TCapturedKey& key : capture.keys) {
        if (key.root == engine::TCaptureRoot::ClassesRoot && lstrcmpiA(key.path.c_str(), path.c_str()) == 0) return &key;
    }
    return nullptr;
}

// A REG_SZ value's text (UTF-16LE bytes with their NUL) as UTF-8.
std::string Text(const engine::TCapturedValue& value) {
    std::wstring wide(value.data.size() / 2, L'\0');
    if (!wide.empty()) std::memcpy(&wide[0], value.data.data(), wide.size() * 2);
    while (!wide.empty() && wide.back() == L'\0') wide.pop_back();
    char out[2048] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

bool Win64() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

struct TCaptureCase {
    const char* file;        // below the test data folder
    bool x64;                // a 64-bit server
    std::string key;         // below HKEY_CLASSES_ROOT
    const char* valueName;   // a value of that key, "" for the default
    std::string valueText;   // its text; "=file" for the server's own path
};

TEST(Capture, GivesTheServersKeysAndLeavesBothViewsUnchanged) {
    // The 32-bit build of the tests drives both helpers with servers of both
    // bitnesses; the 64-bit build has only the 64-bit ones.
    if (sizeof(void*) == 8) GTEST_SKIP() << "run by the 32-bit tests, through both helpers";
    const std::string inproc = ts::kOkServerInprocKey;
    const TCaptureCase cases[] = {
        {ts::kOkServerFile, false, inproc, "", "=file"},
        {ts::kOkServerFile, false, inproc, ts::kOkServerThreadingModelValue, ts::kOkServerThreadingModel},
        {ts::kOkServerFile, false, ts::kOkServerClsidKey, "", ts::kOkServerDescription},
        {"x64\\OkServer.dll", true, inproc, "", "=file"},
        {ts::kTestLibFile, false,
         std::string("TypeLib\\") + ts::kTestLibLibidString + "\\" + ts::kTestLibVersionString, "", ts::kTestLibHelpString},
    };
    engine::THelperSession helpers;
    engine::TRegContext context;
    for (const TCaptureCase& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.x64 && !Win64()) continue;
        if (!c.x64 && sizeof(void*) == 8) continue;  // a 64-bit build of the tests has no 32-bit helper
        const std::string path = TestDataDir() + c.file;
        const std::string before = Snapshot();
        const engine::TCapture capture = engine::CaptureFile(path, context);
        const std::string after = Snapshot();
        EXPECT_TRUE(before == after) << FirstDifference(before, after);
        ASSERT_TRUE(capture.clean) << capture.outcome.message << "\n" << capture.outcome.details;
        EXPECT_TRUE(capture.outcome.success);
        EXPECT_TRUE(capture.liveKeys.empty());
        EXPECT_EQ(capture.wow64, !c.x64 && Win64());
        // The seed is not part of the capture.
        EXPECT_EQ(FindKey(capture, "CLSID\\{0002E005-0000-0000-C000-000000000046}"), nullptr);
        const engine::TCapturedKey* key = FindKey(capture, c.key);
        ASSERT_NE(key, nullptr) << c.key;
        const engine::TCapturedValue* value = nullptr;
        for (const engine::TCapturedValue& v : key->values) {
            if (lstrcmpiA(v.name.c_str(), c.valueName) == 0) value = &v;
        }
        ASSERT_NE(value, nullptr) << c.valueName;
        EXPECT_EQ(value->type, static_cast<std::uint32_t>(REG_SZ));
        const std::string expected = c.valueText == "=file" ? path : c.valueText;
        EXPECT_EQ(lstrcmpiA(Text(*value).c_str(), expected.c_str()), 0) << Text(*value) << " vs " << expected;
        // On 64-bit Windows a 32-bit type library's interfaces are mirrored
        // into the 64-bit view; the capture holds the mirror as such.
        if (c.valueText == ts::kTestLibHelpString && capture.wow64) {
            const std::string iface = std::string("Interface\\") + ts::kTestLibInterfaceIidString;
            bool mirrored = false, own = false;
            for (const engine::TCapturedKey& k : capture.keys) {
                if (lstrcmpiA(k.path.c_str(), iface.c_str()) != 0) continue;
                (k.otherView ? mirrored : own) = true;
            }
            EXPECT_TRUE(own);
            EXPECT_TRUE(mirrored);
        }
        // Nothing is left of the scratch keys.
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Quorvandel\\Corvantis Capture"));
    }
}

TEST(Capture, AHelperServesManyCaptures) {
    if (sizeof(void*) == 8) GTEST_SKIP() << "the 32-bit server needs the 32-bit helper";
    engine::THelperSession helpers;
    engine::TRegContext context;
    const std::string path = TestDataDir() + ts::kOkServerFile;
    unsigned long helper = 0;
    for (int i = 0; i < 3; ++i) {
        const engine::TCapture capture = engine::CaptureFile(path, context);
        EXPECT_TRUE(capture.clean) << i << ": " << capture.outcome.details;
        EXPECT_NE(FindKey(capture, ts::kOkServerInprocKey), nullptr) << i;
        const unsigned long id = helpers.For(engine::pe::TMachine::X86).ProcessId();
        if (i > 0) {
            EXPECT_EQ(id, helper) << "one helper serves every capture";
        }
        helper = id;
    }
}

TEST(Capture, AServerThatUndoesTheRedirectionFailsNamingItsKey) {
    // The 32-bit build of the tests drives both helpers with servers of both
    // bitnesses; the 64-bit build has only the 64-bit ones.
    if (sizeof(void*) == 8) GTEST_SKIP() << "run by the 32-bit tests, through both helpers";
    engine::TRegContext context;
    std::vector<std::string> files = {TestDataDir() + "UndoServer.dll"};
    if (Win64()) files.push_back(TestDataDir() + "x64\\UndoServer.dll");
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            RegDeleteKeyExA(HKEY_CLASSES_ROOT, ts::kUndoServerClsidKey, view, 0);
        }
        const engine::TCapture capture = engine::CaptureFile(file, context);
        const bool wroteLive = KeyExists(HKEY_CLASSES_ROOT, ts::kUndoServerClsidKey) ||
                               [] {
                                   HKEY key = nullptr;
                                   if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ts::kUndoServerClsidKey, 0,
                                                     KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
                                       return false;
                                   }
                                   RegCloseKey(key);
                                   return true;
                               }();
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            RegDeleteKeyExA(HKEY_CLASSES_ROOT, ts::kUndoServerClsidKey, view, 0);
        }
        EXPECT_TRUE(wroteLive) << "the server is meant to write live";
        EXPECT_FALSE(capture.clean);
        EXPECT_FALSE(capture.outcome.success);
        EXPECT_EQ(capture.outcome.message, "The capture of 'UndoServer.dll' failed.");
        const std::string named = std::string("HKEY_CLASSES_ROOT\\CLSID\\") + (ts::kUndoServerClsidKey + 6);
        bool found = false;
        for (const std::string& key : capture.liveKeys) found = found || lstrcmpiA(key.c_str(), named.c_str()) == 0;
        EXPECT_TRUE(found) << capture.outcome.details;
        EXPECT_NE(capture.outcome.details.find(named), std::string::npos) << capture.outcome.details;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Quorvandel\\Corvantis Capture"));
    }
}

TEST(Capture, AFaultingServerFailsAndLeavesNoScratchKeys) {
    // The 32-bit build of the tests drives both helpers with servers of both
    // bitnesses; the 64-bit build has only the 64-bit ones.
    if (sizeof(void*) == 8) GTEST_SKIP() << "run by the 32-bit tests, through both helpers";
    const std::string before = Snapshot();
    // Scratch keys of a helper that ended while capturing are removed by
    // the next capture.
    const std::string stale = "Software\\Quorvandel\\Corvantis Capture\\4294967280-1\\HKCR\\CLSID";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, stale.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    engine::THelperSession helpers;
    engine::TRegContext context;
    const engine::TCapture capture = engine::CaptureFile(TestDataDir() + ts::kFaultServerFile, context);
    EXPECT_TRUE(before == Snapshot()) << FirstDifference(before, Snapshot());
    EXPECT_FALSE(capture.clean);
    EXPECT_EQ(capture.outcome.failure, engine::TFailure::Faulted) << capture.outcome.details;
    EXPECT_NE(capture.outcome.details.find("0xC0000005"), std::string::npos) << capture.outcome.details;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Quorvandel\\Corvantis Capture"));
    // The helper that served it ended; the next capture gets a new one.
    const engine::TCapture next = engine::CaptureFile(TestDataDir() + ts::kOkServerFile, context);
    EXPECT_EQ(next.clean, sizeof(void*) == 4) << next.outcome.details;
}

TEST(Capture, ExecutableServersAreRefused) {
    engine::TRegContext context;
    const engine::TCapture capture = engine::CaptureFile(TestDataDir() + ts::kExeServerFile, context);
    EXPECT_FALSE(capture.clean);
    EXPECT_FALSE(capture.outcome.success);
    EXPECT_TRUE(capture.keys.empty());
    EXPECT_EQ(capture.outcome.message, "Cannot capture 'ExeServer.exe'.");
    EXPECT_NE(capture.outcome.details.find("the loader runs its code before anything could redirect its registry"),
              std::string::npos)
        << capture.outcome.details;
}

}  // namespace
