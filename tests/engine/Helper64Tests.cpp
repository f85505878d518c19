// 64-bit libraries registered from the 32-bit program through the helper:
// the keys land in the 64-bit registry view, 64-bit clients create the
// class, faults stay in the helper, and one helper serves a whole run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "TestServerIds.h"
#include "common/QVExceptions.h"
#include "engine/uHelper64.h"
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

TEST(Helper64, RegistersInThe64BitViewForThe64BitClients) {
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

TEST(Helper64, OneHelperServesConsecutiveFilesAndSurvivesTheirFaults) {
    SKIP_IN_64_BIT();
    engine::THelper64 helper;
    engine::TRegOutcome fault =
        helper.Run(TestDataDir() + "x64\\" + ts::kFaultServerFile, true, qlEnglish, nullptr);
    EXPECT_FALSE(fault.success);
    EXPECT_EQ(fault.message, "Call to 'DllRegisterServer' failed in 'FaultServer.dll'.");
    unsigned long first = helper.ProcessId();
    EXPECT_NE(first, 0ul);
    engine::TRegOutcome ok = helper.Run(TestDataDir() + "x64\\" + ts::kOkServerFile, true, qlEnglish, nullptr);
    EXPECT_TRUE(ok.success) << ok.details;
    EXPECT_EQ(helper.ProcessId(), first) << "the same process after a contained fault";

    // A server that ends the helper: the failure says so, the next file
    // gets a new helper.
    engine::TRegOutcome ended = helper.Run(TestDataDir() + "x64\\ExitServer.dll", true, qlEnglish, nullptr);
    EXPECT_FALSE(ended.success);
    EXPECT_EQ(ended.message, "Call to 'DllRegisterServer' failed in 'ExitServer.dll'.");
    EXPECT_NE(ended.details.find("The 64-bit helper ended while it was loading or calling 'ExitServer.dll' (exit code "
                                 "0x00000007)"),
              std::string::npos)
        << ended.details;
    EXPECT_EQ(helper.ProcessId(), 0ul);
    EXPECT_TRUE(helper.Run(TestDataDir() + "x64\\" + ts::kOkServerFile, false, qlEnglish, nullptr).success);
    EXPECT_NE(helper.ProcessId(), 0ul);
}

TEST(Helper64, ATaskRunMixesBothBitnessesWithTheSameRules) {
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
