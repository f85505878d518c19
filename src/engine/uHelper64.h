#pragma once
// The 64-bit helper, Corvantis64.exe: the 32-bit program hands it 64-bit
// libraries and receives each file's outcome, which it then shows as its own.
//
// The two talk over a pipe that is the helper's standard input and output.
// Each message is a frame: a 4-byte little-endian length, then the bytes.
// A request is 'R' (register) or 'U' (unregister), then 'e' or 'p' for the
// language of the details (English, Portuguese), then the library's full path. A reply is four fields separated by NUL bytes: "1" or "0" for
// success, the milliseconds, the message and the details.
#include <memory>
#include <string>

#include "engine/uRegCore.h"

namespace engine {

// The helper's file name, looked for beside the running program.
extern const char* const kHelperFileName;

// One helper process, started on the first file and kept for the next ones.
class THelper64 {
public:
    THelper64();
    ~THelper64();
    THelper64(const THelper64&) = delete;
    THelper64& operator=(const THelper64&) = delete;

    // Has the helper register or unregister the library at `fullPath` and
    // returns its outcome. A helper that is missing, cannot start or ends
    // during the call gives a failure that says so; the next call starts a
    // new one. `pump` keeps windows painted while the helper works.
    TRegOutcome Run(const std::string& fullPath, bool register_, QVLanguage language,
                    const std::function<void()>& pump);

    // Ends the helper (it leaves when its pipe closes).
    void Close();
    bool Running() const;
    // The helper process's id while it runs, else 0.
    unsigned long ProcessId() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// While an object of this class lives, every 64-bit library of this thread
// goes to one helper process; without one, each call starts and ends its own.
class THelperSession {
public:
    THelperSession();
    ~THelperSession();
    THelperSession(const THelperSession&) = delete;
    THelperSession& operator=(const THelperSession&) = delete;

private:
    THelper64* previous_;
    THelper64 helper_;
};

// The foreign runner for a registration context: the session's helper when
// one is open, otherwise a helper of its own for the one call.
TForeignRunner HelperRunner(QVLanguage language, std::function<void()> pump);

// The helper's side: reads requests from standard input and answers on
// standard output until the pipe closes. Returns the process exit code.
int ServeHelperRequests();

// Encoding and decoding of the frames' contents (exposed for the tests).
std::string EncodeReply(const TRegOutcome& outcome);
bool DecodeReply(const std::string& bytes, TRegOutcome& outcome);

}  // namespace engine
