// Verification against the real registry: one server walked through every
// state by registering, copying, deleting and overriding for real; the rules
// that compare paths as files, on keys the test writes itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "engine/uHelper.h"
#include "engine/uVerify.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;
using engine::TVerifyDifference;
using engine::TVerifyState;

namespace {

bool Wow64Process() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 4 && IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::string Utf16(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes + std::string(2, '\0');
}

void SetString(HKEY root, const std::string& key, const std::string& name, const std::string& text, DWORD type = REG_SZ) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr), ERROR_SUCCESS)
        << key;
    RegSetValueExA(handle, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(handle);
}

void DeleteValue(HKEY root, const std::string& key, const std::string& name) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &handle), ERROR_SUCCESS) << key;
    EXPECT_EQ(RegDeleteValueA(handle, name.c_str()), ERROR_SUCCESS) << key << " " << name;
    RegCloseKey(handle);
}

// Deletes `key` below the machine's classes in both registry views.
void DeleteBothViews(const std::string& key) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY classes = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes", 0, KEY_ALL_ACCESS | view, &classes) == ERROR_SUCCESS) {
            RegDeleteTreeA(classes, key.c_str());
            RegCloseKey(classes);
        }
    }
}

bool HasKind(const engine::TVerifyResult& result, TVerifyDifference::TKind kind) {
    for (const TVerifyDifference& d : result.differences) {
        if (d.kind == kind) return true;
    }
    return false;
}

// The registry may hold a path in its long form ("\\?\C:\...").
bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Describe(const engine::TVerifyResult& result) {
    return engine::VerifyStateText(result.state) + std::string(": ") + result.Message() + "\n" + result.Details();
}

// What each step does to the registry before the server is verified.
enum class TSetup { Unregister, Register, RegisterCopy, DeleteValue, UserKey };

struct TServer {
    const char* file;       // below the test data folder
    std::string valueKey;   // a key of its registration below HKEY_CLASSES_ROOT...
    const char* valueName;  // ...and a value of it, deleted to make it partly registered
    std::string fileKey;    // the key whose default value names its file
};

TEST(Verify, WalksOneServerThroughEveryState) {
    const std::string libid = std::string("TypeLib\\") + ts::kTestLibLibidString;
    const std::string version = libid + "\\" + ts::kTestLibVersionString;
    std::vector<TServer> servers = {
        // The test data of the 64-bit build holds the 64-bit server.
        {ts::kOkServerFile, ts::kOkServerInprocKey,
         ts::kOkServerThreadingModelValue, ts::kOkServerInprocKey},
    };
    // The test type library is a 32-bit one: the 32-bit tests have its helper.
    if (sizeof(void*) == 4) servers.push_back({ts::kTestLibFile, version + "\\FLAGS", "", version + "\\0\\win32"});
    const struct {
        TSetup setup;
        TVerifyState state;
    } steps[] = {
        {TSetup::Unregister, TVerifyState::NotRegistered},
        {TSetup::Register, TVerifyState::Registered},
        {TSetup::RegisterCopy, TVerifyState::OtherFile},
        {TSetup::DeleteValue, TVerifyState::Partly},
        {TSetup::UserKey, TVerifyState::UserOverride},
    };
    engine::THelperSession helpers;
    for (const TServer& server : servers) {
        SCOPED_TRACE(server.file);
        const std::string fileName = server.file;
        const std::string own = MakeTempDir("verify-own-" + fileName) + fileName;
        const std::string copy = MakeTempDir("verify-copy-" + fileName) + fileName;
        ASSERT_TRUE(CopyTo(TestDataDir() + server.file, own));
        ASSERT_TRUE(CopyTo(TestDataDir() + server.file, copy));
        const std::string userKey = std::string("Software\\Classes\\") + server.fileKey;
        const std::string userTop = std::string("Software\\Classes\\") +
                                    (server.fileKey.rfind("TypeLib", 0) == 0 ? libid : std::string(ts::kOkServerClsidKey));
        DeleteTree(HKEY_CURRENT_USER, userTop);
        engine::TRegContext context;
        engine::UseHelpers(context);
        auto run = [&](const std::string& path, bool register_) {
            const engine::TRegOutcome outcome = engine::RegisterFileCore(path, register_, context);
            EXPECT_TRUE(outcome.success) << path << ": " << outcome.message << "\n" << outcome.details;
        };
        for (const auto& step : steps) {
            SCOPED_TRACE(engine::VerifyStateText(step.state));
            switch (step.setup) {
            case TSetup::Unregister:
                // Unregistering what is not registered may fail (a type
                // library's does); the verification tells.
                engine::RegisterFileCore(own, false, context);
                break;
            case TSetup::Register: run(own, true); break;
            case TSetup::RegisterCopy: run(copy, true); break;
            case TSetup::DeleteValue:
                run(own, true);
                DeleteValue(HKEY_CLASSES_ROOT, server.valueKey, server.valueName);
                break;
            case TSetup::UserKey:
                run(own, true);
                SetString(HKEY_CURRENT_USER, userKey, "", copy);
                break;
            }
            const engine::TVerifyResult result = engine::VerifyFile(own, context);
            EXPECT_EQ(result.state, step.state) << Describe(result);
            EXPECT_EQ(result.file, own);
            EXPECT_GE(result.compared, 3u) << Describe(result);
            EXPECT_EQ(result.Message().rfind("'" + fileName + "' ", 0), 0u) << result.Message();
            switch (step.state) {
            case TVerifyState::NotRegistered:
                EXPECT_EQ(result.equal, 0u);
                EXPECT_EQ(result.differences.size(), result.compared);
                break;
            case TVerifyState::Registered:
                EXPECT_EQ(result.equal, result.compared);
                EXPECT_TRUE(result.differences.empty()) << result.Details();
                EXPECT_EQ(result.Details(), "");
                break;
            case TVerifyState::OtherFile:
                EXPECT_EQ(lstrcmpiA(result.otherFile.c_str(), copy.c_str()), 0) << result.otherFile;
                EXPECT_TRUE(HasKind(result, TVerifyDifference::TKind::OtherFile)) << result.Details();
                EXPECT_NE(result.Message().find(result.otherFile), std::string::npos) << result.Message();
                EXPECT_NE(result.Details().find(copy), std::string::npos) << result.Details();
                break;
            case TVerifyState::Partly:
                // Not fatal here: the walk goes on to remove its keys.
                EXPECT_EQ(result.differences.size(), 1u) << result.Details();
                EXPECT_EQ(result.equal + 1, result.compared);
                for (const TVerifyDifference& d : result.differences) {
                    EXPECT_EQ(d.kind, TVerifyDifference::TKind::Missing);
                    EXPECT_EQ(d.value, server.valueName);
                }
                EXPECT_NE(result.Message().find(std::to_string(result.equal) + " of " + std::to_string(result.compared)),
                          std::string::npos)
                    << result.Message();
                break;
            case TVerifyState::UserOverride: {
                EXPECT_TRUE(HasKind(result, TVerifyDifference::TKind::UserOverride)) << result.Details();
                bool named = false;
                for (const TVerifyDifference& d : result.differences) {
                    named = named || (d.key.rfind("HKEY_CURRENT_USER\\Software\\Classes\\", 0) == 0 &&
                                      d.found == copy && EndsWith(d.machine, own));
                }
                EXPECT_TRUE(named) << result.Details();
                // The machine's registration is untouched: only the user's
                // key differs.
                EXPECT_TRUE(EndsWith(ReadString(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + server.fileKey, ""), own));
                break;
            }
            case TVerifyState::UserOnly:
            case TVerifyState::NotVerified: break;
            }
            EXPECT_NE(engine::VerifyJson(result).find(std::string("\"compared\":") + std::to_string(result.compared)),
                      std::string::npos);
        }
        DeleteTree(HKEY_CURRENT_USER, userTop);
        run(own, false);
    }
}

// What a row of the outcome table registers or writes live before the
// file is verified (OkServer in copies A and B; the x64 OkServer; the test
// type library), and what it adds to B's capture.
enum TLive : unsigned {
    kMachineA = 1,       // A registered for the machine
    kMachineB = 2,       // B registered for the machine
    kUserB = 4,          // B registered for the current user
    kMachine64 = 8,      // the 64-bit OkServer registered for the machine
    kTypeLib = 16,       // the test type library registered, and its keys part of the capture
    kQuotedB = 32,       // B's InprocServer32 rewritten as "B" in quotes
    kLegacyValue = 64,   // the class key holds "LegacyOption"
    kLegacyKey = 128,    // the class has an InprocServer key
    kDeletesValue = 256, // the capture deletes "LegacyOption"
    kDeletesKey = 512,   // the capture deletes the InprocServer key
    kDeletesFirst = 1024, // the capture deletes the InprocServer32 key before writing it
    kVerifyA = 2048,     // A is verified instead of B
    kBelowOnly = 4096,   // the capture deletes the class key, and only the key below writes it again
    kBothModel = 8192,   // the machine's ThreadingModel is "Both"
    kOtherView = 16384,  // the capture writes its class keys into the other view too
    kTypeLibAlone = 32768, // the test type library registered, and its capture alone verified
    kShared = 65536,     // then TestLibShared.tlb registered, whose interface is the test type library's
    kSharedGone = 131072, // then TestLibShared.tlb's TypeLib key deleted
};

// One table of outcomes: each row's live state, made by real registrations
// (for the machine and for the current user) and a few direct writes, then
// the state, the verdict a detection rule takes (the runner's exit code)
// and a phrase of the message and details ({A} stands for copy A's path).
TEST(Verify, EachLiveStateHasItsOutcome) {
    if (sizeof(void*) == 8) GTEST_SKIP() << "run by the 32-bit tests, with the 32-bit test type library";
    using TVerdict = engine::TVerifyResult::TVerdict;
    const struct {
        const char* name;
        unsigned live;
        TVerifyState state;
        TVerdict verdict;
        std::string phrase;
    } rows[] = {
        {"machine A, user B", kMachineA | kUserB, TVerifyState::UserOnly, TVerdict::Fails,
         "name another file, \"{A}\": programs that run elevated and other users load that one."},
        {"machine A, user B, A verified", kMachineA | kUserB | kVerifyA, TVerifyState::UserOverride, TVerdict::Fails,
         "for the current user, hiding the machine's \"{A}\""},
        {"user B alone", kUserB, TVerifyState::UserOnly, TVerdict::Holds,
         "Software\\Classes), which programs that run elevated and other users read, lack it."},
        {"machine and user B", kMachineB | kUserB, TVerifyState::UserOnly, TVerdict::Holds, "which name the same file"},
        {"machine B with another model, user B", kMachineB | kUserB | kBothModel, TVerifyState::UserOnly,
         TVerdict::Holds,
         "which name the same file: programs that run elevated and other users load it too.\n"
         "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}\\InprocServer32: "
         "\"ThreadingModel\" is \"Both\"; expected \"Apartment\"."},
        {"machine B quoted", kMachineB | kQuotedB, TVerifyState::Registered, TVerdict::Holds, "is registered."},
        {"shared type library values only", kMachine64 | kTypeLib, TVerifyState::NotRegistered, TVerdict::Fails,
         "is not registered."},
        {"the other view's class only", kMachine64 | kOtherView, TVerifyState::NotRegistered, TVerdict::Fails,
         "is not registered."},
        {"type library and class", kMachineB | kTypeLib, TVerifyState::Registered, TVerdict::Holds, "is registered."},
        {"deleted value present", kMachineB | kLegacyValue | kDeletesValue, TVerifyState::Partly, TVerdict::Fails,
         "3 of 4 values are present and equal.\nHKEY_CLASSES_ROOT\\CLSID\\{9EE2073F-F6EF-48CF-A9C7-38C2FFA1F91E}: "
         "\"LegacyOption\" is present (\"1\"); the registration deletes it."},
        {"deleted value absent", kMachineB | kDeletesValue, TVerifyState::Registered, TVerdict::Holds,
         "is registered."},
        {"deleted key present", kMachineB | kLegacyKey | kDeletesKey, TVerifyState::Partly, TVerdict::Fails,
         "\\InprocServer: the key is present; the registration deletes it."},
        {"deleted key written again", kMachineB | kDeletesFirst, TVerifyState::Registered, TVerdict::Holds,
         "is registered."},
        {"deleted key, a key below written again", kMachineB | kBelowOnly, TVerifyState::Registered,
         TVerdict::Holds, "is registered."},
        // An interface two type libraries declare names the last registered.
        {"type library, its interface claimed by another", kTypeLibAlone | kShared,
         TVerifyState::Registered, TVerdict::Holds, "is registered."},
        {"type library, its interface claimed by one since removed", kTypeLibAlone | kShared | kSharedGone,
         TVerifyState::Partly, TVerdict::Fails,
         std::string(ts::kTestLibInterfaceIidString) + "\\TypeLib: the default value is \"" +
             ts::kTestLibSharedLibidString + "\"; expected \"" + ts::kTestLibLibidString + "\"."},
    };
    const std::string a = MakeTempDir("verify-table-a") + ts::kOkServerFile;
    const std::string b = MakeTempDir("verify-table-b") + ts::kOkServerFile;
    const std::string x64 = MakeTempDir("verify-table-x64") + ts::kOkServerFile;
    const std::string typeLibDir = MakeTempDir("verify-table-tlb");
    const std::string typeLib = typeLibDir + ts::kTestLibFile, shared = typeLibDir + ts::kTestLibSharedFile;
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, a));
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, b));
    ASSERT_TRUE(CopyTo(TestDataDir() + "x64\\" + ts::kOkServerFile, x64));
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kTestLibFile, typeLib));
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kTestLibSharedFile, shared));
    engine::THelperSession helpers;
    engine::TRegContext machine, user;
    user.perUser = true;
    engine::UseHelpers(machine);
    engine::UseHelpers(user);
    const std::string classKey = std::string("Software\\Classes\\") + ts::kOkServerClsidKey;
    const std::string legacyKey = std::string(ts::kOkServerClsidKey) + "\\InprocServer";
    const std::string inprocKey = std::string("Software\\Classes\\") + ts::kOkServerInprocKey;
    auto clear = [&] {
        DeleteTree(HKEY_CURRENT_USER, classKey);
        DeleteTree(HKEY_LOCAL_MACHINE, classKey);
        engine::RegisterFileCore(x64, false, machine);
        engine::RegisterFileCore(shared, false, machine);
        engine::RegisterFileCore(typeLib, false, machine);
        // Unregistering skips what another library has claimed, or what is
        // left without its library.
        DeleteBothViews(std::string("TypeLib\\") + ts::kTestLibSharedLibidString);
        DeleteBothViews(std::string("Interface\\") + ts::kTestLibInterfaceIidString);
    };
    engine::TCapture captured = engine::CaptureFile(b, machine);
    ASSERT_TRUE(captured.clean) << captured.outcome.details;
    engine::TCapture capturedA = engine::CaptureFile(a, machine);
    const engine::TCapture typeLibCapture = engine::CaptureFile(typeLib, machine);
    ASSERT_TRUE(typeLibCapture.clean) << typeLibCapture.outcome.details;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        clear();
        auto registerFile = [](const std::string& path, const engine::TRegContext& context) {
            const engine::TRegOutcome outcome = engine::RegisterFileCore(path, true, context);
            EXPECT_TRUE(outcome.success) << path << ": " << outcome.message << "\n" << outcome.details;
        };
        if (row.live & kMachineA) registerFile(a, machine);
        if (row.live & kMachineB) registerFile(b, machine);
        if (row.live & kUserB) registerFile(b, user);
        if (row.live & kMachine64) registerFile(x64, machine);
        if (row.live & (kTypeLib | kTypeLibAlone)) registerFile(typeLib, machine);
        if (row.live & kShared) registerFile(shared, machine);
        if (row.live & kSharedGone) DeleteBothViews(std::string("TypeLib\\") + ts::kTestLibSharedLibidString);
        if (row.live & kQuotedB) SetString(HKEY_LOCAL_MACHINE, inprocKey, "", "\"" + b + "\"");
        if (row.live & kLegacyValue) SetString(HKEY_LOCAL_MACHINE, classKey, "LegacyOption", "1");
        if (row.live & kBothModel) SetString(HKEY_LOCAL_MACHINE, inprocKey, "ThreadingModel", "Both");
        if (row.live & kLegacyKey) SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + legacyKey, "", "old.dll");
        engine::TCapture capture = (row.live & kTypeLibAlone) ? typeLibCapture
                                   : (row.live & kVerifyA)    ? capturedA
                                                              : captured;
        if (row.live & kOtherView) {
            for (size_t i = 0, count = capture.keys.size(); i < count; ++i) {
                capture.keys.push_back(capture.keys[i]);
                capture.keys.back().otherView = true;
            }
        }
        if (row.live & kBelowOnly) {
            auto classKeyEntry = [](const engine::TCapturedKey& key) { return key.path == ts::kOkServerClsidKey; };
            auto& keys = capture.keys;
            keys.erase(std::remove_if(keys.begin(), keys.end(), classKeyEntry), keys.end());
        }
        if (row.live & kTypeLib) {
            capture.keys.insert(capture.keys.end(), typeLibCapture.keys.begin(), typeLibCapture.keys.end());
        }
        for (engine::TCapturedKey& key : capture.keys) {
            if ((row.live & kDeletesValue) && key.path == ts::kOkServerClsidKey) {
                key.values.push_back(engine::TCapturedValue{"LegacyOption", 0, "", true});
            }
        }
        engine::TCapturedKey deleted;
        deleted.deleted = true;
        deleted.path = legacyKey;
        if (row.live & kDeletesKey) capture.keys.push_back(deleted);
        deleted.path = ts::kOkServerInprocKey;
        if (row.live & kDeletesFirst) capture.keys.insert(capture.keys.begin(), deleted);
        deleted.path = ts::kOkServerClsidKey;
        if (row.live & kBelowOnly) capture.keys.insert(capture.keys.begin(), deleted);
        const engine::TVerifyResult result = engine::CompareWithLive(capture);
        EXPECT_EQ(result.state, row.state) << Describe(result);
        EXPECT_EQ(result.Verdict(), row.verdict) << Describe(result);
        std::string phrase = row.phrase;
        const size_t copyA = phrase.find("{A}");
        if (copyA != std::string::npos) phrase.replace(copyA, 3, a);
        EXPECT_NE((result.Message() + "\n" + result.Details()).find(phrase), std::string::npos)
            << phrase << "\n" << Describe(result);
        if (row.state == TVerifyState::UserOnly) {
            EXPECT_NE(engine::VerifyJson(result).find("\"state\":\"user only\""), std::string::npos);
        }
    }
    clear();
}

TEST(Verify, AnExecutableServerCannotBeVerified) {
    engine::TRegContext context;
    const engine::TVerifyResult result = engine::VerifyFile(TestDataDir() + ts::kExeServerFile, context);
    EXPECT_EQ(result.state, TVerifyState::NotVerified);
    EXPECT_EQ(result.Message(), "'ExeServer.exe' could not be verified: Cannot capture 'ExeServer.exe'.");
    EXPECT_NE(result.Details().find("executable server"), std::string::npos) << result.Details();
    EXPECT_NE(engine::VerifyJson(result).find("\"state\":\"not verified\""), std::string::npos);
}

// One captured value against a live value the test writes: paths compare
// as files, other text as text; component categories are not compared.
TEST(Verify, ComparesPathsAsFiles) {
    const std::string dir = MakeTempDir("verify-paths");
    const std::string server = dir + "Long Server Name.dll";
    const std::string other = dir + "Other Server.dll";
    const std::string link = dir + "Linked.dll";
    const std::string program = dir + "Local Server.exe", otherProgram = dir + "Other Server.exe";
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, program));
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, otherProgram));
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, server));
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kOkServerFile, other));
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), server.c_str(), nullptr));
    char shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(server.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(lstrcmpiA(shortName, server.c_str()), 0) << "no short name";
    ScopedEnv env("CORVANTIS_VERIFY_DIR", dir.substr(0, dir.size() - 1));
    std::string upper = server;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const std::string clsid = "CLSID\\{6C0B5E1A-7E38-4C5B-9D6B-2B8D2F0C1A11}";
    const std::string inproc = clsid + "\\InprocServer32", local = clsid + "\\LocalServer32";
    const std::string win32 = "TypeLib\\{6C0B5E1A-7E38-4C5B-9D6B-2B8D2F0C1A12}\\1.0\\0\\win32";
    const std::string category = "Component Categories\\{6C0B5E1A-7E38-4C5B-9D6B-2B8D2F0C1A13}";
    const struct {
        std::string key, name, expected;  // the captured value (REG_SZ)
        std::string live;                 // written live; "-" for none
        DWORD liveType;
        TVerifyState state;
        std::string user = "-";           // written under the current user's classes
    } cases[] = {
        // The current user's key hides the machine's.
        {inproc, "", server, other, REG_SZ, TVerifyState::UserOnly, server},
        {inproc, "ThreadingModel", "Apartment", "Apartment", REG_SZ, TVerifyState::UserOverride, ""},
        {inproc, "", server, server, REG_SZ, TVerifyState::Registered},
        {inproc, "", server, upper, REG_SZ, TVerifyState::Registered},
        {inproc, "", server, shortName, REG_SZ, TVerifyState::Registered},
        {inproc, "", server, "%CORVANTIS_VERIFY_DIR%\\Long Server Name.dll", REG_EXPAND_SZ, TVerifyState::Registered},
        {inproc, "", server, link, REG_SZ, TVerifyState::Registered},
        {inproc, "", server, other, REG_SZ, TVerifyState::OtherFile},
        {inproc, "", server, "-", REG_SZ, TVerifyState::NotRegistered},
        {inproc, "ThreadingModel", "Apartment", "apartment", REG_SZ, TVerifyState::Registered},
        {inproc, "ThreadingModel", "Apartment", "Both", REG_SZ, TVerifyState::Partly},
        {local, "", "\"" + program + "\" /automation", program + " /automation", REG_SZ, TVerifyState::Registered},
        {local, "", "\"" + program + "\" /automation", "\"" + program + "\"", REG_SZ, TVerifyState::Partly},
        {local, "", "\"" + program + "\" /automation", otherProgram + " /automation", REG_SZ, TVerifyState::OtherFile},
        {win32, "", server + "\\2", "\\\\?\\" + server + "\\2", REG_SZ, TVerifyState::Registered},
        {win32, "", server + "\\2", upper + "\\2", REG_SZ, TVerifyState::Registered},
        {win32, "", server + "\\2", server, REG_SZ, TVerifyState::Partly},
        {win32, "", server + "\\2", other + "\\2", REG_SZ, TVerifyState::OtherFile},
        {category, "409", "Controls", "-", REG_SZ, TVerifyState::Registered},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key + " " + c.name + " = " + c.live);
        DeleteTree(HKEY_CLASSES_ROOT, clsid);
        DeleteTree(HKEY_CURRENT_USER, "Software\\Classes\\" + clsid);
        DeleteTree(HKEY_CLASSES_ROOT, "TypeLib\\{6C0B5E1A-7E38-4C5B-9D6B-2B8D2F0C1A12}");
        engine::TCapture capture;
        capture.file = server;
        capture.clean = true;
        capture.wow64 = Wow64Process();
        engine::TCapturedKey key;
        key.path = c.key;
        key.values.push_back(engine::TCapturedValue{c.name, REG_SZ, Utf16(c.expected)});
        capture.keys.push_back(key);
        if (c.live != "-") SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\" + c.key, c.name, c.live, c.liveType);
        // An empty text writes the user's key with another value.
        if (c.user != "-") SetString(HKEY_CURRENT_USER, "Software\\Classes\\" + c.key, c.user.empty() ? "Other" : "", c.user);
        const engine::TVerifyResult result = engine::CompareWithLive(capture);
        EXPECT_EQ(result.state, c.state) << Describe(result);
        EXPECT_EQ(result.compared, c.key == category ? 0u : 1u);
        if (c.state == TVerifyState::OtherFile) {
            EXPECT_EQ(result.differences.at(0).kind, TVerifyDifference::TKind::OtherFile);
            EXPECT_FALSE(result.otherFile.empty());
        }
        if (c.state == TVerifyState::Partly && c.name == "ThreadingModel") {
            EXPECT_EQ(result.Details(), "HKEY_CLASSES_ROOT\\" + inproc + ": \"ThreadingModel\" is \"Both\"; expected \"Apartment\".");
        }
    }
    DeleteTree(HKEY_CLASSES_ROOT, clsid);
    DeleteTree(HKEY_CURRENT_USER, "Software\\Classes\\" + clsid);
    DeleteTree(HKEY_CLASSES_ROOT, "TypeLib\\{6C0B5E1A-7E38-4C5B-9D6B-2B8D2F0C1A12}");
}

}  // namespace
