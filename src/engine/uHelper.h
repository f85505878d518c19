#pragma once
// The registration helpers, Corvantis32.exe and Corvantis64.exe: the program
// and the runner never load a server themselves; every library and type
// library is registered by a helper process of its bitness, which sends
// back the outcome, shown as the program's own. A server that faults, hangs
// or ends its process takes only its helper with it.
//
// The program creates a section of memory and two events, none inheritable,
// and starts the helper (suspended, in a job of its own) with its own
// process id and the three handle values on the command line; the helper
// copies the handles from the program with DuplicateHandle and ends with it.
// The section starts with a header: the helper's mark and protocol version,
// the program's protocol version, the phase the helper is in and a flag set
// when it ends itself after replying. After the header comes one message: a
// 4-byte little-endian length, then the bytes. A request is 'R' (register)
// or 'U' (unregister), 'e' or 'p' for the language of the details (English,
// Portuguese), 'L' (library) or 'T' (type library), the entry points to call
// ('S' the server's own, 'B' those and DllInstall, 'I' DllInstall alone),
// 'o' when only S_OK counts as success or 'a' when any success code does,
// 'm' for a registration for all users (the machine) or 'u' for the current
// user alone (a first letter 'C' asks for a capture: registered into scratch
// keys, see uCapture.h; the reply to it is followed, at kCaptureOffset in the
// section, by a 4-byte length and the encoded capture),
// then the file's full path, a NUL byte and DllInstall's text in UTF-8; an
// empty request ends the helper. A reply is five fields separated by NUL
// bytes: "1" or "0" for success, the milliseconds, the kind of failure (one
// digit, a TFailure), the message and the details.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/uRegCore.h"

namespace engine {
struct TCapture;
}

namespace engine {

// The version of the hand-over. A helper of another version is not used.
inline constexpr std::uint32_t kHelperProtocol = 4;

// The helper's file name for libraries of `machine` (x86 or x64), looked
// for beside the running program.
const char* HelperFileName(pe::TMachine machine);

// One helper process for one bitness, started when first needed and kept
// for the next files.
class THelper {
public:
    explicit THelper(pe::TMachine machine);
    ~THelper();
    THelper(const THelper&) = delete;
    THelper& operator=(const THelper&) = delete;

    // Has the helper register or unregister the library or type library at
    // `fullPath` and returns its outcome. The context gives the language,
    // the time-out, the message pump and the stop event. A helper that is
    // missing, cannot start, ends, faults, times out or is stopped gives a
    // failure that says so, and is replaced for the next call; one found
    // ended while idle is replaced without blaming this file.
    TRegOutcome Run(TServerKind kind, const std::string& fullPath, bool register_, const TRegContext& context);
    // Has the helper capture the registration of the library or type
    // library at `fullPath` (see uCapture.h) into `capture`, whose outcome
    // is filled as Run fills its own; the keys stay empty on a failure of
    // the helper.
    void Capture(TServerKind kind, const std::string& fullPath, const TRegContext& context, TCapture& capture);

    // Starts the helper process now, so that the first file finds it ready.
    void Prestart();
    // Ends the helper, waiting a moment for it to end by itself.
    void Close();
    // Tells the helper to end, without waiting.
    void AskToEnd();
    // Called each time a file has been handed over, while the helper works
    // on it: the caller's own work (drawing, say) then costs no time.
    void SetWhileWorking(std::function<void()> whileWorking);
    bool Running() const;
    // True while it runs or its file lies beside the program.
    bool Available() const;
    // The helper process's id while it runs, else 0.
    unsigned long ProcessId() const;
    // The time the helper itself took for the last file, as it reported it
    // (the outcome's time also counts the hand-over both ways).
    double LastOwnMs() const;

private:
    TRegOutcome Request(TServerKind kind, const std::string& fullPath, bool register_, const TRegContext& context,
                        TCapture* capture);
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

// While an object of this class lives, the libraries of this thread go to
// its two helpers (one per bitness), each started when first needed and
// ended with the session; without one, each file starts and ends its own.
class THelperSession {
public:
    // `whileWorking` is called while a helper works on each file.
    explicit THelperSession(std::function<void()> whileWorking = nullptr);
    ~THelperSession();
    THelperSession(const THelperSession&) = delete;
    THelperSession& operator=(const THelperSession&) = delete;

    THelper& For(pe::TMachine machine);
    // The innermost session open on this thread, or null.
    static THelperSession* Current();
    // Starts the helper for `machine` ahead of its first file, and takes it
    // as the first guess for libraries.
    void Prestart(pe::TMachine machine);
    // The helper to ask first about a library: the bitness of the last
    // library, or what the file's header says.
    pe::TMachine Guess(const std::string& fullPath);
    void Remember(pe::TMachine machine) { last_ = machine; }
    // Starts the helper the file at `path` needs, if it needs one (not for
    // an executable server).
    void PrestartFor(const std::string& path);

private:
    THelperSession* previous_;
    pe::TMachine last_ = pe::TMachine::None;
    THelper x86_;
    THelper x64_;
};

// Makes `context` register libraries and type libraries through helpers:
// the session's when one is open at the time of the call, otherwise one of
// their own for the call. Takes the context's other settings as they are.
void UseHelpers(TRegContext& context);

// The helper's side: `arguments` are the program's process id and the three
// handle values of its command line. Answers requests until it is told to
// end or the program ends. Returns the process exit code.
int ServeHelperRequests(const std::string& arguments);

// Encoding and decoding of the frames' contents (exposed for the tests).
std::string EncodeReply(const TRegOutcome& outcome);
bool DecodeReply(const std::string& bytes, TRegOutcome& outcome);
struct THelperRequest {
    TServerKind kind = TServerKind::Library;
    std::string fullPath;
    bool register_ = true;
    QVLanguage language = qlEnglish;
    TEntryPoints entryPoints = TEntryPoints::Server;
    bool anySuccessCode = false;
    std::wstring installText;
    bool perUser = false;
    bool capture = false;  // register into scratch keys and send the capture back
};
std::string EncodeRequest(const THelperRequest& request);
bool DecodeRequest(const std::string& bytes, THelperRequest& request);

}  // namespace engine
