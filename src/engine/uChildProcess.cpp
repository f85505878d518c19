#include "engine/uChildProcess.h"

#include <vector>

namespace engine {

namespace {

// Jobs of children that ended on their own: kept open until this process
// ends, so that what such a child left running ends with the program rather
// than at once (a server may start a process it means to keep for a while).
std::vector<HANDLE>& DetachedJobs() {
    static std::vector<HANDLE> jobs;
    return jobs;
}

HANDLE NewKillOnCloseJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);  // not inheritable
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // Killed with the last handle; a crash ends the process at once with
    // its exception code instead of waiting on the system's crash report.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

}  // namespace

TChildProcess::~TChildProcess() { Reset(); }

bool TChildProcess::Start(const std::string& path, const std::string& commandLine, DWORD flags, DWORD& error) {
    Reset();
    error = 0;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // No standard handles either (without this the system hands a console
    // child the caller's own).
    startup.dwFlags = STARTF_USESTDHANDLES;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION info{};
    // Nothing inherited: a child that outlives its task must not hold the
    // program's section, events or a script's redirected output open.
    if (!CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, FALSE, flags | CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
        error = GetLastError();
        return false;
    }
    qv::Handle thread(info.hThread);
    process_.reset(info.hProcess);
    processId_ = info.dwProcessId;
    job_.reset(NewKillOnCloseJob());
    if (job_ && !AssignProcessToJobObject(job_.get(), process_.get())) job_.reset();
    // A server's own dialogs may come to the front.
    AllowSetForegroundWindow(processId_);
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        error = GetLastError();
        Reset();
        return false;
    }
    return true;
}

bool TChildProcess::Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

void TChildProcess::Kill(UINT exitCode) {
    if (!process_) return;
    if (job_) TerminateJobObject(job_.get(), exitCode);
    // Outside a job, or should the job refuse: the process itself.
    if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), exitCode);
    WaitForSingleObject(process_.get(), 5000);
}

DWORD TChildProcess::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_ && !GetExitCodeProcess(process_.get(), &code)) code = GetLastError();
    return code;
}

void TChildProcess::Detach() {
    if (job_) DetachedJobs().push_back(job_.release());
    process_.reset();
    processId_ = 0;
}

void TChildProcess::Reset() {
    if (Running()) Kill(1);
    job_.reset();
    process_.reset();
    processId_ = 0;
}

TWaitEnd WaitForChild(HANDLE object, HANDLE process, unsigned timeoutMs, HANDLE abort,
                      const std::function<void()>& pump) {
    HANDLE handles[3];
    TWaitEnd ends[3];
    DWORD count = 0;
    handles[count] = object;
    ends[count++] = TWaitEnd::Signalled;
    if (process) {
        handles[count] = process;
        ends[count++] = TWaitEnd::Ended;
    }
    if (abort) {
        handles[count] = abort;
        ends[count++] = TWaitEnd::Aborted;
    }
    const DWORD start = GetTickCount();
    // Most servers answer within a few milliseconds: a plain wait first
    // spares the message queue a look per file.
    DWORD wait = WaitForMultipleObjects(count, handles, FALSE, pump ? (timeoutMs < 5 ? timeoutMs : 5) : timeoutMs);
    for (;;) {
        if (wait < WAIT_OBJECT_0 + count) return ends[wait - WAIT_OBJECT_0];
        if (wait == WAIT_FAILED) return TWaitEnd::Ended;
        DWORD elapsed = GetTickCount() - start;
        if (timeoutMs != INFINITE && elapsed >= timeoutMs) {
            // A last look, so that an answer that came with the deadline counts.
            wait = WaitForMultipleObjects(count, handles, FALSE, 0);
            return wait < WAIT_OBJECT_0 + count ? ends[wait - WAIT_OBJECT_0] : TWaitEnd::TimedOut;
        }
        DWORD left = timeoutMs == INFINITE ? INFINITE : timeoutMs - elapsed;
        if (!pump) {
            wait = WaitForMultipleObjects(count, handles, FALSE, left);
            continue;
        }
        wait = MsgWaitForMultipleObjects(count, handles, FALSE, left, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0 + count) {
            pump();
            wait = WaitForMultipleObjects(count, handles, FALSE, 0);
        }
    }
}

}  // namespace engine
