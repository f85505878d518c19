// Executable servers for real: started with their switch, waited for, and
// judged by their exit code.
#include <gtest/gtest.h>

#include "EngineTestUtil.h"
#include "TestServerIds.h"
#include "support/TestEnv.h"

using namespace testenv;
namespace ts = TestServers;

namespace {

std::string CommandLineSeen() { return ReadString(HKEY_LOCAL_MACHINE, ts::kExeServerKey, "CommandLine"); }

TEST(RunServerExecutable, RegistersWithTheQuotedPathAndOneBlank) {
    DeleteTree(HKEY_LOCAL_MACHINE, ts::kExeServerKey);
    for (const std::string& file : {std::string(ts::kExeServerFile), std::string(ts::kExeServerInBlanksFile)}) {
        SCOPED_TRACE(file);
        const std::string path = TestDataDir() + file;
        EXPECT_TRUE(Succeeded(RunFile(path, true), "'ExeServer.exe /regserver' completed with success."));
        // The server has ended and done its work by the time the call returns.
        EXPECT_EQ(CommandLineSeen(), "\"" + path + "\" /regserver");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, ts::kExeServerKey, "Path"), path) << "the server started is the file named";
        EXPECT_TRUE(Succeeded(RunFile(path, false), "'ExeServer.exe /unregserver' completed with success."));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ts::kExeServerKey));
    }
}

TEST(RunServerExecutable, TheExtensionTestIgnoresCase) {
    std::string dir = MakeTempDir("exe-case");
    ASSERT_TRUE(CopyTo(TestDataDir() + ts::kExeServerFile, dir + "App.Exe"));
    EXPECT_TRUE(Succeeded(RunFile(dir + "App.Exe", true), "'App.Exe /regserver' completed with success."));
    EXPECT_EQ(CommandLineSeen(), "\"" + dir + "App.Exe\" /regserver");
    EXPECT_TRUE(Succeeded(RunFile(dir + "App.Exe", false), "'App.Exe /unregserver' completed with success."));
}

TEST(RunServerExecutable, ANonZeroExitCodeIsAFailure) {
    Outcome o = RunFile(TestDataDir() + ts::kExeServerFailFile, true);
    EXPECT_TRUE(Failed(o, "'ExeServerFail.exe /regserver' failed."));
    EXPECT_EQ(o.details, "The server process 'ExeServerFail.exe' ended with exit code 3 (0x00000003).");
    o = RunFile(TestDataDir() + ts::kExeServerFailFile, false);
    EXPECT_TRUE(Failed(o, "'ExeServerFail.exe /unregserver' failed."));
}

TEST(RunServerExecutable, AServerThatCannotStartFails) {
    EXPECT_TRUE(Failed(RunFile(TestDataDir() + "Missing.exe", true), "'Missing.exe /regserver' failed."));
    std::string dir = MakeTempDir("bad-exe");
    WriteFile(dir + "Text.exe", "not a program");
    EXPECT_TRUE(Failed(RunFile(dir + "Text.exe", false), "'Text.exe /unregserver' failed."));
}

TEST(RunServerExecutable, AServerStillRunningAfterTheTimeoutFailsAndIsLeftRunning) {
    DeleteTree(HKEY_LOCAL_MACHINE, ts::kExeServerKey);
    unsigned saved = engine::ServerExecutableTimeoutMs;
    engine::ServerExecutableTimeoutMs = 300;
    Outcome o;
    {
        ScopedEnv delay(ts::kServerDelayEnvVar, "2000");
        o = RunFile(TestDataDir() + ts::kExeServerFile, true);
    }
    engine::ServerExecutableTimeoutMs = saved;
    EXPECT_TRUE(Failed(o, "'ExeServer.exe /regserver' failed."));
    EXPECT_EQ(o.details,
              "The server process 'ExeServer.exe' was still running after 0.3 seconds. It was left running; its "
              "outcome is unknown.");
    // It was not killed: it finishes its work later.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ts::kExeServerKey));
    DWORD start = GetTickCount();
    while (!KeyExists(HKEY_LOCAL_MACHINE, ts::kExeServerKey) && GetTickCount() - start < 15000) Sleep(50);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, ts::kExeServerKey));
    RunFile(TestDataDir() + ts::kExeServerFile, false);
}

// Counts the timer ticks of a window while a server runs.
int g_ticks = 0;
LRESULT CALLBACK TickWindow(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_TIMER) ++g_ticks;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST(RunServerExecutable, WindowsKeepWorkingWhileTheServerRuns) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = TickWindow;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TickWindow";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("TickWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    SetTimer(window, 1, 20, nullptr);
    g_ticks = 0;
    {
        ScopedEnv delay(ts::kServerDelayEnvVar, "800");
        EXPECT_TRUE(Succeeded(RunFile(TestDataDir() + ts::kExeServerFile, true),
                              "'ExeServer.exe /regserver' completed with success."));
    }
    EXPECT_GE(g_ticks, 5) << "messages were not handled during the wait";
    DestroyWindow(window);
    RunFile(TestDataDir() + ts::kExeServerFile, false);
}

}  // namespace
