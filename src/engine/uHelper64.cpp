#include "engine/uHelper64.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/QVHandles.h"
#include "common/QVStrings.h"
#include "common/QVSystem.h"
#include "engine/uReasons.h"
#include "resource.h"

namespace engine {

const char* const kHelperFileName = "Corvantis64.exe";

namespace {

// The shared section's size: a request is a path, a reply a message and its
// reasons; both fit many times over.
const std::uint32_t kSectionBytes = 1u << 20;
const std::uint32_t kMaxMessage = kSectionBytes - 4;

THelper64* CurrentSessionHelper = nullptr;

std::string ProgramFolder() {
    char path[MAX_PATH * 2];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH * 2);
    std::string folder(path, length < MAX_PATH * 2 ? length : 0);
    size_t cut = folder.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
}

void PutMessage(unsigned char* section, const std::string& bytes) {
    const std::uint32_t length = static_cast<std::uint32_t>(bytes.size() < kMaxMessage ? bytes.size() : kMaxMessage);
    for (int i = 0; i < 4; ++i) section[i] = static_cast<unsigned char>((length >> (8 * i)) & 0xFF);
    if (length) std::memcpy(section + 4, bytes.data(), length);
}

// The message in the section; false when its length is damaged.
bool TakeMessage(const unsigned char* section, std::string& bytes) {
    const std::uint32_t length = static_cast<std::uint32_t>(section[0]) | static_cast<std::uint32_t>(section[1]) << 8 |
                                 static_cast<std::uint32_t>(section[2]) << 16 |
                                 static_cast<std::uint32_t>(section[3]) << 24;
    if (length > kMaxMessage) return false;
    bytes.assign(reinterpret_cast<const char*>(section + 4), length);
    return true;
}

struct TViewTraits {
    static void* Invalid() { return nullptr; }
    static bool Valid(void* view) { return view != nullptr; }
    static void Close(void* view) { UnmapViewOfFile(view); }
};
using TView = qv::UniqueHandle<void*, TViewTraits>;

}  // namespace

std::string EncodeReply(const TRegOutcome& outcome) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", outcome.ms);
    std::string bytes = outcome.success ? "1" : "0";
    bytes += '\0';
    bytes += ms;
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
    size_t third = bytes.find('\0', second + 1);
    if (third == std::string::npos) return false;
    std::string ms = bytes.substr(first + 1, second - first - 1);
    char* end = nullptr;
    double value = std::strtod(ms.c_str(), &end);
    if (ms.empty() || end != ms.c_str() + ms.size() || !(value >= 0)) return false;
    outcome.success = bytes[0] == '1';
    outcome.ms = value;
    outcome.message = bytes.substr(second + 1, third - second - 1);
    outcome.details = bytes.substr(third + 1);
    return outcome.details.find('\0') == std::string::npos;
}

struct THelper64::TImpl {
    qv::Handle process;  // the helper
    qv::Handle section, request, reply;
    TView view;
    DWORD startError = 0;
    bool missing = false;
    double lastOwnMs = 0;
    std::function<void()> whileWorking;

    bool Start() {
        std::string helperPath = ProgramFolder() + kHelperFileName;
        missing = !qv::FileExists(helperPath);
        if (missing) return false;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        section.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0, kSectionBytes, nullptr));
        request.reset(CreateEventA(&inherit, FALSE, FALSE, nullptr));
        reply.reset(CreateEventA(&inherit, FALSE, FALSE, nullptr));
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0);
        qv::Handle program(self);
        if (section) view.reset(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, kSectionBytes));
        if (!section || !request || !reply || !program || !view) {
            startError = GetLastError();
            return false;
        }
        std::string commandLine = "\"" + helperPath + "\" /serve";
        for (HANDLE handle : {section.get(), request.get(), reply.get(), program.get()}) {
            commandLine += " " + std::to_string(reinterpret_cast<std::uintptr_t>(handle));
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(helperPath.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                            &info)) {
            startError = GetLastError();
            return false;
        }
        CloseHandle(info.hThread);
        process.reset(info.hProcess);
        return true;
    }

    // Hands the request over and waits for the reply, windows kept painted;
    // false when the helper ended instead of answering.
    bool Exchange(const std::string& message, std::string& answer, const std::function<void()>& pump) {
        auto* bytes = static_cast<unsigned char*>(view.get());
        PutMessage(bytes, message);
        SetEvent(request.get());
        if (whileWorking) whileWorking();
        HANDLE handles[2] = {reply.get(), process.get()};
        // Most libraries answer within a few milliseconds: a plain wait
        // first spares the message queue a look per file.
        DWORD wait = WaitForMultipleObjects(2, handles, FALSE, pump ? 5 : INFINITE);
        while (wait == WAIT_TIMEOUT) {
            wait = MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_ALLINPUT);
            if (wait == WAIT_OBJECT_0 + 2) {
                pump();
                wait = WaitForMultipleObjects(2, handles, FALSE, 0);
            }
        }
        return wait == WAIT_OBJECT_0 && TakeMessage(bytes, answer);
    }

    DWORD EndAndExitCode() {
        DWORD code = STILL_ACTIVE;
        if (process) {
            WaitForSingleObject(process.get(), 5000);
            if (!GetExitCodeProcess(process.get(), &code)) code = GetLastError();
        }
        Reset();
        return code;
    }

    void Reset() {
        view.reset();
        section.reset();
        request.reset();
        reply.reset();
        process.reset();
    }
};

THelper64::THelper64() : impl_(new TImpl) {}

THelper64::~THelper64() { Close(); }

bool THelper64::Running() const { return static_cast<bool>(impl_->process); }

void THelper64::SetWhileWorking(std::function<void()> whileWorking) {
    impl_->whileWorking = std::move(whileWorking);
}

double THelper64::LastOwnMs() const { return impl_->lastOwnMs; }

unsigned long THelper64::ProcessId() const {
    return impl_->process ? GetProcessId(impl_->process.get()) : 0;
}

void THelper64::Close() {
    // An empty request ends the helper; it also ends with this process.
    if (impl_->process && impl_->view) {
        PutMessage(static_cast<unsigned char*>(impl_->view.get()), std::string());
        SetEvent(impl_->request.get());
    }
    impl_->Reset();
}

TRegOutcome THelper64::Run(const std::string& fullPath, bool register_, QVLanguage language,
                           const std::function<void()>& pump) {
    double start = qv::NowMs();
    const std::string fileName = ExtractFileName(fullPath);
    const char* entry = register_ ? "DllRegisterServer" : "DllUnregisterServer";
    TRegOutcome outcome;
    if (!Running() && !impl_->Start()) {
        std::string helperPath = ProgramFolder() + kHelperFileName;
        outcome.message = qv::LoadFmt(IDS_LIB_LOAD_FAILED, fileName);
        outcome.details = impl_->missing ? HelperMissingReason(fileName, helperPath, language)
                                         : HelperStartReason(fileName, helperPath, impl_->startError, language);
        Close();
    } else {
        std::string reply;
        if (!impl_->Exchange(std::string(register_ ? "R" : "U") + (language == qlPortuguese ? "p" : "e") + fullPath,
                             reply, pump) || !DecodeReply(reply, outcome)) {
            outcome = TRegOutcome{};
            outcome.message = qv::LoadFmt(IDS_CALL_FAILED, entry, fileName);
            outcome.details = HelperEndedReason(fileName, impl_->EndAndExitCode(), language);
            Close();
        }
    }
    impl_->lastOwnMs = outcome.ms;
    outcome.ms = qv::NowMs() - start;
    return outcome;
}

THelperSession::THelperSession(std::function<void()> whileWorking) : previous_(CurrentSessionHelper) {
    helper_.SetWhileWorking(std::move(whileWorking));
    CurrentSessionHelper = &helper_;
}

THelperSession::~THelperSession() { CurrentSessionHelper = previous_; }

TForeignRunner HelperRunner(QVLanguage language, std::function<void()> pump) {
    return [language, pump](const std::string& fullPath, bool register_, TRegOutcome& outcome) {
        if (CurrentSessionHelper) {
            outcome = CurrentSessionHelper->Run(fullPath, register_, language, pump);
        } else {
            THelper64 helper;
            outcome = helper.Run(fullPath, register_, language, pump);
        }
        return true;
    };
}

int ServeHelperRequests(const std::string& arguments) {
    std::uintptr_t values[4] = {};
    const char* text = arguments.c_str();
    for (std::uintptr_t& value : values) {
        char* end = nullptr;
        unsigned long long number = std::strtoull(text, &end, 10);
        if (end == text || number == 0) return 2;
        value = static_cast<std::uintptr_t>(number);
        text = end;
    }
    HANDLE section = reinterpret_cast<HANDLE>(values[0]);
    HANDLE request = reinterpret_cast<HANDLE>(values[1]);
    HANDLE reply = reinterpret_cast<HANDLE>(values[2]);
    HANDLE program = reinterpret_cast<HANDLE>(values[3]);
    TView view(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, kSectionBytes));
    if (!view) return 2;
    auto* bytes = static_cast<unsigned char*>(view.get());
    TRegContext context;
    HANDLE waits[2] = {request, program};
    for (;;) {
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return 0;  // the program ended
        std::string message;
        if (!TakeMessage(bytes, message)) return 3;
        if (message.empty()) return 0;  // told to end
        if (message.size() < 3 || (message[0] != 'R' && message[0] != 'U') ||
            (message[1] != 'e' && message[1] != 'p')) {
            return 3;
        }
        context.language = message[1] == 'p' ? qlPortuguese : qlEnglish;
        PutMessage(bytes, EncodeReply(RegisterFileCore(message.substr(2), message[0] == 'R', context)));
        SetEvent(reply);
    }
}

}  // namespace engine
