#pragma once
// A process the program starts for a server: an executable server or a
// registration helper. It inherits no handle of the program, and lives in a
// job object of its own that ends it, and everything it started, when the
// job is ended or its last handle closes, so nothing it starts can outlast
// the program however the program ends.
#include <windows.h>

#include <functional>
#include <string>

#include "common/QVHandles.h"

namespace engine {

// How a wait for a child ended.
enum class TWaitEnd { Signalled, Ended, TimedOut, Aborted };

class TChildProcess {
public:
    TChildProcess() = default;
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Starts `path` with `commandLine` (the whole line, program name
    // included), suspended, puts it into a new job object that kills on
    // close, then lets it run. `flags` are added to the creation flags
    // (CREATE_NO_WINDOW, say). No handle is inherited, and standard handles
    // are not passed. The process may bring its windows to the front.
    // False with the system's error code when it could not be started; a
    // job that could not be made or joined (a parent job that forbids it)
    // does not fail the start: the process is then ended directly.
    bool Start(const std::string& path, const std::string& commandLine, DWORD flags, DWORD& error);

    bool Running() const;
    HANDLE Process() const { return process_.get(); }
    DWORD ProcessId() const { return processId_; }
    // False when the process could not be put into a job of its own.
    bool InJob() const { return static_cast<bool>(job_); }

    // Ends the process, and with its job everything it started, and waits
    // a moment for the end to take effect.
    void Kill(UINT exitCode);
    // The exit code once ended, STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    // Forgets the process; its job stays open until this process ends, so
    // what the child left running still ends with the program.
    void Detach();
    // Ends the process if it runs and forgets it.
    void Reset();

private:
    qv::Handle process_;
    qv::Handle job_;
    DWORD processId_ = 0;
};

// Waits until `object` is signalled (Signalled), the process `process` ends
// (Ended; null: no process watched), `timeoutMs` passes (TimedOut; INFINITE
// for none) or `abort` is set (Aborted; null: none), calling `pump` whenever
// messages arrive for this thread (null: no messages are taken). When
// several happen at once the first in that order wins.
TWaitEnd WaitForChild(HANDLE object, HANDLE process, unsigned timeoutMs, HANDLE abort,
                      const std::function<void()>& pump);

}  // namespace engine
