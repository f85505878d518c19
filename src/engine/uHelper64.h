#pragma once
// The 64-bit helper, Corvantis64.exe: the 32-bit program hands it 64-bit
// libraries and receives each file's outcome, which it then shows as its own.
//
// The two share a section of memory and two events, all unnamed and handed
// to the helper by inheritance (their values are on its command line, with
// the program's own process, whose end ends the helper). The program writes
// a request into the section and sets the request event; the helper writes
// the reply in its place and sets the reply event. A message is a 4-byte
// little-endian length, then the bytes. A request is 'R' (register) or 'U'
// (unregister), then 'e' or 'p' for the language of the details (English,
// Portuguese), then the library's full path; an empty request ends the
// helper. A reply is four fields separated by NUL bytes: "1" or "0" for
// success, the milliseconds, the message and the details.
#include <functional>
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

    // Ends the helper.
    void Close();
    // Called each time a file has been handed over, while the helper works
    // on it: the caller's own work (drawing, say) then costs no time.
    void SetWhileWorking(std::function<void()> whileWorking);
    bool Running() const;
    // The helper process's id while it runs, else 0.
    unsigned long ProcessId() const;
    // The time the helper itself took for the last file, as it reported it
    // (the outcome's time also counts the hand-over both ways).
    double LastOwnMs() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// While an object of this class lives, every 64-bit library of this thread
// goes to one helper process; without one, each call starts and ends its own.
class THelperSession {
public:
    // `whileWorking` is called while the helper works on each file.
    explicit THelperSession(std::function<void()> whileWorking = nullptr);
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

// The helper's side: `arguments` are the four handle values of its command
// line. Answers requests until it is told to end or the program ends.
// Returns the process exit code.
int ServeHelperRequests(const std::string& arguments);

// Encoding and decoding of the frames' contents (exposed for the tests).
std::string EncodeReply(const TRegOutcome& outcome);
bool DecodeReply(const std::string& bytes, TRegOutcome& outcome);

}  // namespace engine
