// Names in any script: servers in a folder named in Greek, Cyrillic and
// Chinese, registered by every way in, in both bitnesses, and the program
// installed in such a folder. Folders, copies and child processes are made
// through the wide functions, so each name reaches the program as the shell
// would pass it; what the program shows is read back as UTF-8, the test
// program's own code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestServerIds.h"
#include "e2e/ProcessDriver.h"
#include "support/DialogDriver.h"
#include "support/TestEnv.h"

namespace {

using namespace TestServers;

const wchar_t kScripts[] = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC "
                           L"\u041A\u0438\u0440\u0438\u043B\u043B\u0438\u0446\u0430 \u6F22\u5B57";

std::string Utf8(const std::wstring& wide) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], bytes, nullptr, nullptr);
    text.pop_back();
    return text;
}

std::wstring Wide(const std::string& utf8) {
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring text(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], units);
    text.pop_back();
    return text;
}

// `base` (an empty test folder) with the folders of `names` made inside one
// another; the innermost, with a trailing backslash.
std::wstring MakeFolders(const std::string& base, const std::vector<std::wstring>& names) {
    std::wstring folder = Wide(base);
    for (const std::wstring& name : names) {
        folder += name + L"\\";
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    return folder;
}

// One server of each bitness, copied under a name in the three scripts, with
// the registry view its class lands in.
struct TServer {
    std::wstring path;
    std::string name;  // the file-name part, as the messages show it
    REGSAM view;
};

std::vector<TServer> CopyServers(const std::wstring& folder) {
    struct TSource {
        const char* file;
        const wchar_t* name;
        REGSAM view;
    };
    const TSource sources[] = {{kOkServerFile, L"\u0421\u0435\u0440\u0432\u0435\u0440 \u03A9 32.dll", KEY_WOW64_32KEY},
                               {"x64\\OkServer.dll", L"\u0421\u0435\u0440\u0432\u0435\u0440 \u03A9 64.dll", KEY_WOW64_64KEY}};
    std::vector<TServer> servers;
    for (const TSource& source : sources) {
        const std::wstring path = folder + source.name;
        EXPECT_TRUE(CopyFileW(Wide(testenv::TestDataDir() + source.file).c_str(), path.c_str(), FALSE));
        servers.push_back({path, Utf8(source.name), source.view});
    }
    return servers;
}

// The server's path as its DllRegisterServer wrote it (its own module name),
// read in its wide form; "<absent>" when the class is not registered.
std::wstring RegisteredPath(REGSAM view) {
    const std::wstring key = L"Software\\Classes\\" + std::wstring(kOkServerInprocKeyW);
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &opened) != ERROR_SUCCESS) {
        return L"<absent>";
    }
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    RegQueryValueExW(opened, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(opened);
    return value;
}

struct TRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out, err;
};

// Runs `program` with `arguments` through CreateProcessW, its output going to
// files, and waits for its end.
TRun RunWide(const std::wstring& program, const std::wstring& arguments) {
    const std::string dir = testenv::MakeTempDir("unicode-run");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto create = [&](const char* name) {
        return CreateFileA((dir + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
    };
    HANDLE out = create("out.txt"), err = create("err.txt");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    TRun run;
    if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    run.out = testenv::ReadFileBytes(dir + "out.txt");
    run.err = testenv::ReadFileBytes(dir + "err.txt");
    return run;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

class UnicodeNames : public testing::Test {
protected:
    void SetUp() override {
        testenv::DeleteTree(HKEY_CLASSES_ROOT, kOkServerClsidKey);
        folder_ = MakeFolders(testenv::MakeTempDir("unicode-names"), {kScripts});
        servers_ = CopyServers(folder_);
    }
    std::wstring folder_;
    std::vector<TServer> servers_;
};

// The runner, and each helper it hands a library to, take the name whole:
// run from the build, and from a copy of the program in a folder of such
// names deep enough that its path takes more than 2 * MAX_PATH bytes in
// UTF-8 while staying under MAX_PATH characters, where it must still find
// its helpers. (Corvantis.exe's "/R:" and "/U:" are Explorer's verbs' test.)
TEST_F(UnicodeNames, TheRunnerRegistersServersOfBothBitnesses) {
    const std::string base = testenv::MakeTempDir("unicode-install");
    const size_t room = MAX_PATH - 1 - Wide(base).size() - 3 - std::string("CorvantisCmd.exe").size();
    const std::wstring part(room / 3 - 1, L'\u6F22');
    const std::wstring installed = MakeFolders(base, {part, part, part});
    ASSERT_GT(Utf8(installed).size(), 2u * MAX_PATH);
    for (const char* file : {"CorvantisCmd.exe", "Corvantis32.exe", "Corvantis64.exe"}) {
        ASSERT_TRUE(CopyFileW(Wide(testenv::BinDir() + file).c_str(), (installed + Wide(file)).c_str(), FALSE)) << file;
    }
    for (const std::wstring& folder : {Wide(testenv::BinDir()), installed}) {
        for (const TServer& server : servers_) {
            SCOPED_TRACE(Utf8(folder) + " " + server.name);
            TRun registered = RunWide(folder + L"CorvantisCmd.exe", L"register --json " + Quoted(server.path));
            EXPECT_EQ(registered.exitCode, 0u) << registered.out << registered.err;
            EXPECT_EQ(RegisteredPath(server.view), server.path);
            // The JSON line carries the name in UTF-8, each character whole.
            std::string escaped;
            for (char c : Utf8(server.path)) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
            EXPECT_NE(registered.out.find("{\"file\":\"" + escaped + "\""), std::string::npos) << registered.out;
            TRun unregistered = RunWide(folder + L"CorvantisCmd.exe", L"unregister " + Quoted(server.path));
            EXPECT_EQ(unregistered.exitCode, 0u) << unregistered.out;
            EXPECT_EQ(RegisteredPath(server.view), L"<absent>");
        }
    }
}

// A name with a lone surrogate, which Windows allows and no ANSI code page,
// UTF-8 included, can hold: each way in refuses it by name instead of acting
// on the damaged name.
TEST_F(UnicodeNames, ANameTheCodePageCannotHoldIsRefused) {
    const std::wstring lost = folder_ + L"x\xD800y.dll";
    TRun runner = RunWide(Wide(testenv::BinDir()) + L"CorvantisCmd.exe", L"register " + Quoted(lost));
    EXPECT_EQ(runner.exitCode, 2u);
    EXPECT_NE(runner.err.find("holds characters that Windows could not pass to the runner"), std::string::npos)
        << runner.err;
    EXPECT_EQ(runner.out, "");

    e2e::CorvantisProcess program(L"\"/R:" + lost + L"\"");
    const HWND message = program.WaitForWindow();
    ASSERT_TRUE(message);
    testenv::SaveShot(message, "name-lost");
    EXPECT_EQ(program.LabelTexts(), std::vector<std::string>{"The name 'x\xEF\xBF\xBDy.dll' holds characters that "
                                                             "Windows could not pass to the program, so it was not "
                                                             "used."});
    program.PressButton("&OK");
    EXPECT_EQ(program.WaitForExit(), 1u);
}

}  // namespace
