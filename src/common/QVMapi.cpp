#include "common/QVMapi.h"

#include <mapi.h>
#include <shellapi.h>

#include <deque>
#include <exception>
#include <memory>

#include "common/QVApp.h"
#include "common/QVCodePage.h"
#include "common/QVExceptions.h"
#include "common/QVMapiW.h"
#include "common/QVRegUtils.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "resource.h"
#include "ui/Application.h"

namespace {

using TMapiSendMail = ULONG(WINAPI*)(LHANDLE, ULONG_PTR, lpMapiMessage, FLAGS, ULONG);

// The library set by SetMailLibraryPath; empty for the system's.
std::string& MailLibraryPath() {
    static std::string path;
    return path;
}

// The entry points of the mail library: MAPISendMailW takes the texts as
// they are; MAPISendMail, which every mail library has, only what the
// legacy code page can hold.
struct TSendMail {
    TMapiSendMailW wide = nullptr;
    TMapiSendMail ansi = nullptr;
    explicit operator bool() const { return wide || ansi; }
};

// The mail library's entry points, bound on the first call that finds a
// mail system declared, and again when another library was set since; both
// null when the library or the functions are missing. The library stays
// loaded until the process ends.
TSendMail BoundSendMail() {
    static bool tried = false;
    static std::string boundPath;
    static TSendMail sendMail;
    if (!tried || boundPath != MailLibraryPath()) {
        tried = true;
        boundPath = MailLibraryPath();
        sendMail = TSendMail();
        HMODULE library = boundPath.empty() ? qv::LoadSystemLibrary("MAPI32.DLL") : LoadLibraryA(boundPath.c_str());
        if (library) {
            sendMail.wide = reinterpret_cast<TMapiSendMailW>(
                reinterpret_cast<void*>(GetProcAddress(library, "MAPISendMailW")));
            sendMail.ansi = reinterpret_cast<TMapiSendMail>(
                reinterpret_cast<void*>(GetProcAddress(library, "MAPISendMail")));
        }
    }
    return sendMail;
}

// The two forms of the Simple MAPI records: the texts' type, the records,
// and how the program's UTF-8 becomes that text.
struct TWideMapi {
    using Char = wchar_t;
    using Recip = MapiRecipDescW;
    using File = MapiFileDescW;
    using Message = MapiMessageW;
    static std::wstring Convert(const std::string& text) { return qv::TextToWide(text); }
};

struct TAnsiMapi {
    using Char = char;
    using Recip = MapiRecipDesc;
    using File = MapiFileDesc;
    using Message = MapiMessage;
    // A character the code page lacks becomes its default character.
    static std::string Convert(const std::string& text) {
        return qv::WideToCodePage(qv::LegacyCodePage(), qv::TextToWide(text));
    }
};

// Disables a window for the life of the object and enables it again
// afterwards, unless it was disabled already.
class TWindowDisabler {
public:
    explicit TWindowDisabler(HWND window) : window_(IsWindow(window) && IsWindowEnabled(window) ? window : nullptr) {
        if (window_) EnableWindow(window_, FALSE);
    }
    ~TWindowDisabler() {
        if (window_) EnableWindow(window_, TRUE);
    }
    TWindowDisabler(const TWindowDisabler&) = delete;
    TWindowDisabler& operator=(const TWindowDisabler&) = delete;

private:
    HWND window_;
};

// Composes the message in the records of one form and hands it to `send`;
// the mail library's result. Everything built lives in the containers here
// and is released on every way out, an exception included.
template <class Form, class SendProc>
ULONG SendAs(const TQVMapi& mapi, SendProc send, ULONG_PTR parent, FLAGS flags) {
    using Char = typename Form::Char;
    // A deque keeps each text where it is while more are added.
    std::deque<std::basic_string<Char>> texts;
    auto text = [&texts](const std::string& utf8) {
        texts.push_back(Form::Convert(utf8));
        return const_cast<Char*>(texts.back().c_str());
    };
    std::vector<typename Form::Recip> recipients;
    std::vector<typename Form::File> files;
    recipients.reserve(mapi.Recipients.size() + mapi.CopyTo.size() + mapi.BlindCopyTo.size());
    auto addRecipients = [&](const std::vector<std::string>& lines, ULONG recipientClass) {
        for (const std::string& line : lines) {
            typename Form::Recip desc{};
            desc.ulRecipClass = recipientClass;
            desc.lpszName = text(line);
            desc.lpszAddress = text("SMTP:" + line);
            recipients.push_back(desc);
        }
    };
    addRecipients(mapi.Recipients, MAPI_TO);
    addRecipients(mapi.CopyTo, MAPI_CC);
    addRecipients(mapi.BlindCopyTo, MAPI_BCC);

    typename Form::Recip originator{};
    originator.ulRecipClass = MAPI_ORIG;
    originator.lpszName = text(mapi.FromName);
    originator.lpszAddress = text(mapi.FromAdress);

    if (!mapi.AttachedFiles.empty()) {
        for (size_t i = 0; i < mapi.AttachedFiles.size(); ++i) {
            typename Form::File desc{};
            desc.nPosition = static_cast<ULONG>(-1);
            desc.lpszPathName = text(mapi.AttachedFiles[i]);
            desc.lpszFileName = text(mapi.DisplayFileName[i]);
            files.push_back(desc);
        }
    }

    typename Form::Message message{};
    message.lpszSubject = text(mapi.Subject);
    message.lpszNoteText = text(mapi.Body);
    message.lpOriginator = &originator;
    message.nRecipCount = static_cast<ULONG>(recipients.size());
    message.lpRecips = recipients.empty() ? nullptr : recipients.data();
    message.nFileCount = static_cast<ULONG>(files.size());
    message.lpFiles = files.empty() ? nullptr : files.data();
    return send(0, parent, &message, flags, 0);
}

}  // namespace

namespace qv {

bool MailSystemDeclared() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwMajorVersion > 3 || (version.dwMajorVersion == 3 && version.dwMinorVersion > 51)) {
        return ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows Messaging Subsystem", "MAPI", "") == "1";
    }
    return GetProfileIntA("Mail", "MAPI", 0) != 0;
}

std::string MailtoAddress(const std::string& address, const std::string& subject) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "mailto:" + address + "?subject=";
    for (unsigned char c : subject) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string AttachmentName(const std::string& path) {
    size_t separator = path.find_last_of("\\:");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

void SetMailLibraryPath(const std::string& path) { MailLibraryPath() = path; }

}  // namespace qv

void TQVMapi::Send() {
    mailSystemReached_ = false;
    if (!AttachedFiles.empty()) {
        DisplayFileName.clear();
        for (const std::string& path : AttachedFiles) DisplayFileName.push_back(qv::AttachmentName(path));
    }

    ULONG result = MAPI_USER_ABORT;
    const TSendMail sendMail = qv::MailSystemDeclared() ? BoundSendMail() : TSendMail();
    if (sendMail) {
        HWND parent = Owner ? Owner : ui::Application.Handle();
        FLAGS flags = ShowDialog ? MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG : 0;
        mailSystemReached_ = true;
        // The mail program's windows are modal to the owner.
        TWindowDisabler disabled(parent);
        const ULONG_PTR uiParam = reinterpret_cast<ULONG_PTR>(parent);
        result = sendMail.wide ? SendAs<TWideMapi>(*this, sendMail.wide, uiParam, flags)
                               : SendAs<TAnsiMapi>(*this, sendMail.ansi, uiParam, flags);
    }

    if (result == SUCCESS_SUCCESS) {
        if (OnSuccess) OnSuccess(*this);
    } else if (result == MAPI_USER_ABORT) {
        if (OnUserAbort) OnUserAbort(*this);
    } else if (OnMapiError) {
        OnMapiError(*this, static_cast<int>(result));
    }
}

namespace {

// Opens the address through the shell without its own error dialog; the
// system error code on failure, 0 on success.
DWORD OpenThroughShell(HWND owner, const std::string& address) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = owner;
    info.lpFile = address.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExA(&info)) return 0;
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_NO_ASSOCIATION;
}

}  // namespace

void SendSupportEmail(HWND owner, const TQVApplication& record) {
    const std::string address = record.WebAddresses ? record.WebAddresses->SupportEmail : std::string();
    const std::string subject = record.Title + " " + record.Version;
    // Why Simple MAPI did not take the message; empty when it did, or when
    // the user cancelled in the mail program.
    std::string refusal;
    try {
        auto mapi = std::make_unique<TQVMapi>(owner);
        mapi->ShowDialog = true;
        mapi->Recipients = {address};
        mapi->Subject = subject;
        mapi->Body = " ";
        mapi->OnUserAbort = [&refusal](TQVMapi& sender) {
            if (!sender.MailSystemReached()) refusal = qv::LoadStr(IDS_MAIL_NO_MAPI);
        };
        mapi->OnMapiError = [&refusal](TQVMapi&, int code) { refusal = qv::LoadFmt(IDS_MAIL_MAPI_ERROR, code); };
        mapi->Send();
    } catch (const std::exception& e) {
        throw EQVException(qv::LoadEncipheredStr(IDS_MAIL_FAILED), e.what(), qekError);
    }
    if (refusal.empty()) return;

    std::string mailto = qv::MailtoAddress(address, subject);
    DWORD error = OpenThroughShell(owner, mailto);
    if (error == 0) return;
    throw EQVException(qv::Format(qv::LoadEncipheredStr(IDS_MAIL_NO_PROGRAM), address),
                       qv::LoadFmt(IDS_MAIL_NO_PROGRAM_DETAILS, refusal, mailto, static_cast<int>(error)), qekError);
}
