#include "engine/uHelper.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uCapture.h"
#include "engine/uChildProcess.h"
#include "engine/uGuardedCall.h"
#include "engine/uReasons.h"
#include "resource.h"

namespace engine {

namespace {

// The section: a header, then one message. A request is a path, a reply a
// message and its reasons; both fit many times over.
struct THeader {
    std::uint32_t helperMark;       // kHelperMark once the helper runs
    std::uint32_t helperVersion;    // the helper's protocol version
    std::uint32_t programVersion;   // the program's protocol version
    volatile LONG phase;            // TPhase of the file at work
    volatile LONG ending;           // 1: the helper ends itself after this reply
    volatile LONG redirect;         // a TMachine: the file belongs to that helper
    volatile LONG taken;            // requests the helper has taken so far
    std::uint32_t reserved[9];
};
static_assert(sizeof(THeader) == 64, "the header's size is part of the hand-over");

const std::uint32_t kHelperMark = 0x48564351;  // "QCVH"
const std::uint32_t kSectionBytes = 1u << 20;
const std::uint32_t kMessageOffset = sizeof(THeader);
const std::uint32_t kMaxMessage = kSectionBytes - kMessageOffset - 4;
// A capture follows the reply at this offset: a 4-byte length, the bytes.
const std::uint32_t kCaptureOffset = 64u << 10;
const std::uint32_t kMaxCapture = kSectionBytes - kCaptureOffset - 4;
// The helper's exit codes of its own: bad arguments, a request it cannot
// read, a program of another protocol version.
// Values no earlier helper used, so that an earlier helper's end is told
// apart from these.
const DWORD kExitArguments = 0x51560002;
const DWORD kExitRequest = 0x51560003;
const DWORD kExitVersion = 0x51560004;

THelperSession* CurrentSession = nullptr;

std::string ProgramFolder() {
    std::string folder = qv::ModuleFileName(nullptr);
    size_t cut = folder.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
}

THeader* HeaderOf(void* view) { return static_cast<THeader*>(view); }

void PutBlock(void* view, std::uint32_t offset, std::uint32_t most, const std::string& bytes) {
    unsigned char* section = static_cast<unsigned char*>(view) + offset;
    const std::uint32_t length = static_cast<std::uint32_t>(bytes.size() < most ? bytes.size() : most);
    for (int i = 0; i < 4; ++i) section[i] = static_cast<unsigned char>((length >> (8 * i)) & 0xFF);
    if (length) std::memcpy(section + 4, bytes.data(), length);
}

void PutMessage(void* view, const std::string& bytes) { PutBlock(view, kMessageOffset, kMaxMessage, bytes); }

// The block at `offset`; false when its length is damaged.
bool TakeBlock(const void* view, std::uint32_t offset, std::uint32_t most, std::string& bytes) {
    const unsigned char* section = static_cast<const unsigned char*>(view) + offset;
    const std::uint32_t length = static_cast<std::uint32_t>(section[0]) | static_cast<std::uint32_t>(section[1]) << 8 |
                                 static_cast<std::uint32_t>(section[2]) << 16 |
                                 static_cast<std::uint32_t>(section[3]) << 24;
    if (length > most) return false;
    bytes.assign(reinterpret_cast<const char*>(section + 4), length);
    return true;
}

// The message in the section; false when its length is damaged.
bool TakeMessage(const void* view, std::string& bytes) { return TakeBlock(view, kMessageOffset, kMaxMessage, bytes); }

struct TViewTraits {
    static void* Invalid() { return nullptr; }
    static bool Valid(void* view) { return view != nullptr; }
    static void Close(void* view) { UnmapViewOfFile(view); }
};
using TView = qv::UniqueHandle<void*, TViewTraits>;

// The entry point (or type library call) the helper was at in `phase`:
// DllInstall while installing; after the calls, the last one; before them,
// the first.
const char* EntryOf(TServerKind kind, bool register_, TEntryPoints entries, TPhase phase, bool perUser) {
    if (kind == TServerKind::TypeLibrary && perUser) {
        return register_ ? "RegisterTypeLibForUser" : "UnRegisterTypeLibForUser";
    }
    if (kind == TServerKind::TypeLibrary) return register_ ? "RegisterTypeLib" : "UnRegisterTypeLib";
    const char* server = register_ ? "DllRegisterServer" : "DllUnregisterServer";
    if (phase == TPhase::Installing || entries == TEntryPoints::InstallOnly) return "DllInstall";
    if (phase == TPhase::Calling || entries == TEntryPoints::Server) return server;
    // Both: DllInstall comes second when registering, first when not.
    return (phase == TPhase::Unloading) == register_ ? "DllInstall" : server;
}

// The first line of a failure the helper could not report itself: a load
// failure while the library was being read or loaded, else a failed call.
std::string FailureMessage(TServerKind kind, bool register_, TEntryPoints entries, TPhase phase, bool perUser,
                           const std::string& fileName) {
    if (kind == TServerKind::Library && (phase == TPhase::Reading || phase == TPhase::Loading)) {
        return qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName);
    }
    return qv::LoadFmt(IDS_CALL_FAILED, EntryOf(kind, register_, entries, phase, perUser), fileName);
}

std::string Utf8Of(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &out[0], bytes, nullptr, nullptr);
    return out;
}

// False when `bytes` is not valid UTF-8.
bool WideOfUtf8(const std::string& bytes, std::wstring& text) {
    text.clear();
    if (bytes.empty()) return true;
    const int length = static_cast<int>(bytes.size());
    int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (chars <= 0) return false;
    text.resize(static_cast<size_t>(chars));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, &text[0], chars) == chars;
}

const char kEntryLetters[] = {'S', 'B', 'I'};  // indexed by TEntryPoints

}  // namespace

const char* HelperFileName(pe::TMachine machine) {
    return machine == pe::TMachine::X64 ? "Corvantis64.exe" : "Corvantis32.exe";
}

std::string EncodeReply(const TRegOutcome& outcome) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", outcome.ms);
    std::string bytes = outcome.success ? "1" : "0";
    bytes += '\0';
    bytes += ms;
    bytes += '\0';
    bytes += static_cast<char>('0' + static_cast<int>(outcome.failure));
    bytes += '\0';
    bytes += outcome.message;
    bytes += '\0';
    bytes += outcome.details;
    return bytes;
}

bool DecodeReply(const std::string& bytes, TRegOutcome& outcome) {
    size_t first = bytes.find('\0');
    if (first != 1 || (bytes[0] != '0' && bytes[0] != '1')) return false;
    size_t second = bytes.find('\0', first + 1);
    if (second == std::string::npos) return false;
    size_t kind = second + 1;
    if (kind + 1 >= bytes.size() || bytes[kind + 1] != '\0' || bytes[kind] < '0' ||
        bytes[kind] >= '0' + kFailureKinds) {
        return false;
    }
    size_t third = bytes.find('\0', kind + 2);
    if (third == std::string::npos) return false;
    std::string ms = bytes.substr(first + 1, second - first - 1);
    char* end = nullptr;
    double value = std::strtod(ms.c_str(), &end);
    if (ms.empty() || end != ms.c_str() + ms.size() || !(value >= 0)) return false;
    outcome.success = bytes[0] == '1';
    outcome.ms = value;
    outcome.failure = static_cast<TFailure>(bytes[kind] - '0');
    outcome.message = bytes.substr(kind + 2, third - kind - 2);
    outcome.details = bytes.substr(third + 1);
    return outcome.details.find('\0') == std::string::npos && !outcome.message.empty();
}

std::string EncodeRequest(const THelperRequest& request) {
    std::string bytes;
    bytes += request.capture ? 'C' : request.register_ ? 'R' : 'U';
    bytes += request.language == qlPortuguese ? 'p' : 'e';
    bytes += request.kind == TServerKind::TypeLibrary ? 'T' : 'L';
    bytes += kEntryLetters[static_cast<int>(request.entryPoints)];
    bytes += request.anySuccessCode ? 'a' : 'o';
    bytes += request.perUser ? 'u' : 'm';
    bytes += request.fullPath;
    bytes += '\0';
    return bytes + Utf8Of(request.installText);
}

bool DecodeRequest(const std::string& bytes, THelperRequest& request) {
    // The path may be empty: the helper then says that no file was named.
    const size_t end = bytes.find('\0');
    if (bytes.size() < 6 || (bytes[0] != 'R' && bytes[0] != 'U' && bytes[0] != 'C') ||
        (bytes[1] != 'e' && bytes[1] != 'p') || (bytes[2] != 'L' && bytes[2] != 'T') ||
        (bytes[4] != 'o' && bytes[4] != 'a') || (bytes[5] != 'm' && bytes[5] != 'u') || end == std::string::npos ||
        bytes.find('\0', end + 1) != std::string::npos) {
        return false;
    }
    const char* letter = static_cast<const char*>(std::memchr(kEntryLetters, bytes[3], sizeof kEntryLetters));
    if (!letter || end < 6) return false;
    if (!WideOfUtf8(bytes.substr(end + 1), request.installText)) return false;
    request.capture = bytes[0] == 'C';
    request.register_ = bytes[0] != 'U';
    request.language = bytes[1] == 'p' ? qlPortuguese : qlEnglish;
    request.kind = bytes[2] == 'T' ? TServerKind::TypeLibrary : TServerKind::Library;
    request.entryPoints = static_cast<TEntryPoints>(letter - kEntryLetters);
    request.anySuccessCode = bytes[4] == 'a';
    request.perUser = bytes[5] == 'u';
    request.fullPath = bytes.substr(6, end - 6);
    return true;
}

struct THelper::TImpl {
    pe::TMachine machine;
    TChildProcess process;
    qv::Handle section, request, reply;
    TView view;
    std::string helperPath;
    DWORD startError = 0;
    bool missing = false;
    double lastOwnMs = 0;
    std::function<void()> whileWorking;
    // Whom the running helper has registered for: -1 nobody yet, 0 all
    // users, 1 the current user alone or captures (which turn the same
    // switch on). oleaut32's per-user switch cannot be turned off, so a
    // helper serves one of the two only.
    int scope = -1;

    THeader* Header() const { return HeaderOf(view.get()); }

    bool Start() {
        Reset();
        scope = -1;
        helperPath = ProgramFolder() + HelperFileName(machine);
        missing = !qv::FileExists(helperPath);
        if (missing) return false;
        section.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionBytes, nullptr));
        request.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        reply.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (section) view.reset(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, kSectionBytes));
        if (!section || !request || !reply || !view) {
            startError = GetLastError();
            Reset();
            return false;
        }
        Header()->programVersion = kHelperProtocol;
        // The helper copies the three handles from this process: none of
        // them is inheritable, so no other child can get them by accident.
        std::string commandLine = "\"" + helperPath + "\" /serve " + std::to_string(GetCurrentProcessId());
        for (HANDLE handle : {section.get(), request.get(), reply.get()}) {
            commandLine += " " + std::to_string(reinterpret_cast<std::uintptr_t>(handle));
        }
        if (!process.Start(helperPath, commandLine, CREATE_NO_WINDOW, startError)) {
            Reset();
            return false;
        }
        return true;
    }

    // The helper speaks this program's version of the hand-over.
    bool SameVersion() const {
        return Header()->helperMark == kHelperMark && Header()->helperVersion == kHelperProtocol;
    }

    void Reset() {
        process.Reset();
        view.reset();
        section.reset();
        request.reset();
        reply.reset();
    }
};

THelper::THelper(pe::TMachine machine) : impl_(new TImpl) { impl_->machine = machine; }

THelper::~THelper() { Close(); }

bool THelper::Running() const { return impl_->process.Running(); }

bool THelper::Available() const {
    // Started once: a helper that ended since is started again by Run.
    if (impl_->process.Process()) return true;
    return qv::FileExists(ProgramFolder() + HelperFileName(impl_->machine));
}

void THelper::SetWhileWorking(std::function<void()> whileWorking) { impl_->whileWorking = std::move(whileWorking); }

double THelper::LastOwnMs() const { return impl_->lastOwnMs; }

unsigned long THelper::ProcessId() const { return Running() ? impl_->process.ProcessId() : 0; }

void THelper::Prestart() {
    if (!Running()) impl_->Start();
}

void THelper::AskToEnd() {
    // An empty request ends the helper.
    if (Running() && impl_->view) {
        PutMessage(impl_->view.get(), std::string());
        SetEvent(impl_->request.get());
    }
}

void THelper::Close() {
    // The job ends it should it not end by itself.
    AskToEnd();
    if (impl_->process.Process()) WaitForSingleObject(impl_->process.Process(), 2000);
    // One that served captures deletes its scratch keys as it ends; should
    // it have to be stopped, they are deleted here.
    const unsigned long id = impl_->process.ProcessId();
    const bool scratch = impl_->scope == 1;
    impl_->Reset();
    if (scratch) RemoveCaptureKeysOf(id);
}

TRegOutcome THelper::Run(TServerKind kind, const std::string& fullPath, bool register_, const TRegContext& context) {
    return Request(kind, fullPath, register_, context, nullptr);
}

void THelper::Capture(TServerKind kind, const std::string& fullPath, const TRegContext& context, TCapture& capture) {
    capture.outcome = Request(kind, fullPath, true, context, &capture);
}

TRegOutcome THelper::Request(TServerKind kind, const std::string& fullPath, bool register_, const TRegContext& context,
                             TCapture* capture) {
    TImpl& impl = *impl_;
    const double start = qv::NowMs();
    const std::string fileName = ExtractFileName(fullPath);
    const TEntryPoints entries = kind == TServerKind::Library ? context.entryPoints : TEntryPoints::Server;
    TRegOutcome outcome;
    auto finish = [&](TRegOutcome result) {
        impl.lastOwnMs = result.ms;
        result.ms = qv::NowMs() - start;
        return result;
    };
    // A helper that served captures and is stopped, or has ended, may have
    // left its scratch keys behind: they go with it.
    auto stop = [&] {
        const unsigned long id = impl.process.ProcessId();
        const bool scratch = impl.scope == 1;
        impl.Reset();
        if (scratch) RemoveCaptureKeysOf(id);
    };
    auto failure = [&](TFailure why, std::string message, std::string details) {
        TRegOutcome failed{false, std::move(message), std::move(details), 0};
        failed.failure = why;
        return finish(std::move(failed));
    };

    // A helper that was never started, or ended while idle (it then ends
    // the wait below before taking the request), is started afresh, once;
    // the file is not blamed for it.
    TWaitEnd end = TWaitEnd::Ended;
    double handedOver = 0;
    const int scope = context.perUser || capture ? 1 : 0;
    if (impl.process.Process() && impl.scope != -1 && impl.scope != scope) Close();
    THeader* header = nullptr;
    for (int attempt = 0; attempt < 2 && end == TWaitEnd::Ended; ++attempt) {
        if (!impl.process.Process() && !impl.Start()) {
            std::string details = impl.missing
                                      ? HelperMissingReason(fileName, impl.machine, impl.helperPath, context.language)
                                      : HelperStartReason(fileName, impl.machine, impl.helperPath, impl.startError,
                                                          context.language);
            return failure(TFailure::Helper, qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName), details);
        }
        header = impl.Header();
        const LONG taken = InterlockedCompareExchange(&header->taken, 0, 0);
        InterlockedExchange(&header->phase, static_cast<LONG>(TPhase::Reading));
        THelperRequest request;
        request.kind = kind;
        request.fullPath = fullPath;
        request.register_ = register_;
        request.language = context.language;
        request.entryPoints = entries;
        request.anySuccessCode = context.anySuccessCode;
        request.installText = context.installText;
        request.perUser = context.perUser;
        request.capture = capture != nullptr;
        PutMessage(impl.view.get(), EncodeRequest(request));
        impl.scope = scope;
        handedOver = qv::NowMs();
        SetEvent(impl.request.get());
        if (impl.whileWorking) impl.whileWorking();
        end = WaitForChild(impl.reply.get(), impl.process.Process(), context.timeoutMs,
                           static_cast<HANDLE>(context.abortEvent), context.pumpMessages);
        // Ended without taking this request: it had ended before.
        if (end == TWaitEnd::Ended && InterlockedCompareExchange(&header->taken, 0, 0) == taken && impl.SameVersion() &&
            attempt == 0) {
            stop();
            continue;
        }
        break;
    }
    const TPhase phase = static_cast<TPhase>(InterlockedCompareExchange(&header->phase, 0, 0));
    const char* entry = EntryOf(kind, register_, entries, phase, context.perUser);
    switch (end) {
    case TWaitEnd::Signalled: break;
    case TWaitEnd::Ended: {
        const bool sameVersion = impl.SameVersion();
        const DWORD exitCode = impl.process.ExitCode();
        const std::string helperPath = impl.helperPath;
        stop();
        if (!sameVersion && exitCode == kExitArguments) {
            // It could not take the handles over from this process.
            return failure(TFailure::Helper, qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName),
                           HelperStartReason(fileName, impl.machine, helperPath, ERROR_INVALID_HANDLE,
                                             context.language));
        }
        if (!sameVersion || exitCode == kExitVersion) {
            return failure(TFailure::Helper, qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName),
                           HelperVersionReason(helperPath, context.language));
        }
        return failure(TFailure::Faulted, qv::LoadFmt(IDS_CALL_FAILED, entry, fileName),
                       HelperEndedReason(fileName, impl.machine, exitCode, context.language));
    }
    case TWaitEnd::TimedOut:
        stop();
        return failure(TFailure::TimedOut, FailureMessage(kind, register_, entries, phase, context.perUser, fileName),
                       HelperTimeoutReason(fileName, entry, phase, context.timeoutMs, context.language));
    case TWaitEnd::Aborted:
        stop();
        return failure(TFailure::Stopped, FailureMessage(kind, register_, entries, phase, context.perUser, fileName),
                       HelperStoppedReason(fileName, entry, phase, static_cast<unsigned>(qv::NowMs() - handedOver),
                                           context.language));
    }

    std::string answer;
    const char* damage = nullptr;
    if (!impl.SameVersion()) {
        damage = "the helper's header is not of this version";
    } else if (!TakeMessage(impl.view.get(), answer)) {
        damage = "the reply's length is out of range";
    } else if (!DecodeReply(answer, outcome)) {
        damage = "the reply's fields are damaged";
    } else if (capture) {
        std::string bytes;
        if (!TakeBlock(impl.view.get(), kCaptureOffset, kMaxCapture, bytes) || !DecodeCapture(bytes, *capture)) {
            damage = "the capture's bytes are damaged";
        }
    }
    if (damage) {
        stop();
        return failure(TFailure::Helper, qv::LoadFmt(IDS_CALL_FAILED, entry, fileName),
                       HelperMalformedReason(fileName, damage, context.language));
    }
    // A file for the other bitness comes back unregistered.
    if (LONG other = InterlockedExchange(&header->redirect, 0)) outcome.redirect = static_cast<pe::TMachine>(other);
    // A helper that ends itself after a fault has said so; it is replaced.
    if (InterlockedCompareExchange(&header->ending, 0, 0)) {
        WaitForSingleObject(impl.process.Process(), 5000);
        stop();
    }
    return finish(outcome);
}

THelperSession::THelperSession(std::function<void()> whileWorking)
    : previous_(CurrentSession), x86_(pe::TMachine::X86), x64_(pe::TMachine::X64) {
    x86_.SetWhileWorking(whileWorking);
    x64_.SetWhileWorking(std::move(whileWorking));
    CurrentSession = this;
}

THelperSession::~THelperSession() {
    CurrentSession = previous_;
    // Both end together rather than one after the other.
    x86_.AskToEnd();
    x64_.AskToEnd();
    x86_.Close();
    x64_.Close();
}

THelperSession* THelperSession::Current() { return CurrentSession; }

void THelperSession::Prestart(pe::TMachine machine) {
    last_ = machine;
    For(machine).Prestart();
}

void THelperSession::PrestartFor(const std::string& path) {
    switch (KindOf(path)) {
    case TServerKind::Executable: return;
    case TServerKind::TypeLibrary: Prestart(TypeLibraryMachine(path)); return;
    case TServerKind::Library: Prestart(Guess(FullPathOf(path))); return;
    }
}

pe::TMachine THelperSession::Guess(const std::string& fullPath) {
    // Runs seldom mix bitnesses: the helper of the last library is asked
    // first, and hands a file of the other bitness back. Without one, the
    // file's header decides.
    if (last_ != pe::TMachine::None && For(last_).Available()) return last_;
    // A file that is missing or no program file is explained by the helper
    // of this process's bitness.
    pe::TPeInfo head = pe::ReadPeFile(NativeViewOf(fullPath), 4096);
    return head.isPe && head.machine != ProcessMachine() && CanRunMachine(head.machine) ? head.machine
                                                                                        : ProcessMachine();
}

THelper& THelperSession::For(pe::TMachine machine) { return machine == pe::TMachine::X64 ? x64_ : x86_; }

void UseHelpers(TRegContext& context) {
    TRegContext settings = context;
    settings.runLibrary = nullptr;
    context.runLibrary = [settings](pe::TMachine machine, TServerKind kind, const std::string& fullPath,
                                    bool register_) {
        // Without a session, one for this file alone.
        std::optional<THelperSession> own;
        if (!CurrentSession) own.emplace();
        THelperSession& session = *CurrentSession;
        if (machine == pe::TMachine::None) machine = session.Guess(fullPath);
        TRegOutcome outcome = session.For(machine).Run(kind, fullPath, register_, settings);
        if (outcome.redirect != pe::TMachine::None) {
            machine = outcome.redirect;
            outcome = session.For(machine).Run(kind, fullPath, register_, settings);
            outcome.redirect = pe::TMachine::None;
        }
        if (kind == TServerKind::Library) session.Remember(machine);
        return outcome;
    };
}

// ---------------------------------------------------------------------------
// The helper's side.

namespace {

// What the helper works on, for the fault handlers.
struct TServing {
    THeader* header = nullptr;
    void* view = nullptr;
    HANDLE reply = nullptr;
    bool busy = false;
    TServerKind kind = TServerKind::Library;
    bool register_ = true;
    TEntryPoints entries = TEntryPoints::Server;
    QVLanguage language = qlEnglish;
    bool perUser = false;
    std::string fileName;
};
TServing Serving;

// A fault outside the guarded entry point (in DllMain while loading, or on
// a thread the server started): the reply names it, and the helper ends
// itself, since nothing in it can be trusted any more.
[[noreturn]] void ReportFaultAndEnd(DWORD code, std::uintptr_t address) {
    if (Serving.busy && Serving.header) {
        const TPhase phase = static_cast<TPhase>(Serving.header->phase);
        const char* entry = phase == TPhase::Loading ? "DllMain"
                                                     : EntryOf(Serving.kind, Serving.register_, Serving.entries, phase,
                                                               Serving.perUser);
        TRegOutcome outcome{false,
                            FailureMessage(Serving.kind, Serving.register_, Serving.entries, phase, Serving.perUser,
                                           Serving.fileName),
                            FaultReason(entry, code, address, Serving.language), 0};
        outcome.failure = TFailure::Faulted;
        PutMessage(Serving.view, EncodeReply(outcome));
        InterlockedExchange(&Serving.header->ending, 1);
        SetEvent(Serving.reply);
    }
    TerminateProcess(GetCurrentProcess(), code);
    for (;;) Sleep(INFINITE);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
    ReportFaultAndEnd(pointers->ExceptionRecord->ExceptionCode,
                      reinterpret_cast<std::uintptr_t>(pointers->ExceptionRecord->ExceptionAddress));
}

HANDLE CopyFromProgram(HANDLE program, std::uintptr_t value) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(program, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

}  // namespace

int ServeHelperRequests(const std::string& arguments) {
    static_assert(sizeof(int) == sizeof(DWORD), "exit codes pass as int");
    std::uintptr_t values[4] = {};
    const char* text = arguments.c_str();
    for (std::uintptr_t& value : values) {
        char* end = nullptr;
        unsigned long long number = std::strtoull(text, &end, 10);
        if (end == text || number == 0) return static_cast<int>(kExitArguments);
        value = static_cast<std::uintptr_t>(number);
        text = end;
    }
    qv::Handle program(OpenProcess(PROCESS_DUP_HANDLE | SYNCHRONIZE, FALSE, static_cast<DWORD>(values[0])));
    if (!program) return static_cast<int>(kExitArguments);
    qv::Handle section(CopyFromProgram(program.get(), values[1]));
    qv::Handle request(CopyFromProgram(program.get(), values[2]));
    qv::Handle reply(CopyFromProgram(program.get(), values[3]));
    if (!section || !request || !reply) return static_cast<int>(kExitArguments);
    TView view(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, kSectionBytes));
    if (!view) return static_cast<int>(kExitArguments);
    THeader* header = HeaderOf(view.get());
    header->helperVersion = kHelperProtocol;
    header->helperMark = kHelperMark;
    if (header->programVersion != kHelperProtocol) return static_cast<int>(kExitVersion);

    Serving.header = header;
    Serving.view = view.get();
    Serving.reply = reply.get();
    SetUnhandledExceptionFilter(OnUnhandledException);

    TRegContext context;
    context.onPhase = [header](TPhase phase) { InterlockedExchange(&header->phase, static_cast<LONG>(phase)); };
    context.redirectOtherBitness = true;
    HANDLE waits[2] = {request.get(), program.get()};
    for (;;) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            EndCaptures();
            return 0;  // the program ended
        }
        std::string message;
        if (!TakeMessage(view.get(), message)) return static_cast<int>(kExitRequest);
        if (message.empty()) {
            EndCaptures();
            return 0;  // told to end
        }
        THelperRequest request;
        if (!DecodeRequest(message, request)) return static_cast<int>(kExitRequest);
        const TServerKind kind = request.kind;
        // A 64-bit helper has no Sysnative: such a path names its System32.
        const std::string path = SystemFolderOf(request.fullPath);
        const bool register_ = request.register_;
        context.language = request.language;
        context.entryPoints = request.entryPoints;
        context.anySuccessCode = request.anySuccessCode;
        context.installText = request.installText;
        context.perUser = request.perUser;
        InterlockedIncrement(&header->taken);
        Serving.kind = kind;
        Serving.register_ = register_;
        Serving.entries = request.entryPoints;
        Serving.language = context.language;
        Serving.perUser = request.perUser;
        Serving.fileName = ExtractFileName(path);
        Serving.busy = true;
        const double start = qv::NowMs();
        TRegOutcome outcome;
        if (request.capture) {
            // Settled once the reply is on its way, while the program reads it.
            const TCapture capture = CaptureInThisProcess(kind, path, context, true);
            outcome = capture.outcome;
            std::string bytes = EncodeCapture(capture);
            if (bytes.size() > kMaxCapture) {
                TCapture empty;
                empty.outcome = outcome;
                bytes = EncodeCapture(empty);
                outcome.success = false;
                outcome.failure = TFailure::Helper;
                outcome.message = "Could not capture '" + ExtractFileName(path) + "'.";
                outcome.details = "The registration wrote more than the helper can send back (" +
                                  std::to_string(kMaxCapture) + " bytes).";
            }
            PutBlock(view.get(), kCaptureOffset, kMaxCapture, bytes);
            // The reply stands before the capture and must not reach it.
            const size_t room = kCaptureOffset - kMessageOffset - 4 - 1024;
            if (outcome.details.size() > room) outcome.details.resize(room);
        } else {
            // A per-user registration redirects the predefined keys itself.
            AwaitSettledCapture();
            outcome = kind == TServerKind::TypeLibrary ? RegisterTypeLibraryCore(path, register_, context)
                                                       : RegisterLibraryCore(path, register_, context);
        }
        outcome.ms = qv::NowMs() - start;
        Serving.busy = false;
        if (outcome.redirect != pe::TMachine::None) {
            // Not this helper's file: the program hands it to the other one.
            outcome.message = "redirected";
            InterlockedExchange(&header->redirect, static_cast<LONG>(outcome.redirect));
        }
        PutMessage(view.get(), EncodeReply(outcome));
        InterlockedExchange(&header->phase, static_cast<LONG>(TPhase::Idle));
        // After a fault the server's state, and the process's, is unknown:
        // the helper ends and the next file gets a new one.
        if (outcome.serverFaulted) {
            EndCaptures();
            InterlockedExchange(&header->ending, 1);
        }
        SetEvent(reply.get());
        if (outcome.serverFaulted) TerminateProcess(GetCurrentProcess(), 0);
        if (request.capture) SettleCapture();
    }
}

}  // namespace engine
