#include "engine/uTaskRun.h"

#include <algorithm>

#include "common/QVExceptions.h"
#include "common/QVStrings.h"
#include "engine/uRegistry.h"
#include "resource.h"

TTaskRun::TTaskRun(const std::vector<std::string>& files, bool registerMode, bool unregisterBefore)
    : files_(files), verb_(registerMode ? TTaskVerb::Register : TTaskVerb::Unregister), initialRegister_(registerMode), registerMode_(registerMode), unregisterBefore_(unregisterBefore) {
    bool unregisterPass = !registerMode || unregisterBefore;
    rows_.reserve(files.size() * (registerMode && unregisterBefore ? 2 : 1));
    if (unregisterPass) {
        for (const std::string& file : files) rows_.push_back(TTaskRow{file, false, tsWaiting, tiWaiting, {}});
    }
    if (registerMode) {
        for (const std::string& file : files) rows_.push_back(TTaskRow{file, true, tsWaiting, tiWaiting, {}});
    }
}

TTaskRun::TTaskRun(const std::vector<std::string>& files, TTaskVerb verb)
    : files_(files), verb_(verb), initialRegister_(false), registerMode_(false), unregisterBefore_(false) {
    rows_.reserve(files.size());
    for (const std::string& file : files) rows_.push_back(TTaskRow{file, false, tsWaiting, tiWaiting, {}});
}

std::string TTaskRun::Caption(int row) const {
    const TTaskRow& task = rows_[static_cast<size_t>(row)];
    unsigned verb = task.Register ? IDS_TASK_REGISTER : IDS_TASK_UNREGISTER;
    if (verb_ == TTaskVerb::Verify) verb = IDS_TASK_VERIFY;
    if (verb_ == TTaskVerb::Capture) verb = IDS_TASK_CAPTURE;
    return qv::LoadFmt(IDS_TASK_CAPTION, qv::LoadStr(verb), engine::ExtractFileName(task.Path));
}

std::string TTaskRun::StatusText(int row) const {
    static const unsigned ids[] = {IDS_STATUS_WAITING, IDS_STATUS_COMPLETED, IDS_STATUS_FAILED, IDS_STATUS_CANCELLED};
    const TTaskRow& task = rows_[static_cast<size_t>(row)];
    if (!task.Outcome.empty() && (task.Status == tsCompleted || task.Status == tsFailed)) return task.Outcome;
    return qv::LoadStr(ids[task.Status]);
}

void TTaskRun::NoteOutcome(const std::string& text, int image) {
    outcomeNoted_ = true;
    notedText_ = text;
    notedImage_ = image;
}

void TTaskRun::AddNotice(const std::string& text, const std::string& details, int image) {
    errors_.push_back(TErrorRow{text, image});
    AddDetailRows(details);
}

std::string TTaskRun::FinalDescription() const {
    return qv::LoadStr(errors_.empty() ? IDS_RUN_DONE : IDS_RUN_DONE_ERRORS);
}

void TTaskRun::Run(const std::function<void(const std::string&, bool)>& perform, const TStopRules& rules,
                   const TTaskRunHooks& hooks) {
    errorCount_ = 0;
    int row = 0;
    if (initialRegister_) {
        if (unregisterBefore_) {
            for (size_t i = 0; i < files_.size(); ++i, ++row) {
                if (!RunTask(row, perform, rules, hooks)) {
                    // The stop also skips the registration pass.
                    registerMode_ = false;
                    break;
                }
            }
        }
        if (registerMode_) {
            for (size_t i = 0; i < files_.size(); ++i, ++row) {
                if (!RunTask(row, perform, rules, hooks)) break;
            }
        }
    } else {
        for (size_t i = 0; i < files_.size(); ++i, ++row) {
            if (!RunTask(row, perform, rules, hooks)) break;
        }
    }
    finished_ = true;
}

bool TTaskRun::RunTask(int row, const std::function<void(const std::string&, bool)>& perform,
                       const TStopRules& rules, const TTaskRunHooks& hooks) {
    if (hooks.ProcessMessages) hooks.ProcessMessages();
    if (hooks.StopRequested && hooks.StopRequested()) {
        errors_.push_back(TErrorRow{qv::LoadStr(IDS_STOPPED_USER), tiStopped});
        if (hooks.ErrorsChanged) hooks.ErrorsChanged();
        CancelAfter(row - 1, hooks);
        return false;
    }
    if (hooks.TaskStarting) hooks.TaskStarting(row);
    TTaskRow& task = rows_[static_cast<size_t>(row)];
    bool succeeded = false;
    std::string message;
    std::string details;
    outcomeNoted_ = false;
    try {
        perform(task.Path, task.Register);
        succeeded = true;  // an operation that returns normally did its work
    } catch (const EQVException& outcome) {
        succeeded = outcome.Kind == qekSuccess;
        message = outcome.what();
        details = outcome.Details;
    }

    if (succeeded) {
        task.Status = tsCompleted;
        task.Image = tiCompleted;
        if (outcomeNoted_) {
            task.Outcome = notedText_;
            task.Image = notedImage_;
        }
        if (hooks.RowsChanged) hooks.RowsChanged(row, row);
    } else {
        ++errorCount_;
        task.Status = tsFailed;
        task.Image = tiFailed;
        if (outcomeNoted_) {
            task.Outcome = notedText_;
            task.Image = notedImage_;
        }
        errors_.push_back(TErrorRow{message, tiWarning});
        AddDetailRows(details);
        if (hooks.RowsChanged) hooks.RowsChanged(row, row);
        bool stop = false;
        if (hooks.StopRequested && hooks.StopRequested()) {
            // The user stopped the run during this task (its server may have
            // been ended for it): that is the run's reason to stop.
            errors_.push_back(TErrorRow{qv::LoadStr(IDS_STOPPED_USER), tiStopped});
            stop = true;
        } else if (rules.StopAfter == stopAfterFirst) {
            errors_.push_back(TErrorRow{qv::LoadStr(IDS_STOPPED_FIRST), tiStopped});
            stop = true;
        } else if (rules.StopAfter == stopAfterN && errorCount_ == std::max(rules.MaxErrors, 1) &&
                   row < ProgressMax() - 1) {
            // A limit below one is taken as one: a run set to stop after
            // errors never goes on through every failure.
            errors_.push_back(TErrorRow{qv::LoadFmt(IDS_STOPPED_N, errorCount_), tiStopped});
            stop = true;
        }
        if (hooks.ErrorsChanged) hooks.ErrorsChanged();
        if (stop) {
            CancelAfter(row, hooks);
            return false;
        }
    }
    ++progress_;
    if (hooks.ProgressChanged) hooks.ProgressChanged();
    if (hooks.ProcessMessages) hooks.ProcessMessages();
    return true;
}

std::vector<std::string> IndentedDetailLines(const std::string& details) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < details.size()) {
        size_t end = details.find_first_of("\r\n", start);
        if (end == std::string::npos) end = details.size();
        if (end > start) lines.push_back(kDetailIndent + details.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void TTaskRun::AddDetailRows(const std::string& details) {
    // Each line of the reason under its failure, indented, without a picture.
    for (std::string& line : IndentedDetailLines(details)) errors_.push_back(TErrorRow{std::move(line), tiNone});
}

void TTaskRun::CancelAfter(int row, const TTaskRunHooks& hooks) {
    int last = ProgressMax() - 1;
    if (row >= last) return;
    for (int i = row + 1; i <= last; ++i) {
        rows_[static_cast<size_t>(i)].Status = tsCancelled;
        rows_[static_cast<size_t>(i)].Image = tiWarning;
    }
    if (hooks.RowsChanged) hooks.RowsChanged(row + 1, last);
}
