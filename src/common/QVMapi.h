#pragma once
// Sending mail through the system's mail program: TQVMapi composes one
// message and hands it over through Simple MAPI, and the support e-mail
// command built on it. The texts are the program's UTF-8: they go to
// MAPISendMailW as UTF-16 where the mail library has it, and otherwise to
// MAPISendMail in the system's legacy ANSI code page.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class TQVApplication;
class TQVMapi;

using TNotifyEvent = std::function<void(TQVMapi& Sender)>;
using TMapiErrEvent = std::function<void(TQVMapi& Sender, int ErrCode)>;

class TQVMapi {
public:
    // `owner` is the window the mail program's windows belong to; null means
    // the application's own hidden window.
    explicit TQVMapi(HWND owner = nullptr) : Owner(owner) {}
    TQVMapi(const TQVMapi&) = delete;
    TQVMapi& operator=(const TQVMapi&) = delete;

    // Composes the message from the properties and hands it to the mail
    // program (MAPISendMailW when the library exports it, MAPISendMail
    // otherwise, a character the code page lacks then shown as '?'). The owner window is disabled while the mail program has it.
    // The outcome arrives through the events (one that is not assigned is
    // skipped): 0 fires OnSuccess; 1, or no mail system, fires OnUserAbort;
    // any other code fires OnMapiError. Nothing is raised for these; an error
    // while building the message (memory) passes to the caller.
    void Send();

    // After Send: whether a mail system was declared and its MAPISendMail
    // called, which tells a user's cancel from a missing mail system.
    bool MailSystemReached() const { return mailSystemReached_; }

    HWND Owner;
    std::string Subject;
    std::string Body;
    std::string FromName;
    std::string FromAdress;
    std::vector<std::string> Recipients;
    std::vector<std::string> CopyTo;
    std::vector<std::string> BlindCopyTo;
    std::vector<std::string> AttachedFiles;
    // The attachments' names as the reader sees them; rebuilt by Send.
    std::vector<std::string> DisplayFileName;
    // Lets the mail program show its compose window and log-on prompt.
    bool ShowDialog = false;
    TNotifyEvent OnUserAbort;
    TMapiErrEvent OnMapiError;
    TNotifyEvent OnSuccess;

private:
    bool mailSystemReached_ = false;
};

// Opens a new message to the record's support address, its subject the
// title and version, in the user's mail program, owned by `owner`. Without a
// Simple MAPI mail system, or when it refuses, opens a "mailto:" address
// through the shell instead. The user's cancel ends silently. Raises
// EQVException (Kind 1) naming the support address when no mail program
// could be opened, and with the reason as details for any other error.
void SendSupportEmail(HWND owner, const TQVApplication& record);

namespace qv {
// Whether the system declares a Simple MAPI mail system: the "MAPI" value of
// the Windows Messaging Subsystem key is exactly "1" (the "MAPI" entry of
// WIN.INI's "Mail" section is non-zero on versions up to 3.51).
bool MailSystemDeclared();
// "mailto:" followed by the address and the subject as a query, the subject
// percent-encoded (UTF-8 is not assumed: each byte outside letters, digits
// and "-._~" becomes %XX).
std::string MailtoAddress(const std::string& address, const std::string& subject);
// The file-name part of a path: what follows the last backslash or colon.
std::string AttachmentName(const std::string& path);
// The mail library Send hands messages to. Empty, the default: MAPI32.DLL of
// the system folder, never a library of that name found elsewhere. Otherwise
// the full path of another library exporting MAPISendMail (and perhaps
// MAPISendMailW), loaded instead:
// the tests' seam for a library that records what it is given. Takes effect
// at the next Send; each library loaded stays loaded until the process ends.
void SetMailLibraryPath(const std::string& path);
}  // namespace qv
