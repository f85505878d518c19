// Captures through the real helpers: a server's keys come back, and neither
// registry view changes; a server that undoes the redirection fails, naming
// what it wrote; executable servers are refused.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestServerIds.h"
#include "engine/uCapture.h"
#include "engine/uHelper.h"
#include "engine/uRegIntercept.h"
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

const char kScratchParent[] = "Software\\Quorvandel\\Corvantis Capture";

// The registry a registration would change, in both views. While a helper
// that captured runs, its scratch keys stand under HKEY_CURRENT_USER\Software:
// `withScratch` false leaves out the vendor key that holds them.
std::string Snapshot(bool withScratch = true) {
    std::string out;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        for (const char* path : {"CLSID", "TypeLib", "Interface"}) Dump(HKEY_CLASSES_ROOT, path, view, 8, out);
        Dump(HKEY_LOCAL_MACHINE, "Software\\Classes", view, 0, out);
        Dump(HKEY_CURRENT_USER, "Software", view, 0, out);
    }
    const std::string vendor = "[Software\\Quorvandel]\n";
    for (size_t at; !withScratch && (at = out.find(vendor)) != std::string::npos;) out.erase(at, vendor.size());
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

// The key of HKEY_CLASSES_ROOT the capture writes (not a deletion), or null.
const engine::TCapturedKey* FindKey(const engine::TCapture& capture, const std::string& path) {
    for (const engine::TCapturedKey& key : capture.keys) {
        if (!key.deleted && key.root == engine::TCaptureRoot::ClassesRoot &&
            lstrcmpiA(key.path.c_str(), path.c_str()) == 0) {
            return &key;
        }
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
    const std::string first = Snapshot();
    auto helpers = std::make_unique<engine::THelperSession>();
    engine::TRegContext context;
    for (const TCaptureCase& c : cases) {
        SCOPED_TRACE(c.file);
        if (c.x64 && !Win64()) continue;
        if (!c.x64 && sizeof(void*) == 8) continue;  // a 64-bit build of the tests has no 32-bit helper
        const std::string path = TestDataDir() + c.file;
        const std::string before = Snapshot(false);
        const engine::TCapture capture = engine::CaptureFile(path, context);
        const std::string after = Snapshot(false);
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
    }
    // The helpers end with the session: nothing is left of the scratch keys.
    helpers.reset();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratchParent));
    const std::string last = Snapshot();
    EXPECT_TRUE(first == last) << FirstDifference(first, last);
}

// The path of this process's scratch root `root` ("HKCR", "HKLM", "HKCU",
// "HKU") below HKEY_CURRENT_USER, found by its process id; "" when none.
std::string ScratchRoot(const char* root) {
    HKEY parent = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kScratchParent, 0, KEY_READ, &parent) != ERROR_SUCCESS) return "";
    const std::string mine = std::to_string(GetCurrentProcessId()) + "-";
    std::string found;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(parent, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (std::string(name, length).compare(0, mine.size(), mine) == 0) found = name;
    }
    RegCloseKey(parent);
    return found.empty() ? "" : std::string(kScratchParent) + "\\" + found + "\\" + root;
}

TEST(Capture, EveryCaptureStartsFromTheSeed) {
    // The servers of this build's bitness, in this process, as a helper
    // captures: the scratch keys stay between
    // captures. Whatever changes them between two captures (a server's
    // thread writing late, as this test does) is put back before the next
    // one, and the next capture holds its server's keys alone.
    engine::TRegContext context;
    const std::string ok = TestDataDir() + ts::kOkServerFile, lib = TestDataDir() + ts::kTestLibFile;
    const std::string seedClass = "CLSID\\{0002E005-0000-0000-C000-000000000046}";
    struct TChange {
        const char* what;
        std::function<void(const std::string& hkcr, const std::string& hkcu)> make;
    };
    const TChange changes[] = {
        {"nothing", [](const std::string&, const std::string&) {}},
        {"a key added below the seed",
         [](const std::string& hkcr, const std::string&) {
             HKEY key = nullptr;
             RegCreateKeyExA(HKEY_CURRENT_USER, (hkcr + "\\CLSID\\{11111111-2222-3333-4444-555555555555}\\Sub").c_str(),
                             0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
             RegCloseKey(key);
         }},
        {"a seed key deleted, the canary changed",
         [&](const std::string& hkcr, const std::string&) {
             DeleteTree(HKEY_CURRENT_USER, hkcr + "\\" + seedClass);
             const DWORD two = 2;
             RegSetKeyValueA(HKEY_CURRENT_USER, hkcr.c_str(), "Corvantis Capture Canary", REG_DWORD, &two, sizeof two);
         }},
        {"a value added to a seed key",
         [](const std::string&, const std::string& hkcu) {
             RegSetKeyValueA(HKEY_CURRENT_USER, (hkcu + "\\Software\\Classes").c_str(), "Late", REG_SZ, "x", 2);
         }},
    };
    // The seed as the first capture found it.
    const engine::TCapture first = engine::CaptureInThisProcess(engine::TServerKind::TypeLibrary, lib, context);
    ASSERT_TRUE(first.clean) << first.outcome.details;
    const std::string hkcr = ScratchRoot("HKCR"), hkcu = ScratchRoot("HKCU");
    ASSERT_FALSE(hkcr.empty());
    std::string seedDump, userDump;
    Dump(HKEY_CURRENT_USER, hkcr, 0, 8, seedDump);
    Dump(HKEY_CURRENT_USER, hkcu, 0, 8, userDump);
    int n = 0;
    for (const TChange& change : changes) {
        SCOPED_TRACE(change.what);
        change.make(hkcr, hkcu);
        // Two servers in turn: neither capture holds the other's keys.
        const bool okNow = n++ % 2 == 0;
        const engine::TCapture capture =
            okNow ? engine::CaptureInThisProcess(engine::TServerKind::Library, ok, context)
                  : engine::CaptureInThisProcess(engine::TServerKind::TypeLibrary, lib, context);
        ASSERT_TRUE(capture.clean) << capture.outcome.details;
        EXPECT_EQ(FindKey(capture, ts::kOkServerClsidKey) != nullptr, okNow);
        const std::string libKey = std::string("TypeLib\\") + ts::kTestLibLibidString + "\\" + ts::kTestLibVersionString;
        EXPECT_EQ(FindKey(capture, libKey) != nullptr, !okNow);
        for (const engine::TCapturedKey& key : capture.keys) {
            EXPECT_EQ(key.path.find("11111111-2222"), std::string::npos) << key.path;
            EXPECT_NE(lstrcmpiA(key.path.c_str(), seedClass.c_str()), 0) << key.path;
            for (const engine::TCapturedValue& value : key.values) EXPECT_NE(value.name, "Late") << key.path;
        }
        // After it, the scratch keys hold the seed again.
        std::string dump, user;
        Dump(HKEY_CURRENT_USER, hkcr, 0, 8, dump);
        Dump(HKEY_CURRENT_USER, hkcu, 0, 8, user);
        EXPECT_EQ(dump, seedDump);
        EXPECT_EQ(user, userDump);
    }
    engine::EndCaptures();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratchParent));
}

TEST(Capture, WritesIntoTheSeedAreCapturedAndPutBack) {
    // What a server writes into the seed while it registers (made here as
    // the redirection starts, through the redirected predefined keys) is
    // captured as written, and put back after the capture: settled at once,
    // or by the settling thread as a helper does.
    const std::string ok = TestDataDir() + ts::kOkServerFile;
    const char* const seedClass = "CLSID\\{0002E005-0000-0000-C000-000000000046}";
    struct TCase {
        const char* what;
        std::function<void()> write;
        const char* value;     // the value of the seed class the capture holds; null: none of it
        const char* expected;  // its text
        bool deletedFirst;     // the capture deletes the seed class before it writes it
    };
    const TCase cases[] = {
        {"a value added to a seed class",
         [&] { RegSetKeyValueA(HKEY_CLASSES_ROOT, seedClass, "Extra", REG_SZ, "x", 2); }, "Extra", "x", false},
        {"a seed class made again with another name",
         [&] {
             DeleteTree(HKEY_CLASSES_ROOT, seedClass);
             RegSetKeyValueA(HKEY_CLASSES_ROOT, seedClass, nullptr, REG_SZ, "Other", 6);
         },
         "", "Other", true},
        {"the canary changed",
         [] {
             const DWORD two = 2;
             RegSetValueExA(HKEY_CLASSES_ROOT, "Corvantis Capture Canary", 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&two), sizeof two);
         },
         nullptr, nullptr, false},
    };
    std::function<void()> during;
    engine::TRegContext context;
    context.onPhase = [&during](engine::TPhase phase) {
        if (phase == engine::TPhase::Calling && during) during();
    };
    ASSERT_TRUE(engine::CaptureInThisProcess(engine::TServerKind::Library, ok, context).clean);
    const std::string hkcr = ScratchRoot("HKCR");
    std::string seedDump;
    Dump(HKEY_CURRENT_USER, hkcr, 0, 8, seedDump);
    for (int later = 0; later < 2; ++later) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (later ? ", settled by the thread" : ", settled at once"));
            during = c.write;
            const engine::TCapture capture =
                engine::CaptureInThisProcess(engine::TServerKind::Library, ok, context, later != 0);
            during = nullptr;
            if (later) {
                engine::SettleCapture();
                engine::AwaitSettledCapture();
            }
            ASSERT_TRUE(capture.clean) << capture.outcome.details;
            EXPECT_NE(FindKey(capture, ts::kOkServerClsidKey), nullptr);
            const engine::TCapturedKey* seed = FindKey(capture, seedClass);
            ASSERT_EQ(seed != nullptr, c.value != nullptr);
            bool deletedFirst = false;
            for (const engine::TCapturedKey& key : capture.keys) {
                if (&key == seed) break;
                deletedFirst = deletedFirst || (key.deleted && lstrcmpiA(key.path.c_str(), seedClass) == 0);
            }
            EXPECT_EQ(deletedFirst, c.deletedFirst);
            if (seed) {
                ASSERT_EQ(seed->values.size(), 1u);
                EXPECT_EQ(seed->values[0].name, c.value);
                EXPECT_EQ(Text(seed->values[0]), c.expected);
            }
            std::string dump;
            Dump(HKEY_CURRENT_USER, hkcr, 0, 8, dump);
            EXPECT_EQ(dump, seedDump);
        }
    }
    engine::EndCaptures();
}

TEST(Capture, AValueChangedLiveInAKeyTheCaptureHoldsFailsItAndStays) {
    // A write the interception cannot see (another program's, made here by
    // a thread the interception leaves alone) into an existing live key
    // that the capture holds: the capture fails naming the key, and the
    // change is left as it was made.
    const std::string ok = TestDataDir() + ts::kOkServerFile;
    const std::string live = std::string("Software\\Classes\\") + ts::kOkServerClsidKey;
    // Opened before the capture redirects this process's predefined keys.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, live.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("before"), 7);
    engine::TRegContext context;
    context.onPhase = [key](engine::TPhase phase) {
        if (phase != engine::TPhase::Calling) return;
        std::thread other([key] {
            engine::TInterceptExempt outside;
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("other"), 6);
        });
        other.join();
    };
    const engine::TCapture capture = engine::CaptureInThisProcess(engine::TServerKind::Library, ok, context);
    RegCloseKey(key);
    const std::string now = ReadString(HKEY_LOCAL_MACHINE, live.c_str(), "");
    DeleteTree(HKEY_LOCAL_MACHINE, live.c_str());
    engine::EndCaptures();
    EXPECT_FALSE(capture.outcome.success);
    ASSERT_EQ(capture.liveKeys.size(), 1u) << capture.outcome.details;
    EXPECT_EQ(lstrcmpiA(capture.liveKeys[0].c_str(), ("HKEY_LOCAL_MACHINE\\" + live).c_str()), 0) << capture.liveKeys[0];
    EXPECT_EQ(now, "other");
}

TEST(Capture, ScratchKeysOfProcessesThatEndedGoWhenAProgramStarts) {
    // Scratch keys are named "<process id>-<creation time>-<n>": those of a
    // process that no longer runs, or of a process id now reused by another
    // process, go when any Corvantis program starts; a running process's
    // stay.
    if (sizeof(void*) == 8) GTEST_SKIP() << "the 32-bit build holds the programs";
    FILETIME created{}, exited{}, kernel{}, user{};
    ASSERT_TRUE(GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user));
    char own[64], reused[64];
    std::snprintf(own, sizeof own, "%lu-%llx-7", GetCurrentProcessId(),
                  (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
    std::snprintf(reused, sizeof reused, "%lu-1234-7", GetCurrentProcessId());
    const struct {
        const char* name;
        bool kept;
    } keys[] = {{own, true}, {reused, false}, {"4294967292-1234-1", false}};
    const std::string parent = "Software\\Quorvandel\\Corvantis Capture\\";
    for (const auto& key : keys) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (parent + key.name + "\\HKCR\\CLSID").c_str(), nullptr, REG_SZ,
                                  "x", 2),
                  ERROR_SUCCESS);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + BinDir() + "CorvantisCmd.exe\" --version";
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &process));
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (const auto& key : keys) EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, parent + key.name), key.kept) << key.name;
    DeleteTree(HKEY_CURRENT_USER, "Software\\Quorvandel");
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
    // The same helper then registers for the current user, which redirects
    // the classes root itself: the last capture's settling is over by then,
    // so the registration lands in the user's classes, and the next capture
    // starts from the seed again.
    engine::TRegContext perUser;
    perUser.perUser = true;
    engine::UseHelpers(perUser);
    const std::string classesKey = std::string("Software\\Classes\\") + ts::kOkServerClsidKey;
    ASSERT_TRUE(engine::RegisterFileCore(path, true, perUser).success);
    EXPECT_EQ(helpers.For(engine::pe::TMachine::X86).ProcessId(), helper);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, classesKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, classesKey));
    ASSERT_TRUE(engine::RegisterFileCore(path, false, perUser).success);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, classesKey));
    const engine::TCapture again = engine::CaptureFile(path, context);
    EXPECT_TRUE(again.clean) << again.outcome.details;
    EXPECT_EQ(again.keys.size(), 2u);
}

TEST(Capture, AServerThatUndoesTheRedirectionIsCapturedWithoutWritingLive) {
    // The redirection is only the first layer: the interception beneath it
    // keeps the server's writes from the live registry and records them.
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
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY key = nullptr;
            EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, ts::kUndoServerClsidKey, 0, KEY_READ | view, &key),
                      ERROR_SUCCESS);
            if (key) RegCloseKey(key);
        }
        EXPECT_TRUE(capture.clean) << capture.outcome.details;
        EXPECT_NE(FindKey(capture, ts::kUndoServerClsidKey), nullptr);
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
