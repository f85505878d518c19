// End-to-end runs of CorvantisCmd.exe over real test servers: what it
// prints, its JSON lines, its log file, its exit codes and the stop rules.
// (Ctrl+C is sent from a terminal by console_ctrl_c.sh.)
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TestServerIds.h"
#include "cmd/uCmdRunner.h"
#include "engine/uRegCore.h"
#include "mainwin/uBatch.h"
#include "support/SystemFolderFiles.h"
#include "support/TestEnv.h"

namespace {

using Strings = std::vector<std::string>;

struct TConsoleRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
    Strings Lines() const {
        Strings lines;
        size_t start = 0;
        while (start < out.size()) {
            size_t end = out.find("\r\n", start);
            if (end == std::string::npos) end = out.size();
            lines.push_back(out.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }
};

// The runner started with `arguments` in `folder` (the test's own when
// empty), its output going to files; ended if still running when dropped.
class TCmdProcess {
public:
    explicit TCmdProcess(const std::string& arguments, const std::string& folder = "",
                         const std::string& program = testenv::BinDir() + "CorvantisCmd.exe") {
        static int count = 0;
        dir_ = testenv::MakeTempDir("cmd-out-" + std::to_string(++count));
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA((dir_ + "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileA((dir_ + "err.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::string commandLine = "\"" + program + "\" " + arguments;
        PROCESS_INFORMATION process{};
        if (CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                           folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
            CloseHandle(process.hThread);
            process_ = process.hProcess;
            id_ = process.dwProcessId;
        }
        CloseHandle(out);
        CloseHandle(err);
    }
    ~TCmdProcess() { Kill(); }
    TCmdProcess(const TCmdProcess&) = delete;
    TCmdProcess& operator=(const TCmdProcess&) = delete;

    DWORD Id() const { return id_; }
    void Kill() {
        if (!process_) return;
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 10000);
        CloseHandle(process_);
        process_ = nullptr;
    }
    // Waits for the end (ending the runner after two minutes) and reads
    // what it printed.
    TConsoleRun Wait() {
        TConsoleRun run;
        if (process_) {
            if (WaitForSingleObject(process_, 120000) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
            GetExitCodeProcess(process_, &run.exitCode);
            CloseHandle(process_);
            process_ = nullptr;
        }
        run.out = ReadWholeFile(dir_ + "out.txt");
        run.err = ReadWholeFile(dir_ + "err.txt");
        return run;
    }

private:
    std::string dir_;
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

TConsoleRun RunCmd(const std::string& arguments, const std::string& folder = "",
                   const std::string& program = testenv::BinDir() + "CorvantisCmd.exe") {
    return TCmdProcess(arguments, folder, program).Wait();
}

// Asks `condition` every 20 ms until it holds or ten seconds have passed.
bool WaitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        Sleep(20);
    }
    return condition();
}

// Whether a process that `parent` started (the helper) has loaded a module
// of that name: the task that loads it is under way.
bool ChildHasLoaded(DWORD parent, const char* module) {
    HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    bool loaded = false;
    PROCESSENTRY32 process{};
    process.dwSize = sizeof process;
    for (BOOL more = Process32First(processes, &process); more && !loaded; more = Process32Next(processes, &process)) {
        if (process.th32ParentProcessID != parent) continue;
        HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
        MODULEENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL ok = Module32First(modules, &entry); ok && !loaded; ok = Module32Next(modules, &entry)) {
            loaded = lstrcmpiA(entry.szModule, module) == 0;
        }
        if (modules != INVALID_HANDLE_VALUE) CloseHandle(modules);
    }
    if (processes != INVALID_HANDLE_VALUE) CloseHandle(processes);
    return loaded;
}

// The names in a folder.
Strings FolderNames(const std::string& dir) {
    Strings names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) {
        if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..") names.push_back(found.cFileName);
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The fields of one flat JSON object of strings and numbers; false when the
// line is not one.
bool ParseJsonObject(const std::string& line, std::map<std::string, std::string>& fields) {
    fields.clear();
    size_t i = 0;
    auto skip = [&] { while (i < line.size() && line[i] == ' ') ++i; };
    auto string = [&](std::string& value) {
        if (i >= line.size() || line[i] != '"') return false;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\') {
                if (++i >= line.size()) return false;
                const char c = line[i];
                value += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
                if (c == 'u') return false;  // not produced for these texts
            } else {
                if (static_cast<unsigned char>(line[i]) < 0x20) return false;
                value += line[i];
            }
        }
        return i++ < line.size();
    };
    skip();
    if (i >= line.size() || line[i++] != '{') return false;
    for (;;) {
        skip();
        std::string name, value;
        if (!string(name)) return false;
        skip();
        if (i >= line.size() || line[i++] != ':') return false;
        skip();
        if (i < line.size() && line[i] == '"') {
            if (!string(value)) return false;
        } else {
            size_t start = i;
            while (i < line.size() && (isdigit(static_cast<unsigned char>(line[i])) || line[i] == '.')) ++i;
            if (i == start) return false;
            value = line.substr(start, i - start);
        }
        if (!fields.emplace(name, value).second) return false;
        skip();
        if (i < line.size() && line[i] == ',') {
            ++i;
            continue;
        }
        return i < line.size() && line[i] == '}' && i + 1 == line.size();
    }
}

std::string Data(const std::string& file) { return testenv::TestDataDir() + file; }
std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

TEST(ConsoleRunner, CommandLineAndBatchErrorsHaveTheirExitCodes) {
    const std::string dir = testenv::MakeTempDir("cmd-errors");
    testenv::WriteFile(dir + "notabatch.kvx", "C:\\a.dll\r\n");
    ASSERT_TRUE(testenv::WriteSizedFile(dir + "huge.kvx", "; Quorvandel Corvantis File\r\n", 65ll << 20));
    struct TCase {
        std::string arguments;
        DWORD exitCode;
        const char* inOut;  // expected in standard output
        const char* inErr;  // expected in standard error
    };
    const TCase cases[] = {
        {"", 2, "", "No command"},
        {"register", 2, "", "register needs at least one file."},
        {"run a.kvx b.kvx", 2, "", "run takes one batch file."},
        {"register a.dll --stop-after 0", 2, "", "--stop-after needs a whole number"},
        {"register a.dll --continue --stop-after 2", 2, "", "exclude each other"},
        {"register a.dll --frobnicate", 2, "", "Unknown option --frobnicate."},
        {"register a.dll --timeout 0", 2, "", "--timeout needs a whole number of seconds from 1 to 86400"},
        {"run " + Quoted(dir + "missing.kvx"), 3, "", "could not be read"},
        {"run " + Quoted(dir + "notabatch.kvx"), 3, "", "is not a batch file"},
        {"run " + Quoted(dir + "huge.kvx"), 3, "", "is too large to be a batch file"},
        {"--help", 0, "  5  an internal error of the runner", ""},
        {"--version", 0, "CorvantisCmd 1.4.0", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.arguments);
        TConsoleRun run = RunCmd(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_NE(run.out.find(c.inOut), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
        if (*c.inErr == '\0') {
            EXPECT_EQ(run.err, "");
        }
        if (c.exitCode == 2) {
            EXPECT_EQ(run.out, "") << "a wrong command line runs nothing";
        }
    }
}

TEST(ConsoleRunner, JsonLinesForMixedServersOfBothBitnesses) {
    namespace ts = TestServers;
    const Strings files = {Data(ts::kOkServerFile),        Data("x64\\OkServer.dll"), Data(ts::kSFalseServerFile),
                           Data("x64\\SelfRegClassServer.dll"), Data("Missing.dll"),       Data(ts::kExeServerFailFile)};
    std::string arguments = "register --json --continue";
    for (const std::string& file : files) arguments += " " + Quoted(file);
    TConsoleRun run = RunCmd(arguments);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.err, "");
    const Strings lines = run.Lines();
    ASSERT_EQ(lines.size(), files.size()) << run.out;
    const char* outcomes[] = {"succeeded", "succeeded", "failed", "failed", "failed", "failed"};
    const char* reasons[] = {"", "", "(S_FALSE)", "(SELFREG_E_CLASS)", "does not exist", "exit code 3"};
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::map<std::string, std::string> task;
        ASSERT_TRUE(ParseJsonObject(lines[i], task));
        EXPECT_EQ(task.size(), 6u);
        EXPECT_EQ(task["file"], files[i]);
        EXPECT_EQ(task["operation"], "register");
        EXPECT_EQ(task["outcome"], outcomes[i]);
        EXPECT_FALSE(task["message"].empty());
        EXPECT_EQ(task["details"].empty(), *reasons[i] == '\0');
        EXPECT_NE(task["details"].find(reasons[i]), std::string::npos);
        EXPECT_GT(std::stod(task["milliseconds"]), 0.0);
    }
    TConsoleRun undo = RunCmd("unregister --json " + Quoted(files[0]) + " " + Quoted(files[1]));
    EXPECT_EQ(undo.exitCode, 0u) << undo.out;
}

TEST(ConsoleRunner, BatchRunPrintsEachTaskAndWritesTheLog) {
    // The old header, relative paths taken against the current folder, and a
    // folder with blanks.
    const std::string dir = testenv::MakeTempDir("cmd batch");
    ASSERT_TRUE(testenv::CopyTo(Data(TestServers::kOkServerFile), dir + "Ok Server.dll"));
    ASSERT_TRUE(testenv::CopyTo(Data(TestServers::kSFalseServerFile), dir + "S False.dll"));
    testenv::WriteFile(dir + "my batch.kvx", "; Quorvandel Corvantor File\r\nOk Server.dll\r\nS False.dll\r\n");
    TConsoleRun run = RunCmd("run \"my batch.kvx\" --unregister-first --continue --log errors.log", dir);
    EXPECT_EQ(run.exitCode, 1u);
    const std::string ok = dir + "Ok Server.dll", bad = dir + "S False.dll";
    const std::string sFalse = "    DllUnregisterServer returned 0x00000001 (S_FALSE).";
    const std::string meaning =
        "    The server reports that it did not do all of its work; only S_OK (0) counts as success.";
    EXPECT_EQ(run.Lines(),
              (Strings{"unregister \"" + ok + "\": succeeded. Call to 'DllUnregisterServer' in 'Ok Server.dll' "
                                              "completed with success.",
                       "unregister \"" + bad + "\": FAILED. Call to 'DllUnregisterServer' failed in 'S False.dll'.",
                       sFalse, meaning,
                       "register \"" + ok + "\": succeeded. Call to 'DllRegisterServer' in 'Ok Server.dll' completed "
                                            "with success.",
                       "register \"" + bad + "\": FAILED. Call to 'DllRegisterServer' failed in 'S False.dll'.",
                       "    DllRegisterServer returned 0x00000001 (S_FALSE).", meaning,
                       "1 unregistered, 1 registered, 2 failed, 0 not run"}));
    EXPECT_EQ(ReadWholeFile(dir + "errors.log"),
              "Call to 'DllUnregisterServer' failed in 'S False.dll'.\r\n" + sFalse + "\r\n" + meaning +
                  "\r\nCall to 'DllRegisterServer' failed in 'S False.dll'.\r\n    DllRegisterServer returned "
                  "0x00000001 (S_FALSE).\r\n" + meaning + "\r\n");
    TConsoleRun quiet = RunCmd("run \"my batch.kvx\" --unregister --quiet", dir);
    EXPECT_EQ(quiet.exitCode, 1u);
    EXPECT_EQ(quiet.out, "");
}

TEST(ConsoleRunner, StopRules) {
    namespace ts = TestServers;
    const std::string files =
        Quoted(Data(ts::kSFalseServerFile)) + " " + Quoted(Data(ts::kOkServerFile)) + " " + Quoted(Data(ts::kOkServerFile));
    TConsoleRun stopped = RunCmd("register --stop-after 1 " + files);
    EXPECT_EQ(stopped.exitCode, 1u);
    Strings lines = stopped.Lines();
    ASSERT_EQ(lines.size(), 7u) << stopped.out;
    EXPECT_EQ(lines[3], "Processing stopped after 1 error(s).");
    EXPECT_EQ(lines[4], "register \"" + Data(ts::kOkServerFile) + "\": not run.");
    EXPECT_EQ(lines[6], "0 registered, 1 failed, 2 not run");
    TConsoleRun all = RunCmd("register --continue " + files);
    EXPECT_EQ(all.Lines().back(), "2 registered, 1 failed, 0 not run");
}

// A hung server costs the time-out the command line gives, and the next file
// gets a new helper.
TEST(ConsoleRunner, TimeoutEndsAHungServerAndTheRunGoesOn) {
    TConsoleRun run = RunCmd("register --continue --timeout 1 " + Quoted(Data(TestServers::kMisbehaveHangFile)) + " " +
                             Quoted(Data(TestServers::kMisbehaveOkFile)));
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.out.find("FAILED. Call to 'DllRegisterServer' failed in 'Hang.dll'."), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("'Hang.dll' did not finish within 1 seconds: its DllRegisterServer did not return."),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("1 registered, 1 failed, 0 not run"), std::string::npos) << run.out;
}

// A helper of another version beside the runner is not used, and says so.
TEST(ConsoleRunner, AHelperOfAnotherVersionIsRefused) {
    const std::string dir = testenv::MakeTempDir("cmd-old-helper");
    ASSERT_TRUE(testenv::CopyTo(testenv::BinDir() + "CorvantisCmd.exe", dir + "CorvantisCmd.exe"));
    // A program that ignores its arguments and ends, as a helper of another
    // hand-over would.
    ASSERT_TRUE(testenv::CopyTo(Data(TestServers::kExeServerFailFile), dir + "Corvantis32.exe"));
    TConsoleRun run = RunCmd("register " + Quoted(Data(TestServers::kOkServerFile)), "", dir + "CorvantisCmd.exe");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.out.find("Failed to load library 'OkServer.dll'."), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("does not belong to this version of Corvantis"), std::string::npos) << run.out;
}

// The runner and both helpers declare asInvoker, so that Windows never
// virtualizes their registry writes.
TEST(ConsoleRunner, TheRunnerAndTheHelpersAreNeverVirtualized) {
    for (const char* name : {"CorvantisCmd.exe", "Corvantis32.exe", "Corvantis64.exe"}) {
        SCOPED_TRACE(name);
        HMODULE file = LoadLibraryExA((testenv::BinDir() + name).c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(file, nullptr);
        HRSRC resource = FindResourceA(file, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
        ASSERT_NE(resource, nullptr) << "no manifest";
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(file, resource)));
        std::string manifest(bytes, SizeofResource(file, resource));
        EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\""), std::string::npos) << manifest;
        EXPECT_NE(manifest.find("supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\""), std::string::npos);
        FreeLibrary(file);
    }
}

// An executable server started by the runner gets none of its handles: not
// its redirected output (a server left running would keep a script's pipe
// open), and not a handle the runner inherited from the script.
TEST(ConsoleRunner, AnExecutableServerInheritsNoHandleOfTheRunner) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE event = CreateEventA(&inherit, TRUE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    testenv::ScopedEnv value(TestServers::kHandleProbeHandleEnvVar,
                             std::to_string(reinterpret_cast<std::uintptr_t>(event)));
    TConsoleRun run = RunCmd("register " + Quoted(Data(TestServers::kHandleProbeFile)));
    CloseHandle(event);
    EXPECT_EQ(run.exitCode, 0u) << run.out;
    EXPECT_NE(run.out.find("'HandleProbe.exe /regserver' completed with success."), std::string::npos) << run.out;
}

// A log that names a file the run reads, in any spelling, is a wrong command
// line: nothing runs and no file changes.
TEST(ConsoleRunner, ALogThatIsAFileOfTheRunIsAWrongCommandLine) {
    const std::string dir = testenv::MakeTempDir("cmd-log-alias");
    const std::string name = "Ok Server Long Name.dll", server = dir + name, batch = dir + "b.kvx";
    ASSERT_TRUE(testenv::CopyTo(Data(TestServers::kOkServerFile), server));
    ASSERT_TRUE(CreateHardLinkA((dir + "Linked.dll").c_str(), server.c_str(), nullptr));
    testenv::WriteFile(batch, "; Quorvandel Corvantis File\r\n" + name + "\r\n");
    const std::string folderName = dir.substr(dir.rfind('\\', dir.size() - 2) + 1);
    const std::string reg = "register " + Quoted(name) + " --log ";
    Strings cases = {reg + Quoted(name), reg + "\"OK SERVER LONG NAME.DLL\"", reg + "Linked.dll",
                     reg + Quoted("..\\" + folderName + name), reg + Quoted(".\\" + name), "run b.kvx --log b.kvx",
                     "run b.kvx --log \"ok server long name.dll\"", "run B.KVX --log .\\b.kvx"};
    char shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(server.c_str(), shortPath, MAX_PATH);
    const std::string shortName = engine::ExtractFileName(std::string(shortPath, length));
    if (!shortName.empty() && shortName != name) cases.push_back("run b.kvx --log " + shortName);
    const std::string serverBytes = ReadWholeFile(server), batchBytes = ReadWholeFile(batch);
    for (const std::string& arguments : cases) {
        SCOPED_TRACE(arguments);
        TConsoleRun run = RunCmd(arguments, dir);
        EXPECT_EQ(run.exitCode, 2u);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("the log would overwrite it."), std::string::npos) << run.err;
        EXPECT_TRUE(ReadWholeFile(server) == serverBytes) << "the server was changed";
        EXPECT_TRUE(ReadWholeFile(batch) == batchBytes) << "the batch was changed";
    }
    EXPECT_EQ(FolderNames(dir), (Strings{"Linked.dll", name, "b.kvx"}));
}

// A run that is killed leaves no log, not even the one of an earlier run;
// a finished run puts a new file at the log's name (another name of the old
// one keeps its bytes) and leaves no temporary file; a device is written as
// it is.
TEST(ConsoleRunner, TheLogIsRemovedAtTheStartAndPutInPlaceAtTheEnd) {
    const std::string dir = testenv::MakeTempDir("cmd-log-replace");
    testenv::WriteFile(dir + "slow.kvx",
                       "; Quorvandel Corvantis File\r\n" + Data(TestServers::kMisbehaveSlowFile) + "\r\n");
    testenv::WriteFile(dir + "run.log", "the log of an earlier run\r\n");
    {
        testenv::ScopedEnv slow(TestServers::kMisbehaveSlowEnvVar, "60000");
        TCmdProcess runner("run slow.kvx --log run.log", dir);
        ASSERT_TRUE(WaitUntil([&] { return ChildHasLoaded(runner.Id(), TestServers::kMisbehaveSlowName); }));
        runner.Kill();
    }
    EXPECT_EQ(FolderNames(dir), Strings{"slow.kvx"});

    testenv::WriteFile(dir + "kept.txt", "another file\r\n");
    ASSERT_TRUE(CreateHardLinkA((dir + "run.log").c_str(), (dir + "kept.txt").c_str(), nullptr));
    const std::string failing = "register " + Quoted(Data(TestServers::kSFalseServerFile));
    TConsoleRun run = RunCmd(failing + " --log run.log", dir);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(ReadWholeFile(dir + "kept.txt"), "another file\r\n");
    EXPECT_EQ(ReadWholeFile(dir + "run.log").rfind("Call to 'DllRegisterServer' failed in 'SFalseServer.dll'.\r\n", 0),
              0u);
    EXPECT_EQ(FolderNames(dir), (Strings{"kept.txt", "run.log", "slow.kvx"}));

    TConsoleRun device = RunCmd(failing + " --log NUL", dir);
    EXPECT_EQ(device.exitCode, 1u);
    EXPECT_EQ(device.err, "");
}

// The end of the runner's own session, told to its hidden window, stops the
// run after the task at work as a Ctrl+C does; the message returns once the
// log is complete. A server that would outlast the wait is ended. A session
// end that was called off changes nothing. With regsvr32's exit codes a stop
// ends with 5.
TEST(ConsoleRunner, TheEndOfItsSessionStopsTheRunAfterTheTaskAtWork) {
    namespace ts = TestServers;
    const std::string stopNotice = "Processing stopped at the user's request.\r\n";
    const struct {
        const char* slowMs;
        BOOL ending;
        DWORD exitCode;
        const char* slowOutcome;
        const char* summary;
        const char* inLog;
        const char* options;
    } cases[] = {
        {"1500", FALSE, 0, "succeeded.", "2 registered, 0 failed, 0 not run", "", ""},
        {"1500", TRUE, 4, "succeeded.", "1 registered, 0 failed, 1 not run", "", ""},
        {"60000", TRUE, 4, "FAILED.", "0 registered, 1 failed, 1 not run", "The user stopped the work on 'Slow.dll'", ""},
        {"1500", TRUE, 5, "succeeded.", "1 registered, 0 failed, 1 not run", "", " --regsvr32-exit-codes"},
    };
    const std::string slowFile = Data(ts::kMisbehaveSlowFile), okFile = Data(ts::kMisbehaveOkFile);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.slowMs) + (c.ending ? " ending" : " called off"));
        const std::string log = testenv::MakeTempDir("cmd-session") + "session.log";
        testenv::ScopedEnv slow(ts::kMisbehaveSlowEnvVar, c.slowMs);
        TCmdProcess runner("register " + Quoted(slowFile) + " " + Quoted(okFile) + " --log " + Quoted(log) + c.options);
        HWND window = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            while ((window = FindWindowExA(nullptr, window, cmd::kSessionWindowClass, nullptr)) != nullptr) {
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner == runner.Id()) return true;
            }
            return false;
        }));
        ASSERT_TRUE(WaitUntil([&] { return ChildHasLoaded(runner.Id(), ts::kMisbehaveSlowName); }));
        DWORD_PTR answer = 0;
        EXPECT_NE(SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 20000, &answer), 0);
        EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
        SendMessageTimeoutA(window, WM_ENDSESSION, c.ending, ENDSESSION_LOGOFF, SMTO_NORMAL, 20000, &answer);
        const std::string logWhenAnswered = testenv::ReadFileBytes(log);
        TConsoleRun run = runner.Wait();
        EXPECT_EQ(run.exitCode, c.exitCode);
        const Strings lines = run.Lines();
        ASSERT_GE(lines.size(), 2u) << run.out;
        EXPECT_EQ(lines.front(), "register \"" + slowFile + "\": " + c.slowOutcome +
                                     (*c.slowOutcome == 's' ? " Call to 'DllRegisterServer' in 'Slow.dll' completed "
                                                              "with success."
                                                            : " Call to 'DllRegisterServer' failed in 'Slow.dll'."));
        EXPECT_EQ(lines.back(), c.summary);
        const std::string written = testenv::ReadFileBytes(log);
        if (c.ending) {
            EXPECT_EQ(logWhenAnswered, written) << "the message returned before the log was complete";
            EXPECT_GE(written.size(), stopNotice.size());
            EXPECT_EQ(written.substr(written.size() - std::min(written.size(), stopNotice.size())), stopNotice);
            EXPECT_NE(written.find(c.inLog), std::string::npos) << written;
            EXPECT_NE(run.out.find("register \"" + okFile + "\": not run."), std::string::npos) << run.out;
        } else {
            EXPECT_EQ(written, "");
        }
    }
}

// The runner means the real System32 by System32, as Explorer and an
// elevated command prompt (which starts there) do: the 64-bit library there
// is registered in the 64-bit view and its 32-bit namesake in SysWOW64 is
// never touched; a 32-bit library there is refused with its reason.
TEST(ConsoleRunner, System32IsTheRealSystem32) {
    if (!testenv::RedirectedToSysWow64()) GTEST_SKIP() << "only a 32-bit process on 64-bit Windows is redirected";
    testenv::TSystemFolderFiles files;
    ASSERT_TRUE(files.Place("x64\\OkServer.dll", "Sysnative", "CvSysOk.dll"));
    ASSERT_TRUE(files.Place(TestServers::kOkServerFile, "SysWOW64", "CvSysOk.dll"));
    ASSERT_TRUE(files.Place(TestServers::kOkServerFile, "Sysnative", "CvSys32Only.dll"));
    const std::string system32 = testenv::WindowsDir() + "System32";
    const std::string library = system32 + "\\CvSysOk.dll";
    struct {
        std::string arguments;
        std::string folder;  // current folder of the runner; "": the test's
        DWORD exitCode;
        bool registered;     // in the 64-bit view afterwards
        const char* printed;
    } rows[] = {
        {"register " + Quoted(library), "", 0, true, "succeeded."},
        {"unregister " + Quoted(library), "", 0, false, "succeeded."},
        {"register CvSysOk.dll", system32, 0, true, "succeeded."},
        {"unregister CvSysOk.dll", system32, 0, false, "succeeded."},
        {"register CvSys32Only.dll", system32, 1, false, "is a 32-bit library in the 64-bit system folder"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        TConsoleRun run = RunCmd(row.arguments, row.folder);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out;
        EXPECT_NE(run.out.find(row.printed), std::string::npos) << run.out;
        const std::string entry = testenv::OkServerInproc(KEY_WOW64_64KEY);
        EXPECT_EQ(row.registered ? lstrcmpiA(entry.c_str(), library.c_str()) == 0 : entry.empty(), true) << entry;
        EXPECT_EQ(testenv::OkServerInproc(KEY_WOW64_32KEY), "") << "the 32-bit namesake was registered";
    }
}

namespace {

// What InstallServer.dll recorded: its calls, one per line, and "32"/"64"
// and "OLE"/"no OLE" of the process that made the last one; "" when
// nothing was called.
std::wstring InstallServerRecord() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, TestServers::kInstallServerKeyW, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return L"";
    }
    wchar_t calls[4096] = {};
    DWORD size = sizeof calls - sizeof(wchar_t), bits = 0, ole = 0, dword = sizeof(DWORD);
    RegQueryValueExW(key, L"Calls", nullptr, nullptr, reinterpret_cast<BYTE*>(calls), &size);
    RegQueryValueExW(key, L"Bits", nullptr, nullptr, reinterpret_cast<BYTE*>(&bits), &dword);
    dword = sizeof(DWORD);
    RegQueryValueExW(key, L"Ole", nullptr, nullptr, reinterpret_cast<BYTE*>(&ole), &dword);
    RegCloseKey(key);
    return std::wstring(calls) + std::to_wstring(bits) + (ole ? L" OLE" : L" no OLE");
}

// Text of this process's code page, as the runner gets its arguments.
std::string Ansi(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    return out.c_str();
}

}  // namespace

// DllInstall as regsvr32 calls it, through the helpers of both bitnesses:
// after DllRegisterServer, before DllUnregisterServer, alone with
// --no-register, always with a text (empty when none), on a thread that
// initialised OLE; a library without it is left untouched.
TEST(ConsoleRunner, InstallCallsDllInstallInBothBitnesses) {
    namespace ts = TestServers;
    const std::wstring accents = L"a\x00E7\x00E3o \x00FC";  // "ação ü"
    const std::string x86 = ts::kInstallServerFile, x64 = std::string("x64\\") + ts::kInstallServerFile;
    const std::string done = "Calls to 'DllRegisterServer' and 'DllInstall' in 'InstallServer.dll' completed with "
                             "success.";
    const struct {
        std::string command;  // run: a batch of the files
        Strings files;
        DWORD exitCode;
        std::wstring record;
        const char* inOut;
    } cases[] = {
        {"register --install", {x86}, 0, L"DllRegisterServer\nDllInstall(TRUE, \"\")\n32 OLE", done.c_str()},
        {"unregister \"--install=" + Ansi(accents) + "\"", {x64}, 0,
         L"DllInstall(FALSE, \"" + accents + L"\")\nDllUnregisterServer\n64 OLE",
         "Calls to 'DllInstall' and 'DllUnregisterServer' in 'InstallServer.dll' completed with success."},
        {"register --install=x --no-register", {x64}, 0, L"DllInstall(TRUE, \"x\")\n64 OLE",
         "Call to 'DllInstall' in 'InstallServer.dll' completed with success."},
        {"unregister --no-register --install", {x86}, 0, L"DllInstall(FALSE, \"\")\n32 OLE", "succeeded."},
        {"run --install=b", {x86, x64}, 0,
         L"DllRegisterServer\nDllInstall(TRUE, \"b\")\nDllRegisterServer\nDllInstall(TRUE, \"b\")\n64 OLE",
         "2 registered, 0 failed"},
        {"register --no-register", {x86}, 2, L"", ""},
        {"register --install=fail", {x64}, 1, L"DllRegisterServer\nDllInstall(TRUE, \"fail\")\n64 OLE",
         "    DllInstall returned 0x80004005 (E_FAIL)."},
        {"register --install=false", {x86}, 1, L"DllRegisterServer\nDllInstall(TRUE, \"false\")\n32 OLE",
         "FAILED. Call to 'DllInstall' failed in 'InstallServer.dll'."},
        {"register --install=fault", {x64}, 1, L"DllRegisterServer\nDllInstall(TRUE, \"fault\")\n64 OLE",
         "    DllInstall raised exception 0xC0000005"},
        {"unregister --install=hang --timeout 1", {x86}, 1, L"DllInstall(FALSE, \"hang\")\n32 OLE",
         "'InstallServer.dll' did not finish within 1 seconds: its DllInstall did not return."},
        {"register --install=false --regsvr32-exit-codes", {x64}, 0,
         L"DllRegisterServer\nDllInstall(TRUE, \"false\")\n64 OLE", done.c_str()},
        {"register --install", {ts::kOkServerFile}, 1, L"", "    'OkServer.dll' exports DllRegisterServer but not DllInstall."},
        {"register --install --no-register", {ts::kDepHelperFile}, 1, L"",
         "    'DepHelper.dll' exports neither DllInstall nor DllRegisterServer nor DllUnregisterServer"},
    };
    const std::string dir = testenv::MakeTempDir("cmd-install");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        testenv::DeleteTree(HKEY_CURRENT_USER, ts::kInstallServerKey);
        testenv::DeleteTree(HKEY_CLASSES_ROOT, ts::kOkServerClsidKey);
        std::string arguments = c.command, batch = "; Quorvandel Corvantis File\r\n";
        for (const std::string& file : c.files) {
            arguments += c.command.rfind("run", 0) == 0 ? "" : " " + Quoted(Data(file));
            batch += Data(file) + "\r\n";
        }
        if (c.command.rfind("run", 0) == 0) {
            testenv::WriteFile(dir + "install.kvx", batch);
            arguments += " " + Quoted(dir + "install.kvx");
        }
        TConsoleRun run = RunCmd(arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_TRUE(InstallServerRecord() == c.record) << testing::PrintToString(InstallServerRecord());
        EXPECT_NE(run.out.find(c.inOut), std::string::npos) << run.out;
        EXPECT_FALSE(testenv::KeyExists(HKEY_CLASSES_ROOT, ts::kOkServerClsidKey)) << "nothing was called";
    }
    testenv::DeleteTree(HKEY_CURRENT_USER, ts::kInstallServerKey);
}

// With --regsvr32-exit-codes the runner ends as regsvr32 does: the code of
// the last failure, any success code a success.
TEST(ConsoleRunner, Regsvr32ExitCodes) {
    namespace ts = TestServers;
    const std::string dir = testenv::MakeTempDir("cmd-regsvr32");
    const struct {
        std::string arguments;
        DWORD exitCode;
    } cases[] = {
        {Quoted(Data(ts::kSFalseServerFile)), 0},
        {Quoted(dir + "Missing.dll"), 3},
        {Quoted(dir + "Missing.exe"), 3},
        {Quoted(Data(ts::kNotALibraryFile)), 3},
        {Quoted(Data("TypeLibOnly.dll")), 4},
        {"--install " + Quoted(Data(ts::kSFalseServerFile)), 4},
        {Quoted(Data("x64\\SelfRegClassServer.dll")), 5},
        {Quoted(Data(ts::kFaultServerFile)), 5},
        {Quoted(Data(ts::kExeServerFailFile)), 5},
        {"--timeout 1 " + Quoted(Data(ts::kMisbehaveHangFile)), 5},
        {"--continue " + Quoted(dir + "Missing.dll") + " " + Quoted(Data("SelfRegClassServer.dll")) + " " +
             Quoted(Data(ts::kSFalseServerFile)),
         5},
        {"--continue " + Quoted(Data("SelfRegClassServer.dll")) + " " + Quoted(Data("TypeLibOnly.dll")), 4},
        {"--frobnicate", 1},
        {"--no-register " + Quoted(Data(ts::kSFalseServerFile)), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        EXPECT_EQ(RunCmd("register --regsvr32-exit-codes " + c.arguments).exitCode, c.exitCode);
    }
    EXPECT_EQ(RunCmd("run " + Quoted(dir + "missing.kvx") + " --regsvr32-exit-codes").exitCode, 1u);
}

namespace {

// A value of a key in one registry view; "<absent>" when the key is missing,
// "<no value>" when it has no such value.
std::string ValueInView(HKEY root, const std::string& key, const char* name, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) return "<absent>";
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value - 1;
    const LONG status = RegQueryValueExA(opened, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return status == ERROR_SUCCESS ? std::string(value) : "<no value>";
}

void SetInView(HKEY root, const std::string& key, const std::string& value, REGSAM view) {
    HKEY created = nullptr;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &created, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(created, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(created);
    }
}

void DeleteInView(HKEY root, const std::string& parent, const std::string& child, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, parent.c_str(), 0, KEY_ALL_ACCESS | view, &opened) == ERROR_SUCCESS) {
        RegDeleteTreeA(opened, child.c_str());
        RegCloseKey(opened);
    }
}

const REGSAM kViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

}  // namespace

// --per-user writes a server's classes into the current user's classes
// (HKEY_CURRENT_USER\Software\Classes), in the view of the server's bitness, and leaves the machine's
// classes as they were, in both views: a registration of the same class
// for all users, planted first, is neither overwritten by registering nor
// removed by unregistering. Each entry is read in the view of its server's
// bitness: on 64-bit Windows a 32-bit server's CLSID keys go to the user's
// Wow6432Node; Wine 8 keeps one view of HKEY_CURRENT_USER\Software\Classes
// for both bitnesses (the 64-bit OkServer overwrites the 32-bit one's entry
// there), so under Wine both views read the same key.
TEST(ConsoleRunner, PerUserRegistersIntoTheCurrentUsersClassesAlone) {
    namespace ts = TestServers;
    const std::string classes = "Software\\Classes\\";
    const std::string clsid = std::string("CLSID\\") + ts::kOkServerClsidString;
    const std::string typeLib = std::string("TypeLib\\") + ts::kTestLibLibidString;
    const struct {
        const char* file;
        std::string parent, child;  // the server's key below the classes
        std::string valueKey;       // holds the file's path as its default value
        REGSAM view;                // where the current user's entry lands
        const char* done;
    } rows[] = {
        {ts::kOkServerFile, "CLSID", ts::kOkServerClsidString, ts::kOkServerInprocKey, KEY_WOW64_32KEY,
         "Call to 'DllRegisterServer' in 'OkServer.dll' completed with success."},
        {"x64\\OkServer.dll", "CLSID", ts::kOkServerClsidString, ts::kOkServerInprocKey, KEY_WOW64_64KEY,
         "Call to 'DllRegisterServer' in 'OkServer.dll' completed with success."},
        {ts::kTestLibFile, "TypeLib", ts::kTestLibLibidString, typeLib + "\\1.0\\0\\win32", KEY_WOW64_32KEY,
         "Call to 'RegisterTypeLibForUser' in 'TestLib.tlb' completed with success."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string file = Data(row.file);
        for (REGSAM view : kViews) {
            DeleteInView(HKEY_CURRENT_USER, classes + row.parent, row.child, view);
            SetInView(HKEY_LOCAL_MACHINE, classes + row.valueKey, view == KEY_WOW64_32KEY ? "machine 32" : "machine 64",
                      view);
        }
        auto machine = [&] {
            Strings values;
            for (REGSAM view : kViews) values.push_back(ValueInView(HKEY_LOCAL_MACHINE, classes + row.valueKey, nullptr, view));
            return values;
        };
        const Strings before = machine();
        // TypeLib is one key for both views, CLSID one per view.
        for (const std::string& value : before) ASSERT_EQ(value.rfind("machine ", 0), 0u) << value;

        TConsoleRun registered = RunCmd("register --per-user " + Quoted(file));
        EXPECT_EQ(registered.exitCode, 0u) << registered.out;
        EXPECT_NE(registered.out.find(row.done), std::string::npos) << registered.out;
        EXPECT_EQ(ValueInView(HKEY_CURRENT_USER, classes + row.valueKey, nullptr, row.view), file);
        EXPECT_EQ(machine(), before) << "the machine's classes were changed";

        TConsoleRun unregistered = RunCmd("unregister --per-user " + Quoted(file));
        EXPECT_EQ(unregistered.exitCode, 0u) << unregistered.out;
        for (REGSAM view : kViews) {
            EXPECT_EQ(ValueInView(HKEY_CURRENT_USER, classes + row.valueKey, nullptr, view), "<absent>");
        }
        EXPECT_EQ(machine(), before) << "the machine's registration was removed";
        for (REGSAM view : kViews) {
            DeleteInView(HKEY_LOCAL_MACHINE, classes + row.parent, row.child, view);
            DeleteInView(HKEY_CURRENT_USER, classes + row.parent, row.child, view);
        }
    }
}

// An executable server registered for the current user is started with the
// per-user switches; the test server then writes under HKEY_CURRENT_USER.
// With the other options (--install stays with libraries) the switch is the
// same.
TEST(ConsoleRunner, PerUserStartsExecutableServersWithThePerUserSwitches) {
    namespace ts = TestServers;
    const std::string server = Data(ts::kExeServerFile);
    const struct {
        const char* arguments;
        const char* done;
        const char* commandLineEnd;  // "" when the key must be gone
    } rows[] = {
        {"register --per-user", "'ExeServer.exe /RegServerPerUser' completed with success.", "\" /RegServerPerUser"},
        {"unregister --per-user --install", "'ExeServer.exe /UnregServerPerUser' completed with success.", ""},
        {"register --install=x --per-user --json", "'ExeServer.exe /RegServerPerUser' completed with success.",
         "\" /RegServerPerUser"},
        {"unregister --per-user", "'ExeServer.exe /UnregServerPerUser' completed with success.", ""},
    };
    testenv::DeleteTree(HKEY_CURRENT_USER, ts::kExeServerKey);
    testenv::DeleteTree(HKEY_LOCAL_MACHINE, ts::kExeServerKey);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        TConsoleRun run = RunCmd(std::string(row.arguments) + " " + Quoted(server));
        EXPECT_EQ(run.exitCode, 0u) << run.out;
        EXPECT_NE(run.out.find(row.done), std::string::npos) << run.out;
        const std::string commandLine =
            testenv::ReadString(HKEY_CURRENT_USER, ts::kExeServerKey, ts::kExeServerCommandLineValueName);
        if (*row.commandLineEnd) {
            EXPECT_EQ(commandLine, Quoted(server) + " /RegServerPerUser");
        } else {
            EXPECT_EQ(commandLine, "<absent>");
        }
        EXPECT_FALSE(testenv::KeyExists(HKEY_LOCAL_MACHINE, ts::kExeServerKey)) << "registered for all users";
    }
    testenv::DeleteTree(HKEY_CURRENT_USER, ts::kExeServerKey);
}

// A batch run for the current user, with the other options: both bitnesses
// end in the current user's classes, never in the machine's.
TEST(ConsoleRunner, PerUserBatchRunsWithTheOtherOptions) {
    namespace ts = TestServers;
    const std::string dir = testenv::MakeTempDir("cmd-per-user-batch");
    const std::string x86 = Data(ts::kOkServerFile), x64 = Data("x64\\OkServer.dll");
    testenv::WriteFile(dir + "mine.kvx", "; Quorvandel Corvantis File\r\n" + x86 + "\r\n" + x64 + "\r\n");
    const std::string inproc = std::string("Software\\Classes\\") + ts::kOkServerInprocKey;
    const struct {
        const char* arguments;
        const char* summary;
        const char* inUser;  // the path in the current user's 64-bit view ("<absent>": none)
    } rows[] = {
        {"run mine.kvx --per-user --unregister-first --continue --log NUL", "2 unregistered, 2 registered, 0 failed",
         "x64"},
        {"run mine.kvx --unregister --per-user --stop-after 1", "2 unregistered, 0 failed, 0 not run", "<absent>"},
    };
    for (REGSAM view : kViews) {
        DeleteInView(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID", ts::kOkServerClsidString, view);
        DeleteInView(HKEY_CURRENT_USER, "Software\\Classes\\CLSID", ts::kOkServerClsidString, view);
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        TConsoleRun run = RunCmd(row.arguments, dir);
        EXPECT_EQ(run.exitCode, 0u) << run.out;
        EXPECT_NE(run.out.find(row.summary), std::string::npos) << run.out;
        EXPECT_EQ(ValueInView(HKEY_CURRENT_USER, inproc, nullptr, KEY_WOW64_64KEY),
                  std::string(row.inUser) == "x64" ? x64 : row.inUser);
        for (REGSAM view : kViews) {
            EXPECT_EQ(ValueInView(HKEY_LOCAL_MACHINE, inproc, nullptr, view), "<absent>") << "registered for all users";
        }
    }
}

namespace {

// UTF-16LE bytes of ASCII text, to find in a .reg file.
std::string Utf16Of(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

}  // namespace

TEST(ConsoleRunner, CaptureWritesTheRegFileAndJsonOfBothBitnesses) {
    namespace ts = TestServers;
    const std::string dir = testenv::MakeTempDir("cmd-capture");
    const std::string reg = dir + "captured.reg";
    const std::string clsid = std::string("CLSID\\") + ts::kOkServerClsidString + "\\InprocServer32";
    struct TCase {
        std::string file;
        std::string placed;  // the key's name in the .reg file
    };
    const TCase cases[] = {
        {Data(ts::kOkServerFile), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\WOW6432Node\\" + clsid},
        {Data("x64\\OkServer.dll"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + clsid},
    };
    std::string arguments = "capture --reg " + Quoted(reg);
    for (const TCase& c : cases) arguments += " " + Quoted(c.file);
    const TConsoleRun text = RunCmd(arguments);
    EXPECT_EQ(text.exitCode, 0u) << text.out << text.err;
    EXPECT_EQ(text.err, "");
    const Strings lines = text.Lines();
    ASSERT_EQ(lines.size(), 3u) << text.out;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(lines[i].rfind("capture \"" + cases[i].file + "\": captured ", 0), 0u) << lines[i];
        EXPECT_NE(lines[i].find(" keys, "), std::string::npos) << lines[i];
    }
    EXPECT_EQ(lines[2], "2 captured, 0 failed, 0 not run");
    const std::string bytes = ReadWholeFile(reg);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.find(Utf16Of("Windows Registry Editor Version 5.00\r\n")), 2u);
    for (const TCase& c : cases) {
        EXPECT_NE(bytes.find(Utf16Of("[" + c.placed + "]\r\n")), std::string::npos) << c.placed;
    }
    EXPECT_NE(bytes.find(Utf16Of("\"ThreadingModel\"=\"Apartment\"\r\n")), std::string::npos);
    EXPECT_EQ(FolderNames(dir), (Strings{"captured.reg"})) << "no temporary file is left";

    const TConsoleRun json = RunCmd("capture --json " + Quoted(cases[1].file) + " " + Quoted(Data(ts::kExeServerFile)));
    EXPECT_EQ(json.exitCode, 1u);
    const Strings objects = json.Lines();
    ASSERT_EQ(objects.size(), 2u) << json.out;
    EXPECT_NE(objects[0].find("\"outcome\":\"captured\""), std::string::npos) << objects[0];
    std::string escaped;
    for (char c : cases[1].placed) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_NE(objects[0].find("{\"key\":\"" + escaped + "\",\"values\":["), std::string::npos) << objects[0];
    EXPECT_NE(objects[0].find("{\"name\":\"ThreadingModel\",\"type\":\"REG_SZ\",\"data\":\"Apartment\"}"),
              std::string::npos)
        << objects[0];
    EXPECT_NE(objects[1].find("\"outcome\":\"failed\""), std::string::npos) << objects[1];
    EXPECT_NE(objects[1].find("before anything could redirect its registry"), std::string::npos) << objects[1];
}

// verify: the exit code a deployment tool takes as its detection rule, for
// a server not registered, registered, one that cannot be verified, a batch
// standing for its entries, and wrong command lines.
TEST(ConsoleRunner, VerifyEndsWithTheStateOfEveryFile) {
    namespace ts = TestServers;
    const std::string dir = testenv::MakeTempDir("cmd-verify");
    const std::string server = dir + "Ok.dll";
    ASSERT_TRUE(testenv::CopyTo(Data(ts::kOkServerFile), server));
    testenv::WriteFile(dir + "b.kvx", "; Quorvandel Corvantis File\r\nOk.dll\r\n");
    testenv::WriteFile(dir + "notabatch.kvx", "Ok.dll\r\n");
    // A key of the class under the current user's classes would hide the
    // machine's registration.
    testenv::DeleteTree(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + ts::kOkServerClsidKey);
    const std::string exe = Data(ts::kExeServerFile);
    const struct {
        const char* before;  // "register", "unregister" or nothing
        std::string arguments;
        DWORD exitCode;
        Strings lines;       // the first lines of standard output
        const char* inErr;
    } cases[] = {
        {"unregister", "verify Ok.dll", 6,
         {"verify \"" + server + "\": 'Ok.dll' is not registered.", "    HKEY_CLASSES_ROOT\\CLSID\\"}, ""},
        {"register", "verify Ok.dll", 0, {"verify \"" + server + "\": 'Ok.dll' is registered.", "1 registered, 0 not run"}, ""},
        {"", "verify b.kvx --quiet", 0, {}, ""},
        {"", "verify Ok.dll " + Quoted(exe), 1,
         {"verify \"" + server + "\": 'Ok.dll' is registered.",
          "verify \"" + exe + "\": 'ExeServer.exe' could not be verified: Cannot capture 'ExeServer.exe'."}, ""},
        {"", "verify --json Ok.dll", 0, {"{\"file\":"}, ""},
        {"", "verify Ok.dll notabatch.kvx", 3, {}, "is not a batch file"},
        {"", "verify Ok.dll --log e.log", 2, {}, "verify takes only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        if (*c.before) {
            EXPECT_EQ(RunCmd(std::string(c.before) + " Ok.dll --quiet", dir).exitCode, 0u);
        }
        const TConsoleRun run = RunCmd(c.arguments, dir);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        const Strings lines = run.Lines();
        if (c.lines.empty()) {
            EXPECT_EQ(run.out, "");
        }
        for (size_t i = 0; i < c.lines.size(); ++i) {
            ASSERT_LT(i, lines.size()) << run.out;
            EXPECT_EQ(lines[i].rfind(c.lines[i], 0), 0u) << lines[i];
        }
        if (*c.inErr) {
            EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(RunCmd("unregister Ok.dll --quiet", dir).exitCode, 0u);
}

TEST(ConsoleRunner, CaptureCommandLineErrors) {
    const std::string dir = testenv::MakeTempDir("cmd-capture-errors");
    const std::string server = dir + "Ok.dll";
    ASSERT_TRUE(testenv::CopyTo(Data(TestServers::kOkServerFile), server));
    const std::string serverBytes = ReadWholeFile(server);
    struct TCase {
        std::string arguments;
        const char* inErr;
    };
    const TCase cases[] = {
        {"capture", "capture needs at least one file."},
        {"capture Ok.dll --reg Ok.dll", "--reg \"Ok.dll\" is the server"},
        {"capture Ok.dll --reg OK.DLL", "the file would overwrite it."},
        {"register Ok.dll --reg out.reg", "--reg belongs to capture."},
        {"capture Ok.dll --log out.log", "capture takes only"},
        {"capture Ok.dll --wxs ok.DLL", "--wxs \"ok.DLL\" is the server"},
        {"capture Ok.dll --reg o.x --wxs O.X", "--reg and --wxs name the same file"},
        {"capture Ok.dll --wxs-folder 1A --wxs o.wxs", "--wxs-folder needs a folder id"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.arguments);
        const TConsoleRun run = RunCmd(c.arguments, dir);
        EXPECT_EQ(run.exitCode, 2u);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
    }
    EXPECT_TRUE(ReadWholeFile(server) == serverBytes) << "the server was changed";
    EXPECT_EQ(FolderNames(dir), (Strings{"Ok.dll"}));
}
