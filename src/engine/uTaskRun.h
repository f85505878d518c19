#pragma once
// A run of registration tasks over a list of files: its rows, its error
// list, and the rules that stop it after failures. No window: the log
// window shows a run and is told of every change through the hooks.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "options/uOptions.h"

enum TTaskStatus : std::uint8_t { tsWaiting, tsCompleted, tsFailed, tsCancelled };

// Pictures of the log window's image list.
enum TTaskImage : int { tiNone = -1, tiWaiting = 0, tiCompleted = 1, tiFailed = 2, tiWarning = 3, tiStopped = 4 };

// What a run does with each file. A registration run has Register and
// Unregister rows; a verification or a capture run one row per file.
enum class TTaskVerb : std::uint8_t { Register, Unregister, Verify, Capture };

struct TTaskRow {
    std::string Path;
    bool Register = true;
    TTaskStatus Status = tsWaiting;
    int Image = tiWaiting;
    // The state shown instead of "Completed" or "Failed" when the task named
    // its own (a verification's outcome).
    std::string Outcome;
};

// Lines of a failure's reason follow its row, indented by this.
inline constexpr const char* kDetailIndent = "    ";

// The lines of a failure's details, each indented; empty lines left out.
std::vector<std::string> IndentedDetailLines(const std::string& details);

struct TErrorRow {
    std::string Text;
    int Image = tiWarning;
};

struct TStopRules {
    TStopAfter StopAfter = stopNever;
    std::int32_t MaxErrors = 5;
};

struct TTaskRunHooks {
    std::function<void()> ProcessMessages;        // before each task and after each task that continues
    std::function<void(int row)> TaskStarting;    // a task is about to run
    std::function<void(int first, int last)> RowsChanged;
    std::function<void()> ErrorsChanged;
    std::function<void()> ProgressChanged;
    // Asked before each task; true stops the run there: that task and every
    // later one are cancelled and a stop notice is added.
    std::function<bool()> StopRequested;
};

class TTaskRun {
public:
    // One "Unregister" row per file first when registering with
    // `unregisterBefore`, then one row per file for the run's direction;
    // every row waiting.
    TTaskRun(const std::vector<std::string>& files, bool registerMode, bool unregisterBefore);
    // One row per file, each waiting to be verified or captured.
    TTaskRun(const std::vector<std::string>& files, TTaskVerb verb);

    TTaskVerb Verb() const { return verb_; }

    const std::vector<TTaskRow>& Rows() const { return rows_; }
    const std::vector<TErrorRow>& Errors() const { return errors_; }
    int ErrorCount() const { return errorCount_; }
    int ProgressMax() const { return static_cast<int>(rows_.size()); }
    int Progress() const { return progress_; }
    // False once an unregistration pass stopped a registration run.
    bool RegisterMode() const { return registerMode_; }
    bool Finished() const { return finished_; }

    // "Register 'a.dll'..." for a row.
    std::string Caption(int row) const;
    std::string StatusText(int row) const;
    // The description shown once the run has ended.
    std::string FinalDescription() const;

    // Called by `perform` during its task: the task ends with this state
    // text and picture instead of the plain "Completed" or "Failed" ones.
    void NoteOutcome(const std::string& text, int image);
    // A line added to the error list after the run (what became of its
    // result), with its reason's lines under it.
    void AddNotice(const std::string& text, const std::string& details, int image);

    // Runs every task in order. `perform` registers or unregisters one file
    // and ends by raising EQVException: Kind 2 is success, any other Kind a
    // failure. Any other exception ends the run and passes on unchanged.
    void Run(const std::function<void(const std::string& path, bool register_)>& perform, const TStopRules& rules,
             const TTaskRunHooks& hooks);

private:
    bool RunTask(int row, const std::function<void(const std::string&, bool)>& perform, const TStopRules& rules,
                 const TTaskRunHooks& hooks);
    void CancelAfter(int row, const TTaskRunHooks& hooks);
    void AddDetailRows(const std::string& details);

    std::vector<std::string> files_;
    TTaskVerb verb_ = TTaskVerb::Register;
    std::vector<TTaskRow> rows_;
    bool outcomeNoted_ = false;
    std::string notedText_;
    int notedImage_ = tiNone;
    std::vector<TErrorRow> errors_;
    bool initialRegister_;
    bool registerMode_;
    bool unregisterBefore_;
    int errorCount_ = 0;
    int progress_ = 0;
    bool finished_ = false;
};
