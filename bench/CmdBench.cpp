// Benchmark of the console runner, every figure the whole CorvantisCmd
// process (start, helpers, exit) as a script sees it:
//   run   "CorvantisCmd run BATCH" over a batch of 1,000 test servers
//         against the bare loop of the same build (RegisterFileCore with a
//         context whose runLibrary is null, in a fresh child process: the
//         engine's own work for the same files and nothing more);
//   one   "CorvantisCmd register FILE" against "regsvr32 /s FILE" on the same
//         file (the 32-bit test server and SysWOW64's regsvr32; the 64-bit
//         server and System32's regsvr32 beside it);
//   verify  "CorvantisCmd verify BATCH" over 1,000 servers of their own classes,
//         registered, against "CorvantisCmd run BATCH" registering them (the
//         capture of each file is most of it; the comparison with the live
//         registry is timed apart in this process);
//   hang  "CorvantisCmd register Hang.dll Ok.dll --timeout 2": the run's time
//         beyond the 2 s time-out (ending the hung helper, starting another
//         for the next file);
//   capture  capturing 1,000 test servers (each of its own class), verifying them while they
//         are registered, and registering them for the current user, each
//         against registering them, all through the helpers of one session
//         in this process (engine calls, no runner process).
// Every timed command gets one untimed warm-up run; the two sides of a pair
// alternate which runs first; a ratio is the median of the pairs' ratios.
// Run by bench/run.sh from the build's bin folder; "bench_cmd.exe run",
// "verify", "one", "hang" or "capture" runs that part alone. Started with
// "--bare-loop BATCH" it is the bare loop's child; with "--nothing", "--nothing-sta" or
// "--nothing-mta" a process that does nothing (after initialising COM in a
// single-threaded or the multithreaded apartment); with "--mini-register
// VARIANT FILE" a stand-in for "CorvantisCmd register FILE" that shows what
// two changes to the runner would save (see MiniRegister).
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchTiming.h"
#include "TestServerIds.h"
#include "engine/uCapture.h"
#include "engine/uHelper.h"
#include "engine/uPeFile.h"
#include "engine/uRegCore.h"
#include "engine/uVerify.h"

namespace {

using bench::Median;
using bench::NowMs;
using bench::TPairs;

const int kServers = 1000;
const int kRunPairs = 5;
const int kVerifyPairs = 3;
const int kOnePairs = 11;
const int kHangRuns = 3;
const int kCapturePairs = 7;
const double kHangTimeoutMs = 2000;

std::string BinFolder() {
    char path[MAX_PATH * 2] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string Ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, ms < 10 ? "%.1f ms" : "%.0f ms", ms);
    return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Runs the program with the arguments after its own quoted path; the whole
// process's time in milliseconds. Its exit code goes to `exitCode` and its
// output to `output` when given.
double TimedRun(const std::string& program, const std::string& arguments, long* exitCode = nullptr,
                std::string* output = nullptr) {
    const double start = NowMs();
    const long code = bench::RunProcess(program, Quoted(program) + " " + arguments, output);
    const double ms = NowMs() - start;
    if (exitCode) *exitCode = code;
    return ms;
}

// The paths of a batch file, without its first line.
std::vector<std::string> BatchPaths(const std::string& batchFile) {
    std::vector<std::string> paths;
    HANDLE file = CreateFileA(batchFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return paths;
    std::string text(static_cast<size_t>(GetFileSize(file, nullptr)), '\0');
    DWORD read = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
    CloseHandle(file);
    size_t start = text.find('\n');
    while (start != std::string::npos && start + 1 < text.size()) {
        size_t end = text.find_first_of("\r\n", start + 1);
        if (end == std::string::npos) end = text.size();
        if (end > start + 1) paths.push_back(text.substr(start + 1, end - start - 1));
        start = text.find('\n', end);
    }
    return paths;
}

// The bare loop's child: registers, then unregisters, every file of the
// batch in this process, and prints "BARE <registration ms>
// <unregistration ms> <failures>".
int BareLoopChild(const std::string& batchFile) {
    // As the helper runs: no system box for a disk or a crash, COM initialised.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    HRESULT com = CoInitialize(nullptr);
    const std::vector<std::string> files = BatchPaths(batchFile);
    const engine::TRegContext context;  // runLibrary null: in this process
    int failures = 0;
    // Warm-up outside the measurement: the first registrations in this process.
    for (int i = 0; i < 5; ++i) engine::RegisterFileCore(BinFolder() + "testdata\\OkServer.dll", true, context);
    double ms[2] = {};
    for (int pass = 0; pass < 2; ++pass) {
        const double start = NowMs();
        for (const std::string& file : files) {
            if (!engine::RegisterFileCore(file, pass == 0, context).success) ++failures;
        }
        ms[pass] = NowMs() - start;
    }
    if (files.empty()) ++failures;
    std::printf("BARE %.3f %.3f %d\n", ms[0], ms[1], failures);
    std::fflush(stdout);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

// The sum of the "milliseconds" fields of the runner's JSON lines: each
// file's time as the runner measured it (the helper's round trip included).
double SumOfTaskMs(const std::string& json, int* tasks) {
    double sum = 0;
    *tasks = 0;
    const std::string field = "\"milliseconds\":";
    for (size_t at = json.find(field); at != std::string::npos; at = json.find(field, at + 1)) {
        sum += std::strtod(json.c_str() + at + field.size(), nullptr);
        ++*tasks;
    }
    return sum;
}

// The whole time of a process that does nothing: this program started
// with "--nothing" (the floor of any process's start and end).
double NothingProcessMs() {
    const std::string self = BinFolder() + "bench_cmd.exe";
    TimedRun(self, "--nothing");
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) times.push_back(TimedRun(self, "--nothing"));
    return Median(times);
}

// ---------------------------------------------------------------------------
// run: the runner over a batch of 1,000 against the bare loop

// The 1,000 copies of the 32-bit test server and a batch of them, in a
// folder of their own; removed by RemoveServerBatch.
struct TServerBatch {
    std::string folder, batchFile;
    std::vector<std::string> files;
};

// Gives a copy of the test server a class of its own: the last four digits
// of its class id, wherever the copy spells it (in ANSI and UTF-16), become
// `number` in hexadecimal. Registered, every copy then names itself.
void GiveOwnClass(std::string& bytes, int number) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(number) & 0xFFFFu);
    const std::string ansi = "38C2FFA1F91E}";
    std::string wide;
    for (char c : ansi) wide += std::string{c, '\0'};
    for (const std::string* form : std::initializer_list<const std::string*>{&ansi, &wide}) {
        const size_t step = form == &ansi ? 1 : 2;
        for (size_t at = bytes.find(*form); at != std::string::npos; at = bytes.find(*form, at + 1)) {
            for (size_t d = 0; d < 4; ++d) bytes[at + (8 + d) * step] = digits[d];
        }
    }
}

// `ownClasses`: each copy registers a class of its own, as a batch of
// different servers does; otherwise the copies share the test server's.
TServerBatch MakeServerBatch(const std::string& name, bool ownClasses = false) {
    const std::string server = BinFolder() + "testdata\\OkServer.dll";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    TServerBatch made;
    made.folder = std::string(temp) + name + "\\";
    CreateDirectoryA(made.folder.c_str(), nullptr);
    std::string original;
    if (ownClasses) {
        std::ifstream in(server, std::ios::binary);
        original.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (original.empty()) throw std::runtime_error("cannot read " + server);
    }
    std::string batch = "; Quorvandel Corvantis File\r\n";
    for (int i = 0; i < kServers; ++i) {
        made.files.push_back(made.folder + "server" + std::to_string(i) + ".dll");
        if (ownClasses) {
            std::string bytes = original;
            GiveOwnClass(bytes, i);
            std::ofstream out(made.files.back(), std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) throw std::runtime_error("cannot write " + made.files.back());
        } else if (!CopyFileA(server.c_str(), made.files.back().c_str(), FALSE)) {
            throw std::runtime_error("cannot copy " + server);
        }
        batch += made.files.back() + "\r\n";
    }
    made.batchFile = made.folder + "servers.kvx";
    HANDLE file = CreateFileA(made.batchFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, batch.data(), static_cast<DWORD>(batch.size()), &written, nullptr);
    CloseHandle(file);
    return made;
}

void RemoveServerBatch(const TServerBatch& made) {
    for (const std::string& copy : made.files) DeleteFileA(copy.c_str());
    DeleteFileA(made.batchFile.c_str());
    RemoveDirectoryA(made.folder.c_str());
}

bool BenchRun(const std::string& runner) {
    const std::string bin = BinFolder();
    const TServerBatch made = MakeServerBatch("corvantis-bench-cmd");
    const std::string& batchFile = made.batchFile;

    int failures = 0;
    const std::string self = bin + "bench_cmd.exe";
    TPairs registration, unregistration;
    auto bare = [&](bool timed) {
        std::string output;
        bench::RunProcess(self, Quoted(self) + " --bare-loop " + Quoted(batchFile), &output);
        double reg = 0, unreg = 0;
        int failed = 1;
        const size_t at = output.find("BARE ");
        if (at != std::string::npos) std::sscanf(output.c_str() + at + 5, "%lf %lf %d", &reg, &unreg, &failed);
        failures += failed;
        if (!timed) return;
        registration.base.push_back(reg);
        unregistration.base.push_back(unreg);
    };
    const std::string run = "run " + Quoted(batchFile) + " --quiet --continue";
    auto whole = [&](bool timed) {
        long code = 0;
        const double reg = TimedRun(runner, run, &code);
        if (code != 0) ++failures;
        const double unreg = TimedRun(runner, run + " --unregister", &code);
        if (code != 0) ++failures;
        if (!timed) return;
        registration.measured.push_back(reg);
        unregistration.measured.push_back(unreg);
    };
    bare(false);
    whole(false);
    for (int i = 0; i < kRunPairs; ++i) bench::RunPair(i, [&] { bare(true); }, [&] { whole(true); });

    // Where the runner's time goes: one more run that reports each file's
    // time, the runner that does nothing but start and end, and a process
    // that does nothing at all.
    std::string json;
    const double jsonMs = TimedRun(runner, "run " + Quoted(batchFile) + " --json --continue", nullptr, &json);
    TimedRun(runner, run + " --unregister");
    int tasks = 0;
    const double taskMs = SumOfTaskMs(json, &tasks);
    std::vector<double> version;
    for (int i = 0; i < 7; ++i) version.push_back(TimedRun(runner, "--version"));
    const double nothingMs = NothingProcessMs();

    bench::PrintHeadline("cmd-run/bare", registration.PairedRatio(), 1.1,
                         "CorvantisCmd run over a batch of " + std::to_string(kServers) +
                             " 32-bit servers (the whole process) against the bare in-process loop: runner " +
                             Ms(registration.Measured()) + ", bare " + Ms(registration.Base()) + "; median of " +
                             std::to_string(kRunPairs) + " pairs' ratios (" + registration.Each() + ")");
    std::printf("  unregistration: runner %s, bare %s, ratio %.2f\n", Ms(unregistration.Measured()).c_str(),
                Ms(unregistration.Base()).c_str(), unregistration.PairedRatio());
    std::printf("  a run with --json: %s in all, of which the %d files' own times (each through the helper) %s; "
                "the rest, %s, is the runner's start, reading the batch, the output and the end; "
                "CorvantisCmd --version takes %s, a process that does nothing %s\n",
                Ms(jsonMs).c_str(), tasks, Ms(taskMs).c_str(), Ms(jsonMs - taskMs).c_str(),
                Ms(Median(version)).c_str(), Ms(nothingMs).c_str());
    if (tasks != kServers) std::printf("  warning: the --json run reported %d files\n", tasks);
    if (failures) std::printf("  warning: %d failure(s) during the measurements\n", failures);
    std::fflush(stdout);
    RemoveServerBatch(made);
    return failures == 0 && tasks == kServers;
}

// ---------------------------------------------------------------------------
// verify: the runner's verification of 1,000 registered servers against
// their registration by the same runner. Each copy has a class of its own,
// as the servers of a real batch do, so each is found registered. The
// dearer comparison of a file whose class names another file (both files
// opened for their identity) is timed on its own.
bool BenchVerify(const std::string& runner) {
    const TServerBatch made = MakeServerBatch("corvantis-bench-verify", true);
    const std::string registerRun = "run " + Quoted(made.batchFile) + " --quiet --continue";
    const std::string verifyRun = "verify " + Quoted(made.batchFile) + " --quiet";
    int failures = 0;
    TPairs pairs;
    auto timed = [&](const std::string& arguments, std::vector<double>* into) {
        long code = 0;
        const double ms = TimedRun(runner, arguments, &code);
        // Registering succeeds, and then every file is found registered.
        if (code != 0) ++failures;
        if (into) into->push_back(ms);
    };
    timed(registerRun, nullptr);
    timed(verifyRun, nullptr);
    for (int i = 0; i < kVerifyPairs; ++i) {
        bench::RunPair(i, [&] { timed(registerRun, &pairs.base); }, [&] { timed(verifyRun, &pairs.measured); });
    }

    // Where verification's time goes: the capture of each file through the
    // helper, and the comparison with the live registry, in this process.
    double captureMs = 0, compareMs = 0;
    size_t compared = 0;
    engine::TCapture last;  // a registered file's capture
    {
        engine::THelperSession helpers;
        const engine::TRegContext context;
        for (const std::string& file : made.files) {
            const double start = NowMs();
            const engine::TCapture capture = engine::CaptureFile(file, context);
            if (&file == &made.files.back()) last = capture;
            const double captured = NowMs();
            const engine::TVerifyResult result = engine::CompareWithLive(capture);
            compareMs += NowMs() - captured;
            captureMs += captured - start;
            compared += result.compared;
            if (result.state != engine::TVerifyState::Registered) ++failures;
        }
    }
    // One comparison alone, repeated: of a registered file (the values
    // compare as text), and of one registered to another file (both files
    // opened for their identity).
    auto eachUs = [](const engine::TCapture& capture) {
        const int rounds = 200;
        const double start = NowMs();
        for (int i = 0; i < rounds; ++i) engine::CompareWithLive(capture);
        return (NowMs() - start) * 1000 / rounds;
    };
    // The same capture made to name the copy beside it: the live class then
    // names another file ("server998.dll" and "server999.dll" are as long).
    engine::TCapture other = last;
    auto utf16 = [](const std::string& text) {
        std::string wide;
        for (char c : text) wide += std::string{c, '\0'};
        return wide;
    };
    const std::string own = utf16("server" + std::to_string(kServers - 1) + ".dll");
    const std::string next = utf16("server" + std::to_string(kServers - 2) + ".dll");
    for (engine::TCapturedKey& key : other.keys) {
        for (engine::TCapturedValue& value : key.values) {
            const size_t at = value.data.find(own);
            if (at != std::string::npos) value.data.replace(at, own.size(), next);
        }
    }
    if (engine::CompareWithLive(other).state != engine::TVerifyState::OtherFile) ++failures;
    const double registeredUs = eachUs(last), otherUs = eachUs(other);
    TimedRun(runner, registerRun + " --unregister");

    bench::PrintHeadline("cmd-verify/register", pairs.PairedRatio(), 2.0,
                         "CorvantisCmd verify over a batch of " + std::to_string(kServers) +
                             " registered 32-bit servers against CorvantisCmd run registering them (whole "
                             "processes): verify " +
                             Ms(pairs.Measured()) + ", register " + Ms(pairs.Base()) + "; median of " +
                             std::to_string(kVerifyPairs) + " pairs' ratios (" + pairs.Each() + ")");
    std::printf("  in one process: the %d captures through the helper %s, the comparisons with the live registry "
                "%s (%zu values, %.1f us each)\n",
                kServers, Ms(captureMs).c_str(), Ms(compareMs).c_str(), compared,
                compared ? compareMs * 1000 / static_cast<double>(compared) : 0.0);
    std::printf("  one comparison repeated: a registered file %.0f us, a file registered to another %.0f us\n",
                registeredUs, otherUs);
    if (failures) std::printf("  warning: %d failure(s) during the measurements\n", failures);
    std::fflush(stdout);
    RemoveServerBatch(made);
    return failures == 0;
}

// A stand-in for "CorvantisCmd register FILE", made of the same engine calls
// in the same order: a helper session whose helper starts at once, COM
// initialised in this thread, the file registered through the helper, the
// session closed (which waits for the helper's end), COM uninitialised.
// VARIANT "as-is" does just that; "no-com" leaves COM alone (this process
// loads no server); "no-com-no-wait" also ends the process right after the
// file, without waiting for the helper's end (the job ends the helper).
int MiniRegister(const std::string& variant, const std::string& file) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::optional<engine::THelperSession> session(std::in_place);
    const engine::pe::TPeInfo head = engine::pe::ReadPeFile(file, 4096);
    session->Prestart(head.isPe && head.machine == engine::pe::TMachine::X64 ? engine::pe::TMachine::X64
                                                                             : engine::pe::TMachine::X86);
    const bool com = variant == "as-is";
    const HRESULT initialised = com ? CoInitialize(nullptr) : E_FAIL;
    engine::TRegContext context;
    engine::UseHelpers(context);
    const engine::TRegOutcome outcome = engine::RegisterFileCore(engine::FullPathOf(file), true, context);
    std::printf("%s\n", outcome.message.c_str());
    std::fflush(stdout);
    if (variant == "no-com-no-wait") ExitProcess(outcome.success ? 0 : 1);
    session.reset();
    if (SUCCEEDED(initialised)) CoUninitialize();
    return outcome.success ? 0 : 1;
}

// The median time of each command line (a program and its arguments), the
// commands run in turn, each round starting with the next one, after one
// warm-up run of each.
std::vector<double> RotatedMedians(const std::vector<std::pair<std::string, std::string>>& commands, int rounds,
                                   int* failures) {
    std::vector<std::vector<double>> times(commands.size());
    for (const auto& command : commands) TimedRun(command.first, command.second);
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < commands.size(); ++i) {
            const size_t at = (i + static_cast<size_t>(round)) % commands.size();
            long code = 0;
            times[at].push_back(TimedRun(commands[at].first, commands[at].second, &code));
            if (code != 0) ++*failures;
        }
    }
    std::vector<double> medians;
    for (const std::vector<double>& each : times) medians.push_back(Median(each));
    return medians;
}

// ---------------------------------------------------------------------------
// one: a single file from a script, against regsvr32

struct TOneFile {
    TPairs pairs;
    int failures = 0;
};

TOneFile CompareOneFile(const std::string& runner, const std::string& regsvr32, const std::string& server) {
    TOneFile result;
    auto regsvr = [&](bool timed) {
        long code = 0;
        const double ms = TimedRun(regsvr32, "/s " + Quoted(server), &code);
        if (code != 0) ++result.failures;
        if (timed) result.pairs.base.push_back(ms);
    };
    auto cmd = [&](bool timed) {
        long code = 0;
        const double ms = TimedRun(runner, "register " + Quoted(server), &code);
        if (code != 0) ++result.failures;
        if (timed) result.pairs.measured.push_back(ms);
    };
    regsvr(false);
    cmd(false);
    for (int i = 0; i < kOnePairs; ++i) bench::RunPair(i, [&] { regsvr(true); }, [&] { cmd(true); });
    return result;
}

bool BenchOneFile(const std::string& runner) {
    const std::string bin = BinFolder();
    const std::string server32 = bin + "testdata\\OkServer.dll";
    const std::string server64 = bin + "testdata\\x64\\OkServer.dll";
    TOneFile one32 = CompareOneFile(runner, bench::Regsvr32Path(), server32);
    // Where the runner's time goes: the file's own time as the runner
    // reports it (the helper's start is mostly hidden behind the runner's
    // own), the runner without a file, a process that does nothing.
    std::vector<double> json, fileMs, version;
    for (int i = 0; i < 5; ++i) {
        std::string output;
        json.push_back(TimedRun(runner, "register " + Quoted(server32) + " --json", nullptr, &output));
        int tasks = 0;
        fileMs.push_back(SumOfTaskMs(output, &tasks));
        version.push_back(TimedRun(runner, "--version"));
    }
    bench::PrintHeadline("cmd-register/regsvr32", one32.pairs.PairedRatio(), 1.3,
                         "one 32-bit server from a script: the whole CorvantisCmd register FILE process against "
                         "the whole " + bench::Regsvr32Path() + " /s FILE process: runner " +
                             Ms(one32.pairs.Measured()) + ", regsvr32 " + Ms(one32.pairs.Base()) + "; median of " +
                             std::to_string(kOnePairs) + " pairs' ratios (" + one32.pairs.Each() + ")");
    std::printf("  the runner with --json: %s, of which the file itself %s (the wait for the helper, started "
                "while the runner started, the hand-over and the registration); CorvantisCmd --version %s\n",
                Ms(Median(json)).c_str(), Ms(Median(fileMs)).c_str(), Ms(Median(version)).c_str());

    // What the runner's start and end cost, and what two changes would save:
    // processes that do nothing (with and without COM), and the stand-in
    // for the runner as it is, without COM, and also not waiting for the
    // helper's end.
    const std::string self = bin + "bench_cmd.exe";
    int failures = 0;
    const std::vector<double> parts = RotatedMedians(
        {{self, "--nothing"},
         {self, "--nothing-sta"},
         {self, "--nothing-mta"},
         {self, "--mini-register as-is " + Quoted(server32)},
         {self, "--mini-register no-com " + Quoted(server32)},
         {self, "--mini-register no-com-no-wait " + Quoted(server32)},
         {bench::Regsvr32Path(), "/s " + Quoted(server32)}},
        kOnePairs, &failures);
    std::printf("  a process that does nothing %s; one that initialises COM single-threaded %s, multithreaded %s "
                "(the helper initialises it single-threaded before its first file)\n",
                Ms(parts[0]).c_str(), Ms(parts[1]).c_str(), Ms(parts[2]).c_str());
    std::printf("  a stand-in for the runner (the same engine calls, in bench_cmd.exe): as it is %s (%.2f of "
                "regsvr32's %s); without initialising COM in the runner %s (%.2f); and not waiting for the "
                "helper's end %s (%.2f)\n",
                Ms(parts[3]).c_str(), parts[3] / parts[6], Ms(parts[6]).c_str(), Ms(parts[4]).c_str(),
                parts[4] / parts[6], Ms(parts[5]).c_str(), parts[5] / parts[6]);
    if (failures) std::printf("  warning: %d failure(s) among the stand-ins\n", failures);

    bool ok = one32.failures == 0 && failures == 0;
    if (one32.failures) std::printf("  warning: %d failure(s) in the 32-bit pairs\n", one32.failures);
    const std::string regsvr64 = bench::Regsvr32Path64();
    if (GetFileAttributesA(server64.c_str()) != INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA(regsvr64.c_str()) != INVALID_FILE_ATTRIBUTES) {
        TOneFile one64 = CompareOneFile(runner, regsvr64, server64);
        std::printf("  the 64-bit server against %s: runner %s, regsvr32 %s, ratio %.2f (%s)\n", regsvr64.c_str(),
                    Ms(one64.pairs.Measured()).c_str(), Ms(one64.pairs.Base()).c_str(), one64.pairs.PairedRatio(),
                    one64.pairs.Each().c_str());
        if (one64.failures) {
            std::printf("  warning: %d failure(s) in the 64-bit pairs\n", one64.failures);
            ok = false;
        }
    }
    // The registry as it was.
    bench::RunProcess(runner, Quoted(runner) + " unregister " + Quoted(server32) + " " + Quoted(server64), nullptr);
    std::fflush(stdout);
    return ok;
}

// ---------------------------------------------------------------------------
// hang: a server that never returns, then a good one

// The milliseconds of the task lines of the runner's JSON output, in order.
std::vector<double> TaskTimes(const std::string& json) {
    std::vector<double> times;
    const std::string field = "\"milliseconds\":";
    for (size_t at = json.find(field); at != std::string::npos; at = json.find(field, at + 1)) {
        times.push_back(std::strtod(json.c_str() + at + field.size(), nullptr));
    }
    return times;
}

bool BenchHang(const std::string& runner) {
    const std::string data = BinFolder() + "testdata\\";
    const std::string hang = data + TestServers::kMisbehaveHangFile;
    const std::string ok = data + TestServers::kMisbehaveOkFile;
    const std::string arguments = "register " + Quoted(hang) + " " + Quoted(ok) + " --timeout 2";
    TimedRun(runner, arguments);  // warm-up
    std::vector<double> totals;
    std::vector<std::string> problems;
    for (int i = 0; i < kHangRuns; ++i) {
        long code = 0;
        std::string output;
        totals.push_back(TimedRun(runner, arguments, &code, &output));
        // The hung server fails, the next one succeeds.
        const size_t failed = output.find("FAILED");
        const size_t succeeded = output.find("succeeded");
        if (code != 1 || failed == std::string::npos || succeeded == std::string::npos || succeeded < failed) {
            problems.push_back("exit code " + std::to_string(code) + ", output: " + output.substr(0, 300));
        }
    }
    // Where the time beyond the time-out goes: the two files' own times.
    std::string json;
    const double jsonMs = TimedRun(runner, arguments + " --json", nullptr, &json);
    const std::vector<double> times = TaskTimes(json);
    const double total = Median(totals);
    std::string each;
    for (double ms : totals) each += (each.empty() ? "" : " / ") + Ms(ms);
    bench::PrintHeadline("hang-run-minus-timeout", (total - kHangTimeoutMs) / 1000, 1.0,
                         "CorvantisCmd register Hang.dll Ok.dll --timeout 2, the whole run less the 2 s time-out: "
                         "median of " + std::to_string(kHangRuns) + " runs (" + each + ")",
                         " s");
    if (times.size() == 2) {
        std::printf("  a run with --json: %s in all; Hang.dll %s (the time-out, ending its helper), Ok.dll %s (a new "
                    "helper started, then the file), the rest %s (the runner's start, the first helper's start "
                    "behind it, the end)\n",
                    Ms(jsonMs).c_str(), Ms(times[0]).c_str(), Ms(times[1]).c_str(),
                    Ms(jsonMs - times[0] - times[1]).c_str());
    } else {
        problems.push_back("the --json run reported " + std::to_string(times.size()) + " files");
    }
    bench::RunProcess(runner, Quoted(runner) + " unregister " + Quoted(ok), nullptr);
    for (const std::string& problem : problems) std::printf("  warning: %s\n", problem.c_str());
    std::fflush(stdout);
    return problems.empty();
}

// ---------------------------------------------------------------------------
// capture: capturing 1,000 servers, and verifying them, against registering
// them, all through the same helper

bool BenchCapture() {
    const TServerBatch made = MakeServerBatch("corvantis-bench-capture", true);
    const std::vector<std::string>& files = made.files;
    // One helper session for every side, its 32-bit helper started at once:
    // each side's time is the files' own, through the helper, as a run of
    // the runner or the task window spends it.
    engine::THelperSession session;
    session.Prestart(engine::pe::TMachine::X86);
    engine::TRegContext registering;
    engine::UseHelpers(registering);
    // CaptureFile and VerifyFile use the session's helpers themselves.
    const engine::TRegContext plain;
    engine::TRegContext perUser = registering;
    perUser.perUser = true;
    int failures = 0;
    // Each side of a pair is one pass over the files, timed; each copy has a
    // class of its own, so each is found registered. Registration is timed
    // alone and undone outside the time; verification runs while the files
    // are registered, against registering them again over themselves, the
    // two sides alternating which runs first.
    double regOwn = 0, capOwn = 0;
    auto registerAll = [&](const engine::TRegContext& context, bool undo) {
        const double start = NowMs();
        if (!context.perUser) regOwn = 0;
        for (const std::string& file : files) {
            if (!engine::RegisterFileCore(file, true, context).success) ++failures;
            if (!context.perUser) regOwn += session.For(engine::pe::TMachine::X86).LastOwnMs();
        }
        const double ms = NowMs() - start;
        for (const std::string& file : files) {
            if (undo) engine::RegisterFileCore(file, false, context);
        }
        return ms;
    };
    auto verifyAll = [&] {
        const double start = NowMs();
        for (const std::string& file : files) {
            const engine::TVerifyState state = engine::VerifyFile(file, plain).state;
            if (state != engine::TVerifyState::Registered) ++failures;
        }
        return NowMs() - start;
    };
    std::size_t keys = 0;
    auto captureAll = [&] {
        const double start = NowMs();
        keys = 0;
        capOwn = 0;
        for (const std::string& file : files) {
            const engine::TCapture capture = engine::CaptureFile(file, plain);
            capOwn += session.For(engine::pe::TMachine::X86).LastOwnMs();
            if (!capture.clean) ++failures;
            keys += capture.keys.size();
        }
        return NowMs() - start;
    };
    double reg = 0, cap = 0, verify = 0, user = 0;
    registerAll(registering, true);
    captureAll();
    TPairs capture, verification, users;
    for (int i = 0; i < kCapturePairs; ++i) {
        bench::RunPair(i, [&] { reg = registerAll(registering, true); }, [&] { cap = captureAll(); });
        capture.Add(reg, cap);
    }
    registerAll(registering, false);
    verifyAll();
    for (int i = 0; i < kCapturePairs; ++i) {
        bench::RunPair(i, [&] { reg = registerAll(registering, false); }, [&] { verify = verifyAll(); });
        verification.Add(reg, verify);
    }
    for (const std::string& file : files) engine::RegisterFileCore(file, false, registering);
    registerAll(perUser, true);
    for (int i = 0; i < kCapturePairs; ++i) {
        bench::RunPair(i, [&] { reg = registerAll(registering, true); }, [&] { user = registerAll(perUser, true); });
        users.Add(reg, user);
    }
    bench::PrintHeadline("capture/register", capture.PairedRatio(), 1.5,
                         "capturing " + std::to_string(kServers) + " 32-bit servers against registering the same " +
                             "files, both through the 32-bit helper of one session: capture " + Ms(capture.Measured()) +
                             ", registration " + Ms(capture.Base()) + "; median of " + std::to_string(kCapturePairs) +
                             " pairs' ratios (" + capture.Each() + ")");
    bench::PrintHeadline("verify/register", verification.PairedRatio(), 2.0,
                         "verifying the same files while they are registered (engine::VerifyFile: a capture and a "
                         "comparison with the live registry) against registering them again, alternated: verify " +
                             Ms(verification.Measured()) + ", registration " + Ms(verification.Base()) + " (" +
                             verification.Each() + ")");
    bench::PrintHeadline("per-user/register", users.PairedRatio(), 1.2,
                         "registering the same files for the current user against registering them for all users, "
                         "alternated: per user " + Ms(users.Measured()) + ", all users " + Ms(users.Base()) + " (" +
                             users.Each() + ")");
    std::printf("  per file: capture %.2f ms, verification %.2f ms, registration %.2f ms; %u keys captured in the "
                "last pass\n",
                capture.Measured() / kServers, verification.Measured() / kServers, capture.Base() / kServers,
                static_cast<unsigned>(keys));
    std::printf("  inside the helper, the last passes: capture %.2f ms, registration %.2f ms a file\n",
                capOwn / kServers, regOwn / kServers);
    if (failures) std::printf("  warning: %d failure(s) during the measurements\n", failures);
    std::fflush(stdout);
    RemoveServerBatch(made);
    return failures == 0;
}

int Run(const std::string& only) {
    const std::string runner = BinFolder() + "CorvantisCmd.exe";
    bool ok = true;
    if (only.empty() || only == "run") ok = BenchRun(runner) && ok;
    if (only.empty() || only == "verify") ok = BenchVerify(runner) && ok;
    if (only.empty() || only == "capture") ok = BenchCapture() && ok;
    if (only.empty() || only == "one") ok = BenchOneFile(runner) && ok;
    if (only.empty() || only == "hang") ok = BenchHang(runner) && ok;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--nothing") return 0;
    if (argc == 2 && (std::string(argv[1]) == "--nothing-sta" || std::string(argv[1]) == "--nothing-mta")) {
        const HRESULT initialised = CoInitializeEx(
            nullptr, std::string(argv[1]) == "--nothing-sta" ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
        if (SUCCEEDED(initialised)) CoUninitialize();
        return 0;
    }
    if (argc == 4 && std::string(argv[1]) == "--mini-register") return MiniRegister(argv[2], argv[3]);
    if (argc == 3 && std::string(argv[1]) == "--bare-loop") return BareLoopChild(argv[2]);
    const std::string only = argc == 2 ? argv[1] : "";
    if (!only.empty() && only != "run" && only != "verify" && only != "one" && only != "hang" && only != "capture") {
        std::printf("usage: bench_cmd.exe [run|verify|one|hang|capture]\n");
        return 2;
    }
    try {
        return Run(only);
    } catch (const std::exception& e) {
        std::printf("cmd benchmark failed: %s\n", e.what());
        return 1;
    }
}
