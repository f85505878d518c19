// Benchmark of the console runner: "CorvantisCmd run" over a batch of 1,000
// test servers (the whole process timed, start and exit included) against
// the same registrations in a bare in-process loop of the engine, and
// regsvr32 started once per file against the runner. Each figure is the
// median of several rounds and is printed as a ratio of two measurements of
// the same run, so that it compares across machines and emulators.
// Run by bench/run.sh from the build's bin folder.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "engine/uRegCore.h"

namespace {

using bench::Median;
using bench::NowMs;

const int kServers = 1000;
const int kRounds = 3;
const int kRegsvr32Sample = 100;  // regsvr32 is timed on these and scaled up

std::string BinFolder() {
    char path[MAX_PATH * 2] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The engine over every file, as the runner does it, without the runner.
double BareLoop(const std::vector<std::string>& files, bool register_, int& failures) {
    engine::TRegContext context;
    double start = NowMs();
    for (const std::string& file : files) {
        if (!engine::RegisterFileCore(file, register_, context).success) ++failures;
    }
    return NowMs() - start;
}

double RunnerRun(const std::string& runner, const std::string& batch, bool register_, int& failures) {
    std::string line = "\"" + runner + "\" run \"" + batch + "\" --quiet --continue" + (register_ ? "" : " --unregister");
    double start = NowMs();
    if (bench::RunProcess(runner, line, nullptr) != 0) ++failures;
    return NowMs() - start;
}

std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f ms", ms);
    return text;
}

int Run() {
    const std::string bin = BinFolder();
    const std::string server = bin + "testdata\\OkServer.dll";
    const std::string runner = bin + "CorvantisCmd.exe";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "corvantis-bench-cmd\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<std::string> files;
    std::string batch = "; Quorvandel Corvantis File\r\n";
    for (int i = 0; i < kServers; ++i) {
        files.push_back(folder + "server" + std::to_string(i) + ".dll");
        if (!CopyFileA(server.c_str(), files.back().c_str(), FALSE)) throw std::runtime_error("cannot copy " + server);
        batch += files.back() + "\r\n";
    }
    const std::string batchFile = folder + "servers.kvx";
    HANDLE file = CreateFileA(batchFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, batch.data(), static_cast<DWORD>(batch.size()), &written, nullptr);
    CloseHandle(file);

    int failures = 0;
    std::vector<double> bare, run, ratios;
    for (int round = 0; round < kRounds; ++round) {
        double bareMs = BareLoop(files, true, failures);
        BareLoop(files, false, failures);
        double runMs = RunnerRun(runner, batchFile, true, failures);
        RunnerRun(runner, batchFile, false, failures);
        bare.push_back(bareMs);
        run.push_back(runMs);
        ratios.push_back(runMs / bareMs);
    }
    const std::string regsvr32 = bench::Regsvr32Path();
    double start = NowMs();
    for (int i = 0; i < kRegsvr32Sample; ++i) {
        const std::string line = "\"" + regsvr32 + "\" /s \"" + files[static_cast<size_t>(i)] + "\"";
        if (bench::RunProcess(regsvr32, line, nullptr) != 0) ++failures;
    }
    double regsvrMs = (NowMs() - start) * kServers / kRegsvr32Sample;
    for (int i = 0; i < kRegsvr32Sample; ++i) {
        bench::RunProcess(regsvr32, "\"" + regsvr32 + "\" /s /u \"" + files[static_cast<size_t>(i)] + "\"", nullptr);
    }

    double runMs = Median(run), bareMs = Median(bare);
    std::printf("%-26s %8.2f  CorvantisCmd run over %d servers: %s (process included), bare engine loop: %s; "
                "median of %d paired ratios %.2f (goal <= 1.2)\n",
                "cmd_run_vs_bare", runMs / bareMs, kServers, Ms(runMs).c_str(), Ms(bareMs).c_str(), kRounds,
                Median(ratios));
    std::printf("%-26s %8.1f  regsvr32 /s once per file: %s for %d (%d timed and scaled); goal >= 60\n",
                "regsvr32_vs_cmd_run", regsvrMs / runMs, Ms(regsvrMs).c_str(), kServers, kRegsvr32Sample);
    std::printf("  regsvr32 against the bare loop: %.1f (the most any runner could reach here)\n", regsvrMs / bareMs);
    if (failures) std::printf("  %d registration(s) failed during the measurements\n", failures);
    for (const std::string& copy : files) DeleteFileA(copy.c_str());
    DeleteFileA(batchFile.c_str());
    RemoveDirectoryA(folder.c_str());
    return failures ? 1 : 0;
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    try {
        return Run();
    } catch (const std::exception& e) {
        std::printf("cmd benchmark failed: %s\n", e.what());
        return 1;
    }
}
