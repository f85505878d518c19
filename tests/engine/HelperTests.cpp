// Libraries registered through the helpers: 64-bit keys land in the 64-bit
// registry view for 64-bit clients, every misbehaviour of a server stays in
// its helper as that file's failure, and one helper per bitness serves a run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "TestServerIds.h"
#include "common/QVExceptions.h"
#include "common/QVSystem.h"
#include "engine/uHelper.h"
#include "engine/uReasons.h"
#include "engine/uRegistry.h"
#include "engine/uTaskRun.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

// The InprocServer32 default value in one registry view; "" when absent.
std::string InprocPath(REGSAM view) {
    HKEY key = nullptr;
    std::string path = std::string("Software\\Classes\\") + ts::kOkServerInprocKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return "";
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return value;
}

// Runs ClassClient.exe of one bitness: the HRESULT of creating the class.
DWORD CreateWithClient(const std::string& client) {
    std::string commandLine = "\"" + client + "\" " + ts::kOkServerClsidString;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(client.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return GetLastError();
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The helper exists for the 32-bit program; a 64-bit build has no other
// bitness to hand libraries to.
#define SKIP_IN_64_BIT() \
    if (sizeof(void*) == 8) GTEST_SKIP() << "only the 32-bit program uses the helper"

}  // namespace

TEST(Helpers, RegistersInThe64BitViewForThe64BitClients) {
    SKIP_IN_64_BIT();
    const std::string path = TestDataDir() + "x64\\" + ts::kOkServerFile;
    const std::string client64 = TestDataDir() + "x64\\ClassClient.exe";
    const std::string client32 = TestDataDir() + "ClassClient.exe";
    DeleteTree(HKEY_CLASSES_ROOT, ts::kOkServerClsidKey);

    EXPECT_TRUE(Succeeded(RunFile(path, true), "Call to 'DllRegisterServer' in 'OkServer.dll' completed with success."));
    EXPECT_EQ(lstrcmpiA(InprocPath(KEY_WOW64_64KEY).c_str(), path.c_str()), 0);
    EXPECT_EQ(InprocPath(KEY_WOW64_32KEY), "") << "nothing in the 32-bit view";
    EXPECT_EQ(CreateWithClient(client64), static_cast<DWORD>(S_OK));
    EXPECT_EQ(CreateWithClient(client32), static_cast<DWORD>(REGDB_E_CLASSNOTREG));
    EXPECT_FALSE(ModuleLoaded("OkServer.dll")) << "the 64-bit library never enters this process";

    EXPECT_TRUE(
        Succeeded(RunFile(path, false), "Call to 'DllUnregisterServer' in 'OkServer.dll' completed with success."));
    EXPECT_EQ(InprocPath(KEY_WOW64_64KEY), "");
    EXPECT_EQ(CreateWithClient(client64), static_cast<DWORD>(REGDB_E_CLASSNOTREG));
}

// Each misbehaving server fails with its reason, and the next file of the
// same run, in the same bitness, succeeds with a fresh helper.
struct TMisbehaviour {
    const char* file;     // in misbehave\ of the bitness
    const char* message;  // with <f> for the file name
    std::vector<const char*> reasons;
    // The reasons that count instead when the helper process ended before
    // its guard could report the fault; empty: the guard must report it.
    std::vector<const char*> orEnded = {};
};

const TMisbehaviour kMisbehaviours[] = {
    {"CppThrow.dll", "Call to 'DllRegisterServer' failed in '<f>'.",
     {"raised exception 0xE06D7363 (a C++ exception thrown out of the server)", "(kernelbase.dll+0x",
      "The helper process that had loaded it was ended"}},
    {"Noncontinuable.dll", "Call to 'DllRegisterServer' failed in '<f>'.", {"raised exception 0xE0000042"}},
    // Wine ends a 64-bit process whose stack overflows before any handler
    // runs; Windows lets the guard report it. Either way the file fails
    // with its reason and the next one finds a fresh helper.
    {"StackOverflow.dll", "Call to 'DllRegisterServer' failed in '<f>'.", {"0xC00000FD (stack overflow)"},
     {"The 64-bit helper ended while it was loading or calling 'StackOverflow.dll' (exit code 0x"}},
    {"Hang.dll", "Call to 'DllRegisterServer' failed in '<f>'.",
     {"'Hang.dll' did not finish within 1 seconds: its DllRegisterServer did not return.",
      "the server's registration may be half-written"}},
    {"HangInDllMain.dll", "Failed to load library '<f>'.",
     {"did not finish within 1 seconds: loading the library and running its DllMain did not finish."}},
    {"Exit.dll", "Call to 'DllRegisterServer' failed in '<f>'.",
     {"helper ended while it was loading or calling 'Exit.dll' (exit code 0x00000007)"}},
    {"FailFast.dll", "Call to 'DllRegisterServer' failed in '<f>'.", {"(exit code 0xC0000409, fail fast"}},
    {"HeapCorrupt.dll", "Call to 'DllRegisterServer' failed in '<f>'.", {"(exit code 0xC0000374, heap corruption)"}},
    {"HandlesOwn.dll", "", {}},
};

TEST(Helpers, EveryMisbehaviourIsThatFilesFailureAndTheNextFileSucceeds) {
    unsigned saved = engine::RegistrationTimeoutMs;
    engine::RegistrationTimeoutMs = 1000;
    // The 32-bit program sees both bitnesses; a 64-bit build only its own.
    std::vector<std::string> folders{TestDataDir() + "misbehave\\"};
    if (sizeof(void*) == 4) folders.push_back(TestDataDir() + "x64\\misbehave\\");
    for (const std::string& folder : folders) {
        std::vector<std::string> files;
        for (const TMisbehaviour& m : kMisbehaviours) {
            files.push_back(folder + m.file);
            files.push_back(folder + "Ok.dll");
        }
        TTaskRun run(files, true, false);
        engine::THelperSession session;
        double start = qv::NowMs();
        run.Run([](const std::string& path, bool register_) { engine::RegisterServerFile(path, register_); },
                TStopRules{stopNever, 5}, TTaskRunHooks{});
        // Two hangs of one second each, and no more than a second lost on either.
        EXPECT_LT(qv::NowMs() - start, 15000.0);
        size_t error = 0;
        for (size_t i = 0; i < std::size(kMisbehaviours); ++i) {
            const TMisbehaviour& m = kMisbehaviours[i];
            SCOPED_TRACE(folder + m.file);
            EXPECT_EQ(run.Rows()[2 * i + 1].Status, tsCompleted) << "the file after it";
            if (*m.message == '\0') {
                EXPECT_EQ(run.Rows()[2 * i].Status, tsCompleted);
                continue;
            }
            EXPECT_EQ(run.Rows()[2 * i].Status, tsFailed);
            ASSERT_LT(error, run.Errors().size());
            std::string message = m.message;
            message.replace(message.find("<f>"), 3, m.file);
            EXPECT_EQ(run.Errors()[error++].Text, message);
            std::string details;
            while (error < run.Errors().size() && run.Errors()[error].Image == tiNone) {
                details += run.Errors()[error++].Text + "\n";
            }
            auto allIn = [&details](const std::vector<const char*>& reasons) {
                for (const char* reason : reasons) {
                    if (details.find(reason) == std::string::npos) return false;
                }
                return true;
            };
            const std::vector<const char*>& reasons = m.orEnded.empty() || allIn(m.reasons) ? m.reasons : m.orEnded;
            for (const char* reason : reasons) {
                EXPECT_NE(details.find(reason), std::string::npos) << "missing \"" << reason << "\" in:\n" << details;
            }
        }
        EXPECT_EQ(error, run.Errors().size());
    }
    engine::RegistrationTimeoutMs = saved;
}

TEST(Helpers, AHelperFoundEndedWhileIdleIsReplacedWithoutBlame) {
    const std::string ok = TestDataDir() + "misbehave\\Ok.dll";
    engine::THelper helper(engine::ProcessMachine());
    engine::TRegContext context;
    ASSERT_TRUE(helper.Run(engine::TServerKind::Library, ok, true, context).success);
    DWORD first = helper.ProcessId();
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, first);
    ASSERT_NE(process, nullptr);
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
    engine::TRegOutcome again = helper.Run(engine::TServerKind::Library, ok, true, context);
    EXPECT_TRUE(again.success) << again.details;
    EXPECT_NE(helper.ProcessId(), first);
    EXPECT_FALSE(ModuleLoaded("Ok.dll")) << "no library enters the program";
}

TEST(Helpers, ATaskRunMixesBothBitnessesWithTheSameRules) {
    SKIP_IN_64_BIT();
    const std::string data = TestDataDir();
    const std::vector<std::string> files = {data + ts::kOkServerFile, data + "x64\\" + ts::kOkServerFile,
                                            data + "x64\\" + ts::kSFalseServerFile, data + ts::kSFalseServerFile};
    TTaskRun run(files, true, false);
    engine::THelperSession session;
    run.Run([](const std::string& path, bool register_) { engine::RegisterServerFile(path, register_); },
            TStopRules{stopNever, 5}, TTaskRunHooks{});
    std::string statuses;
    for (const TTaskRow& row : run.Rows()) statuses += row.Status == tsCompleted ? 'C' : 'F';
    EXPECT_EQ(statuses, "CCFF");
    ASSERT_GE(run.Errors().size(), 4u);
    EXPECT_EQ(run.Errors()[0].Text, "Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.");
    EXPECT_EQ(run.Errors()[1].Text, "    DllRegisterServer returned 0x00000001 (S_FALSE).");
    EXPECT_EQ(run.Errors()[1].Image, tiNone);
    EXPECT_EQ(lstrcmpiA(InprocPath(KEY_WOW64_64KEY).c_str(), files[1].c_str()), 0);
    EXPECT_EQ(lstrcmpiA(InprocPath(KEY_WOW64_32KEY).c_str(), files[0].c_str()), 0);

    TTaskRun undo({files[0], files[1]}, false, false);
    undo.Run([](const std::string& path, bool register_) { engine::RegisterServerFile(path, register_); },
             TStopRules{stopAfterFirst, 1}, TTaskRunHooks{});
    EXPECT_TRUE(undo.Errors().empty());
    EXPECT_EQ(InprocPath(KEY_WOW64_64KEY), "");
    EXPECT_EQ(InprocPath(KEY_WOW64_32KEY), "");
}

namespace {

// The default value of a key below the classes of `root`, in one view; ""
// when the key is absent.
std::string ClassesValue(HKEY root, const std::string& key, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, ("Software\\Classes\\" + key).c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) {
        return "";
    }
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    RegQueryValueExA(opened, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return value;
}

void DeleteClassesKey(HKEY root, const std::string& key) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY classes = nullptr;
        if (RegOpenKeyExA(root, "Software\\Classes", 0, KEY_ALL_ACCESS | view, &classes) == ERROR_SUCCESS) {
            RegDeleteTreeA(classes, key.c_str());
            RegCloseKey(classes);
        }
    }
}

}  // namespace

// One session registers for the current user and for all users apart: a
// helper that registered for the current user is replaced before it
// registers for all users (oleaut32's per-user switch cannot be turned
// off), and neither registration touches the other's classes.
TEST(Helpers, OneSessionKeepsTheCurrentUserAndAllUsersApart) {
    SKIP_IN_64_BIT();
    const struct {
        const char* file;
        bool perUser, register_;
        bool inUser, inMachine;  // where the file is registered afterwards
    } steps[] = {
        {ts::kOkServerFile, true, true, true, false},
        {ts::kOkServerFile, false, true, true, true},
        {ts::kOkServerFile, true, false, false, true},
        {ts::kOkServerFile, false, false, false, false},
        {"x64\\OkServer.dll", false, true, false, true},
        {"x64\\OkServer.dll", true, true, true, true},
        {"x64\\OkServer.dll", true, false, false, true},
        {"x64\\OkServer.dll", false, false, false, false},
    };
    DeleteClassesKey(HKEY_CURRENT_USER, ts::kOkServerClsidKey);
    DeleteClassesKey(HKEY_LOCAL_MACHINE, ts::kOkServerClsidKey);
    engine::THelperSession session;
    unsigned long lastHelper[2] = {0, 0};
    int lastScope[2] = {-1, -1};
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.file) + (step.perUser ? " per user" : " all users") +
                     (step.register_ ? " register" : " unregister"));
        const bool x64 = std::string(step.file).rfind("x64", 0) == 0;
        const REGSAM view = x64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
        const std::string path = TestDataDir() + step.file;
        engine::TRegContext context;
        context.perUser = step.perUser;
        engine::UseHelpers(context);
        engine::TRegOutcome outcome = engine::RegisterFileCore(path, step.register_, context);
        EXPECT_TRUE(outcome.success) << outcome.message << "\n" << outcome.details;
        EXPECT_EQ(ClassesValue(HKEY_CURRENT_USER, ts::kOkServerInprocKey, view), step.inUser ? path : "");
        EXPECT_EQ(ClassesValue(HKEY_LOCAL_MACHINE, ts::kOkServerInprocKey, view), step.inMachine ? path : "");
        // The same helper for the same scope, a new one when it changes.
        const unsigned long helper = session.For(x64 ? engine::pe::TMachine::X64 : engine::pe::TMachine::X86).ProcessId();
        EXPECT_NE(helper, 0ul);
        const int slot = x64 ? 1 : 0;
        if (lastScope[slot] != -1) {
            EXPECT_EQ(helper == lastHelper[slot], lastScope[slot] == static_cast<int>(step.perUser));
        }
        lastHelper[slot] = helper;
        lastScope[slot] = step.perUser;
    }
    DeleteClassesKey(HKEY_CURRENT_USER, ts::kOkServerClsidKey);
    DeleteClassesKey(HKEY_LOCAL_MACHINE, ts::kOkServerClsidKey);
}

// A server that writes machine-wide keys cannot be registered for the
// current user alone: its registration fails naming them, in either
// bitness, and nothing machine-wide is written.
TEST(Helpers, APerUserRegistrationThatWritesMachineWideFailsNamingTheKeys) {
    SKIP_IN_64_BIT();
    for (const char* folder : {"", "x64\\"}) {
        SCOPED_TRACE(folder);
        const std::string path = TestDataDir() + folder + ts::kCaptureCasePrefix + "vendor.dll";
        ASSERT_TRUE(CopyTo(TestDataDir() + folder + ts::kCaptureCasesFile, path));
        engine::THelperSession session;
        engine::TRegContext context;
        context.perUser = true;
        engine::UseHelpers(context);
        const engine::TRegOutcome outcome = engine::RegisterFileCore(path, true, context);
        EXPECT_FALSE(outcome.success);
        EXPECT_NE(outcome.details.find(std::string("HKEY_LOCAL_MACHINE\\") + ts::kCaptureVendorKey),
                  std::string::npos) << outcome.details;
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY key = nullptr;
            EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ts::kCaptureVendorKey, 0, KEY_READ | view, &key), ERROR_SUCCESS);
            if (key) RegCloseKey(key);
        }
        DeleteFileA(path.c_str());
    }
}

// While the scope lives, a write to HKEY_CLASSES_ROOT lands in the current
// user's classes; before and after it, and with an inactive scope, in the
// machine's.
TEST(Helpers, TheUserClassesScopeRedirectsTheClassesRootWhileItLives) {
    const char* const probe = "CorvantisScopeProbe";
    auto write = [probe] {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, probe, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
            RegCloseKey(key);
        }
    };
    const struct {
        bool active, inUser;
    } rows[] = {{true, true}, {false, false}, {true, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.active ? "active" : "inactive");
        DeleteClassesKey(HKEY_CURRENT_USER, probe);
        DeleteClassesKey(HKEY_LOCAL_MACHINE, probe);
        {
            engine::TUserClassesScope scope(row.active);
            EXPECT_EQ(scope.Active(), row.active);
            write();
        }
        EXPECT_EQ(ClassesValue(HKEY_CURRENT_USER, probe, 0), row.inUser ? "x" : "");
        EXPECT_EQ(ClassesValue(HKEY_LOCAL_MACHINE, probe, 0), row.inUser ? "" : "x");
        // Once the scope has ended, the machine's classes again.
        DeleteClassesKey(HKEY_LOCAL_MACHINE, probe);
        write();
        EXPECT_EQ(ClassesValue(HKEY_LOCAL_MACHINE, probe, 0), "x");
    }
    DeleteClassesKey(HKEY_CURRENT_USER, probe);
    DeleteClassesKey(HKEY_LOCAL_MACHINE, probe);
}
