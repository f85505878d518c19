// Executable servers for real: started with their switch, waited for, and
// judged by their exit code.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

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
    // A program that is not there is a missing file, said once.
    const Outcome missing = RunFile(TestDataDir() + "Missing.exe", true);
    EXPECT_TRUE(Failed(missing, "File '" + TestDataDir() + "Missing.exe' not found."));
    EXPECT_EQ(missing.details.find("System error 3"), missing.details.rfind("System error 3")) << missing.details;
    std::string dir = MakeTempDir("bad-exe");
    WriteFile(dir + "Text.exe", "not a program");
    EXPECT_TRUE(Failed(RunFile(dir + "Text.exe", false), "'Text.exe /unregserver' failed."));
}

TEST(RunServerExecutable, AServerStillRunningAfterTheTimeoutIsEndedWithWhatItStarted) {
    // Sleeper.exe starts a child and both would run forever.
    const std::string pidFile = MakeTempDir("sleeper") + "child.pid";
    unsigned saved = engine::RegistrationTimeoutMs;
    engine::RegistrationTimeoutMs = 1500;
    Outcome o;
    {
        ScopedEnv file(ts::kSleeperPidFileEnvVar, pidFile.c_str());
        o = RunFile(TestDataDir() + ts::kSleeperFile, true);
    }
    engine::RegistrationTimeoutMs = saved;
    EXPECT_TRUE(Failed(o, "'Sleeper.exe /regserver' failed."));
    EXPECT_EQ(o.details,
              "The server process 'Sleeper.exe' was still running after 1.5 seconds. It was ended, with anything it "
              "had started; its registration may be half-written.");
    DWORD child = static_cast<DWORD>(std::strtoul(ReadFileBytes(pidFile).c_str(), nullptr, 10));
    ASSERT_NE(child, 0u) << "the server did not start its child";
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, child);
    if (process) {
        EXPECT_EQ(WaitForSingleObject(process, 5000), WAIT_OBJECT_0) << "the server's child still runs";
        CloseHandle(process);
    }
}

TEST(RunServerExecutable, AServerInheritsNoHandleOfTheProgram) {
    // An inheritable, signalled event: the probe fails when it finds it open.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE event = CreateEventA(&inherit, TRUE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    Outcome o;
    {
        ScopedEnv value(ts::kHandleProbeHandleEnvVar, std::to_string(reinterpret_cast<std::uintptr_t>(event)).c_str());
        o = RunFile(TestDataDir() + ts::kHandleProbeFile, true);
    }
    CloseHandle(event);
    EXPECT_TRUE(Succeeded(o, "'HandleProbe.exe /regserver' completed with success.")) << o.details;
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
