#pragma once
// What the benchmark programs share: the program's millisecond clock, the
// median of a set of measurements, pairs of runs compared run by run,
// starting another program, and the headline lines that bench/run.sh
// gathers at the end of its output.
#include <windows.h>

#include "common/QVSystem.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

using qv::NowMs;

// "3.25 ms" below ten milliseconds, "125 ms" above.
inline std::string Ms(double ms) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, ms < 10 ? "%.2f ms" : "%.0f ms", ms);
    return buffer;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0) return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Measurements taken in pairs: a baseline and the thing measured, each pair
// run back to back so that both share the same state of a busy machine.
struct TPairs {
    std::vector<double> base, measured;
    void Add(double baseMs, double measuredMs) {
        base.push_back(baseMs);
        measured.push_back(measuredMs);
    }
    double Base() const { return Median(base); }
    double Measured() const { return Median(measured); }
    // The median of the pairs' own ratios: the headline figure, less
    // sensitive to a slow moment of the machine than a ratio of medians.
    double PairedRatio() const {
        std::vector<double> ratios;
        for (size_t i = 0; i < base.size() && i < measured.size(); ++i) ratios.push_back(measured[i] / base[i]);
        return Median(ratios);
    }
    // Every pair's ratio, "1.05 / 1.10 / ...", to show the spread.
    std::string Each() const {
        std::string text;
        char one[16];
        for (size_t i = 0; i < base.size() && i < measured.size(); ++i) {
            std::snprintf(one, sizeof one, "%.2f", measured[i] / base[i]);
            text += (text.empty() ? "" : " / ") + std::string(one);
        }
        return text;
    }
};

// Runs the two sides of pair `index`: the baseline first in even pairs, the
// measured side first in odd ones, so that neither always runs on the state
// the other leaves (a warm cache, a server still ending).
inline void RunPair(int index, const std::function<void()>& base, const std::function<void()>& measured) {
    if (index % 2 == 0) {
        base();
        measured();
    } else {
        measured();
        base();
    }
}

// A headline figure: its name, the ratio and its target on one line (which
// bench/run.sh repeats at the end of its output), then what it compared.
// `unit` follows the figure and the target when it is not a ratio (" s").
inline void PrintHeadline(const char* name, double ratio, double target, const std::string& detail,
                          const char* unit = "") {
    std::printf("%-26s %5.2f%s  (target <= %.2f%s)\n    %s\n", name, ratio, unit, target, unit, detail.c_str());
    std::fflush(stdout);
}

// Starts the program with the command line, its output into `output` when
// given, and waits for it; its exit code, or -1 when it could not start.
// The output goes to a temporary file rather than a pipe: a process Wine
// starts on the child's behalf (its desktop process, say) inherits the
// child's standard handles and may outlive it, and a pipe would not end
// before that process does. The file is read once the child has ended.
inline long RunProcess(const std::string& program, const std::string& commandLine, std::string* output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE capture = INVALID_HANDLE_VALUE;
    if (output) {
        char folder[MAX_PATH] = {}, name[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, folder);
        if (!GetTempFileNameA(folder, "cvb", 0, name)) throw std::runtime_error("GetTempFileName failed");
        capture = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (capture == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create the output file");
    }
    HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = output ? capture : nul;
    startup.hStdError = output ? capture : nul;
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) {
        if (output) CloseHandle(capture);
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (output) {
        // The child shared this handle's file position: read from the start.
        SetFilePointer(capture, 0, nullptr, FILE_BEGIN);
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(capture, chunk, sizeof chunk, &got, nullptr) && got > 0) output->append(chunk, got);
        CloseHandle(capture);
    }
    return static_cast<long>(exitCode);
}

// The system's 32-bit regsvr32.exe, which registers 32-bit servers: the one
// in SysWOW64 on a 64-bit system (named explicitly, so that it is the same
// program whatever the caller's bitness), else the one in System32.
inline std::string Regsvr32Path() {
    char system[MAX_PATH] = {};
    if (GetSystemWow64DirectoryA(system, MAX_PATH) == 0) GetSystemDirectoryA(system, MAX_PATH);
    return std::string(system) + "\\regsvr32.exe";
}

// The system's 64-bit regsvr32.exe, reached from a 32-bit program through
// Sysnative (System32 itself is redirected to SysWOW64 for it).
inline std::string Regsvr32Path64() {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + (sizeof(void*) == 8 ? "\\System32" : "\\Sysnative") + "\\regsvr32.exe";
}

}  // namespace bench
