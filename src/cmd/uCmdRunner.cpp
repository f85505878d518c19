#include "cmd/uCmdRunner.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "common/QVCodePage.h"
#include "common/QVExceptions.h"
#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uCapture.h"
#include "engine/uCaptureWix.h"
#include "engine/uHelper.h"
#include "engine/uRegCore.h"
#include "engine/uVerify.h"
#include "mainwin/uBatch.h"

namespace cmd {

namespace {

const char* Operation(bool register_) { return register_ ? "register" : "unregister"; }

// Text of the ANSI code page (UTF-8 when that is the process's code page)
// as a wide string.
// The system registration tool's code for each kind of failure, in the
// order of engine::TFailure.
const struct {
    engine::TFailure failure;
    TRegsvr32Code code;
} kRegsvr32Codes[] = {
    {engine::TFailure::None, rcSuccess},
    {engine::TFailure::NotFound, rcLoadFailed},
    {engine::TFailure::NotLoaded, rcLoadFailed},
    {engine::TFailure::NoEntry, rcNoEntry},
    {engine::TFailure::Returned, rcCallFailed},
    {engine::TFailure::Faulted, rcCallFailed},
    {engine::TFailure::TimedOut, rcCallFailed},
    {engine::TFailure::Stopped, rcCallFailed},
    {engine::TFailure::ExeFailed, rcCallFailed},
    {engine::TFailure::Helper, rcCallFailed},
};
static_assert(sizeof kRegsvr32Codes / sizeof kRegsvr32Codes[0] == engine::kFailureKinds,
              "every kind of failure has its code");

// The program's text as a JSON string in UTF-8.
std::string JsonString(const std::string& ansi) { return qv::JsonQuoted(qv::WideToUtf8(qv::TextToWide(ansi))); }

// The same file under any of its names: its volume's serial number and its
// index on that volume, which every spelling shares (another case, the short
// name, a hard link, a relative or dotted path). Opened with no access and
// full sharing, so that a file in use still answers and nothing is changed.
// False when the name is not an existing disk file.
struct TFileId {
    DWORD volume = 0, high = 0, low = 0;
    bool operator==(const TFileId& o) const { return volume == o.volume && high == o.high && low == o.low; }
};

bool FileIdOf(const std::string& path, TFileId& id) {
    qv::Handle file(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info)) {
        return false;
    }
    id = TFileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

// The --log file of a run (and the --reg file of a capture). A device (NUL, CON, a pipe: anything that is not
// a disk file) is written directly. A disk file of that name left by an
// earlier run is removed when the run starts, and the new log is written to
// a temporary file in the same folder and moved over the name at the end:
// a run that is killed leaves no log that looks like its own, and a reader
// never sees half a log.
class TRunLog {
public:
    // Takes the name and checks it against the files the run reads: the
    // batch (empty when none) and every server. Empty when the log may be
    // written; otherwise the wrong command line, and nothing was changed.
    std::string Check(const std::string& log, const std::string& batch, const std::vector<std::string>& servers,
                      const char* option = "--log") {
        name_ = log;
        path_ = engine::FullPathOf(log);
        // A device is opened now, for writing, and kept: a pipe's instance
        // is taken by the first open, so it must be the one that writes.
        qv::Handle device(CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        if (device && GetFileType(device.get()) != FILE_TYPE_DISK) {
            device_ = std::move(device);
            return std::string();
        }
        device.reset();
        TFileId logId;
        const bool exists = FileIdOf(log, logId);
        // `opened` is the file the run reads for `input`: for a server in
        // System32, the real one.
        auto same = [&](const std::string& input, const std::string& opened) {
            TFileId id;
            if (exists) return FileIdOf(opened, id) && id == logId;
            // Neither file exists yet: only the same full name can meet.
            return lstrcmpiA(engine::FullPathOf(input).c_str(), path_.c_str()) == 0;
        };
        const std::string subject = std::string(option) + " \"" + log + "\" ";
        const std::string what = std::string(option) == "--log" ? "the log" : "the file";
        if (!batch.empty() && same(batch, batch)) return subject + "is the batch file; " + what + " would overwrite it.";
        for (const std::string& server : servers) {
            if (!server.empty() && same(server, engine::NativeViewOf(server))) {
                return subject + "is the server \"" + server + "\"; " + what + " would overwrite it.";
            }
        }
        return std::string();
    }

    // Removes the log of an earlier run, so that none is left if this run
    // does not reach its end.
    void RemoveStale() const {
        if (!device_) DeleteFileA(path_.c_str());
    }

    // Writes the error list as the task window saves it: each row a line
    // ended by CR LF. Empty when written, else why not.
    std::string Write(const std::vector<TErrorRow>& errors) const {
        std::string text;
        for (const TErrorRow& error : errors) text += error.Text + "\r\n";
        return WriteBytes(text, "log file");
    }

    // Writes `text` as it is, as Write does. Empty when written, else why
    // not; `what` names the file in that text.
    std::string WriteBytes(const std::string& text, const char* what) const {
        const std::string failed = std::string("The ") + what + " '" + name_ + "' could not be written.";
        if (device_) return WriteAll(device_.get(), text) ? std::string() : failed;
        return qv::WriteFileReplacing(path_, text) == ERROR_SUCCESS ? std::string() : failed;
    }

private:
    static bool WriteAll(HANDLE file, const std::string& text) {
        DWORD written = 0;
        return text.empty() ||
               (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size());
    }

    std::string name_;  // as the command line gave it
    std::string path_;  // its full path
    qv::Handle device_;
};

}  // namespace

std::string TaskJson(const std::string& file, bool register_, const std::string& outcome,
                     const std::string& message, const std::string& details, double ms) {
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", ms);
    return "{\"file\":" + JsonString(file) + ",\"operation\":\"" + Operation(register_) + "\",\"outcome\":\"" +
           outcome + "\",\"message\":" + JsonString(message) + ",\"details\":" + JsonString(details) +
           ",\"milliseconds\":" + time + "}";
}

int Regsvr32CodeOf(engine::TFailure failure) {
    for (const auto& entry : kRegsvr32Codes) {
        if (entry.failure == failure) return entry.code;
    }
    return rcCallFailed;
}

std::string SummaryLine(int unregistered, int registered, int failed, int notRun, bool unregisterPass,
                        bool registerPass) {
    std::string line;
    if (unregisterPass) line += std::to_string(unregistered) + " unregistered, ";
    if (registerPass) line += std::to_string(registered) + " registered, ";
    return line + std::to_string(failed) + " failed, " + std::to_string(notRun) + " not run";
}

namespace {

// What every task of the command line shares: the runner's language, the
// time-out, and the event that ends the server at work.
engine::TRegContext RunContext(const TRunnerArgs& args, const TRunnerSettings& settings) {
    engine::TRegContext context;
    context.language = qlEnglish;
    context.timeoutMs = static_cast<unsigned>(args.timeoutSeconds) * 1000u;
    context.abortEvent = settings.abortEvent;
    return context;
}

// capture FILE...: one line (or JSON object) per file, then the .reg file
// and the WiX fragment, with what the fragment could not hold.
int RunCaptures(const TRunnerArgs& args, const TRunnerSettings& settings, const TRunnerOutput& output) {
    std::vector<std::string> files = args.files;
    for (std::string& file : files) file = engine::FullPathOf(file);
    if (!args.reg.empty() && !args.wxs.empty() &&
        lstrcmpiA(engine::FullPathOf(args.reg).c_str(), engine::FullPathOf(args.wxs).c_str()) == 0) {
        output.err("CorvantisCmd: --reg and --wxs name the same file \"" + args.wxs + "\".");
        return ecUsage;
    }
    TRunLog reg, wxs;
    for (auto [file, name, option] : {std::make_tuple(&reg, &args.reg, "--reg"), std::make_tuple(&wxs, &args.wxs, "--wxs")}) {
        if (name->empty()) continue;
        const std::string problem = file->Check(*name, std::string(), files, option);
        if (!problem.empty()) {
            output.err("CorvantisCmd: " + problem);
            return ecUsage;
        }
        file->RemoveStale();
    }
    std::optional<engine::THelperSession> helpers;
    if (!engine::THelperSession::Current()) helpers.emplace();
    engine::TRegContext context = RunContext(args, settings);
    const bool text = !args.quiet && !args.json;
    std::vector<engine::TCapture> captures;
    int failed = 0, notRun = 0;
    bool stopped = false;
    for (const std::string& file : files) {
        if (settings.stopRequested && settings.stopRequested()) {
            stopped = true;
            ++notRun;
            if (text) output.out("capture \"" + file + "\": not run.");
            continue;
        }
        engine::TCapture capture = engine::CaptureFile(file, context);
        if (!capture.clean) ++failed;
        if (text) {
            const std::string subject = "capture \"" + file + "\": ";
            if (capture.clean) {
                output.out(subject + "captured " + std::to_string(capture.keys.size()) + " keys, " +
                           std::to_string(capture.ValueCount()) + " values.");
            } else {
                output.out(subject + "FAILED. " + capture.outcome.message);
                for (const std::string& line : IndentedDetailLines(capture.outcome.details)) output.out(line);
            }
        }
        if (args.json && !args.quiet) output.json(engine::CaptureJson(capture));
        if (capture.clean) captures.push_back(std::move(capture));
    }
    if (text) output.out(std::to_string(captures.size()) + " captured, " + std::to_string(failed) + " failed, " +
                         std::to_string(notRun) + " not run");
    int exitCode = stopped ? ecStopped : failed + notRun > 0 ? ecTaskFailed : ecSuccess;
    if (!args.reg.empty()) {
        const std::string problem = reg.WriteBytes(engine::RegFileBytes(captures), "registry file");
        if (!problem.empty()) {
            output.err(problem);
            if (exitCode == ecSuccess) exitCode = ecTaskFailed;
        }
    }
    if (!args.wxs.empty()) {
        const std::string folder = args.wxsFolder.empty() ? std::string("INSTALLFOLDER") : args.wxsFolder;
        const engine::TWxsResult fragment = engine::WxsFragment(captures, folder);
        // What the fragment left out is a warning: the file is written all
        // the same, and the run's outcome is the captures'.
        if (text) {
            for (const std::string& problem : fragment.problems) {
                output.out("warning: " + qv::WideToText(qv::Utf8ToWide(problem)));
            }
        }
        if (args.json && !args.quiet) {
            std::string json = "{\"wxs\":" + JsonString(args.wxs) + ",\"folder\":" + JsonString(folder) + ",\"problems\":[";
            for (size_t i = 0; i < fragment.problems.size(); ++i) {
                json += (i ? "," : "") + qv::JsonQuoted(fragment.problems[i]);
            }
            output.json(json + "]}");
        }
        const std::string problem = wxs.WriteBytes(fragment.text, "WiX fragment");
        if (!problem.empty()) {
            output.err(problem);
            if (exitCode == ecSuccess) exitCode = ecTaskFailed;
        }
    }
    return exitCode;
}

// Reads the batch at `path` into `files`; false, with the reason on
// standard error, when it cannot be read or is no batch.
bool ReadBatchInto(const std::string& path, std::vector<std::string>& files, const TRunnerOutput& output) {
    std::vector<std::string> entries;
    TBatchRead read;
    try {
        read = ReadBatchFile(path, &entries);
    } catch (const std::exception& e) {
        output.err("The batch file '" + path + "' could not be read: " + e.what());
        return false;
    }
    if (read == TBatchRead::NotABatch) {
        output.err("'" + path + "' is not a batch file: its first line is not \"" + kBatchHeader + "\".");
        return false;
    }
    if (read == TBatchRead::TooLarge) {
        output.err("'" + path + "' is too large to be a batch file (more than 64 MiB).");
        return false;
    }
    files.insert(files.end(), entries.begin(), entries.end());
    return true;
}

// verify FILE...: one line (or JSON object) per file with its state, the
// differences indented below, and a summary. Exit code 0 when every file's
// clients load that very file (registered, or registered for this user only
// while the machine's classes do not name another file); ecTaskFailed when
// one could not be verified; ecNotRegistered when all were verified and one
// is not registered as it would be.
int RunVerifications(const TRunnerArgs& args, const TRunnerSettings& settings, const TRunnerOutput& output) {
    std::vector<std::string> files;
    for (const std::string& file : args.files) {
        if (qv::UpperAscii(engine::ExtractFileExt(file)) == ".KVX") {
            if (!ReadBatchInto(file, files, output)) return ecBatchUnread;
        } else {
            files.push_back(file);
        }
    }
    for (std::string& file : files) file = engine::FullPathOf(file);
    std::optional<engine::THelperSession> helpers;
    if (!engine::THelperSession::Current()) helpers.emplace();
    const engine::TRegContext context = RunContext(args, settings);
    const bool text = !args.quiet && !args.json;
    static_assert(static_cast<int>(engine::TVerifyState::Registered) == 0 &&
                      static_cast<int>(engine::TVerifyState::NotVerified) == 6,
                  "the states count from Registered to NotVerified");
    int counts[7] = {};
    int notRun = 0, holding = 0;
    for (const std::string& file : files) {
        const std::string subject = "verify \"" + file + "\": ";
        if (settings.stopRequested && settings.stopRequested()) {
            ++notRun;
            if (text) output.out(subject + "not run.");
            continue;
        }
        const engine::TVerifyResult result = engine::VerifyFile(file, context);
        ++counts[static_cast<int>(result.state)];
        if (result.Verdict() == engine::TVerifyResult::TVerdict::Holds) ++holding;
        if (text) {
            output.out(subject + result.Message());
            for (const std::string& line : IndentedDetailLines(result.Details())) output.out(line);
        }
        if (args.json && !args.quiet) output.json(engine::VerifyJson(result));
    }
    if (text) {
        std::string summary = std::to_string(counts[0]) + " registered";
        for (int state = 1; state < 7; ++state) {
            if (!counts[state]) continue;
            std::string name = engine::VerifyStateText(static_cast<engine::TVerifyState>(state));
            name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
            summary += ", " + std::to_string(counts[state]) + " " + name;
        }
        output.out(summary + ", " + std::to_string(notRun) + " not run");
    }
    if (notRun) return ecStopped;
    if (counts[static_cast<int>(engine::TVerifyState::NotVerified)]) return ecTaskFailed;
    return holding == static_cast<int>(files.size()) ? ecSuccess : ecNotRegistered;
}

}  // namespace

int RunTasks(const TRunnerArgs& args, const TRunnerSettings& settings, const TRunnerOutput& output) {
    if (args.command == TCommand::Capture) return RunCaptures(args, settings, output);
    if (args.command == TCommand::Verify) return RunVerifications(args, settings, output);
    // With the system registration tool's codes, the few of the runner's
    // own that are not a task's outcome.
    const bool regsvr32 = args.regsvr32ExitCodes;
    const int batchUnread = regsvr32 ? int{rcUsage} : int{ecBatchUnread};
    std::vector<std::string> files;
    bool registerMode = args.command == TCommand::Register;
    if (args.command == TCommand::Run) {
        TBatchRead read;
        try {
            read = ReadBatchFile(args.batch, &files);
        } catch (const std::exception& e) {
            output.err("The batch file '" + args.batch + "' could not be read: " + e.what());
            return batchUnread;
        }
        if (read == TBatchRead::NotABatch) {
            output.err("'" + args.batch + "' is not a batch file: its first line is not \"" + kBatchHeader + "\".");
            return batchUnread;
        }
        if (read == TBatchRead::TooLarge) {
            output.err("'" + args.batch + "' is too large to be a batch file (more than 64 MiB).");
            return batchUnread;
        }
        registerMode = !args.unregister;
    } else {
        files = args.files;
    }
    // Relative paths are taken against the current folder, once, so that
    // every task and every line names the same file.
    for (std::string& file : files) {
        if (!file.empty()) file = engine::FullPathOf(file);
    }

    // A log that is one of the files the run reads would destroy it: a
    // wrong command line, found before anything is written.
    TRunLog log;
    if (!args.log.empty()) {
        const std::string problem =
            log.Check(args.log, args.command == TCommand::Run ? args.batch : std::string(), files);
        if (!problem.empty()) {
            output.err("CorvantisCmd: " + problem);
            return regsvr32 ? int{rcUsage} : int{ecUsage};
        }
        log.RemoveStale();
    }

    TStopRules rules = settings.defaultRules;
    if (args.continueAll) rules = TStopRules{stopNever, rules.MaxErrors};
    if (args.stopAfter > 0) rules = TStopRules{stopAfterN, args.stopAfter};

    TTaskRun run(files, registerMode, registerMode && args.unregisterFirst);
    // One helper of each bitness for the whole run, unless the caller
    // opened them already.
    std::optional<engine::THelperSession> helpers;
    if (!engine::THelperSession::Current()) helpers.emplace();
    engine::TRegContext context = RunContext(args, settings);
    context.entryPoints = !args.install        ? engine::TEntryPoints::Server
                          : args.noRegister ? engine::TEntryPoints::InstallOnly
                                            : engine::TEntryPoints::ServerAndInstall;
    context.installText = qv::TextToWide(args.installText);
    context.anySuccessCode = regsvr32;
    context.perUser = args.perUser;
    engine::UseHelpers(context);
    engine::TRegOutcome last;
    const bool text = !args.quiet && !args.json;

    int lastFailureCode = rcSuccess;
    auto perform = [&](const std::string& path, bool register_) {
        last = engine::RegisterFileCore(path, register_, context);
        if (!last.success) lastFailureCode = Regsvr32CodeOf(last.failure);
        throw EQVException(last.message, last.details, last.success ? qekSuccess : qekError);
    };
    size_t shownErrors = 0;
    TTaskRunHooks hooks;
    hooks.RowsChanged = [&](int first, int lastRow) {
        for (int i = first; i <= lastRow; ++i) {
            const TTaskRow& row = run.Rows()[static_cast<size_t>(i)];
            const std::string subject = std::string(Operation(row.Register)) + " \"" + row.Path + "\": ";
            if (row.Status == tsCancelled) {
                if (text) output.out(subject + "not run.");
                if (args.json && !args.quiet) output.json(TaskJson(row.Path, row.Register, "not run", "", "", 0));
                continue;
            }
            const bool ok = row.Status == tsCompleted;
            if (text) {
                output.out(subject + (ok ? "succeeded. " : "FAILED. ") + last.message);
                for (const std::string& line : IndentedDetailLines(last.details)) output.out(line);
            }
            if (args.json && !args.quiet) {
                output.json(TaskJson(row.Path, row.Register, ok ? "succeeded" : "failed", last.message, last.details,
                                     last.ms));
            }
        }
    };
    hooks.ErrorsChanged = [&] {
        // The stop notices; the failures were printed with their tasks.
        for (; shownErrors < run.Errors().size(); ++shownErrors) {
            const TErrorRow& error = run.Errors()[shownErrors];
            if (error.Image == tiStopped && text) output.out(error.Text);
        }
    };
    hooks.StopRequested = settings.stopRequested;
    run.Run(perform, rules, hooks);

    int unregistered = 0, registered = 0, failed = 0, notRun = 0;
    for (const TTaskRow& row : run.Rows()) {
        if (row.Status == tsCompleted) ++(row.Register ? registered : unregistered);
        if (row.Status == tsFailed) ++failed;
        if (row.Status == tsCancelled || row.Status == tsWaiting) ++notRun;
    }
    if (text) {
        output.out(SummaryLine(unregistered, registered, failed, notRun, !registerMode || args.unregisterFirst,
                               registerMode));
    }
    const bool stopped = settings.stopRequested && settings.stopRequested() && !run.Errors().empty() &&
                         run.Errors().back().Image == tiStopped;
    int exitCode = stopped ? ecStopped : failed + notRun > 0 ? ecTaskFailed : ecSuccess;
    if (regsvr32) exitCode = stopped ? rcCallFailed : lastFailureCode;
    if (!args.log.empty()) {
        std::string problem = log.Write(run.Errors());
        if (!problem.empty()) {
            output.err(problem);
            if (exitCode == ecSuccess) exitCode = regsvr32 ? int{rcCallFailed} : int{ecTaskFailed};
        }
    }
    return exitCode;
}

int GuardedMain(const std::function<int()>& body, const TRunnerOutput& output) {
    const char* what = nullptr;
    std::string text;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        what = "out of memory";
    } catch (const std::exception& e) {
        text = e.what();
        what = text.c_str();
    } catch (...) {
        what = "an unexpected error";
    }
    // The message itself may fail for want of memory; the exit code stands.
    try {
        output.err(std::string("CorvantisCmd: internal error: ") + what + ".");
    } catch (...) {
    }
    return ecInternal;
}

}  // namespace cmd
