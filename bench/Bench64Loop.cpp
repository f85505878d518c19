// bench_loop64.exe: the baseline of bench_batch's 64-bit task run. A 64-bit
// program that registers numbered copies of the 64-bit test server in a
// plain loop, in its own process, with RegisterFileCore and a default
// context (runLibrary null: what the helper Corvantis64.exe does for each
// file it gets), then unregisters them the same way; each loop under one
// busy cursor, as the task window's run.
//   bench_loop64.exe <folder> <count>
// The folder holds OkServer0000.dll, OkServer0001.dll, ... Prints one line
// per direction, as bench_batch reads them:
//   RESULT <ms> 0 0 0 <failures> <problem>          registration
//   RESULT_UNREG <ms> 0 0 0 <failures> <problem>    unregistration
//   PER_FILE <median ms> <slowest ms>               per registration
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "TestServerIds.h"
#include "engine/uRegCore.h"

namespace {

struct TLoopFigures {
    double totalMs = 0;
    int failures = 0;
    std::string problem;
    std::vector<double> each;
};

TLoopFigures RunLoop(const std::vector<std::string>& files, bool register_) {
    const engine::TRegContext context;
    TLoopFigures figures;
    figures.each.reserve(files.size());
    double start = bench::NowMs();
    for (const std::string& path : files) {
        double fileStart = bench::NowMs();
        engine::TRegOutcome outcome = engine::RegisterFileCore(path, register_, context);
        figures.each.push_back(bench::NowMs() - fileStart);
        if (!outcome.success && figures.failures++ == 0) figures.problem = outcome.message + " " + outcome.details;
    }
    figures.totalMs = bench::NowMs() - start;
    return figures;
}

// The registered server's path in this program's (the 64-bit) view.
std::string RegisteredServer() {
    char value[MAX_PATH * 2] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CLASSES_ROOT, TestServers::kOkServerInprocKey, nullptr, RRF_RT_REG_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS) {
        return "<not registered>";
    }
    return value;
}

std::string ProgramFolder() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string folder = exe;
    return folder.erase(folder.find_last_of('\\') + 1);
}

void PrintResult(const char* tag, const TLoopFigures& figures) {
    // Line breaks in a problem would cut the line short.
    std::string problem = figures.problem;
    std::replace(problem.begin(), problem.end(), '\r', ' ');
    std::replace(problem.begin(), problem.end(), '\n', ' ');
    std::printf("%s %.3f 0 0 0 %d %s\n", tag, figures.totalMs, figures.failures, problem.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (sizeof(void*) != 8 || argc != 3) {
        std::fprintf(stderr, "usage: bench_loop64.exe <folder> <count> (a 64-bit program)\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "\\";
    const int count = std::atoi(argv[2]);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "OkServer%04d.dll", i);
        files.push_back(folder + name);
    }
    // As the helper runs: COM initialised, no system box for a disk or a crash.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    HRESULT com = CoInitialize(nullptr);

    // Warm-up outside the measurement: the first registrations of the
    // original server in this process.
    const std::string original = ProgramFolder() + "testdata\\x64\\" + TestServers::kOkServerFile;
    RunLoop(std::vector<std::string>(5, original), true);

    // One busy cursor for each loop, as the task window holds one for its run.
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));  // IDC_WAIT
    TLoopFigures registration = RunLoop(files, true);
    SetCursor(previous);
    if (registration.problem.empty() && !files.empty() &&
        lstrcmpiA(RegisteredServer().c_str(), files.back().c_str()) != 0) {
        registration.problem = "the registry names " + RegisteredServer() + " rather than the last file";
    }
    previous = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
    TLoopFigures unregistration = RunLoop(files, false);
    SetCursor(previous);
    if (unregistration.problem.empty() && RegisteredServer() != "<not registered>") {
        unregistration.problem = "the registry still names " + RegisteredServer();
    }
    PrintResult("RESULT", registration);
    PrintResult("RESULT_UNREG", unregistration);
    std::vector<double> each = registration.each;
    std::printf("PER_FILE %.4f %.3f\n", bench::Median(each),
                each.empty() ? 0.0 : *std::max_element(each.begin(), each.end()));
    std::fflush(stdout);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
